// The program's life as an operator sees it on a new machine: the first start asks for the
// account, the account typed in registers, a second start only brings the bar back, and the
// exit command asks first and then leaves the SIP server properly.
#include "tests/e2e/desktop.h"
#include "tests/e2e/e2esupport.h"
#include "tests/e2e/screenpoints.h"
#include "tests/e2e/tarselapp.h"

#include "app/constants.h"
#include "store/veldata.h"
#include "tests/support/hostilesip.h"
#include "tests/support/http/httptestserver.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QtTest>

#include <csignal>

using namespace E2e;

class tst_E2eStartup : public QObject
{
    Q_OBJECT

private slots:
    void firstStartToExit();
    void savedAccountResetsOperatorStatus();
    void crashInSipLibraryStartsAgain();
};

namespace {
// The operator fills in the account tab of the setting window and saves.
void typeAccount(const E2eDesktop &desktop, qulonglong settings, int registrarPort, const QString &shot)
{
    const QPoint form = desktop.geometry(settings).topLeft();
    const QList<QPair<QPoint, QString>> fields = { { SettingForm::ADDRESS, QStringLiteral("127.0.0.1") },
        { SettingForm::PORT, QString::number(registrarPort) }, { SettingForm::USER_ID, USER },
        { SettingForm::PASSWORD, PASSWORD } };
    for (const auto &field : fields) {
        desktop.click(form + field.first);
        QTest::qWait(200);
        desktop.type(field.second);
    }
    desktop.screenshot(shot);
    desktop.click(form + SettingForm::SAVE);
}
} // namespace

