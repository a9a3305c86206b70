#include "tests/phone/phonerig.h"
#include "tests/support/sipscenario.h"

#include "app/constants.h"
#include "phone/velphone.h"

#include <QtTest>

using namespace SippScenario;

// Blind and attended transfer against sipp peers: the re-INVITEs that hold and resume, the
// REFER with its target, the NOTIFYs that report the new call, the signals in their order and
// the phone state at each step.
class tst_VelPhoneTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void blindTransferAfterACancelledOne();
    void refusedTransferLeavesTheCallUp();
    void attendedTransferAfterAConsultationHungUp();
    void heldPartyVanishesDuringTheConsultation();
    void referFromTheRemotePartyIsRefused();
    void transferWithoutOutcomeIsLeftToTheOperator();
};

namespace {
const QString CALLER = QStringLiteral("2001");
const QString CALLEE = QStringLiteral("3001");
const QString TARGET = QStringLiteral("4001");
const QString SECOND_TARGET = QStringLiteral("4002");
const QString ACK = QStringLiteral("<recv request=\"ACK\"/>\n");

// The peer's side of a re-INVITE from the phone: answered with the SDP of the given direction.
QString reinvite(const QString &direction, int version)
{
    return expect(QStringLiteral("INVITE"), sdp(direction, version)) + ACK;
}

QString lastInviteBody(const SippPeer &peer)
{
    const QVector<SipMessage> invites = peer.received(QStringLiteral("INVITE"));
    return invites.isEmpty() ? QString() : invites.last().body();
}

// An offer that holds the other party sends only; one without a direction attribute is sendrecv.
bool offersToSend(const QString &sdp)
{
    return !sdp.contains(QStringLiteral("a=sendonly")) && !sdp.contains(QStringLiteral("a=inactive"))
        && !sdp.contains(QStringLiteral("a=recvonly"));
}

// Index of the first message at or after `from` that sipp received or sent with that start.
int indexOf(const QVector<SipMessage> &messages, const QString &start, int from = 0)
{
    for (int i = from; i < messages.size(); ++i) {
        if (messages.at(i).startLine().startsWith(start))
            return i;
    }
    return -1;
}

// Lets the caller call the phone registered at `registrar`, answers, and holds the call with a
// first transfer click, as the operator starts a transfer.
bool answerAndHold(PhoneRig &rig, SippPeer &caller, const SippPeer &registrar)
{
    PhoneRig::aim(caller, registrar, CALLER);
    if (!caller.start() || !QTest::qWaitFor([&] { return rig.phone()->is_incoming_ringing(); }, 10000))
        return false;
    rig.phone()->request_answer();
    if (!rig.reach(PHONE_TALKING, MSG_IN_CALL))
        return false;
    rig.phone()->request_transfer(QString());
    return rig.reach(PHONE_TRANSFER_WAIT, MSG_ENTER_TRANSFER_NUMBER);
}
// The steps of a transfer target that rings and is then cancelled by the phone.
QString ringsUntilCancelled()
{
    return respond(180, QStringLiteral("Ringing"), true)
        + QStringLiteral(
            "<recv request=\"CANCEL\">\n<action>\n"
            "<ereg regexp=\"[0-9]+\" search_in=\"hdr\" header=\"CSeq:\" assign_to=\"invitecseq\"/>\n"
            "</action>\n</recv>\n")
        + respond(200, QStringLiteral("OK"))
        + QStringLiteral(
            "<send><![CDATA[\nSIP/2.0 487 Request Terminated\n[last_Via:]\n[last_From:]\n"
            "[last_To:];tag=[pid]peer[call_number]\n[last_Call-ID:]\nCSeq: [$invitecseq] INVITE\n"
            "Content-Length: 0\n\n]]></send>\n")
        + ACK;
}

// The caller's side while the phone deals with its REFER: the library holds the call to place
// the target call, the phone resumes it, and the library reports the cancelled target call in
// two NOTIFYs.
QString answersWhileReferred()
{
    return reinvite(QStringLiteral("recvonly"), 2) + reinvite(QStringLiteral("sendrecv"), 3)
        + expect(QStringLiteral("NOTIFY")) + expect(QStringLiteral("NOTIFY"));
}
} // namespace

