// Building the outlink requests of an incoming call: the simple page's request (GET or POST)
// and the detail link, from the call's parameter map and the account and outlink settings.
// Pure functions, so that every rule can be checked without a window or a web engine.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QUrl>

namespace OutlinkRequest {

using Params = QMap<QString, QString>;

// The six placeholder values of one call: caller name, caller id and call id from the call's
// parameter map, the operator's user id, operator id and password from the account settings.
// A missing key gives an empty value.
Params placeholder_values(const Params &call, const Params &account);

// Replaces the placeholders of the operator's text in one pass: every occurrence found in the
// text as typed is replaced by its value percent-encoded as UTF-8 (RFC 3986 unreserved
// characters stay as they are). A substituted value is never scanned again, so a caller's
// display name can neither add fields nor pull in another placeholder's value. Where two
// placeholders overlap in the text, the one earlier in the order caller name, caller id,
// own id, call id, operator id, operator password wins.
QString replace_placeholders(const QString &text, const Params &values);

// Placeholders replaced, then the lines (split at line feeds only, empty ones kept) joined
// with "&".
QString expand(const QString &text, const Params &values);

// Every "%" that does not start a %XX escape as "%25". The URL parser, on finding one such
// stray "%" (the operator's "rate=10%", a misspelt placeholder), would otherwise take the whole
// text for unencoded and encode the substituted values a second time.
QString escape_stray_percent(const QString &url);

// "&" when the base URL already holds a query, "?" otherwise.
QString query_separator(const QString &base);

struct SimpleRequest
{
    QUrl url;
    bool post = false;
    QByteArray body; // POST only
};

// The simple page's request: POST only for the method "post" exactly, GET otherwise.
SimpleRequest simple_request(const Params &outlink, const Params &values);

// The detail link for this call; the previous link stays when no detail URL is configured.
QString detail_url(const QString &previous, const Params &outlink, const Params &values);

} // namespace OutlinkRequest
