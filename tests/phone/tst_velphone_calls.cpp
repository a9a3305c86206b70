#include "tests/phone/phonerig.h"
#include "tests/support/rtpsink.h"
#include "tests/support/sipscenario.h"

#include "app/constants.h"
#include "phone/velphone.h"

#include <QtTest>

using namespace SippScenario;

// Incoming and outgoing calls, hold and DTMF against sipp peers: what goes over the wire,
// the signals in their order, the phone state and the call result.
class tst_VelPhoneCalls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void incomingAnsweredThenRemoteBye();
    void secondInviteBusyDtmfOnTheWireAndLocalHangup();
    void incomingCancelledAndDeclined();
    void outgoingAnsweredAndBusy();
    void holdAndResumeFromBothSides();
    void stopDuringACallSendsBye();
    void backToBackCallsEachRingAndEndWithTheirOwnValues();
};

namespace {
const QString JAPANESE_NAME = QStringLiteral("山田 太郎");
const QString CALLER = QStringLiteral("2001");

// A caller peer aimed at the registered phone.
void aim(SippPeer &caller, const SippPeer &registrar, const QString &displayName = QString())
{
    PhoneRig::aim(caller, registrar, CALLER, displayName);
}
} // namespace

void tst_VelPhoneCalls::initTestCase()
{
    QVERIFY(PhoneRig::havePulse());
}

void tst_VelPhoneCalls::incomingAnsweredThenRemoteBye()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(rig.startRegistered(registrar));
    SippPeer caller(SippScenario::caller(
        awaitAnswer(200) + pause(300) + callerRequest(QStringLiteral("BYE"), 2) + expectResponse(200),
        sdp()));
    aim(caller, registrar, JAPANESE_NAME);
    rig.spy().clear();
    QVERIFY(caller.start());

    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_received_dialog"), 10000);
    const QMap<QString, QString> params
        = rig.spy().last("signal_received_dialog").value(0).value<QMap<QString, QString>>();
    QCOMPARE(params.value(QStringLiteral("callerName")), JAPANESE_NAME);
    QCOMPARE(params.value(QStringLiteral("callerId")), CALLER);
    QCOMPARE(
        params.value(QStringLiteral("callId")), caller.messages().first().header(QStringLiteral("Call-ID")));
    QVERIFY(rig.phone()->is_incoming_ringing());
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_RINGING));
    QCOMPARE(rig.phone()->get_call_result(), 3);
    QCOMPARE(rig.phone()->get_remote_number(), CALLER);

    // A receiver connected directly runs on the engine thread; its queries must not wait for a
    // lock the engine still holds.
    QStringList seenStates;
    QObject::connect(
        rig.phone(), &VelPhone::signal_update_dialog_status, rig.phone(),
        [&](const QString &) { seenStates << QString::number(rig.phone()->get_phone_state()); },
        Qt::DirectConnection);
    rig.phone()->request_answer();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QCOMPARE(seenStates, QStringList({ QString::number(PHONE_TALKING), QString::number(PHONE_READY) }));
    QVERIFY2(caller.waitForFinished(10000), qPrintable(caller.report()));
    QCOMPARE(rig.spy().names(),
        QStringList({ "signal_received_dialog", "signal_update_dialog_status",
            "signal_start_count_dialog_time", "signal_update_dialog_status", "signal_play_terminated_audio",
            "signal_update_dialog_status", "signal_dialog_end" }));
    QCOMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_INCOMING, MSG_IN_CALL, MSG_READY_TO_DIAL }));
    QCOMPARE(rig.spy().last("signal_play_terminated_audio").value(0).toString(), HANGUP_SOUND);
    QCOMPARE(rig.phone()->get_call_result(), 1);
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));

    // Audio only, on the loopback.
    const SipMessage ok = caller.messages().at(caller.messages().size() - 4);
    QVERIFY2(ok.isResponse(200), qPrintable(ok.text));
    QVERIFY2(!ok.body().contains(QStringLiteral("m=video")), qPrintable(ok.body()));
    QVERIFY2(ok.body().contains(QStringLiteral("c=IN IP4 127.0.0.1")), qPrintable(ok.body()));
    QVERIFY(rig.stopPhone());
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