void tst_VelPhoneTransfer::initTestCase()
{
    QVERIFY(PhoneRig::havePulse());
}

void tst_VelPhoneTransfer::blindTransferAfterACancelledOne()
{
    PhoneRig rig;
    const QString outgoing = answer(200, QString()) + reinvite(QStringLiteral("recvonly"), 2)
        + reinvite(QStringLiteral("sendrecv"), 3) + reinvite(QStringLiteral("recvonly"), 4)
        + expect(QStringLiteral("REFER"), QString(), 202, QStringLiteral("Accepted"))
        + referNotify(false, 101, 100, QStringLiteral("Trying")) + expectResponse(200)
        + referNotify(false, 102, 200, QStringLiteral("OK")) + expectResponse(200)
        + expect(QStringLiteral("BYE"));
    SippPeer peer(SippScenario::registrar(outgoing));
    peer.setCalls(2);
    QVERIFY(rig.startRegistered(peer));
    rig.phone()->request_dial(CALLEE);
    QVERIFY2(rig.reach(PHONE_TALKING, MSG_IN_CALL), qPrintable(rig.spy().dump()));

    // The first click holds the call and asks for the number.
    rig.spy().clear();
    rig.phone()->request_transfer(QString());
    QTRY_COMPARE_WITH_TIMEOUT(
        PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_ENTER_TRANSFER_NUMBER }), 10000);
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_WAIT));
    QVERIFY2(lastInviteBody(peer).contains(QStringLiteral("a=sendonly")), qPrintable(lastInviteBody(peer)));
    QVERIFY(!rig.spy().contains("signal_play_hold_music"));

    // A click with nothing typed resumes the call and shows its number again.
    rig.phone()->request_transfer(QString());
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TALKING), 10000);
    QVERIFY2(offersToSend(lastInviteBody(peer)), qPrintable(lastInviteBody(peer)));
    QTRY_COMPARE(rig.spy().names(),
        QStringList(
            { "signal_update_dialog_status", "signal_set_phone_number", "signal_update_dialog_status" }));
    QCOMPARE(rig.spy().last("signal_set_phone_number").value(0).toString(), CALLEE);
    QCOMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_ENTER_TRANSFER_NUMBER, MSG_IN_CALL }));

    // Digits typed before the first click are not a target: the call is only held.
    rig.spy().clear();
    rig.phone()->request_transfer(TARGET);
    QTRY_COMPARE_WITH_TIMEOUT(
        PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_ENTER_TRANSFER_NUMBER }), 10000);
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_WAIT));
    QVERIFY(peer.received(QStringLiteral("REFER")).isEmpty());

    // The second click with a number refers the other party to it; the peer's NOTIFYs report
    // the new call, and at its success the phone leaves the call.
    rig.phone()->request_transfer(TARGET);
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_show_transfer_call_result"), 10000);
    QTRY_COMPARE(peer.received(QStringLiteral("BYE")).size(), 1);
    const QVector<SipMessage> refers = peer.received(QStringLiteral("REFER"));
    QCOMPARE(refers.size(), 1);
    const SipMessage &refer = refers.first();
    QVERIFY2(
        refer.header(QStringLiteral("Refer-To")).contains(QStringLiteral("sip:%1@127.0.0.1").arg(TARGET)),
        qPrintable(refer.text));
    // In the dialog of the call: its Call-ID and the peer's tag.
    QCOMPARE(refer.header(QStringLiteral("Call-ID")),
        peer.received(QStringLiteral("INVITE")).first().header(QStringLiteral("Call-ID")));
    QVERIFY2(refer.header(QStringLiteral("To")).contains(QStringLiteral("tag=")), qPrintable(refer.text));
    // The BYE follows the final NOTIFY, not the 202.
    const QVector<SipMessage> messages = peer.messages();
    const int finalNotify
        = indexOf(messages, QStringLiteral("NOTIFY"), indexOf(messages, QStringLiteral("NOTIFY")) + 1);
    QVERIFY2(finalNotify > 0 && indexOf(messages, QStringLiteral("BYE"), finalNotify) > finalNotify,
        qPrintable(peer.report()));

    QCOMPARE(rig.spy().names(),
        QStringList({ "signal_update_dialog_status", "signal_play_terminated_audio",
            "signal_update_dialog_status", "signal_dialog_end", "signal_show_transfer_call_result" }));
    QCOMPARE(rig.spy().last("signal_show_transfer_call_result").value(0).toString(), MSG_TRANSFER_DONE);
    QCOMPARE(rig.spy().last("signal_play_terminated_audio").value(0).toString(), HANGUP_SOUND);
    QCOMPARE(PhoneRig::statusTexts(rig.spy()).last(), MSG_READY_TO_DIAL);
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
    QVERIFY(rig.phone()->is_idle());
    QCOMPARE(rig.phone()->get_call_result(), 2);
    QVERIFY(rig.stopPhone());
    QVERIFY2(peer.waitForFinished(10000), qPrintable(peer.report()));
}

