#include "tests/phone/phonerig.h"
#include "tests/support/rtpsink.h"
#include "tests/support/sipscenario.h"

#include "app/appdir.h"
#include "app/constants.h"
#include "app/vellogger.h"
#include "phone/velphone.h"
#include "store/veldata.h"

#include <QDir>
#include <QUdpSocket>
#include <QtTest>

// Registration against a sipp registrar with digest authentication, as seen on the wire and
// in the engine's signals; the core's files; the library log file.
class tst_VelPhoneRegistration : public QObject
{
    Q_OBJECT

private slots:
    void registersWithDigestAndLeavesHomeAlone();
    void rejectedRegistrationReportsFailedThenCorrectedAccountRegisters();
    void incompleteAccountSendsNothing_data();
    void incompleteAccountSendsNothing();
    void reRegistrationUnregistersThenRegistersNewAccount();
    void coreLogOnlyInDebugModeAndRotates();
    void soundDevicesListTheNullSink();
    void silentRegistrarEndsTheCallInProgress();
};

static QString bounded(const SippPeer &peer)
{
    return peer.report();
}

// Local addresses (hex as the kernel lists them) of this process's UDP sockets on `port`.
static QStringList udpAddressesOnPort(int port)
{
    QStringList addresses;
    const QString hexPort = QStringLiteral("%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    for (const QString &table :
        { QStringLiteral("/proc/self/net/udp"), QStringLiteral("/proc/self/net/udp6") }) {
        QFile file(table);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> local = line.simplified().split(' ').value(1).split(':');
            if (local.size() == 2 && QString::fromLatin1(local[1]) == hexPort)
                addresses << QString::fromLatin1(local[0]);
        }
    }
    return addresses;
}

void tst_VelPhoneRegistration::registersWithDigestAndLeavesHomeAlone()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(rig.startRegistered(registrar));
    QCOMPARE(rig.spy().names(),
        QStringList({ "signal_registration_state", "signal_registration_state", "signal_show_operator_login",
            "signal_update_dialog_status" }));
    const QList<SignalLog::Entry> entries = rig.spy().entries();
    QCOMPARE(entries[0].args, QVariantList({ REG_STATUS_PROGRESS, PhoneRig::USER }));
    QCOMPARE(entries[1].args, QVariantList({ REG_STATUS_SUCCESSFUL, PhoneRig::USER }));
    QCOMPARE(entries[3].args, QVariantList({ MSG_READY_TO_DIAL }));

    const QVector<SipMessage> registers = registrar.received(QStringLiteral("REGISTER"));
    QCOMPARE(registers.size(), 2);
    // The identity is handed to the library as sip:1001@127.0.0.1:<port>; the library writes
    // From and To without the port, and sends to the server address with it.
    const QString identity = QStringLiteral("sip:%1@127.0.0.1").arg(PhoneRig::USER);
    for (const SipMessage &reg : registers) {
        QCOMPARE(reg.startLine(), QStringLiteral("REGISTER sip:127.0.0.1:%1 SIP/2.0").arg(registrar.port()));
        QVERIFY2(reg.header(QStringLiteral("From")).contains(identity), qPrintable(reg.text));
        QVERIFY2(reg.header(QStringLiteral("To")).contains(identity), qPrintable(reg.text));
        QCOMPARE(reg.header(QStringLiteral("Expires")), QStringLiteral("60"));
        QVERIFY2(reg.header(QStringLiteral("User-Agent"))
                     .startsWith(USER_AGENT_NAME + QLatin1Char('/') + APP_VERSION),
            qPrintable(reg.header(QStringLiteral("User-Agent"))));
        QVERIFY2(reg.header(QStringLiteral("Contact")).contains(QStringLiteral("@127.0.0.1:")),
            qPrintable(reg.text));
    }
    QVERIFY(registers[0].header(QStringLiteral("Authorization")).isEmpty());
    QVERIFY(
        registers[1].header(QStringLiteral("Authorization")).contains(QStringLiteral("username=\"1001\"")));
    QVERIFY(PhoneRig::phonePortFrom(registrar) > 0);
    // The SIP socket listens on the loopback address that reaches the registrar, not on every
    // interface (0.0.0.0 or ::).
    QCOMPARE(
        udpAddressesOnPort(PhoneRig::phonePortFrom(registrar)), QStringList({ QStringLiteral("0100007F") }));

    // Stopping unregisters; the registrar then ends with every step done.
    QVERIFY(rig.stopPhone());
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(bounded(registrar)));
    QCOMPARE(registrar.received(QStringLiteral("REGISTER")).last().header(QStringLiteral("Expires")),
        QStringLiteral("0"));

    // The core reached its ready state without a ~/.local/share/linphone, and wrote nothing there.
    QCOMPARE(QDir(rig.appDir() + QStringLiteral("/home")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
        QStringList());
}