void tst_VelPhoneCalls::secondInviteBusyDtmfOnTheWireAndLocalHangup()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(rig.startRegistered(registrar));
    RtpSink media;
    SippPeer first(SippScenario::caller(awaitAnswer(200) + expect(QStringLiteral("BYE")), sdp()));
    first.setMediaPort(media.port());
    aim(first, registrar);
    QVERIFY(first.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_incoming_ringing(), 10000);
    rig.phone()->request_answer();
    QVERIFY2(rig.reach(PHONE_TALKING, MSG_IN_CALL), qPrintable(rig.spy().dump()));
    QVERIFY(rig.phone()->is_in_call());

    // A second caller while talking hears busy; the operator sees nothing of it.
    rig.spy().clear();
    SippPeer second(SippScenario::caller(awaitAnswer(486), sdp()));
    aim(second, registrar);
    QVERIFY(second.start());
    QVERIFY2(second.waitForFinished(10000), qPrintable(second.report()));
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_TALKING));
    QCOMPARE(rig.phone()->get_remote_number(), CALLER);
    QVERIFY(rig.phone()->is_in_call());

    // DTMF goes out as RFC 4733 telephone events in the RTP stream to the caller's media port.
    QTRY_VERIFY_WITH_TIMEOUT(media.packetCount() > 0, 5000);
    rig.phone()->send_dtmf('1');
    QTRY_COMPARE_WITH_TIMEOUT(media.telephoneEvents(), QStringLiteral("1"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(media.endedEvents(), 1, 5000);
    rig.phone()->send_dtmf('#');
    QTRY_COMPARE_WITH_TIMEOUT(media.telephoneEvents(), QStringLiteral("1#"), 5000);
    QCOMPARE(rig.spy().names(), QStringList());

    // Digits typed faster than an event lasts are queued, not dropped: all arrive, in order.
    const QByteArray typed("1357924680");
    for (const char digit : typed) {
        rig.phone()->send_dtmf(digit);
        QTest::qWait(80);
    }
    QTRY_COMPARE_WITH_TIMEOUT(
        media.telephoneEvents(), QStringLiteral("1#") + QString::fromLatin1(typed), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(media.endedEvents(), 2 + typed.size(), 5000);

    // Two hang-up clicks within one release: one BYE, one end.
    rig.phone()->request_hangup();
    rig.phone()->request_hangup();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QVERIFY2(first.waitForFinished(10000), qPrintable(first.report()));
    QCOMPARE(first.received(QStringLiteral("BYE")).size(), 1);
    QCOMPARE(rig.spy().names(),
        QStringList({ "signal_play_terminated_audio", "signal_update_dialog_status", "signal_dialog_end" }));
    QCOMPARE(rig.spy().last("signal_play_terminated_audio").value(0).toString(), HANGUP_SOUND);
    QCOMPARE(rig.phone()->get_call_result(), 1);
    QVERIFY(rig.stopPhone());
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

void tst_VelPhoneCalls::incomingCancelledAndDeclined()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(rig.startRegistered(registrar));

    // The caller gives up before the answer.
    const QString cancel
        = QStringLiteral("<recv response=\"100\" optional=\"true\"/>\n<recv response=\"180\"/>\n"
                         "<send><![CDATA[\nCANCEL sip:{{USER}}@127.0.0.1:{{PHONE_PORT}} SIP/2.0\n"
                         "[last_Via:]\nFrom: {{FROM}};tag=[pid]caller[call_number]\n"
                         "To: <sip:{{USER}}@127.0.0.1:{{PHONE_PORT}}>\nCall-ID: [call_id]\n"
                         "CSeq: 1 CANCEL\nMax-Forwards: 70\nContent-Length: 0\n\n]]></send>\n")
        + expectResponse(200) + awaitAnswer(487);
    SippPeer cancelling(SippScenario::caller(cancel, sdp()));
    aim(cancelling, registrar);
    rig.spy().clear();
    QVERIFY(cancelling.start());
    QVERIFY2(cancelling.waitForFinished(10000), qPrintable(cancelling.report()));
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QCOMPARE(rig.phone()->get_call_result(), 3);
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
    QVERIFY(!rig.spy().contains("signal_start_count_dialog_time"));

    // The operator declines from the hang-up button: busy on the wire, no end sound.
    SippPeer declined(SippScenario::caller(awaitAnswer(486), sdp()));
    aim(declined, registrar);
    rig.spy().clear();
    QVERIFY(declined.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_incoming_ringing(), 10000);
    rig.phone()->request_hangup();
    QVERIFY2(declined.waitForFinished(10000), qPrintable(declined.report()));
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QVERIFY(!rig.spy().contains("signal_play_terminated_audio"));
    QCOMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_INCOMING, MSG_READY_TO_DIAL }));
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
    QVERIFY(rig.stopPhone());
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

