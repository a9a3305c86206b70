// An operator's working day in one run of the program: a number typed and dialled, a caller
// whose page pops up and who is answered from it, held and resumed, hung up from the bar (the
// page slides away), a caller turned down from the page, and the history window listing the
// three calls in their tabs. Every check is on what the peers received, what the program wrote
// and what the screen shows.
#include "tests/e2e/desktop.h"
#include "tests/e2e/e2esupport.h"
#include "tests/e2e/screenpoints.h"
#include "tests/e2e/tarselapp.h"

#include "app/constants.h"
#include "store/veldata.h"
#include "tests/support/http/httptestserver.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"

#include <QtTest>

using namespace E2e;

namespace {
const QString DIALLED = QStringLiteral("0312345678");
const QString CALLER = QStringLiteral("0451112222");
const QString CALLER_NAME = QStringLiteral("Sato Hanako");
const QString TURNED_DOWN = QStringLiteral("0459998888");
const QString POPUP_TITLE = QStringLiteral("Form");

QMap<QString, QString> formOf(const HttpRequest &request)
{
    QMap<QString, QString> fields;
    for (const auto &field : HttpTestServer::formFields(request.query))
        fields.insert(field.first, field.second);
    return fields;
}

} // namespace

class tst_E2eCalls : public QObject
{
    Q_OBJECT

private slots:
    void operatorDay();
};