void tst_VelPhoneRegistration::rejectedRegistrationReportsFailedThenCorrectedAccountRegisters()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    registrar.setCalls(2);
    registrar.set(QStringLiteral("PASSWORD"), PhoneRig::PASSWORD);
    QVERIFY(registrar.start());
    rig.saveAccount(PhoneRig::USER, QStringLiteral("wrong"), registrar.port());
    rig.startPhone();

    QTRY_VERIFY_WITH_TIMEOUT(
        rig.spy().last("signal_registration_state").value(0) == REG_STATUS_FAILED, 10000);
    QVERIFY(!rig.spy().contains("signal_show_operator_login"));
    QTRY_VERIFY(registrar.messages().size() >= 4);
    QVERIFY(registrar.messages().last().isResponse(403));

    // Not registered: a re-registration with the corrected password starts at once.
    rig.saveAccount(PhoneRig::USER, PhoneRig::PASSWORD, registrar.port());
    rig.spy().clear();
    rig.phone()->request_re_register();
    QTRY_VERIFY2_WITH_TIMEOUT(rig.spy().contains("signal_show_operator_login"),
        qPrintable(rig.spy().dump() + registrar.report()), 10000);
    QCOMPARE(rig.spy().last("signal_registration_state").value(0).toString(), REG_STATUS_SUCCESSFUL);
    QVERIFY(rig.stopPhone());
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(bounded(registrar)));
}

void tst_VelPhoneRegistration::incompleteAccountSendsNothing_data()
{
    // %1 is the registrar's port. A port that is not a number from 0 to 65535 (a database
    // prepared by hand) is reported as a failed registration.
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("failed");
    QTest::newRow("no port") << QString() << false;
    QTest::newRow("sign") << QStringLiteral("+%1") << true;
    QTest::newRow("group separator") << QStringLiteral("5,%1") << true;
    QTest::newRow("blank") << QStringLiteral(" %1") << true;
    QTest::newRow("above 65535") << QStringLiteral("70000") << true;
    QTest::newRow("full-width digits") << QStringLiteral("５０６０") << true;
    QTest::newRow("word") << QStringLiteral("sip") << true;
}

