#include "tests/phone/phonerig.h"
#include "tests/support/kamailiopeer.h"
#include "tests/support/linphonecpeer.h"
#include "tests/support/loopbackcapture.h"
#include "tests/support/rtpsink.h"
#include "tests/support/sipscenario.h"

#include "app/constants.h"
#include "phone/velphone.h"
#include "store/veldata.h"

#include <QDir>
#include <QElapsedTimer>
#include <QUdpSocket>
#include <QtTest>

using namespace SippScenario;

// SIP over TLS and TCP against a real Kamailio registrar and proxy on 127.0.0.1, with
// certificates made for each test.
class tst_VelPhoneSecure : public QObject
{
    Q_OBJECT

private slots:
    void tlsRegistrationChecksTheCertificate_data();
    void tlsRegistrationChecksTheCertificate();
    void registersOverTcp();
    void reRegistrationSwitchesTheTransport();
    void callOutThroughTheProxyWithHoldAndDtmf_data();
    void callOutThroughTheProxyWithHoldAndDtmf();
    void callInThroughTheProxyWithHoldDtmfAndTransfer();
    void srtpCalls_data();
    void srtpCalls();
    void srtpMandatoryRefusesAPlainCaller();
    void noSipPortAndHostileDatagramsDoNoHarm_data();
    void noSipPortAndHostileDatagramsDoNoHarm();
    void registersAgainAfterTheServerRestarts_data();
    void registersAgainAfterTheServerRestarts();
    void unusableSecureSettingsFailWithoutFallback_data();
    void unusableSecureSettingsFailWithoutFallback();
};

void tst_VelPhoneSecure::tlsRegistrationChecksTheCertificate_data()
{
    QTest::addColumn<QString>("certificateHost");
    QTest::addColumn<bool>("ownCa");
    QTest::addColumn<QString>("verify");
    QTest::addColumn<bool>("registers");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<bool>("expired");

    QTest::newRow("valid chain") << "127.0.0.1" << true << "" << true << "" << false;
    QTest::newRow("unknown CA") << "127.0.0.1" << false << "1" << false << "unknown CA" << false;
    QTest::newRow("wrong host name") << "sip.elsewhere.test" << true << "" << false << "host name mismatch"
                                     << false;
    QTest::newRow("expired") << "127.0.0.1" << true << "" << false << "expired" << true;
    QTest::newRow("not verified") << "sip.elsewhere.test" << false << "0" << true
                                  << "TLS: the server's certificate is not verified (tlsVerify 0)" << true;
}