void tst_VelPhoneTransfer::refusedTransferLeavesTheCallUp()
{
    PhoneRig rig;
    // The first callee refuses the REFER; the second call proves the phone is still usable.
    const QString refused = answer(200, QString()) + reinvite(QStringLiteral("recvonly"), 2)
        + expect(QStringLiteral("REFER"), QString(), 403, QStringLiteral("Forbidden"))
        + expect(QStringLiteral("BYE"));
    const QString later = answer(200, QString()) + expect(QStringLiteral("BYE"));
    SippPeer peer(SippScenario::registrar({ { CALLEE, refused }, { TARGET, later } }));
    peer.setCalls(3);
    QVERIFY(rig.startRegistered(peer));
    rig.phone()->request_dial(CALLEE);
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TALKING), 10000);
    rig.phone()->request_transfer(QString());
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_WAIT), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(PhoneRig::statusTexts(rig.spy()).contains(MSG_ENTER_TRANSFER_NUMBER), 10000);

    rig.spy().clear();
    rig.phone()->request_transfer(TARGET);
    QTRY_COMPARE_WITH_TIMEOUT(peer.received(QStringLiteral("REFER")).size(), 1, 10000);
    // The refusal leaves the held call as it was: nothing is emitted, no BYE goes out.
    QTest::qWait(500);
    QCOMPARE(rig.spy().names(), QStringList());
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_WAIT));
    QVERIFY(!rig.phone()->is_idle());
    QVERIFY(peer.received(QStringLiteral("BYE")).isEmpty());

    // Hanging up now ends the call; the refused transfer is not reported as done.
    rig.phone()->request_hangup();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QTest::qWait(200);
    QCOMPARE(rig.spy().names(),
        QStringList({ "signal_play_terminated_audio", "signal_update_dialog_status", "signal_dialog_end" }));
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));

    rig.spy().clear();
    rig.phone()->request_dial(TARGET);
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TALKING), 10000);
    rig.phone()->request_hangup();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QCOMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_CALLING, MSG_IN_CALL, MSG_READY_TO_DIAL }));
    QVERIFY(rig.stopPhone());
    QVERIFY2(peer.waitForFinished(10000), qPrintable(peer.report()));
}