void tst_VelPhoneRegistration::incompleteAccountSendsNothing()
{
    QFETCH(QString, port);
    QFETCH(bool, failed);
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(registrar.start());
    rig.saveAccount(PhoneRig::USER, PhoneRig::PASSWORD, registrar.port());
    const QString stored = port.contains(QLatin1String("%1")) ? port.arg(registrar.port()) : port;
    rig.store()->save_account_settings({ { QStringLiteral("port"), stored } });
    rig.startPhone();
    // Proving that nothing happens needs a bounded look: a registration would start within a
    // few milliseconds of the thread start.
    QTest::qWait(1500);
    QVERIFY(registrar.messages().isEmpty());
    if (!failed) {
        QCOMPARE(rig.spy().names(), QStringList());
    } else {
        QCOMPARE(rig.spy().names(), QStringList({ QStringLiteral("signal_registration_state") }));
        QCOMPARE(rig.spy().entries().first().args, QVariantList({ REG_STATUS_FAILED, PhoneRig::USER }));
        QFile log(VelLogger::filePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        QVERIFY2(text.contains(QStringLiteral("the stored port \"%1\" is not a number").arg(stored)),
            qPrintable(text));
    }
    QVERIFY(rig.stopPhone());
}

void tst_VelPhoneRegistration::reRegistrationUnregistersThenRegistersNewAccount()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    registrar.setCalls(2);
    QVERIFY(rig.startRegistered(registrar));

    // Without a pending request re_register() does nothing.
    rig.saveAccount(QStringLiteral("1002"), PhoneRig::PASSWORD, registrar.port());
    rig.phone()->re_register();
    QTest::qWait(300);
    QCOMPARE(registrar.received(QStringLiteral("REGISTER")).size(), 2);

    rig.spy().clear();
    rig.phone()->request_re_register();
    QTRY_VERIFY2_WITH_TIMEOUT(rig.spy().contains("signal_show_operator_login"),
        qPrintable(rig.spy().dump() + registrar.report()), 10000);
    QCOMPARE(rig.spy().entries().first().args, QVariantList({ REG_STATUS_UNREGISTER, PhoneRig::USER }));
    QCOMPARE(rig.spy().last("signal_registration_state"),
        QVariantList({ REG_STATUS_SUCCESSFUL, QStringLiteral("1002") }));

    const QVector<SipMessage> registers = registrar.received(QStringLiteral("REGISTER"));
    QCOMPARE(registers.size(), 5);
    QCOMPARE(registers[2].header(QStringLiteral("Expires")), QStringLiteral("0"));
    QVERIFY(registers[2].header(QStringLiteral("From")).contains(QStringLiteral("sip:1001@")));
    QVERIFY(registers[3].header(QStringLiteral("From")).contains(QStringLiteral("sip:1002@")));
    QVERIFY(registers[3].header(QStringLiteral("Call-ID")) != registers[0].header(QStringLiteral("Call-ID")));

    // The earlier configuration is gone: stopping unregisters the new account only.
    QVERIFY(rig.stopPhone());
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(bounded(registrar)));
    const QVector<SipMessage> all = registrar.received(QStringLiteral("REGISTER"));
    QCOMPARE(all.size(), 6);
    QVERIFY(all[5].header(QStringLiteral("From")).contains(QStringLiteral("sip:1002@")));

    // The old server has gone silent (it neither answers nor refuses): a new account at another
    // server still registers at once, without waiting for the old one's answer.
    PhoneRig second;
    SippPeer old(SippScenario::registrar());
    QVERIFY(second.startRegistered(old));
    const int oldPort = old.port();
    old.kill();
    QUdpSocket silent;
    QVERIFY(silent.bind(QHostAddress::LocalHost, quint16(oldPort)));
    SippPeer next(SippScenario::registrar());
    next.set(QStringLiteral("PASSWORD"), PhoneRig::PASSWORD);
    QVERIFY(next.start());
    second.saveAccount(QStringLiteral("1003"), PhoneRig::PASSWORD, next.port());
    second.spy().clear();
    second.phone()->request_re_register();
    QTRY_VERIFY2_WITH_TIMEOUT(second.spy().last("signal_registration_state")
            == QVariantList({ REG_STATUS_SUCCESSFUL, QStringLiteral("1003") }),
        qPrintable(second.spy().dump() + next.report()), 10000);
    QVERIFY(second.stopPhone());
    QVERIFY2(next.waitForFinished(10000), qPrintable(bounded(next)));
}

