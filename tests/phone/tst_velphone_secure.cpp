#include "kamailiopeer.h"
#include "phonerig.h"

#include "constants.h"
#include "velphone.h"

#include <QtTest>

// SIP over TLS and TCP against a real Kamailio registrar and proxy on 127.0.0.1, with
// certificates made for each test.
class tst_VelPhoneSecure : public QObject
{
    Q_OBJECT

private slots:
    void tls_registration_checks_the_certificate_data();
    void tls_registration_checks_the_certificate();
    void registers_over_tcp();
    void unusable_secure_settings_fail_without_fallback_data();
    void unusable_secure_settings_fail_without_fallback();
};

void tst_VelPhoneSecure::tls_registration_checks_the_certificate_data()
{
    QTest::addColumn<QString>("certificateHost");
    QTest::addColumn<bool>("ownCa");
    QTest::addColumn<QString>("verify");
    QTest::addColumn<bool>("registers");
    QTest::addColumn<QString>("logged");

    QTest::newRow("valid chain") << "127.0.0.1" << true << "" << true << "";
    QTest::newRow("unknown CA") << "127.0.0.1" << false << "1" << false << "unknown CA";
    QTest::newRow("wrong host name") << "sip.elsewhere.test" << true << "" << false << "host name mismatch";
    QTest::newRow("not verified") << "sip.elsewhere.test" << false << "0" << true
                                  << "TLS: the server's certificate is not verified (tlsVerify 0)";
}

void tst_VelPhoneSecure::tls_registration_checks_the_certificate()
{
    QFETCH(QString, certificateHost);
    QFETCH(bool, ownCa);
    QFETCH(QString, verify);
    QFETCH(bool, registers);
    QFETCH(QString, logged);

    PhoneRig rig;
    KamailioPeer server(PhoneRig::PASSWORD, certificateHost);
    QVERIFY2(server.start(), qPrintable(server.report()));
    QMap<QString, QString> keys { { QStringLiteral("tlsCaFile"),
        ownCa ? server.caFile() : server.otherCaFile() } };
    if (!verify.isEmpty())
        keys.insert(QStringLiteral("tlsVerify"), verify);
    rig.startAt(server, QStringLiteral("tls"), keys);
    if (registers) {
        QVERIFY(rig.waitRegistered(server.report()));
    } else {
        QTRY_VERIFY2_WITH_TIMEOUT(rig.spy().last("signal_registration_state").value(0) == REG_STATUS_FAILED,
            qPrintable(rig.spy().dump() + rig.logText()), 15000);
        QVERIFY(!rig.spy().contains("signal_show_operator_login"));
        // Refused for the certificate's fault, said in the log; never retried over a weaker
        // transport: the server saw no request at all.
        QVERIFY2(rig.logText().contains(QStringLiteral("TLS: certificate of 127.0.0.1 refused (") + logged),
            qPrintable(rig.logText()));
        QVERIFY2(!server.report().contains(QStringLiteral("request ")), qPrintable(server.report()));
    }
    QVERIFY2(rig.logText().contains(logged), qPrintable(rig.logText()));
    QVERIFY(rig.stopPhone());
}

void tst_VelPhoneSecure::registers_over_tcp()
{
    PhoneRig rig;
    KamailioPeer server(PhoneRig::PASSWORD);
    QVERIFY2(server.start(), qPrintable(server.report()));
    rig.startAt(server, QStringLiteral("tcp"));
    QVERIFY(rig.waitRegistered(server.report()));
    QVERIFY2(server.report().contains(
                 QStringLiteral("request REGISTER sip:127.0.0.1:%1;transport=tcp from 127.0.0.1:")
                     .arg(server.tcpPort())),
        qPrintable(server.report()));
    QVERIFY(!server.report().contains(QStringLiteral("over udp")));
    QVERIFY(rig.stopPhone());
}

void tst_VelPhoneSecure::unusable_secure_settings_fail_without_fallback_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("logged");

    QTest::newRow("unknown transport")
        << "transport"
        << "sctp"
        << "account: unknown transport \"sctp\" (udp, tcp or tls): not registered";
    QTest::newRow("missing CA file")
        << "tlsCaFile"
        << "certs/absent.pem"
        << "TLS: CA file {{APPDIR}}/certs/absent.pem cannot be read: not registered";
    QTest::newRow("bad tlsVerify") << "tlsVerify"
                                   << "yes"
                                   << "account: tlsVerify \"yes\" is neither 1 nor 0";
    QTest::newRow("unknown srtp") << "srtp"
                                  << "always"
                                  << "account: unknown srtp \"always\" (empty, optional or mandatory)";
}

void tst_VelPhoneSecure::unusable_secure_settings_fail_without_fallback()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, logged);

    PhoneRig rig;
    KamailioPeer server(PhoneRig::PASSWORD);
    QVERIFY2(server.start(), qPrintable(server.report()));
    QMap<QString, QString> keys { { QStringLiteral("tlsCaFile"), server.caFile() } };
    keys.insert(key, value);
    rig.startAt(server, key == QLatin1String("transport") ? value : QStringLiteral("tls"), keys);
    QTRY_VERIFY2_WITH_TIMEOUT(rig.spy().last("signal_registration_state").value(0) == REG_STATUS_FAILED,
        qPrintable(rig.spy().dump()), 10000);
    QVERIFY2(rig.logText().contains(QString(logged).replace(QStringLiteral("{{APPDIR}}"), rig.appDir())),
        qPrintable(rig.logText()));
    // Nothing went out over any transport, and nothing follows.
    QTest::qWait(500);
    QVERIFY(!rig.spy().contains("signal_show_operator_login"));
    QVERIFY2(!server.report().contains(QStringLiteral("request ")), qPrintable(server.report()));
    QVERIFY(rig.stopPhone());
}

QTEST_GUILESS_MAIN(tst_VelPhoneSecure)
#include "tst_velphone_secure.moc"
