#include "tests/phone/mutationrun.h"
#include "tests/phone/phonerig.h"
#include "tests/support/sipscenario.h"

#include "app/constants.h"
#include "phone/velphone.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

using namespace SippScenario;

// What a peer may send that the phone does not expect: an INVITE without SDP, an INVITE with
// no codec in common, bytes that are not SIP, a request with a broken header, a BYE for no
// dialog, a transfer whose target fails. Each time the phone answers what the library answers,
// stays in a sound state, and takes a normal call afterwards.
class tst_VelPhoneBadInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void inviteWithoutSdp();
    void inviteWithNoCommonCodec();
    void malformedMessagesAndStrayBye();
    void transferTargetFails();
    void mutatedInvitesAndTheCrashingPairEndInRecovery();
};

namespace {
const QString CALLER = QStringLiteral("2001");

// A UDP socket on 127.0.0.1 that sends raw datagrams to the phone and collects its answers.
class RawPeer
{
public:
    explicit RawPeer(int phonePort)
        : m_phonePort(phonePort)
    {
        m_socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    }
    int port() const { return m_socket.localPort(); }
    void send(const QByteArray &data)
    {
        m_socket.writeDatagram(data, QHostAddress(QHostAddress::LocalHost), quint16(m_phonePort));
    }
    // The first datagram that arrives within `msecs`; empty when none does.
    QByteArray reply(int msecs)
    {
        if (!m_socket.hasPendingDatagrams() && !m_socket.waitForReadyRead(msecs))
            return QByteArray();
        return m_socket.receiveDatagram().data();
    }

private:
    QUdpSocket m_socket;
    int m_phonePort;
};

// A request from the raw peer, with its own Via so that the answer comes back to it.
QByteArray request(
    const QString &method, const RawPeer &peer, int phonePort, const QString &extra = QString())
{
    return QStringLiteral("%1 sip:%2@127.0.0.1:%3 SIP/2.0\r\n"
                          "Via: SIP/2.0/UDP 127.0.0.1:%4;branch=z9hG4bK-raw-%1-%5\r\n"
                          "From: <sip:%6@127.0.0.1:%4>;tag=raw%5\r\n"
                          "To: <sip:%2@127.0.0.1:%3>\r\n"
                          "Call-ID: raw-%1-%5@127.0.0.1\r\n"
                          "CSeq: 1 %1\r\n"
                          "Max-Forwards: 70\r\n")
               .arg(method, PhoneRig::USER)
               .arg(phonePort)
               .arg(peer.port())
               .arg(QDateTime::currentMSecsSinceEpoch())
               .arg(CALLER)
               .toUtf8()
        + extra.toUtf8() + "Content-Length: 0\r\n\r\n";
}

// NOTIFYs that the phone answered 200.
int notifiesAnswered(const SippPeer &peer)
{
    int count = 0;
    for (const SipMessage &message : peer.messages()) {
        if (message.received && message.isResponse(200)
            && message.header(QStringLiteral("CSeq")).endsWith(QStringLiteral("NOTIFY")))
            ++count;
    }
    return count;
}

QByteArray startLine(const QByteArray &message)
{
    return message.left(message.indexOf('\r'));
}

// A normal incoming call, answered and ended by the caller: proves the phone is still usable.
void normal_call(PhoneRig &rig, const SippPeer &registrar)
{
    SippPeer caller(SippScenario::caller(
        awaitAnswer(200) + pause(200) + callerRequest(QStringLiteral("BYE"), 2) + expectResponse(200),
        sdp()));
    PhoneRig::aim(caller, registrar, CALLER);
    rig.spy().clear();
    QVERIFY(caller.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_incoming_ringing(), 10000);
    rig.phone()->request_answer();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QVERIFY2(caller.waitForFinished(10000), qPrintable(caller.report()));
    QCOMPARE(rig.spy().names(),
        QStringList({ "signal_received_dialog", "signal_update_dialog_status",
            "signal_start_count_dialog_time", "signal_update_dialog_status", "signal_play_terminated_audio",
            "signal_update_dialog_status", "signal_dialog_end" }));
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
}
} // namespace

