// The bar with its real engine against real peers on 127.0.0.1 (sipp; Kamailio and linphonec
// for encrypted media): what the operator types and clicks reaches the wire, what the peer
// does reaches the display, and every call end leaves the right history row.
#include "tests/support/kamailiopeer.h"
#include "tests/support/linphonecpeer.h"
#include "tests/support/sanitized.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"
#include "tests/ui/mainwindow/barfixture.h"

#include "app/constants.h"
#include "phone/velphone.h"
#include "store/veldata.h"
#include "ui/mainwindow/mainwindow.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

namespace {
const QString USER = QStringLiteral("1001");

struct HistoryRow
{
    QString status, number, time, date;
};

QList<HistoryRow> historyRows()
{
    QList<HistoryRow> rows;
    QSqlQuery query(QSqlDatabase::database());
    query.exec(QStringLiteral("SELECT Status, PhoneNumber, DialogTime, DialogDate FROM history ORDER BY Id"));
    while (query.next())
        rows << HistoryRow { query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
            query.value(3).toString() };
    return rows;
}
} // namespace

class tst_BarCalls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void enterDialsTheTypedNumber();
    void callButtonAnswersAndHoldShows();
    void ownExtensionIsAnsweredWithoutClick();
    void lampGoesOnlineWhenTheRegistrarAnswersAtOnce();
    void statusTooltipSaysWhenTheMediaIsEncrypted();

private:
    // Starts a registrar and builds the bar registered to it (fails the test otherwise).
    void registerBar(SippPeer &registrar, QScopedPointer<BarFixture> &bar);
};

void tst_BarCalls::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        QFAIL("run through scripts/test: the calls need the private PulseAudio");
}