void tst_VelPhoneSecure::tlsRegistrationChecksTheCertificate()
{
    QFETCH(QString, certificateHost);
    QFETCH(bool, ownCa);
    QFETCH(QString, verify);
    QFETCH(bool, registers);
    QFETCH(QString, logged);
    QFETCH(bool, expired);

    PhoneRig rig;
    KamailioPeer server(PhoneRig::PASSWORD, certificateHost);
    server.setCertificateExpired(expired);
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

void tst_VelPhoneSecure::registersOverTcp()
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

namespace {
const QString CALLEE = QStringLiteral("2000");
const QString CALLER = QStringLiteral("2001");
const QString TRANSFER_TARGET = QStringLiteral("4001");

// sipp behind the proxy keeps the route set (rrs): its responses echo the Record-Route and its
// own requests carry the Route headers, so that every message of the dialog passes the proxy.
QString proxiedResponse(int code, const QString &reason, const QString &body = QString())
{
    QString text = QStringLiteral("<send><![CDATA[\nSIP/2.0 %1 %2\n[last_Via:]\n[last_Record-Route:]\n"
                                  "[last_From:]\n[last_To:];tag=[pid]peer[call_number]\n[last_Call-ID:]\n"
                                  "[last_CSeq:]\nContact: <sip:{{PEER}}@[local_ip]:[local_port]>\n")
                       .arg(code)
                       .arg(reason);
    text += body.isEmpty()
        ? QStringLiteral("Content-Length: 0\n")
        : QStringLiteral("Content-Type: application/sdp\nContent-Length: [len]\n\n") + body;
    return text + QStringLiteral("\n]]></send>\n");
}

// The callee of a call from the phone: answers with plain RTP, takes a hold and a resume
// re-INVITE (`hold`), then the phone's BYE.
QString proxiedCallee(bool hold = true)
{
    const QString reInvite = QStringLiteral("<recv request=\"INVITE\"/>\n");
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<scenario name=\"callee\">\n"
                          "<recv request=\"INVITE\" rrs=\"true\"/>\n")
        + proxiedResponse(180, QStringLiteral("Ringing")) + proxiedResponse(200, QStringLiteral("OK"), sdp())
        + QStringLiteral("<recv request=\"ACK\"/>\n")
        + (hold ? reInvite + proxiedResponse(200, QStringLiteral("OK"), sdp(QStringLiteral("recvonly"), 2))
                    + QStringLiteral("<recv request=\"ACK\"/>\n") + reInvite
                    + proxiedResponse(200, QStringLiteral("OK"), sdp(QStringLiteral("sendrecv"), 3))
                    + QStringLiteral("<recv request=\"ACK\"/>\n")
                : QString())
        + QStringLiteral("<recv request=\"BYE\"/>\n") + proxiedResponse(200, QStringLiteral("OK"))
        + QStringLiteral("</scenario>\n");
}

// A request of the caller's side of a call to the phone through the proxy: it follows the
// route set, to the phone (its tag-bearing To kept from the 200 as $phoneto).
QString proxiedCallerRequest(const QString &method, int cseq, const QString &extraHeaders = QString(),
    const QString &sipfrag = QString())
{
    const QString body = sipfrag.isEmpty()
        ? QStringLiteral("Content-Length: 0\n")
        : QStringLiteral("Content-Type: message/sipfrag\nContent-Length: [len]\n\n") + sipfrag;
    return QStringLiteral("<send%3><![CDATA[\n%1 [next_url] SIP/2.0\n"
                          "Via: SIP/2.0/UDP [local_ip]:[local_port];branch=[branch]\n"
                          "From: {{FROM}};tag=[pid]caller[call_number]\nTo: [$phoneto]\n[routes]\n"
                          "Call-ID: [call_id]\nCSeq: %2 %1\nMax-Forwards: 70\n"
                          "Contact: <sip:{{PEER}}@[local_ip]:[local_port]>\n")
               .arg(method)
               .arg(cseq)
               .arg(method == QLatin1String("ACK") ? QString() : QStringLiteral(" retrans=\"500\""))
        + extraHeaders + body + QStringLiteral("\n]]></send>\n");
}

// The caller's answer to an in-dialog request of the phone (re-INVITE, REFER, BYE).
QString proxiedAnswer(const QString &method, int code, const QString &reason, const QString &body = QString())
{
    QString text = QStringLiteral("<recv request=\"%1\"/>\n<send><![CDATA[\nSIP/2.0 %2 %3\n[last_Via:]\n"
                                  "[last_From:]\n[last_To:]\n[last_Call-ID:]\n[last_CSeq:]\n"
                                  "Contact: <sip:{{PEER}}@[local_ip]:[local_port]>\n")
                       .arg(method)
                       .arg(code)
                       .arg(reason);
    text += body.isEmpty()
        ? QStringLiteral("Content-Length: 0\n")
        : QStringLiteral("Content-Type: application/sdp\nContent-Length: [len]\n\n") + body;
    text += QStringLiteral("\n]]></send>\n");
    return method == QLatin1String("INVITE") ? text + QStringLiteral("<recv request=\"ACK\"/>\n") : text;
}

// The caller of a call to the phone through the proxy: the phone holds and resumes, holds for a
// blind transfer and refers the caller elsewhere; the caller reports the new call as connected
// and the phone leaves with BYE. Every request either way follows the route set.
QString proxiedCallerSteps()
{
    auto notify = [](int cseq, int code, const QString &reason) {
        const QString state = code >= 200 ? QStringLiteral("terminated;reason=noresource")
                                          : QStringLiteral("active;expires=60");
        return proxiedCallerRequest(QStringLiteral("NOTIFY"), cseq,
                   QStringLiteral("Event: refer\nSubscription-State: %1\n").arg(state),
                   QStringLiteral("SIP/2.0 %1 %2\n").arg(code).arg(reason))
            + QStringLiteral("<recv response=\"200\"/>\n");
    };
    return QStringLiteral(
               "<recv response=\"100\" optional=\"true\"/>\n<recv response=\"180\" optional=\"true\"/>\n"
               "<recv response=\"200\" rrs=\"true\">\n<action>\n"
               "<ereg regexp=\".*\" search_in=\"hdr\" header=\"To:\" assign_to=\"phoneto\"/>\n"
               "</action>\n</recv>\n")
        + proxiedCallerRequest(QStringLiteral("ACK"), 1)
        + proxiedAnswer(
            QStringLiteral("INVITE"), 200, QStringLiteral("OK"), sdp(QStringLiteral("recvonly"), 2))
        + proxiedAnswer(
            QStringLiteral("INVITE"), 200, QStringLiteral("OK"), sdp(QStringLiteral("sendrecv"), 3))
        + proxiedAnswer(
            QStringLiteral("INVITE"), 200, QStringLiteral("OK"), sdp(QStringLiteral("recvonly"), 4))
        + proxiedAnswer(QStringLiteral("REFER"), 202, QStringLiteral("Accepted"))
        // The proxy's workers may pass a NOTIFY that follows the 202 at once ahead of it, which
        // the SIP library refuses; a transferee takes longer than this to place the new call.
        + pause(300) + notify(2, 100, QStringLiteral("Trying")) + notify(3, 200, QStringLiteral("OK"))
        + proxiedAnswer(QStringLiteral("BYE"), 200, QStringLiteral("OK"));
}

// The local ports of this process's sockets in /proc/net/<table> (udp, tcp and their IPv6
// tables), only those in `state` (hex, e.g. "0A" listening) unless it is empty.
QList<int> ownPorts(const QString &table, const QString &state = QString())
{
    QSet<QString> inodes;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.contains(QStringLiteral("socket:[")))
            inodes.insert(target.section(QLatin1Char('['), 1).chopped(1));
    }
    QList<int> ports;
    for (const QString &name : { table, table + QLatin1Char('6') }) {
        QFile file(QStringLiteral("/proc/net/") + name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QStringList lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n')).mid(1);
        for (const QString &line : lines) {
            const QStringList fields = line.simplified().split(QLatin1Char(' '));
            if (fields.size() < 10 || !inodes.contains(fields[9]))
                continue;
            if (state.isEmpty() || fields[3] == state)
                ports << fields[1].section(QLatin1Char(':'), -1).toInt(nullptr, 16);
        }
    }
    return ports;
}