void tst_VelPhoneBadInput::initTestCase()
{
    QVERIFY(PhoneRig::havePulse());
}

void tst_VelPhoneBadInput::inviteWithoutSdp()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(rig.startRegistered(registrar));

    // Without an offer in the INVITE the phone offers in its 200 OK and takes the answer from
    // the ACK: an ordinary call.
    SippPeer delayed(SippScenario::caller(awaitAnswer(200, sdp()) + pause(300)
        + callerRequest(QStringLiteral("BYE"), 2) + expectResponse(200)));
    PhoneRig::aim(delayed, registrar, CALLER);
    rig.spy().clear();
    QVERIFY(delayed.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_incoming_ringing(), 10000);
    rig.phone()->request_answer();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QVERIFY2(delayed.waitForFinished(10000), qPrintable(delayed.report()));
    QVERIFY(rig.spy().contains("signal_start_count_dialog_time"));
    QCOMPARE(rig.phone()->get_call_result(), 1);
    const SipMessage ok = delayed.messages().at(3);
    QVERIFY2(ok.isResponse(200) && ok.body().contains(QStringLiteral("m=audio")), qPrintable(ok.text));

    // A caller that then sends no answer in its ACK is hung up on by the library at once: the
    // call never runs, and the phone is ready again.
    SippPeer mute(SippScenario::caller(awaitAnswer(200) + expect(QStringLiteral("BYE"))));
    PhoneRig::aim(mute, registrar, CALLER);
    rig.spy().clear();
    QVERIFY(mute.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_incoming_ringing(), 10000);
    rig.phone()->request_answer();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QVERIFY2(mute.waitForFinished(10000), qPrintable(mute.report()));
    QVERIFY(!rig.spy().contains("signal_start_count_dialog_time"));
    QCOMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_INCOMING, MSG_READY_TO_DIAL }));
    QCOMPARE(rig.phone()->get_call_result(), 3);
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));

    normal_call(rig, registrar);
}

void tst_VelPhoneBadInput::inviteWithNoCommonCodec()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(rig.startRegistered(registrar));
    // The library refuses the offer itself (488); the operator never sees the call.
    SippPeer caller(SippScenario::caller(awaitAnswer(488),
        sdp(QStringLiteral("sendrecv"), 1,
            QStringLiteral("m=audio {{MEDIA_PORT}} RTP/AVP 98\na=rtpmap:98 NOSUCH/8000\n"))));
    PhoneRig::aim(caller, registrar, CALLER);
    rig.spy().clear();
    QVERIFY(caller.start());
    QVERIFY2(caller.waitForFinished(10000), qPrintable(caller.report()));
    QTest::qWait(300);
    QCOMPARE(rig.spy().names(), QStringList());
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
    QVERIFY(rig.phone()->is_idle());

    normal_call(rig, registrar);
}

void tst_VelPhoneBadInput::malformedMessagesAndStrayBye()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(rig.startRegistered(registrar));
    const int phonePort = PhoneRig::phonePortFrom(registrar);
    QVERIFY(phonePort > 0);
    RawPeer raw(phonePort);
    rig.spy().clear();

    // Bytes that are not SIP: dropped without an answer.
    raw.send(QByteArray("\x01\x02garbage\xff\xfe not sip at all\r\n\r\n"));
    QCOMPARE(raw.reply(1000), QByteArray());

    // A request whose CSeq does not parse: 400.
    QByteArray brokenCSeq = request(QStringLiteral("OPTIONS"), raw, phonePort);
    brokenCSeq.replace("CSeq: 1 OPTIONS", "CSeq: one OPTIONS");
    raw.send(brokenCSeq);
    QCOMPARE(startLine(raw.reply(3000)), QByteArray("SIP/2.0 400 Bad request"));

    // An INVITE whose Via names no transport the phone has: no way to answer, dropped.
    QByteArray brokenVia = request(QStringLiteral("INVITE"), raw, phonePort);
    brokenVia.replace("Via: SIP/2.0/UDP", "Via: SIP/2.0/XYZ");
    raw.send(brokenVia);
    QCOMPARE(raw.reply(1000), QByteArray());

    // A BYE for a dialog the phone never had: 481.
    raw.send(request(QStringLiteral("BYE"), raw, phonePort));
    QCOMPARE(startLine(raw.reply(3000)), QByteArray("SIP/2.0 481 Call/transaction does not exist"));

    QCOMPARE(rig.spy().names(), QStringList());
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
    normal_call(rig, registrar);
}