void tst_BarCalls::registerBar(SippPeer &registrar, QScopedPointer<BarFixture> &bar)
{
    registrar.set(QStringLiteral("PASSWORD"), QStringLiteral("s3cret"));
    QVERIFY(registrar.start());
    bar.reset(new BarFixture({ { CATEGORY_ACCOUNT, BarFixture::account(USER, registrar.port()) } }));
    bar->window()->show();
    QLabel *lamp = bar->label("onlineStatus");
    QTRY_COMPARE_WITH_TIMEOUT(lamp->styleSheet(), STYLE_STATUS_ONLINE, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(bar->label("dialogStatus")->text(), MSG_READY_TO_DIAL, 5000);
    QVERIFY2(phonePort(registrar) > 0, qPrintable(registrar.report()));
}

void tst_BarCalls::enterDialsTheTypedNumber()
{
    // The registrar takes the INVITE and turns it down: an unanswered outgoing call.
    SippPeer registrar(SippScenario::registrar(SippScenario::answer(486, QStringLiteral("Busy Here"))));
    registrar.setCalls(2);
    QScopedPointer<BarFixture> bar;
    registerBar(registrar, bar);
    if (QTest::currentTestFailed())
        return;

    QTest::keyClicks(bar->window(), QStringLiteral("0312345678"));
    QTest::keyClick(bar->window(), Qt::Key_Return);
    QVERIFY(bar->button("deleteButton")->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(!registrar.received(QStringLiteral("INVITE")).isEmpty(), 5000);
    QVERIFY2(registrar.received(QStringLiteral("INVITE"))
                 .first()
                 .startLine()
                 .startsWith(QStringLiteral("INVITE sip:0312345678@")),
        qPrintable(registrar.report()));

    QTRY_COMPARE_WITH_TIMEOUT(historyRows().size(), 1, 10000);
    const HistoryRow row = historyRows().first();
    QCOMPARE(row.status, QStringLiteral("4"));
    QCOMPARE(row.number, QStringLiteral("0312345678"));
    QCOMPARE(row.time, QStringLiteral("00:00:00"));
    QVERIFY(qAbs(QDateTime::fromString(row.date, QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                     .secsTo(QDateTime::currentDateTime()))
        < 10);
    QCOMPARE(bar->number(), QString());
    QVERIFY(!bar->label("numberInputMessage")->isHidden());

    // With the display empty, the call button brings the last number back without dialling.
    QTest::mouseClick(bar->button("dialogButton"), Qt::LeftButton);
    QCOMPARE(bar->number(), QStringLiteral("0312345678"));
    QVERIFY(!bar->button("deleteButton")->isHidden());
    QCOMPARE(registrar.received(QStringLiteral("INVITE")).size(), 1);

    bar.reset();
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

void tst_BarCalls::callButtonAnswersAndHoldShows()
{
    SippPeer registrar(SippScenario::registrar());
    QScopedPointer<BarFixture> bar;
    registerBar(registrar, bar);
    if (QTest::currentTestFailed())
        return;

    using namespace SippScenario;
    // Answered, held and resumed by the bar, then hung up by the caller.
    SippPeer caller(SippScenario::caller(awaitAnswer(200) + expect(QStringLiteral("INVITE"), sdp())
            + QStringLiteral("<recv request=\"ACK\"/>\n")
            + expect(QStringLiteral("INVITE"), sdp(QStringLiteral("sendrecv"), 2))
            + QStringLiteral("<recv request=\"ACK\"/>\n") + pause(1500)
            + callerRequest(QStringLiteral("BYE"), 2) + expectResponse(200),
        sdp()));
    caller.set(QStringLiteral("USER"), USER);
    caller.set(QStringLiteral("PHONE_PORT"), QString::number(phonePort(registrar)));
    caller.set(QStringLiteral("FROM"), QStringLiteral("\"Tanaka\" <sip:0451234567@127.0.0.1>"));
    caller.setRemote(QStringLiteral("127.0.0.1:%1").arg(phonePort(registrar)));
    QVERIFY(caller.start());

    QLabel *status = bar->label("dialogStatus");
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_INCOMING, 5000);
    QCOMPARE(bar->number(), QStringLiteral("0451234567"));
    QVERIFY(bar->label("numberInputMessage")->isHidden());
    QVERIFY(bar->button("deleteButton")->isHidden());

    QTest::mouseClick(bar->button("dialogButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_IN_CALL, 5000);
    QCOMPARE(bar->label("dialogTime")->text(), QStringLiteral("00:00:01"));
    // Under a sanitizer the GUI thread can stall for seconds once (listing the sound devices
    // after the bar is up parses the ALSA configuration, tens of milliseconds otherwise): there
    // the timer is only checked to go on.
    if (UNDER_SANITIZER)
        QTRY_VERIFY_WITH_TIMEOUT(bar->label("dialogTime")->text() > QStringLiteral("00:00:01"), 30000);
    else
        QTRY_COMPARE_WITH_TIMEOUT(bar->label("dialogTime")->text(), QStringLiteral("00:00:02"), 3000);

    QTest::mouseClick(bar->button("pauseButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_ON_HOLD, 5000);
    QTest::mouseClick(bar->button("pauseButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_IN_CALL, 5000);

    QTRY_COMPARE_WITH_TIMEOUT(historyRows().size(), 1, 10000);
    const HistoryRow row = historyRows().first();
    QCOMPARE(row.status, QStringLiteral("1"));
    QCOMPARE(row.number, QStringLiteral("0451234567"));
    // The stored time is the displayed one: one second ahead of the talk time (about 3 s).
    const int stored = QTime(0, 0).secsTo(QTime::fromString(row.time, QStringLiteral("hh:mm:ss")));
    QVERIFY2(stored >= 3 && (UNDER_SANITIZER || stored <= 8), qPrintable(row.time));
    QCOMPARE(bar->label("dialogTime")->text(), QString());
    QCOMPARE(status->text(), MSG_READY_TO_DIAL);
    QVERIFY2(caller.waitForFinished(10000), qPrintable(caller.report()));

    bar.reset();
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

void tst_BarCalls::ownExtensionIsAnsweredWithoutClick()
{
    SippPeer registrar(SippScenario::registrar());
    QScopedPointer<BarFixture> bar;
    registerBar(registrar, bar);
    if (QTest::currentTestFailed())
        return;

    // Thirty calls back to back, each offered the moment the previous one ended (as an ACD
    // does): every one rings and is answered, and every one leaves its own row.
    using namespace SippScenario;
    constexpr int CALLS = 30;
    SippPeer caller(SippScenario::caller(
        awaitAnswer(200) + pause(200) + callerRequest(QStringLiteral("BYE"), 2) + expectResponse(200),
        sdp()));
    caller.set(QStringLiteral("USER"), USER);
    caller.set(QStringLiteral("PHONE_PORT"), QString::number(phonePort(registrar)));
    caller.set(QStringLiteral("FROM"), QStringLiteral("<sip:%1@127.0.0.1>").arg(USER));
    caller.setRemote(QStringLiteral("127.0.0.1:%1").arg(phonePort(registrar)));
    caller.setCalls(CALLS);
    caller.addArguments(
        { QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-r"), QStringLiteral("1000") });
    QVERIFY(caller.start());

    // The bar's slots run from the event loop: wait with it running, not in a blocking wait.
    QTRY_COMPARE_WITH_TIMEOUT(historyRows().size(), CALLS, 60000);
    QVERIFY2(caller.waitForFinished(5000), qPrintable(caller.report().left(3000)));
    for (const HistoryRow &row : historyRows()) {
        QCOMPARE(row.status, QStringLiteral("1"));
        QCOMPARE(row.number, USER);
        // An answered call has a talk time (at least one second, counted ahead).
        QVERIFY2(row.time != QStringLiteral("00:00:00"), qPrintable(row.time));
    }

    bar.reset();
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

void tst_BarCalls::lampGoesOnlineWhenTheRegistrarAnswersAtOnce()
{
    // No challenge: the registration is over while the window is still being built, and the
    // bar must still hear of it.
    const QString reply = QStringLiteral(
        "<send><![CDATA[\nSIP/2.0 200 OK\n[last_Via:]\n[last_From:]\n[last_To:];tag=[pid]reg\n"
        "[last_Call-ID:]\n[last_CSeq:]\n[last_Contact:];expires=3600\nContent-Length: 0\n\n]]></send>\n");
    SippPeer registrar(
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<scenario name=\"at once\">\n"
                       "<recv request=\"REGISTER\"/>\n")
        + reply + QStringLiteral("<recv request=\"REGISTER\"/>\n") + reply + QStringLiteral("</scenario>\n"));
    QVERIFY(registrar.start());
    BarFixture bar({ { CATEGORY_ACCOUNT, BarFixture::account(USER, registrar.port()) } });
    bar.window()->show();
    QTRY_COMPARE_WITH_TIMEOUT(bar.label("onlineStatus")->styleSheet(), STYLE_STATUS_ONLINE, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(bar.label("dialogStatus")->text(), MSG_READY_TO_DIAL, 5000);
    QCOMPARE(registrar.received(QStringLiteral("REGISTER")).size(), 1);
}

void tst_BarCalls::statusTooltipSaysWhenTheMediaIsEncrypted()
{
    // A call with SRTP from the bar, over TLS through Kamailio to linphonec that encrypts.
    LinphonecPeer callee(true);
    QVERIFY2(callee.start(), qPrintable(callee.log()));
    KamailioPeer server(QStringLiteral("s3cret"));
    server.setGateway(callee.port());
    QVERIFY2(server.start(), qPrintable(server.report()));
    QMap<QString, QString> account = BarFixture::account(USER, server.tlsPort());
    account.insert(QStringLiteral("transport"), QStringLiteral("tls"));
    account.insert(QStringLiteral("tlsCaFile"), server.caFile());
    account.insert(QStringLiteral("srtp"), QStringLiteral("mandatory"));
    QScopedPointer<BarFixture> bar(new BarFixture({ { CATEGORY_ACCOUNT, account } }));
    bar->window()->show();
    QLabel *status = bar->label("dialogStatus");
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_READY_TO_DIAL, 10000);
    QCOMPARE(status->toolTip(), QString());

    QTest::keyClicks(bar->window(), QStringLiteral("2000"));
    QTest::keyClick(bar->window(), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_IN_CALL, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(status->toolTip(), TEXT_MEDIA_ENCRYPTED, 5000);
    QVERIFY2(
        bar->logText().contains(QStringLiteral("call media: encrypted (SRTP)")), qPrintable(bar->logText()));

    // The end of the call takes the tooltip with it.
    QTest::mouseClick(bar->button("terminateButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_READY_TO_DIAL, 10000);
    QCOMPARE(status->toolTip(), QString());
    bar.reset();
}

QTEST_MAIN(tst_BarCalls)
#include "tst_bar_calls.moc"