// The two datagrams that, in this order, crash the SIP library when they reach a SIP port over
// UDP: an INVITE with a header line of non-UTF-8 bytes, then a valid INVITE.
QList<QByteArray> hostileDatagrams(int port, int from)
{
    const QByteArray sdpBody = "v=0\r\no=hz 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                               "m=audio 40000 RTP/AVP 0 101\r\na=rtpmap:0 PCMU/8000\r\n"
                               "a=rtpmap:101 telephone-event/8000\r\na=sendrecv\r\n";
    auto invite = [&](const QByteArray &id, const QByteArray &extraLine) {
        return QByteArray("INVITE sip:201@127.0.0.1:") + QByteArray::number(port)
            + " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + QByteArray::number(from) + ";branch=z9hG4bK" + id
            + ";rport\r\nMax-Forwards: 70\r\nFrom: <sip:2001@127.0.0.1:" + QByteArray::number(from)
            + ">;tag=" + id + "\r\nTo: <sip:201@127.0.0.1:" + QByteArray::number(port) + ">\r\nCall-ID: " + id
            + "@127.0.0.1\r\nCSeq: 8 INVITE\r\nContact: <sip:2001@127.0.0.1:" + QByteArray::number(from)
            + ">\r\nContent-Type: application/sdp\r\n" + extraLine
            + "Content-Length: " + QByteArray::number(sdpBody.size()) + "\r\n\r\n" + sdpBody;
    };
    return { invite("hostile1", QByteArray("\xd4\xb0\xaa\x21\xbf\r\n")), invite("hostile2", QByteArray()) };
}