void tst_VelPhoneRegistration::coreLogOnlyInDebugModeAndRotates()
{
    const QString logPath = QStringLiteral("/data/logs/core.log");
    QCOMPARE(CORE_LOG_FILE, logPath);
    {
        PhoneRig rig;
        rig.saveGeneral(QStringLiteral("debugModel"), QStringLiteral("0"));
        rig.startPhone();
        QVERIFY(rig.stopPhone());
        QVERIFY(!QFile::exists(AppDir::file(CORE_LOG_FILE)));
    }
    PhoneRig rig;
    rig.saveGeneral(QStringLiteral("debugModel"), QStringLiteral("1"));
    // A log from yesterday becomes core.log1, replacing the older generation.
    const QString path = AppDir::file(CORE_LOG_FILE);
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("yesterday\n");
    old.close();
    QVERIFY(old.open(QIODevice::ReadOnly));
    QVERIFY(old.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    old.close();
    QFile older(path + QStringLiteral("1"));
    QVERIFY(older.open(QIODevice::WriteOnly));
    older.write("two days ago\n");
    older.close();

    rig.startPhone();
    QVERIFY(rig.stopPhone());
    QFile rotated(path + QStringLiteral("1"));
    QVERIFY(rotated.open(QIODevice::ReadOnly));
    QCOMPARE(rotated.readAll(), QByteArray("yesterday\n"));
    QFile current(path);
    QVERIFY(current.open(QIODevice::ReadOnly));
    const QByteArray firstRun = current.readAll();
    QVERIFY(!firstRun.isEmpty());
    QVERIFY(!firstRun.contains("yesterday"));
    current.close();

    // A log written today is appended to.
    rig.startPhone();
    QVERIFY(rig.stopPhone());
    QVERIFY(current.open(QIODevice::ReadOnly));
    const QByteArray secondRun = current.readAll();
    QVERIFY(secondRun.startsWith(firstRun));
    QVERIFY(secondRun.size() > firstRun.size());
}

void tst_VelPhoneRegistration::soundDevicesListTheNullSink()
{
    QVERIFY(PhoneRig::havePulse());
    PhoneRig rig;
    rig.startPhone();
    const QMap<QString, QStringList> devices = rig.phone()->get_sound_devices();
    QCOMPARE(devices.keys(), QStringList({ QStringLiteral("capture"), QStringLiteral("playback") }));
    const QStringList playback = devices.value(QStringLiteral("playback"));
    QVERIFY2(playback.contains(QStringLiteral("PulseAudio Unknown: Null Output")),
        qPrintable(playback.join(", ")));
    QVERIFY(!devices.value(QStringLiteral("capture"))
                 .contains(QStringLiteral("PulseAudio Unknown: Null Output")));
    // Stored names are applied from the GUI thread while the engine runs; an unknown name is
    // skipped.
    rig.saveAudio({ { QStringLiteral("playback"), playback.first() },
        { QStringLiteral("ringback"), QStringLiteral("no such device") },
        { QStringLiteral("captureGain"), QStringLiteral("3") } });
    rig.phone()->apply_sound_settings();
    QCOMPARE(rig.phone()->get_sound_devices(), devices);
    QVERIFY(rig.stopPhone());
}

void tst_VelPhoneRegistration::silentRegistrarEndsTheCallInProgress()
{
    using namespace SippScenario;
    PhoneRig rig;
    // The registrar asks for a refresh within two seconds and then falls silent: a socket on
    // its port takes the refreshes and never answers. The library gives up on the refresh after
    // its SIP transaction time-out (32 s) and reports the failure with the message "timeout".
    SippPeer registrar(SippScenario::registrar(QString(), QString(), 2));
    QVERIFY(rig.startRegistered(registrar));
    SippPeer caller(SippScenario::caller(awaitAnswer(200) + expect(QStringLiteral("BYE")), sdp()), 90);
    RtpSink media; // the caller's voice, so that the call outlives the library's no-RTP time-out
    media.setEcho(true);
    caller.setMediaPort(media.port());
    PhoneRig::aim(caller, registrar, QStringLiteral("2001"));
    QVERIFY(caller.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_incoming_ringing(), 10000);
    rig.phone()->request_answer();
    QTRY_VERIFY_WITH_TIMEOUT(PhoneRig::statusTexts(rig.spy()).contains(MSG_IN_CALL), 10000);
    const int registrarPort = registrar.port();
    registrar.kill();
    QUdpSocket silentRegistrar;
    QVERIFY(silentRegistrar.bind(QHostAddress(QHostAddress::LocalHost), registrarPort));

    rig.spy().clear();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 60000);
    QVERIFY2(caller.waitForFinished(10000), qPrintable(caller.report()));
    QByteArray refresh(int(silentRegistrar.pendingDatagramSize()), 0);
    QVERIFY(silentRegistrar.readDatagram(refresh.data(), refresh.size()) > 0);
    QVERIFY2(refresh.startsWith("REGISTER "), refresh.constData());
    // The ended call's release report, which follows the BYE, tells nothing more.
    QTest::qWait(500);
    QCOMPARE(rig.spy().names(),
        QStringList({ "signal_registration_state", "signal_dialog_end", "signal_update_dialog_status" }));
    QCOMPARE(rig.spy().entries().first().args, QVariantList({ REG_STATUS_FAILED, PhoneRig::USER }));
    QCOMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_READY_TO_DIAL }));
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
    QVERIFY(rig.phone()->is_idle());

    // Unregistered, the phone still takes a call that reaches it.
    rig.spy().clear();
    SippPeer next(SippScenario::caller(
        awaitAnswer(200) + pause(200) + callerRequest(QStringLiteral("BYE"), 2) + expectResponse(200),
        sdp()));
    PhoneRig::aim(next, registrar, QStringLiteral("2002"));
    QVERIFY(next.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_incoming_ringing(), 10000);
    rig.phone()->request_answer();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QVERIFY2(next.waitForFinished(10000), qPrintable(next.report()));
    QCOMPARE(rig.phone()->get_call_result(), 1);
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
}

QTEST_GUILESS_MAIN(tst_VelPhoneRegistration)
#include "tst_velphone_registration.moc"