void tst_VelPhoneCalls::outgoingAnsweredAndBusy()
{
    PhoneRig rig;
    // The first number answers and is hung up here; the second is busy.
    const QString scenario = SippScenario::registrar(QMap<QString, QString> {
        { QStringLiteral("3001"), answer(200, QString()) + expect(QStringLiteral("BYE")) },
        { QStringLiteral("3003"), answer(486, QStringLiteral("Busy Here")) } });
    SippPeer peer(scenario);
    peer.setCalls(3);
    QVERIFY(rig.startRegistered(peer));

    // Nothing to dial: nothing is sent.
    rig.phone()->request_dial(QString());
    rig.spy().clear();
    rig.phone()->request_dial(QStringLiteral("3001"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TALKING), 10000);
    QCOMPARE(peer.received(QStringLiteral("INVITE")).size(), 1);
    QVERIFY(peer.received(QStringLiteral("INVITE"))
                .first()
                .startLine()
                .startsWith(QStringLiteral("INVITE sip:3001@")));
    QCOMPARE(rig.phone()->get_call_result(), 2);
    QCOMPARE(rig.phone()->get_last_dialled_number(), QStringLiteral("3001"));
    // A dial request during a call is dropped.
    rig.phone()->request_dial(QStringLiteral("3002"));
    rig.phone()->request_hangup();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QCOMPARE(peer.received(QStringLiteral("INVITE")).size(), 1);
    QCOMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_CALLING, MSG_IN_CALL, MSG_READY_TO_DIAL }));
    QCOMPARE(rig.spy().last("signal_play_terminated_audio").value(0).toString(), HANGUP_SOUND);

    rig.spy().clear();
    rig.phone()->request_dial(QStringLiteral("3003"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QCOMPARE(rig.phone()->get_call_result(), 4);
    QVERIFY(!rig.spy().contains("signal_play_terminated_audio"));
    QCOMPARE(PhoneRig::statusTexts(rig.spy()).last(), MSG_READY_TO_DIAL);
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
    QVERIFY(rig.stopPhone());
    QVERIFY2(peer.waitForFinished(10000), qPrintable(peer.report()));
}

void tst_VelPhoneCalls::holdAndResumeFromBothSides()
{
    PhoneRig rig;
    const QString ack = QStringLiteral("<recv request=\"ACK\"/>\n");
    const QString outgoing = answer(200, QString())
        // hold and resume from the phone
        + expect(QStringLiteral("INVITE"), sdp(QStringLiteral("recvonly"), 2)) + ack
        + expect(QStringLiteral("INVITE"), sdp(QStringLiteral("sendrecv"), 3))
        + ack
        // hold and resume from here
        + pause(1500) + calleeRequest(QStringLiteral("INVITE"), 101, sdp(QStringLiteral("sendonly"), 4))
        + expectResponse(200) + calleeRequest(QStringLiteral("ACK"), 101) + pause(1000)
        + calleeRequest(QStringLiteral("INVITE"), 102, sdp(QStringLiteral("sendrecv"), 5))
        + expectResponse(200)
        + calleeRequest(QStringLiteral("ACK"), 102)
        // the hold button works again, then the phone hangs up
        + expect(QStringLiteral("INVITE"), sdp(QStringLiteral("recvonly"), 6)) + ack
        + expect(QStringLiteral("BYE"));
    SippPeer peer(SippScenario::registrar(outgoing));
    peer.setCalls(2);
    QVERIFY(rig.startRegistered(peer));
    rig.phone()->request_dial(QStringLiteral("3001"));
    QVERIFY2(rig.reach(PHONE_TALKING, MSG_IN_CALL), qPrintable(rig.spy().dump()));

    rig.spy().clear();
    rig.phone()->request_hold();
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_HOLDING), 10000);
    QVERIFY(peer.received(QStringLiteral("INVITE")).last().body().contains(QStringLiteral("a=sendonly")));
    rig.phone()->request_hold();
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TALKING), 10000);
    QTRY_COMPARE(rig.spy().names(),
        QStringList({ "signal_play_hold_music", "signal_update_dialog_status", "signal_stop_hold_music",
            "signal_update_dialog_status" }));
    QCOMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_ON_HOLD, MSG_IN_CALL }));

    // The other side holds: no music, and the hold button does nothing meanwhile.
    rig.spy().clear();
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_HELD), 10000);
    const int invites = peer.received(QStringLiteral("INVITE")).size();
    rig.phone()->request_hold();
    QTRY_VERIFY2_WITH_TIMEOUT(
        rig.phone()->get_phone_state() == PHONE_TALKING, qPrintable(peer.report()), 10000);
    QCOMPARE(peer.received(QStringLiteral("INVITE")).size(), invites);
    QTRY_COMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_REMOTE_HOLD, MSG_IN_CALL }));
    QVERIFY(!rig.spy().contains("signal_play_hold_music"));

    rig.phone()->request_hold();
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_HOLDING), 10000);
    rig.phone()->request_hangup();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QVERIFY(rig.stopPhone());
    QVERIFY2(peer.waitForFinished(10000), qPrintable(peer.report()));
}