// Of the PCMU packets among the captured RTP payloads: how many there are, and how many carry
// what plain audio of the silent test sound card looks like (a few byte values repeated); an
// encrypted payload looks like random bytes.
QPair<int, int> pcmuPackets(const QList<QByteArray> &payloads)
{
    constexpr int RTP_HEADER = 12;
    constexpr int PCMU = 0;
    constexpr int PLAIN_MAX_BYTE_VALUES = 40; // random 160 bytes have about 117
    int pcmu = 0;
    int plain = 0;
    for (const QByteArray &packet : payloads) {
        if (packet.size() <= RTP_HEADER || (quint8(packet[0]) >> 6) != 2
            || (quint8(packet[1]) & 0x7f) != PCMU)
            continue;
        ++pcmu;
        const QByteArray audio = packet.mid(RTP_HEADER + 4 * (quint8(packet[0]) & 0x0f));
        if (QSet<char>(audio.cbegin(), audio.cend()).size() < PLAIN_MAX_BYTE_VALUES)
            ++plain;
    }
    return { pcmu, plain };
}

QMap<QString, QString> trusting(const KamailioPeer &server)
{
    return { { QStringLiteral("tlsCaFile"), server.caFile() } };
}
} // namespace

void tst_VelPhoneSecure::reRegistrationSwitchesTheTransport()
{
    PhoneRig rig;
    KamailioPeer server(PhoneRig::PASSWORD);
    QVERIFY2(server.start(), qPrintable(server.report()));
    rig.startAt(server, QStringLiteral("udp"), trusting(server));
    QVERIFY(rig.waitRegistered(server.report()));

    // What the setting window's save does: the stored account changes, then re-registration.
    rig.saveAccount(PhoneRig::USER, PhoneRig::PASSWORD, server.tlsPort());
    rig.store()->save_account_settings({ { QStringLiteral("transport"), QStringLiteral("tls") } });
    rig.spy().clear();
    rig.phone()->request_re_register();
    QVERIFY(rig.waitRegistered(server.report()));
    const QString tlsRegister
        = QStringLiteral("request REGISTER sip:127.0.0.1:%1;transport=tls").arg(server.tlsPort());
    QVERIFY2(server.report().contains(tlsRegister), qPrintable(server.report()));
    QVERIFY(rig.logText().contains(QStringLiteral("SIP transport: tls")));
    // And back: UDP again, with a SIP port of its own.
    rig.saveAccount(PhoneRig::USER, PhoneRig::PASSWORD, server.udpPort());
    rig.store()->save_account_settings({ { QStringLiteral("transport"), QStringLiteral("udp") } });
    rig.spy().clear();
    rig.phone()->request_re_register();
    QVERIFY(rig.waitRegistered(server.report()));
    QVERIFY(rig.logText().contains(QStringLiteral("SIP transport: udp")));
    QVERIFY(rig.stopPhone());
}

void tst_VelPhoneSecure::callOutThroughTheProxyWithHoldAndDtmf_data()
{
    QTest::addColumn<QString>("transport");
    QTest::newRow("tls") << "tls";
    QTest::newRow("tcp") << "tcp";
    QTest::newRow("udp") << "udp";
}