void tst_VelPhoneTransfer::attendedTransferAfterAConsultationHungUp()
{
    PhoneRig rig;
    // The first target is called, held and resumed, and hung up by the operator; the second
    // is the one the caller is joined with, and ends its leg itself once the caller has come.
    const QString first = answer(200, QString()) + reinvite(QStringLiteral("recvonly"), 2)
        + reinvite(QStringLiteral("sendrecv"), 3) + expect(QStringLiteral("BYE"));
    const QString second = answer(200, QString()) + pause(4000) + calleeRequest(QStringLiteral("BYE"), 101)
        + expectResponse(200);
    SippPeer targets(SippScenario::registrar({ { TARGET, first }, { SECOND_TARGET, second } }));
    targets.setCalls(3);
    QVERIFY(rig.startRegistered(targets));

    SippPeer caller(SippScenario::caller(awaitAnswer(200) + reinvite(QStringLiteral("recvonly"), 2)
            + expect(QStringLiteral("REFER"), QString(), 202, QStringLiteral("Accepted"))
            + referNotify(true, 2, 200, QStringLiteral("OK")) + expectResponse(200)
            + expect(QStringLiteral("BYE")),
        sdp()));
    QVERIFY(answerAndHold(rig, caller, targets));

    // The consultation call.
    rig.spy().clear();
    rig.phone()->request_dial(TARGET);
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_TALKING), 10000);
    QTRY_COMPARE(
        PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_TRANSFER_CALLING, MSG_TRANSFER_IN_CALL }));
    QVERIFY(!rig.spy().contains("signal_start_count_dialog_time"));
    // The held call keeps its number and result.
    QCOMPARE(rig.phone()->get_remote_number(), CALLER);
    QCOMPARE(rig.phone()->get_call_result(), 1);

    // Hold acts on the consultation call; the held caller hears nothing new.
    const int callerInvites = caller.received(QStringLiteral("INVITE")).size();
    rig.spy().clear();
    rig.phone()->request_hold();
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_HOLDING), 10000);
    QVERIFY2(
        lastInviteBody(targets).contains(QStringLiteral("a=sendonly")), qPrintable(lastInviteBody(targets)));
    rig.phone()->request_hold();
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_TALKING), 10000);
    QVERIFY2(offersToSend(lastInviteBody(targets)), qPrintable(lastInviteBody(targets)));
    QTRY_COMPARE(
        PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_TRANSFER_ON_HOLD, MSG_TRANSFER_IN_CALL }));
    QVERIFY(!rig.spy().contains("signal_play_hold_music"));
    QCOMPARE(caller.received(QStringLiteral("INVITE")).size(), callerInvites);

    // Hanging up ends only the consultation call: back to waiting for a number.
    rig.spy().clear();
    rig.phone()->request_hangup();
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_WAIT), 10000);
    QTRY_COMPARE(
        rig.spy().names(), QStringList({ "signal_update_dialog_status", "signal_clear_phone_number" }));
    QCOMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_ENTER_TRANSFER_NUMBER }));
    QCOMPARE(targets.received(QStringLiteral("BYE")).size(), 1);
    QVERIFY(caller.received(QStringLiteral("BYE")).isEmpty());

    // A new consultation call, then the transfer joins the caller with it.
    rig.spy().clear();
    rig.phone()->request_dial(SECOND_TARGET);
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_TALKING), 10000);
    rig.phone()->request_transfer(QString());
    QVERIFY2(caller.waitForFinished(10000), qPrintable(caller.report()));
    const QVector<SipMessage> refers = caller.received(QStringLiteral("REFER"));
    QCOMPARE(refers.size(), 1);
    const QString referTo = refers.first().header(QStringLiteral("Refer-To"));
    QVERIFY2(referTo.contains(QStringLiteral("sip:%1@").arg(SECOND_TARGET)), qPrintable(referTo));
    QVERIFY2(referTo.contains(QStringLiteral("Replaces=")), qPrintable(referTo));
    // Replaces names the consultation call's dialog.
    const QString consultationId
        = targets.received(QStringLiteral("INVITE")).last().header(QStringLiteral("Call-ID"));
    QVERIFY2(QUrl::fromPercentEncoding(referTo.toUtf8()).contains(consultationId), qPrintable(referTo));

    // The caller's leg has ended; the consultation leg ends when the target hangs up.
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_TALKING));
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QCOMPARE(rig.spy().names(),
        QStringList({ "signal_update_dialog_status", "signal_update_dialog_status",
            "signal_update_dialog_status", "signal_dialog_end" }));
    QCOMPARE(PhoneRig::statusTexts(rig.spy()),
        QStringList({ MSG_TRANSFER_CALLING, MSG_TRANSFER_IN_CALL, MSG_READY_TO_DIAL }));
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
    QVERIFY(rig.phone()->is_idle());
    QVERIFY(rig.stopPhone());
    QVERIFY2(targets.waitForFinished(10000), qPrintable(targets.report()));
}