void tst_E2eStartup::firstStartToExit()
{
    E2eDesktop desktop;
    QVERIFY2(desktop.start(), qPrintable(desktop.error()));
    SippPeer registrar(SippScenario::registrar(), 120);
    registrar.set(QStringLiteral("PASSWORD"), PASSWORD);
    QVERIFY(registrar.start());

    // A machine where the program has never run: no data directory at all.
    TarselApp app(desktop);
    QVERIFY(app.isValid());
    QVERIFY(!QFileInfo::exists(app.appDir() + DATA_DIR));
    QVERIFY(app.start());

    const qulonglong bar = desktop.waitForWindow(exactTitle(APP_TITLE), 30000, Bar::SIZE);
    QVERIFY2(bar, qPrintable(app.output()));
    const qulonglong settings = desktop.waitForWindow(exactTitle(TITLE_SETTING), 10000, SettingForm::SIZE);
    QVERIFY2(settings, "the first start did not open the setting window");
    QVERIFY(!lampIsOnline(
        desktop.screenshot(QStringLiteral("startup-1-first-start-settings")), desktop.geometry(bar)));
    // The data directory holds the passwords: the owner's only.
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup
        | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QVERIFY(!(QFileInfo(app.appDir() + DATA_DIR).permissions() & others));
    QVERIFY(!(QFileInfo(app.databasePath()).permissions() & others));
    QVERIFY(registrar.received(QStringLiteral("REGISTER")).isEmpty());

    // The operator types the account into the form and saves it.
    typeAccount(desktop, settings, registrar.port(), QStringLiteral("startup-2-account-typed"));
    QVERIFY(desktop.waitForNoWindow(exactTitle(TITLE_SETTING), 10000, SettingForm::SIZE));

    // The registrar sees the typed user, authenticated with the typed password (sipp answers
    // 403 to a wrong one), and the lamp turns on.
    const auto authenticated = [&] {
        for (const SipMessage &message : registrar.received(QStringLiteral("REGISTER"))) {
            if (message.header(QStringLiteral("Authorization"))
                    .contains(QStringLiteral("username=\"%1\"").arg(USER)))
                return true;
        }
        return false;
    };
    QVERIFY2(waitUntil(15000, authenticated), qPrintable(registrar.report()));
    QVERIFY2(waitForLamp(desktop, bar, true, QStringLiteral("startup-3-registered"), 15000),
        qPrintable(registrar.report()));
    const QMap<QString, QString> stored = app.settings(CATEGORY_ACCOUNT);
    QCOMPARE(stored.value(QStringLiteral("address")), QStringLiteral("127.0.0.1"));
    QCOMPARE(stored.value(QStringLiteral("port")), QString::number(registrar.port()));
    QCOMPARE(stored.value(QStringLiteral("userId")), USER);
    QCOMPARE(stored.value(QStringLiteral("password")), PASSWORD);
    QVERIFY(!app.log().isEmpty());

    // The close button hides the bar into the tray; starting the program again brings it back
    // and the second process ends at once with status 0.
    const QPoint barAt = desktop.geometry(bar).topLeft();
    desktop.click(barAt + Bar::CLOSE);
    QVERIFY2(desktop.waitForNoWindow(exactTitle(APP_TITLE), 5000, Bar::SIZE),
        "the bar did not hide into the tray");
    desktop.screenshot(QStringLiteral("startup-4-hidden-in-tray"));
    QCOMPARE(app.startAgain(20000), 0);
    QVERIFY2(
        desktop.waitForWindow(exactTitle(APP_TITLE), 5000, Bar::SIZE), "a second start did not show the bar");
    QVERIFY(app.isRunning());
    desktop.screenshot(QStringLiteral("startup-5-raised-by-second-start"));

    // Exit from the bar's menu: "いいえ" keeps the program, "はい" ends it and unregisters.
    QVERIFY2(exitFromMenu(desktop, bar, false, QStringLiteral("startup-6-exit-confirmation")), "no exit box");
    QVERIFY(desktop.waitForNoWindow(exactTitle(TITLE_EXIT_CONFIRM), 5000));
    QTest::qWait(500);
    QVERIFY(app.isRunning());
    QVERIFY(!desktop.findWindows(exactTitle(APP_TITLE)).isEmpty());
    QVERIFY2(exitFromMenu(desktop, bar, true, QStringLiteral("startup-7-exit-confirmation")), "no exit box");
    QVERIFY2(app.waitForExit(15000), "the program did not end after はい");
    QCOMPARE(app.exitCode(), 0);
    const QVector<SipMessage> last = registrar.received(QStringLiteral("REGISTER"));
    QVERIFY2(last.last().header(QStringLiteral("Expires")) == QStringLiteral("0")
            || last.last().header(QStringLiteral("Contact")).contains(QStringLiteral("expires=0")),
        qPrintable(registrar.report()));
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

void tst_E2eStartup::savedAccountResetsOperatorStatus()
{
    // The administrator prepared only the call centre's CTI server; the operator enters the
    // SIP account on the first start. Saving it reports the operator's status to the CTI
    // server over HTTPS (self-signed certificate), whose refusal the operator then sees.
    E2eDesktop desktop;
    QVERIFY2(desktop.start(), qPrintable(desktop.error()));
    HttpTestServer cti(HttpTestServer::Https);
    QVERIFY2(cti.start(), qPrintable(cti.errorString()));
    HttpReply refusal;
    refusal.contentType = "application/json";
    refusal.body = R"({"result": 1, "message": "unknown operator"})";
    cti.setReply("/quick/actions/cti.php", refusal);
    SippPeer registrar(SippScenario::registrar(), 120);
    registrar.set(QStringLiteral("PASSWORD"), PASSWORD);
    QVERIFY(registrar.start());

    TarselApp app(desktop);
    QVERIFY(app.prepareSettings({ { CATEGORY_ACCOUNT,
        { { QStringLiteral("operatorAddress"), QStringLiteral("127.0.0.1:%1").arg(cti.port()) },
            { QStringLiteral("operatorId"), QStringLiteral("op7") },
            { QStringLiteral("operatorPW"), QStringLiteral("pw7") } } } }));
    QVERIFY(app.start());
    const qulonglong bar = desktop.waitForWindow(exactTitle(APP_TITLE), 30000, Bar::SIZE);
    QVERIFY2(bar, qPrintable(app.output()));
    const qulonglong settings = desktop.waitForWindow(exactTitle(TITLE_SETTING), 10000, SettingForm::SIZE);
    QVERIFY2(settings, "an account without SIP settings did not open the setting window");
    QVERIFY(cti.requests().isEmpty());

    typeAccount(desktop, settings, registrar.port(), QStringLiteral("startup-cti-1-account-typed"));
    QVERIFY(waitUntil(10000, [&] { return !cti.requests("/quick/actions/cti.php").isEmpty(); }));
    const HttpRequest request = cti.requests("/quick/actions/cti.php").first();
    QVERIFY(request.tls);
    QCOMPARE(request.method, QByteArray("POST"));
    QMap<QString, QString> form;
    for (const auto &field : HttpTestServer::formFields(request.body))
        form.insert(field.first, field.second);
    QCOMPARE(form.value(QStringLiteral("action")), QStringLiteral("set_op_status"));
    QCOMPARE(form.value(QStringLiteral("status")), QStringLiteral("0"));
    const qulonglong box = desktop.waitForWindow(exactTitle(TITLE_OPERATOR_LOGIN), 10000);
    QVERIFY2(box, "the CTI server's refusal was not shown");
    QVERIFY2(waitForLamp(desktop, bar, true, QStringLiteral("startup-cti-2-refusal-shown"), 15000),
        qPrintable(registrar.report()));
}

// Two datagrams crash the SIP library inside the program (docs/known-issues.md). The program
// comes back by itself: a new bar, registered again from a new process, the history as it was,
// and the crash with its signal in the log.
void tst_E2eStartup::crashInSipLibraryStartsAgain()
{
    E2eDesktop desktop;
    QVERIFY2(desktop.start(), qPrintable(desktop.error()));
    // One registration before the crash, one after (each process has its own Call-ID).
    SippPeer registrar(SippScenario::registrar(), 120);
    registrar.setCalls(2);
    TarselApp app(desktop);
    const QList<HistoryRecord> history
        = { { QStringLiteral("1"), QStringLiteral("0451110001"), QStringLiteral("00:01:05"),
                QStringLiteral("2026-12-01 09:00:00") },
              { QStringLiteral("3"), QStringLiteral("0451110002"), QStringLiteral("00:00:00"),
                  QStringLiteral("2026-12-01 09:05:00") } };
    QVERIFY(app.prepareHistory(history));
    QString why;
    const qulonglong bar
        = startRegistered(desktop, app, registrar, {}, QStringLiteral("crash-1-registered"), &why);
    QVERIFY2(bar, qPrintable(why));
    const int portBefore = phonePort(registrar);
    QVERIFY(portBefore > 0);

    QElapsedTimer sinceCrash;
    sinceCrash.start();
    QVERIFY(HostileSip::sendCrashingPair(portBefore));
    QVERIFY2(waitUntil(10000, [&] { return app.log().contains(QStringLiteral("ended by signal")); }),
        qPrintable(QStringLiteral("no crash after the two datagrams:\n") + app.log()));

    QVERIFY2(waitUntil(20000, [&] { return phonePort(registrar) > 0 && phonePort(registrar) != portBefore; }),
        qPrintable(registrar.report()));
    const qulonglong barAgain = desktop.waitForWindow(exactTitle(APP_TITLE), 20000, Bar::SIZE);
    QVERIFY2(barAgain, qPrintable(app.output()));
    QVERIFY2(waitForLamp(desktop, barAgain, true, QStringLiteral("crash-2-registered-again"), 15000),
        qPrintable(registrar.report()));
    qInfo("bar back and registered %lld ms after the datagrams", sinceCrash.elapsed());
    QVERIFY(app.isRunning());

    const QString log = app.log();
    QVERIFY2(log.contains(
                 QRegularExpression(QStringLiteral("ended by signal (%1|%2) ").arg(SIGSEGV).arg(SIGABRT))),
        qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("program started again")), qPrintable(log));
    const QList<HistoryRecord> kept = app.history();
    QCOMPARE(kept.size(), history.size());
    for (int i = 0; i < history.size(); ++i) {
        QCOMPARE(kept[i].status, history[i].status);
        QCOMPARE(kept[i].number, history[i].number);
        QCOMPARE(kept[i].time, history[i].time);
        QCOMPARE(kept[i].date, history[i].date);
    }
}

QTEST_GUILESS_MAIN(tst_E2eStartup)
#include "tst_e2e_startup.moc"