void tst_VelPhoneSecure::callOutThroughTheProxyWithHoldAndDtmf()
{
    QFETCH(QString, transport);
    QVERIFY(PhoneRig::havePulse());
    PhoneRig rig;
    SippPeer callee(proxiedCallee());
    RtpSink media;
    media.setEcho(true);
    callee.setMediaPort(media.port());
    QVERIFY(callee.start());
    KamailioPeer server(PhoneRig::PASSWORD);
    server.setGateway(callee.port());
    QVERIFY2(server.start(), qPrintable(server.report()));
    QElapsedTimer registering;
    registering.start();
    rig.startAt(server, transport, trusting(server));
    QVERIFY(rig.waitRegistered(server.report()));
    qInfo("%s: registered in %lld ms", qPrintable(transport), registering.elapsed());

    rig.spy().clear();
    QElapsedTimer setUp;
    setUp.start();
    rig.phone()->request_dial(CALLEE);
    QVERIFY2(rig.reach(PHONE_TALKING, MSG_IN_CALL), qPrintable(rig.spy().dump() + callee.report()));
    qInfo("%s: call set up in %lld ms", qPrintable(transport), setUp.elapsed());

    rig.phone()->send_dtmf('7');
    QTRY_COMPARE_WITH_TIMEOUT(media.telephoneEvents(), QStringLiteral("7"), 5000);
    rig.phone()->request_hold();
    QVERIFY2(rig.reach(PHONE_HOLDING, MSG_ON_HOLD), qPrintable(rig.spy().dump() + callee.report()));
    rig.phone()->request_hold();
    QVERIFY2(rig.reach(PHONE_TALKING, MSG_IN_CALL), qPrintable(rig.spy().dump() + callee.report()));
    rig.phone()->request_hangup();
    QVERIFY2(callee.waitForFinished(10000), qPrintable(callee.report() + server.report()));
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);

    // Every request of the phone reached the proxy over the account's transport.
    const QVector<SipMessage> invites = callee.received(QStringLiteral("INVITE"));
    QCOMPARE(invites.size(), 3);
    QVERIFY2(invites[1].body().contains(QStringLiteral("a=sendonly")), qPrintable(invites[1].text));
    const QString report = server.report();
    for (const QString &method :
        { QStringLiteral("REGISTER"), QStringLiteral("INVITE"), QStringLiteral("BYE") }) {
        const QRegularExpression line(
            QStringLiteral("request %1 \\S+ from 127\\.0\\.0\\.1:\\d+ over %2").arg(method, transport));
        QVERIFY2(report.contains(line), qPrintable(method + QLatin1Char('\n') + report));
    }
    QVERIFY(rig.stopPhone());
}