void tst_E2eCalls::operatorDay()
{
    E2eDesktop desktop;
    QVERIFY2(desktop.start(), qPrintable(desktop.error()));
    HttpTestServer web;
    QVERIFY2(web.start(), qPrintable(web.errorString()));
    HttpReply page;
    page.body = callerPage();
    QVERIFY(!page.body.isEmpty());
    web.setReply("/caller", page);

    // The registrar answers the operator's outgoing call and waits for the hang-up.
    SippPeer registrar(SippScenario::registrar(SippScenario::answer(200, QStringLiteral("OK"))
                           + SippScenario::expect(QStringLiteral("BYE"))),
        120);
    registrar.setCalls(2);
    TarselApp app(desktop);
    QString why;
    const qulonglong bar = startRegistered(desktop, app, registrar,
        { { CATEGORY_OUTLINK,
            { { QStringLiteral("simpleUrl"), web.url(QStringLiteral("/caller")).toString() },
                { QStringLiteral("simpleMethod"), QStringLiteral("get") },
                { QStringLiteral("simpleParams"),
                    QStringLiteral("tel=%CallerID%\nname=%CallerName%\ncall=%CallId%\nop=%MyId%") } } } },
        QStringLiteral("calls-1-registered"), &why);
    QVERIFY2(bar, qPrintable(why));
    QVERIFY(desktop.findWindows(exactTitle(TITLE_SETTING)).isEmpty());
    const QPoint barAt = desktop.geometry(bar).topLeft();
    const int port = phonePort(registrar);
    QVERIFY(port > 0);

    // 1. A number typed on the keyboard and Enter: the registrar gets the INVITE for it.
    typeOnBar(desktop, bar, DIALLED);
    desktop.key({ QStringLiteral("Return") });
    QVERIFY2(waitUntil(10000,
                 [&] {
                     return hasMessage(registrar, false, QStringLiteral("SIP/2.0 200"))
                         && !registrar.received("ACK").isEmpty();
                 }),
        qPrintable(registrar.report()));
    QVERIFY2(registrar.received(QStringLiteral("INVITE"))
                 .first()
                 .startLine()
                 .startsWith(QStringLiteral("INVITE sip:") + DIALLED + QLatin1Char('@')),
        qPrintable(registrar.report()));
    QTest::qWait(2000);
    desktop.screenshot(QStringLiteral("calls-2-outgoing-connected"));
    desktop.click(barAt + Bar::HANG_UP);
    QVERIFY2(waitUntil(10000, [&] { return !registrar.received(QStringLiteral("BYE")).isEmpty(); }),
        qPrintable(registrar.report()));
    QVERIFY(waitUntil(5000, [&] { return app.history().size() == 1; }));

    // 2. A caller: the page of the call centre pops up with the caller's data.
    SippPeer caller(
        SippScenario::caller(SippScenario::awaitAnswer(200)
                // hold: the phone offers sendonly; resume: sendrecv again
                + SippScenario::expect(
                    QStringLiteral("INVITE"), SippScenario::sdp(QStringLiteral("recvonly"), 2))
                + QStringLiteral("<recv request=\"ACK\"/>\n")
                + SippScenario::expect(
                    QStringLiteral("INVITE"), SippScenario::sdp(QStringLiteral("sendrecv"), 3))
                + QStringLiteral("<recv request=\"ACK\"/>\n") + SippScenario::expect(QStringLiteral("BYE")),
            SippScenario::sdp()),
        120);
    aimCaller(caller, port, CALLER, CALLER_NAME);
    QVERIFY(caller.start());

    const qulonglong popup = desktop.waitForWindow(exactTitle(POPUP_TITLE), 15000, CallerPage::SIZE);
    QVERIFY2(popup, qPrintable(caller.report()));
    // At the bottom right of the screen.
    QCOMPARE(desktop.geometry(popup).bottomRight(), QPoint(E2eDesktop::WIDTH - 1, E2eDesktop::HEIGHT - 1));
    QVERIFY(waitUntil(10000, [&] { return !web.requests("/caller").isEmpty(); }));
    const QMap<QString, QString> fields = formOf(web.requests("/caller").last());
    QCOMPARE(fields.value(QStringLiteral("tel")), CALLER);
    QCOMPARE(fields.value(QStringLiteral("name")), CALLER_NAME);
    QCOMPARE(fields.value(QStringLiteral("op")), USER);
    QString callId;
    for (const SipMessage &message : caller.messages()) {
        if (!message.received && message.isRequest(QStringLiteral("INVITE")))
            callId = message.header(QStringLiteral("Call-ID"));
    }
    QCOMPARE(fields.value(QStringLiteral("call")), callId);
    QTest::qWait(1500); // the page draws
    desktop.screenshot(QStringLiteral("calls-3-incoming-caller-page"));
    QVERIFY2(!hasMessage(caller, true, QStringLiteral("SIP/2.0 200")), "answered before anyone clicked");

    // 3. Answered from the page's call button.
    const QPoint popupAt = desktop.geometry(popup).topLeft();
    desktop.click(popupAt + CallerPage::ANSWER);
    QVERIFY2(waitUntil(10000, [&] { return hasMessage(caller, true, QStringLiteral("SIP/2.0 200")); }),
        qPrintable(caller.report()));
    QTest::qWait(1500);
    desktop.screenshot(QStringLiteral("calls-4-answered"));

    // 4. Hold and resume from the bar.
    desktop.click(barAt + Bar::HOLD);
    QVERIFY2(waitUntil(10000, [&] { return caller.received(QStringLiteral("INVITE")).size() == 1; }),
        qPrintable(caller.report()));
    QVERIFY2(caller.received(QStringLiteral("INVITE")).at(0).body().contains(QStringLiteral("a=sendonly")),
        qPrintable(caller.received(QStringLiteral("INVITE")).at(0).text));
    QTest::qWait(1000);
    desktop.screenshot(QStringLiteral("calls-5-on-hold"));
    desktop.click(barAt + Bar::HOLD);
    QVERIFY2(waitUntil(10000, [&] { return caller.received(QStringLiteral("INVITE")).size() == 2; }),
        qPrintable(caller.report()));
    const QString resumed = caller.received(QStringLiteral("INVITE")).at(1).body();
    QVERIFY2(
        !resumed.contains(QStringLiteral("a=sendonly")) && !resumed.contains(QStringLiteral("a=inactive")),
        qPrintable(resumed));

    // 5. Hung up from the bar: BYE to the caller, and the page slides down out of the screen.
    desktop.click(barAt + Bar::HANG_UP);
    QList<int> tops;
    const bool gone = waitUntil(5000, [&] {
        const QRect at = desktop.geometry(popup);
        if (!desktop.findWindows(exactTitle(POPUP_TITLE)).contains(popup))
            return true;
        if (tops.isEmpty() || tops.last() != at.top())
            tops << at.top();
        return false;
    });
    QVERIFY2(gone, "the caller's page stayed");
    QVERIFY2(std::any_of(tops.begin(), tops.end(), [&](int top) { return top > popupAt.y(); }),
        qPrintable(QStringLiteral("no slide seen, tops: %1").arg(tops.size())));
    QVERIFY2(caller.waitForFinished(10000), qPrintable(caller.report()));
    QVERIFY(waitUntil(5000, [&] { return app.history().size() == 2; }));
    desktop.screenshot(QStringLiteral("calls-6-after-hang-up"));

    // 6. A caller turned down from the page's hang-up button: 486 to the caller.
    SippPeer declined(SippScenario::caller(SippScenario::awaitAnswer(486), SippScenario::sdp()), 60);
    aimCaller(declined, port, TURNED_DOWN);
    QVERIFY(declined.start());
    const qulonglong again = desktop.waitForWindow(exactTitle(POPUP_TITLE), 15000, CallerPage::SIZE);
    QVERIFY2(again, qPrintable(declined.report()));
    QVERIFY(waitUntil(10000, [&] { return web.requests("/caller").size() == 2; }));
    QCOMPARE(formOf(web.requests("/caller").last()).value(QStringLiteral("tel")), TURNED_DOWN);
    desktop.click(desktop.geometry(again).topLeft() + CallerPage::HANG_UP);
    QVERIFY2(declined.waitForFinished(10000), qPrintable(declined.report()));
    QVERIFY(desktop.waitForNoWindow(exactTitle(POPUP_TITLE), 5000, CallerPage::SIZE));

    // 7. The history: three rows in the database, listed in their tabs.
    QVERIFY(waitUntil(5000, [&] { return app.history().size() == 3; }));
    const QList<HistoryRecord> rows = app.history();
    QCOMPARE(rows.at(0).status, QString::number(HISTORY_OUTGOING_ANSWERED));
    QCOMPARE(rows.at(0).number, DIALLED);
    QVERIFY2(rows.at(0).time >= QStringLiteral("00:00:02"), qPrintable(rows.at(0).time));
    QCOMPARE(rows.at(1).status, QString::number(HISTORY_INCOMING_ANSWERED));
    QCOMPARE(rows.at(1).number, CALLER);
    QVERIFY2(rows.at(1).time >= QStringLiteral("00:00:02"), qPrintable(rows.at(1).time));
    QCOMPARE(rows.at(2).status, QString::number(HISTORY_INCOMING_MISSED));
    QCOMPARE(rows.at(2).number, TURNED_DOWN);
    QCOMPARE(rows.at(2).time, QStringLiteral("00:00:00"));

    desktop.click(barAt + Bar::HISTORY);
    const qulonglong history = desktop.waitForWindow(exactTitle(TITLE_HISTORY_LIST), 10000);
    QVERIFY(history);
    const QRect historyAt = desktop.geometry(history);
    // Rows shown per tab: all three, the two incoming, the outgoing one, the missed one.
    const QList<int> expected = { 3, 2, 1, 1 };
    for (int tab = 0; tab < HistoryForm::TABS.size(); ++tab) {
        desktop.click(historyAt.topLeft() + HistoryForm::TABS.at(tab));
        QTest::qWait(500);
        const QImage shot = desktop.screenshot(QStringLiteral("calls-7-history-tab-%1").arg(tab + 1));
        QCOMPARE(historyRowsShown(shot, historyAt), expected.at(tab));
    }
}

QTEST_GUILESS_MAIN(tst_E2eCalls)
#include "tst_e2e_calls.moc"
