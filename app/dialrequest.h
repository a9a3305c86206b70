// Click to dial: what a start of the program asks to dial (a tel:, sip:, sips: or callto: link
// as the desktop's URL handler passes it, or --dial NUMBER), and the number inside such a link
// as RFC 3966 (tel) and RFC 3261 (sip) write it.
#pragma once

#include <QString>
#include <QStringList>

namespace DialRequest {

// Longest link taken from a command line, the activation channel or a caller's page.
constexpr int MAX_LINK_CHARS = 2048;
// Longest number dialled, a leading "+" included.
constexpr int MAX_NUMBER_CHARS = 32;

// What the command line asks for.
struct Arguments
{
    // The link to dial, as given; a bare --dial number becomes a tel: link. Empty: none.
    QString link;
    // What was not understood, one line each, for standard error.
    QStringList notes;
};

// `arguments` without the program name. A link is an argument with a URI scheme ("tel:…",
// also "javascript:…", which the parser then refuses); other words and options are left to Qt.
Arguments from_arguments(const QStringList &arguments);

// The number a link holds, or why it holds none.
struct Number
{
    QString number; // digits, "*" and "#", maybe a leading "+"; empty when refused
    QString refusal; // why nothing is dialled
    QStringList dropped; // parameters, headers and the host left out, for the log
    bool ok() const { return !number.isEmpty(); }
};

// Reads a tel:, sip:, sips: or callto: link: parameters and headers are dropped, percent-encoding
// is decoded, a tel number's visual separators are removed, the sip host is ignored (calls go to
// the operator's own server). What is left must be 1–32 digits, "*" and "#" with an optional
// leading "+".
Number parse_link(const QString &link);

// True for the schemes this phone dials (case-insensitive): tel, sip, sips, callto.
bool is_dial_scheme(const QString &scheme);

// The link made fit for one log line: control characters escaped, long links cut short.
QString for_log(const QString &link);

} // namespace DialRequest