void tst_VelPhoneSecure::callInThroughTheProxyWithHoldDtmfAndTransfer()
{
    QVERIFY(PhoneRig::havePulse());
    PhoneRig rig;
    KamailioPeer server(PhoneRig::PASSWORD);
    QVERIFY2(server.start(), qPrintable(server.report()));
    rig.startAt(server, QStringLiteral("tls"), trusting(server));
    QVERIFY(rig.waitRegistered(server.report()));

    // The caller sends to the proxy over UDP; the proxy reaches the phone on its TLS connection.
    SippPeer caller(SippScenario::caller(proxiedCallerSteps(), sdp()));
    RtpSink media;
    media.setEcho(true);
    caller.setMediaPort(media.port());
    caller.setRemote(QStringLiteral("127.0.0.1:%1").arg(server.udpPort()));
    caller.set(QStringLiteral("USER"), PhoneRig::USER);
    caller.set(QStringLiteral("PHONE_PORT"), QString::number(server.udpPort()));
    caller.set(QStringLiteral("PEER"), CALLER);
    caller.set(
        QStringLiteral("FROM"), QStringLiteral("<sip:%1@127.0.0.1:%2>").arg(CALLER).arg(caller.port()));
    rig.spy().clear();
    QVERIFY(caller.start());
    QTRY_VERIFY2_WITH_TIMEOUT(
        rig.phone()->is_incoming_ringing(), qPrintable(caller.report() + server.report()), 10000);
    QCOMPARE(rig.phone()->get_remote_number(), CALLER);
    rig.phone()->request_answer();
    QVERIFY2(rig.reach(PHONE_TALKING, MSG_IN_CALL), qPrintable(rig.spy().dump() + caller.report()));

    // The phone's audio and its DTMF reach the caller (read while events are processed). The
    // phone sends audio only once its sound card delivers samples, which may take a while.
    rig.phone()->send_dtmf('5');
    QTRY_COMPARE_WITH_TIMEOUT(media.telephoneEvents(), QStringLiteral("5"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(media.audioPacketCount() > 0, 10000);

    // Hold and resume: the phone's re-INVITEs reach the caller through the proxy.
    rig.phone()->request_hold();
    QVERIFY2(rig.reach(PHONE_HOLDING, MSG_ON_HOLD), qPrintable(rig.spy().dump() + caller.report()));
    rig.phone()->request_hold();
    QVERIFY2(rig.reach(PHONE_TALKING, MSG_IN_CALL), qPrintable(rig.spy().dump() + caller.report()));

    // A blind transfer: held, then referred; the caller's NOTIFYs reach the phone on its TLS
    // connection and the phone leaves the call.
    rig.phone()->request_transfer(QString());
    // The number is asked for once the hold is confirmed; a REFER before could not be sent.
    QVERIFY2(rig.reach(PHONE_TRANSFER_WAIT, MSG_ENTER_TRANSFER_NUMBER),
        qPrintable(rig.spy().dump() + caller.report()));
    rig.phone()->request_transfer(TRANSFER_TARGET);
    QVERIFY2(caller.waitForFinished(15000), qPrintable(caller.report() + server.report()));
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_show_transfer_call_result"), 10000);
    QCOMPARE(rig.spy().last("signal_show_transfer_call_result").value(0).toString(), MSG_TRANSFER_DONE);
    QVERIFY(rig.spy().contains("signal_dialog_end"));
    const QVector<SipMessage> refers = caller.received(QStringLiteral("REFER"));
    QCOMPARE(refers.size(), 1);
    QVERIFY2(refers[0]
                 .header(QStringLiteral("Refer-To"))
                 .contains(QStringLiteral("sip:") + TRANSFER_TARGET + QLatin1Char('@')),
        qPrintable(refers[0].text));
    QCOMPARE(caller.received(QStringLiteral("INVITE")).size(), 3);
    const QString report = server.report();
    for (const QString &method :
        { QStringLiteral("INVITE"), QStringLiteral("REFER"), QStringLiteral("BYE") }) {
        const QRegularExpression line(
            QStringLiteral("request %1 \\S+ from 127\\.0\\.0\\.1:\\d+ over tls").arg(method));
        QVERIFY2(report.contains(line), qPrintable(method + QLatin1Char('\n') + report));
    }
    QVERIFY(rig.stopPhone());
}

void tst_VelPhoneSecure::srtpCalls_data()
{
    QTest::addColumn<QString>("srtp");
    QTest::addColumn<bool>("peerSrtp"); // linphonec with SRTP; otherwise sipp with plain RTP
    QTest::addColumn<bool>("connects");

    QTest::newRow("mandatory, SRTP peer") << "mandatory" << true << true;
    QTest::newRow("mandatory, plain peer") << "mandatory" << false << false;
    QTest::newRow("optional, SRTP peer") << "optional" << true << true;
    QTest::newRow("optional, plain peer") << "optional" << false << true;
}

void tst_VelPhoneSecure::srtpCalls()
{
    QFETCH(QString, srtp);
    QFETCH(bool, peerSrtp);
    QFETCH(bool, connects);
    QVERIFY(PhoneRig::havePulse());

    PhoneRig rig;
    LinphonecPeer callee(true);
    SippPeer plainCallee(proxiedCallee(false));
    if (peerSrtp)
        QVERIFY2(callee.start(), qPrintable(callee.log()));
    else
        QVERIFY(plainCallee.start());
    KamailioPeer server(PhoneRig::PASSWORD);
    server.setGateway(peerSrtp ? callee.port() : plainCallee.port());
    QVERIFY2(server.start(), qPrintable(server.report()));
    QMap<QString, QString> keys = trusting(server);
    keys.insert(QStringLiteral("srtp"), srtp);
    rig.startAt(server, QStringLiteral("tls"), keys);
    QVERIFY(rig.waitRegistered(server.report()));

    // What the phone sends to the peer's RTP port, as it is on the wire.
    LoopbackCapture capture;
    if (connects) {
        const int mediaPort = peerSrtp ? callee.audioPort() : plainCallee.mediaPort();
        QVERIFY2(capture.start(QStringLiteral("udp and dst port %1").arg(mediaPort)),
            qPrintable(capture.report()));
    }
    rig.spy().clear();
    rig.phone()->request_dial(CALLEE);
    if (!connects) {
        // The peer cannot encrypt: the call fails, it never talks in plain.
        QTRY_VERIFY2_WITH_TIMEOUT(
            rig.spy().contains("signal_dialog_end"), qPrintable(rig.spy().dump()), 15000);
        QVERIFY(!PhoneRig::statusTexts(rig.spy()).contains(MSG_IN_CALL));
        QVERIFY(!rig.logText().contains(QStringLiteral("call media:")));
        QVERIFY(!rig.spy().contains("signal_media_encryption"));
        QVERIFY(rig.stopPhone());
        return;
    }
    QVERIFY2(rig.reach(PHONE_TALKING, MSG_IN_CALL), qPrintable(rig.spy().dump() + plainCallee.report()));
    QTRY_VERIFY(rig.spy().contains("signal_media_encryption"));
    QCOMPARE(rig.spy().last("signal_media_encryption").value(0).toBool(), peerSrtp);
    QVERIFY2(rig.logText().contains(peerSrtp ? QStringLiteral("call media: encrypted (SRTP)")
                                             : QStringLiteral("call media: plain RTP")),
        qPrintable(rig.logText()));
    // The offer as the peer received it: SDES keys, and over "mandatory" the secure profile.
    const QString peerLog = callee.log();
    const QString offer = peerSrtp
        ? peerLog.mid(peerLog.indexOf(QStringLiteral("INVITE sip:") + CALLEE), 3000)
        : plainCallee.received(QStringLiteral("INVITE")).value(0).body();
    QVERIFY2(offer.contains(QStringLiteral("crypto:1 AES_CM_128_HMAC_SHA1_80 inline:")), qPrintable(offer));
    static const QRegularExpression profile(QStringLiteral("m=audio \\d+ (\\S+)"));
    QCOMPARE(profile.match(offer).captured(1),
        srtp == QLatin1String("mandatory") ? QStringLiteral("RTP/SAVP") : QStringLiteral("RTP/AVP"));
    // The answer the phone took: the secure profile with the peer's key, when encrypted.
    if (peerSrtp) {
        const QString answer = peerLog.mid(peerLog.lastIndexOf(QStringLiteral("SIP/2.0 200 Ok")), 3000);
        QVERIFY2(answer.contains(QStringLiteral("m=audio %1 RTP/SAVP 0").arg(callee.audioPort()))
                && answer.contains(QStringLiteral("a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:")),
            qPrintable(answer));
    }
    // The audio on the wire: encrypted payloads with an SRTP peer, plain PCMU otherwise. The
    // phone sends once its sound card delivers samples.
    QTRY_VERIFY2_WITH_TIMEOUT(
        pcmuPackets(capture.payloads()).first >= 20, qPrintable(capture.report()), 15000);
    capture.stop();
    const QPair<int, int> counted = pcmuPackets(capture.payloads());
    QCOMPARE(counted.second, peerSrtp ? 0 : counted.first);
    rig.phone()->request_hangup();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QVERIFY(rig.stopPhone());
}

void tst_VelPhoneSecure::srtpMandatoryRefusesAPlainCaller()
{
    PhoneRig rig;
    KamailioPeer server(PhoneRig::PASSWORD);
    QVERIFY2(server.start(), qPrintable(server.report()));
    QMap<QString, QString> keys = trusting(server);
    keys.insert(QStringLiteral("srtp"), QStringLiteral("mandatory"));
    rig.startAt(server, QStringLiteral("tls"), keys);
    QVERIFY(rig.waitRegistered(server.report()));

    SippPeer caller(SippScenario::caller(awaitAnswer(488), sdp()));
    caller.setRemote(QStringLiteral("127.0.0.1:%1").arg(server.udpPort()));
    caller.set(QStringLiteral("USER"), PhoneRig::USER);
    caller.set(QStringLiteral("PHONE_PORT"), QString::number(server.udpPort()));
    caller.set(
        QStringLiteral("FROM"), QStringLiteral("<sip:%1@127.0.0.1:%2>").arg(CALLER).arg(caller.port()));
    rig.spy().clear();
    QVERIFY(caller.start());
    QVERIFY2(caller.waitForFinished(10000), qPrintable(caller.report() + server.report()));
    // Refused before it rang: the operator never saw it.
    QVERIFY(!rig.spy().contains("signal_received_dialog"));
    QVERIFY(rig.stopPhone());
}

void tst_VelPhoneSecure::noSipPortAndHostileDatagramsDoNoHarm_data()
{
    QTest::addColumn<QString>("transport");
    QTest::newRow("tls") << "tls";
    QTest::newRow("tcp") << "tcp";
}

void tst_VelPhoneSecure::noSipPortAndHostileDatagramsDoNoHarm()
{
    QFETCH(QString, transport);
    QVERIFY(PhoneRig::havePulse());
    PhoneRig rig;
    SippPeer callee(proxiedCallee(false));
    QVERIFY(callee.start());
    KamailioPeer server(PhoneRig::PASSWORD);
    server.setGateway(callee.port());
    QVERIFY2(server.start(), qPrintable(server.report()));
    rig.startAt(server, transport, trusting(server));
    QVERIFY(rig.waitRegistered(server.report()));
    // Registered and idle: no port of this process takes connections or datagrams.
    QCOMPARE(ownPorts(QStringLiteral("tcp"), QStringLiteral("0A")), QList<int>());
    QCOMPARE(ownPorts(QStringLiteral("udp")), QList<int>());

    rig.phone()->request_dial(CALLEE);
    QVERIFY2(rig.reach(PHONE_TALKING, MSG_IN_CALL), qPrintable(rig.spy().dump() + callee.report()));
    // In a call, only the media ports the phone offered are open.
    const QString offer = callee.received(QStringLiteral("INVITE")).value(0).body();
    const int audioPort
        = offer.section(QStringLiteral("m=audio "), 1).section(QLatin1Char(' '), 0, 0).toInt();
    QList<int> udpPorts = ownPorts(QStringLiteral("udp"));
    std::sort(udpPorts.begin(), udpPorts.end());
    const int rtcpPort = offer.contains(QStringLiteral("a=rtcp:"))
        ? offer.section(QStringLiteral("a=rtcp:"), 1).section(QLatin1Char('\n'), 0, 0).trimmed().toInt()
        : audioPort + 1;
    QList<int> mediaPorts { audioPort, rtcpPort };
    std::sort(mediaPorts.begin(), mediaPorts.end());
    QCOMPARE(udpPorts, mediaPorts);
    QCOMPARE(ownPorts(QStringLiteral("tcp"), QStringLiteral("0A")), QList<int>());

    QUdpSocket sender;
    QVERIFY(sender.bind(QHostAddress(QHostAddress::LocalHost), 0));
    for (int port : udpPorts) {
        for (const QByteArray &datagram : hostileDatagrams(port, sender.localPort()))
            sender.writeDatagram(datagram, QHostAddress(QHostAddress::LocalHost), port);
    }
    // Still alive (a crash would end this process) and still in the call, which ends normally.
    QTest::qWait(500);
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_TALKING));
    rig.phone()->request_hangup();
    QVERIFY2(callee.waitForFinished(10000), qPrintable(callee.report()));
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QVERIFY(rig.stopPhone());
}