void tst_VelPhoneTransfer::heldPartyVanishesDuringTheConsultation()
{
    PhoneRig rig;
    SippPeer target(SippScenario::registrar(answer(200, QString()) + expect(QStringLiteral("BYE"))));
    target.setCalls(2);
    QVERIFY(rig.startRegistered(target));
    // The caller hangs up while it is held.
    SippPeer caller(SippScenario::caller(awaitAnswer(200) + reinvite(QStringLiteral("recvonly"), 2)
            + pause(2500) + callerRequest(QStringLiteral("BYE"), 2) + expectResponse(200),
        sdp()));
    QVERIFY(answerAndHold(rig, caller, target));
    rig.phone()->request_dial(TARGET);
    QVERIFY2(rig.reach(PHONE_TRANSFER_TALKING, MSG_TRANSFER_IN_CALL), qPrintable(rig.spy().dump()));

    // The caller's BYE is told at once on the status line; the operator still talks to the target.
    rig.spy().clear();
    QVERIFY2(caller.waitForFinished(10000), qPrintable(caller.report()));
    QTRY_COMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_NO_TRANSFER_SOURCE }));
    QTest::qWait(200);
    QCOMPARE(rig.spy().names(), QStringList({ "signal_update_dialog_status" }));
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_TALKING));
    rig.spy().clear();

    // A transfer now has nothing to transfer: the consultation call becomes the call.
    rig.phone()->request_transfer(QString());
    QTRY_COMPARE_WITH_TIMEOUT(rig.phone()->get_phone_state(), int(PHONE_TALKING), 10000);
    QTRY_COMPARE(
        rig.spy().names(), QStringList({ "signal_update_dialog_status", "signal_show_phone_message" }));
    QCOMPARE(PhoneRig::statusTexts(rig.spy()), QStringList({ MSG_IN_CALL }));
    QCOMPARE(rig.spy().last("signal_show_phone_message").value(0).toString(), MSG_NO_TRANSFER_SOURCE);
    QVERIFY(rig.phone()->is_in_call());

    // It is an ordinary call now: hanging up ends it with the usual story.
    rig.spy().clear();
    rig.phone()->request_hangup();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QCOMPARE(rig.spy().names(),
        QStringList({ "signal_play_terminated_audio", "signal_update_dialog_status", "signal_dialog_end" }));
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));
    QVERIFY(rig.stopPhone());
    QVERIFY2(target.waitForFinished(10000), qPrintable(target.report()));
}

void tst_VelPhoneTransfer::referFromTheRemotePartyIsRefused()
{
    // The customer's side sends a REFER: the library would call the target by itself, a leg the
    // engine does not know and the operator could not end. The phone ends that call at once and
    // the operator's call goes on.
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar({ { TARGET, ringsUntilCancelled() } }));
    registrar.setCalls(2);
    QVERIFY(rig.startRegistered(registrar));
    SippPeer caller(SippScenario::caller(awaitAnswer(200) + pause(300)
            + callerRequest(QStringLiteral("REFER"), 2, QString(),
                QStringLiteral("Refer-To: <sip:%1@127.0.0.1>\nReferred-By: {{FROM}}\n").arg(TARGET))
            + expectResponse(202) + answersWhileReferred() + pause(300)
            + callerRequest(QStringLiteral("BYE"), 3) + expectResponse(200),
        sdp()));
    PhoneRig::aim(caller, registrar, CALLER);
    QVERIFY(caller.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_incoming_ringing(), 10000);
    rig.phone()->request_answer();
    QVERIFY2(rig.reach(PHONE_TALKING, MSG_IN_CALL), qPrintable(rig.spy().dump()));
    rig.spy().clear();

    QVERIFY2(caller.waitForFinished(20000), qPrintable(caller.report() + registrar.report()));
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    // Nothing of the REFER reached the operator: no hold, no new call; the call ended as one.
    QVERIFY2(!rig.spy().contains("signal_play_hold_music"), qPrintable(rig.spy().dump()));
    QVERIFY2(!rig.spy().contains("signal_received_dialog"), qPrintable(rig.spy().dump()));
    QCOMPARE(rig.spy().last("signal_dialog_end"), QVariantList({ 1, CALLER }));
    QCOMPARE(rig.spy().count("signal_dialog_end"), 1);
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_READY));

    // Before the BYE the call sent audio both ways again.
    const QString lastOffer = lastInviteBody(caller);
    QVERIFY2(lastOffer.isEmpty() || offersToSend(lastOffer), qPrintable(lastOffer));
    // The target rang and was cancelled by the phone.
    QVERIFY(!registrar.received(QStringLiteral("CANCEL")).isEmpty());
    QVERIFY(rig.stopPhone());
    QVERIFY2(registrar.waitForFinished(10000), qPrintable(registrar.report()));
}

