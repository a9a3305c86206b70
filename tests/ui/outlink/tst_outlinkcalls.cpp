#include "tests/phone/phonerig.h"
#include "tests/support/sipscenario.h"
#include "tests/ui/outlink/outlinktestmain.h"

#include "app/constants.h"
#include "phone/velphone.h"
#include "store/veldata.h"
#include "tests/support/http/httptestserver.h"
#include "ui/outlink/dialogincommingwindow.h"
#include "ui/outlink/remotesite.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

using namespace SippScenario;
using Params = QMap<QString, QString>;

namespace {
constexpr int WAIT = 15000;

void aim(SippPeer &caller, const SippPeer &registrar, const QString &number, const QString &displayName)
{
    const int phonePort = PhoneRig::phonePortFrom(registrar);
    caller.setRemote(QStringLiteral("127.0.0.1:%1").arg(phonePort));
    caller.set(QStringLiteral("USER"), PhoneRig::USER);
    caller.set(QStringLiteral("PHONE_PORT"), QString::number(phonePort));
    caller.set(QStringLiteral("PEER"), number);
    caller.set(QStringLiteral("FROM"),
        QStringLiteral("\"%1\" <sip:%2@127.0.0.1:%3>").arg(displayName, number).arg(caller.port()));
}

Params lastCall(PhoneRig &rig)
{
    return rig.spy().last("signal_received_dialog").value(0).value<Params>();
}
} // namespace

// The outlink windows driven by real calls: sipp calls the engine, the engine's incoming-call
// parameters go to the windows as the bar hands them on, and the windows' buttons answer and
// end the call on the wire.
class tst_OutlinkCalls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(PhoneRig::havePulse(),
            "PULSE_SERVER is not set: start the private PulseAudio of the test set-up");
    }
    void remoteSiteShowsTheCallersPageAndItsButtonsDriveTheCall();
    void incomingWindowShowsEachCallersNumberAndDrivesTheCall();
};

void tst_OutlinkCalls::remoteSiteShowsTheCallersPageAndItsButtonsDriveTheCall()
{
    PhoneRig rig;
    HttpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(rig.startRegistered(registrar));
    QVERIFY(rig.store()->save_account_settings({ { "operatorId", "op7" }, { "operatorPW", "pw-secret" } }));
    QVERIFY(rig.store()->save_outlink_settings(
        { { "simpleUrl", server.url("/popup").toString() }, { "simpleMethod", "post" },
            { "simpleParams", "tel=%CallerID%\nname=%CallerName%\ncall=%CallId%" } }));

    // A display name that tries to pull in the operator's password.
    const QString displayName = QStringLiteral("%OpePW% 山田");
    SippPeer caller(SippScenario::caller(awaitAnswer(200) + expect(QStringLiteral("BYE")), sdp()));
    aim(caller, registrar, QStringLiteral("2001"), displayName);
    QVERIFY(caller.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_received_dialog"), WAIT);

    RemoteSite site(nullptr, rig.phone(), rig.store());
    QSignalSpy showMain(&site, &RemoteSite::signal_show_main_window);
    QSignalSpy noDelay(&site, &RemoteSite::signal_set_not_delay_hidden_reomote_window);
    site.set_webview_params(lastCall(rig));
    site.show();

    QTRY_COMPARE_WITH_TIMEOUT(server.requests("/popup").size(), 1, WAIT);
    const HttpRequest page = server.requests("/popup").first();
    const QString callId = caller.messages().first().header(QStringLiteral("Call-ID"));
    const QList<QPair<QString, QString>> expected
        = { { "tel", "2001" }, { "name", displayName }, { "call", callId } };
    QCOMPARE(HttpTestServer::formFields(page.body), expected);
    QVERIFY(!page.body.contains("secret"));

    QTest::mouseClick(site.findChild<QPushButton *>("siteDialogButton"), Qt::LeftButton);
    QCOMPARE(showMain.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TALKING), WAIT);

    QTest::mouseClick(site.findChild<QPushButton *>("siteTerminateButton"), Qt::LeftButton);
    QCOMPARE(noDelay.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), WAIT);
    QVERIFY2(caller.waitForFinished(WAIT), qPrintable(caller.report()));
    QCOMPARE(caller.received(QStringLiteral("BYE")).size(), 1);
    QVERIFY(rig.stopPhone());
}

void tst_OutlinkCalls::incomingWindowShowsEachCallersNumberAndDrivesTheCall()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(rig.startRegistered(registrar));
    DialogIncommingWindow window(nullptr, rig.phone());
    QLabel *number = window.findChild<QLabel *>("phoneNumber");
    QSignalSpy accepted(&window, &DialogIncommingWindow::signal_dialog_accept);

    // First caller: shown with its number, declined from the window, which stays up until the
    // bar hides it at the end of the call.
    SippPeer first(SippScenario::caller(awaitAnswer(486), sdp()));
    aim(first, registrar, QStringLiteral("2001"), QStringLiteral("A"));
    QVERIFY(first.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_incoming_ringing(), WAIT);
    window.show();
    QCOMPARE(number->text(), QStringLiteral("2001 から着信中・・・"));
    QTest::mouseClick(window.findChild<QPushButton *>("siteTerminateButton"), Qt::LeftButton);
    QVERIFY2(first.waitForFinished(WAIT), qPrintable(first.report()));
    QVERIFY(window.isVisible());
    QCOMPARE(accepted.size(), 0);

    // Second caller while the window is still up: the text changes only with the next show.
    rig.spy().clear();
    SippPeer second(SippScenario::caller(awaitAnswer(200) + expect(QStringLiteral("BYE")), sdp()));
    aim(second, registrar, QStringLiteral("2002"), QStringLiteral("B"));
    QVERIFY(second.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_incoming_ringing(), WAIT);
    QCOMPARE(number->text(), QStringLiteral("2001 から着信中・・・"));
    window.hide();
    window.show();
    QCOMPARE(number->text(), QStringLiteral("2002 から着信中・・・"));

    QTest::mouseClick(window.findChild<QPushButton *>("siteDialogButton"), Qt::LeftButton);
    QCOMPARE(accepted.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TALKING), WAIT);
    rig.phone()->request_hangup();
    QVERIFY2(second.waitForFinished(WAIT), qPrintable(second.report()));
    QVERIFY(rig.stopPhone());
}

OUTLINK_TEST_MAIN(tst_OutlinkCalls)
#include "tst_outlinkcalls.moc"