void tst_VelPhoneSecure::registersAgainAfterTheServerRestarts_data()
{
    QTest::addColumn<QString>("transport");
    QTest::newRow("tls") << "tls";
    QTest::newRow("tcp") << "tcp";
}

void tst_VelPhoneSecure::registersAgainAfterTheServerRestarts()
{
    QFETCH(QString, transport);
    PhoneRig rig;
    KamailioPeer server(PhoneRig::PASSWORD);
    QVERIFY2(server.start(), qPrintable(server.report()));
    rig.startAt(server, transport, trusting(server));
    QVERIFY(rig.waitRegistered(server.report()));

    // The restarted server has forgotten the registration and the connection is gone: the
    // phone has to connect and register again by itself.
    rig.spy().clear();
    server.stop();
    // Down long enough for the phone to find the server unreachable (its first attempt fails).
    QTRY_VERIFY2_WITH_TIMEOUT(rig.spy().last("signal_registration_state").value(0) == REG_STATUS_FAILED,
        qPrintable(rig.spy().dump()), 15000);
    rig.spy().clear();
    QVERIFY2(server.start(), qPrintable(server.report()));
    QElapsedTimer back;
    back.start();
    QTRY_VERIFY2_WITH_TIMEOUT(rig.spy().contains("signal_show_operator_login"),
        qPrintable(rig.spy().dump() + rig.logText()), 30000);
    qInfo("%s: registered again %lld ms after the server's return", qPrintable(transport), back.elapsed());
    QCOMPARE(rig.spy().last("signal_registration_state").value(0).toString(), REG_STATUS_SUCCESSFUL);
    QVERIFY(rig.stopPhone());
}

void tst_VelPhoneSecure::unusableSecureSettingsFailWithoutFallback_data()
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

void tst_VelPhoneSecure::unusableSecureSettingsFailWithoutFallback()
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