void tst_VelPhoneTransfer::transferWithoutOutcomeIsLeftToTheOperator()
{
    // The transferee's first NOTIFY overtakes the 202 (a proxy with several workers reorders
    // them); the library refuses it and this transferee sends no other. The operator is told
    // that the outcome is unknown and keeps the held call.
    PhoneRig rig;
    // sipp keeps the REFER's headers, sends the NOTIFY, sees it refused, and only then accepts.
    QString keepRefer = QStringLiteral("<recv request=\"REFER\">\n<action>\n");
    for (const char *header : { "Via", "From", "To", "CSeq" })
        keepRefer += QStringLiteral(
            "<ereg regexp=\".*\" search_in=\"hdr\" header=\"%1:\" assign_to=\"refer%1\"/>\n")
                         .arg(QLatin1String(header));
    keepRefer += QStringLiteral("</action>\n</recv>\n");
    const QString accept = QStringLiteral(
        "<send><![CDATA[\nSIP/2.0 202 Accepted\nVia: [$referVia]\nFrom: [$referFrom]\nTo: [$referTo]\n"
        "Call-ID: [call_id]\nCSeq: [$referCSeq]\nContent-Length: 0\n\n]]></send>\n");
    const QString early = answer(200, QString()) + reinvite(QStringLiteral("recvonly"), 2) + keepRefer
        + referNotify(false, 101, 100, QStringLiteral("Trying"))
        + QStringLiteral("<recv response=\"491\"/>\n") + accept + expect(QStringLiteral("BYE"));
    SippPeer peer(SippScenario::registrar(early));
    peer.setCalls(2);
    QVERIFY(rig.startRegistered(peer));
    rig.phone()->request_dial(CALLEE);
    QVERIFY2(rig.reach(PHONE_TALKING, MSG_IN_CALL), qPrintable(rig.spy().dump()));
    rig.phone()->request_transfer(QString());
    QVERIFY2(rig.reach(PHONE_TRANSFER_WAIT, MSG_ENTER_TRANSFER_NUMBER), qPrintable(rig.spy().dump()));
    rig.spy().clear();
    rig.phone()->request_transfer(TARGET);
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_show_transfer_call_result"), 15000);
    QCOMPARE(rig.spy().last("signal_show_transfer_call_result").value(0).toString(), MSG_TRANSFER_UNKNOWN);
    QCOMPARE(rig.phone()->get_phone_state(), int(PHONE_TRANSFER_WAIT));
    QVERIFY(peer.received(QStringLiteral("BYE")).isEmpty());

    // 切断 ends the held call as one call; no transfer is announced.
    rig.spy().clear();
    rig.phone()->request_hangup();
    QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_dialog_end"), 10000);
    QTest::qWait(200);
    QCOMPARE(rig.spy().last("signal_dialog_end"), QVariantList({ 2, CALLEE }));
    QVERIFY(!rig.spy().contains("signal_show_transfer_call_result"));
    QVERIFY(rig.stopPhone());
    QVERIFY2(peer.waitForFinished(10000), qPrintable(peer.report()));
}

QTEST_GUILESS_MAIN(tst_VelPhoneTransfer)
#include "tst_velphone_transfer.moc"