void tst_VelPhoneCalls::stopDuringACallSendsBye()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(rig.startRegistered(registrar));
    SippPeer caller(SippScenario::caller(awaitAnswer(200) + expect(QStringLiteral("BYE")), sdp()));
    aim(caller, registrar);
    QVERIFY(caller.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_incoming_ringing(), 10000);
    rig.phone()->request_answer();
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_in_call(), 10000);

    rig.phone()->stop();
    QVERIFY(rig.phone()->wait(10000));
    QVERIFY(rig.phone()->isFinished());
    QVERIFY2(caller.waitForFinished(10000), qPrintable(caller.report()));
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

void tst_VelPhoneCalls::backToBackCallsEachRingAndEndWithTheirOwnValues()
{
    // An ACD offers the next call the moment the last one ends: each must ring (not be refused
    // busy while the library still releases the previous one), and each end must carry its own
    // call's result and number, whatever arrived since.
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    QVERIFY(rig.startRegistered(registrar));
    constexpr int CALLS = 30;
    QTemporaryDir dir;
    QFile numbers(dir.filePath(QStringLiteral("callers.csv")));
    QVERIFY(numbers.open(QIODevice::WriteOnly));
    numbers.write("SEQUENTIAL\n");
    QStringList expected;
    for (int i = 0; i < CALLS; ++i) {
        const QString number = QString::number(5000 + i);
        numbers.write((number + QStringLiteral(";\n")).toLatin1());
        expected << number;
    }
    numbers.close();
    SippPeer caller(SippScenario::caller(
        awaitAnswer(200) + callerRequest(QStringLiteral("BYE"), 2) + expectResponse(200), sdp()));
    aim(caller, registrar);
    caller.set(QStringLiteral("FROM"), QStringLiteral("<sip:[field0]@127.0.0.1:%1>").arg(caller.port()));
    caller.setCalls(CALLS);
    caller.addArguments({ QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-r"),
        QStringLiteral("1000"), QStringLiteral("-inf"), numbers.fileName() });
    rig.spy().clear();
    QVERIFY(caller.start());

    // Every call rings and is answered as soon as it does.
    QElapsedTimer waited;
    waited.start();
    while (rig.spy().count("signal_dialog_end") < CALLS && waited.elapsed() < 60000 && caller.isRunning()) {
        if (rig.phone()->is_incoming_ringing())
            rig.phone()->request_answer();
        QTest::qWait(5);
    }
    QVERIFY2(caller.waitForFinished(20000), qPrintable(caller.report().left(3000)));
    QTRY_COMPARE_WITH_TIMEOUT(rig.spy().count("signal_dialog_end"), CALLS, 10000);
    QCOMPARE(rig.spy().count("signal_received_dialog"), CALLS);
    QStringList ended;
    for (const SignalLog::Entry &entry : rig.spy().entries()) {
        if (entry.name != "signal_dialog_end")
            continue;
        QCOMPARE(entry.args.value(0).toInt(), 1);
        ended << entry.args.value(1).toString();
    }
    QCOMPARE(ended, expected);
    QVERIFY(rig.stopPhone());
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

QTEST_GUILESS_MAIN(tst_VelPhoneCalls)
#include "tst_velphone_calls.moc"
