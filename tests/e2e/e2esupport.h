// Shared steps of the end-to-end tests: what a person checks on the screen and what the SIP
// peers have to say beyond the plain call scenarios.
#pragma once

#include <QImage>
#include <QMap>
#include <QRect>
#include <QString>

class E2eDesktop;
class SippPeer;
class TarselApp;

namespace E2e {

// xdotool's title search is a regular expression: a title matched exactly.
QString exactTitle(const QString &title);

// The registration lamp as shown on the screen: true when its middle has the colour of the
// online lamp image (and not that of the offline one).
bool lampIsOnline(const QImage &screen, const QRect &bar);
// Takes screenshots (the last one kept as `name`) until the lamp shows `online`.
bool waitForLamp(const E2eDesktop &desktop, qulonglong bar, bool online, const QString &name, int msecs);

// Rows the history window's current tab shows: row slots of its table with text in them.
int historyRowsShown(const QImage &screen, const QRect &window);

// True when sipp received (or sent) a message whose start line begins with `startLine`, e.g.
// "SIP/2.0 180" or "BYE ".
bool hasMessage(const SippPeer &peer, bool received, const QString &startLine);

// Starts the registrar (it checks the test account's password) and the program with that
// account pointing at it, plus `more` settings; waits for the bar and for its lamp to turn on
// (screenshot `shot`). The bar's window, or 0 with the reason in `why`.
qulonglong startRegistered(const E2eDesktop &desktop, TarselApp &app, SippPeer &registrar,
    const QMap<int, QMap<QString, QString>> &more, const QString &shot, QString *why);

// The caller rings (sipp got 180), the operator clicks the bar's call button, the caller gets
// the 200. False when either did not happen in time.
bool answerFromBar(const E2eDesktop &desktop, qulonglong bar, const SippPeer &caller);

// Types on the bar as a person does: a click on its number display first, which makes the bar
// the window that gets the keyboard (a popup that had it may just have gone), then the keys.
void typeOnBar(const E2eDesktop &desktop, qulonglong bar, const QString &text);

// Right-click on the bar, "終了" in its menu, then "はい" or "いいえ" in the confirmation box
// (screenshot `name` of the box). False when the box did not come.
bool exitFromMenu(const E2eDesktop &desktop, qulonglong bar, bool confirm, const QString &name);

// Polls `pred` with the event loop running (local servers keep answering) for up to `msecs`.
template<typename Pred> bool waitUntil(int msecs, Pred pred);

// Points a sipp caller at the phone listening on `phonePort`, calling from `number` with the
// display name `name` (none when empty).
void aimCaller(SippPeer &caller, int phonePort, const QString &number, const QString &name = QString());

// The account the tests use at a sipp registrar on 127.0.0.1.
extern const QString USER;
extern const QString PASSWORD;
QMap<QString, QString> account(int registrarPort);

// The caller's page that the outlink shows: it prints the caller's data from its query string,
// so a screenshot shows what the web application received.
QByteArray callerPage();

// sipp steps of a party that receives the phone's REFER: 202, then a NOTIFY whose sipfrag
// reports the transfer target's answer, then the phone's 200 to the NOTIFY.
QString acceptRefer(int notifyCseq);

// A caller who is answered, put on hold by the operator's first transfer click, and then
// transferred: it accepts the REFER and, told that the target answered, gets the phone's BYE.
QString transferredCaller();

} // namespace E2e

#include <QDeadlineTimer>
#include <QTest>

template<typename Pred> bool E2e::waitUntil(int msecs, Pred pred)
{
    QDeadlineTimer deadline(msecs);
    for (;;) {
        if (pred())
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
}