void tst_VelPhoneBadInput::transferTargetFails()
{
    PhoneRig rig;
    // The callee accepts the REFER, then reports that its call to the target got busy.
    const QString outgoing = answer(200, QString())
        + expect(QStringLiteral("INVITE"), sdp(QStringLiteral("recvonly"), 2))
        + QStringLiteral("<recv request=\"ACK\"/>\n")
        + expect(QStringLiteral("REFER"), QString(), 202, QStringLiteral("Accepted"))
        + referNotify(false, 101, 100, QStringLiteral("Trying")) + expectResponse(200)
        + referNotify(false, 102, 486, QStringLiteral("Busy Here")) + expectResponse(200)
        + expect(QStringLiteral("BYE"));
    SippPeer registrar(SippScenario::registrar(outgoing));
    registrar.setCalls(2);
    QVERIFY(rig.startRegistered(registrar));
    rig.phone()->request_dial(QStringLiteral("3001"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TALKING), 10000);
    rig.phone()->request_transfer(QString());
    QTRY_VERIFY_WITH_TIMEOUT(PhoneRig::statusTexts(rig.spy()).contains(MSG_ENTER_TRANSFER_NUMBER), 10000);

    rig.spy().clear();
    rig.phone()->request_transfer(QStringLiteral("4001"));
    QTRY_COMPARE_WITH_TIMEOUT(notifiesAnswered(registrar), 2, 10000);
    // The call stays held with the operator, who may try another number or hang up.
    QTest::qWait(500);
    QCOMPARE(rig.spy().names(), QStringList());
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_WAIT));
    QVERIFY(registrar.received(QStringLiteral("BYE")).isEmpty());

    rig.phone()->request_hangup();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QTest::qWait(200);
    QVERIFY2(!rig.spy().contains("signal_show_transfer_call_result"), qPrintable(rig.spy().dump()));
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
    QTRY_COMPARE(registrar.received(QStringLiteral("BYE")).size(), 1);

    normal_call(rig, registrar);
    QVERIFY(rig.stopPhone());
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

// Bounded and seeded: 300 mutated INVITEs 10 ms apart, then the two datagrams known to crash
// the SIP library, at the engine running under the supervisor in a process of its own. Every
// crash must be followed by a new process registered from a new port; crashes, recoveries and
// the process's resident memory are printed.
void tst_VelPhoneBadInput::mutatedInvitesAndTheCrashingPairEndInRecovery()
{
    QTemporaryDir dir;
    MutationRun run(dir.path(), 40);
    QVERIFY2(run.start(), qPrintable(run.why()));
    const bool mutated = run.run(300, 20261208, 10, 100);
    const bool paired = mutated && run.crashWithPair();
    qInfo().noquote() << run.report();
    QVERIFY2(mutated && paired, qPrintable(run.why()));
    QVERIFY(run.figures().crashes >= 1);
    QCOMPARE(run.figures().recoveries, run.figures().crashes);
    QVERIFY(run.registered());
}

QTEST_GUILESS_MAIN(tst_VelPhoneBadInput)
#include "tst_velphone_badinput.moc"
