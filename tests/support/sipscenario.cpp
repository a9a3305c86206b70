#include "tests/support/sipscenario.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

QString sendBlock(const QString &message, bool retransmit = false)
{
    QString text = message;
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    return QStringLiteral("<send%1><![CDATA[\n")
               .arg(retransmit ? QStringLiteral(" retrans=\"500\"") : QString())
        + text + QStringLiteral("\n]]></send>\n");
}

const QString SDP_TYPE = QStringLiteral("application/sdp");

QString withBody(const QString &headers, const QString &body, const QString &contentType = SDP_TYPE)
{
    if (body.isEmpty())
        return headers + QStringLiteral("Content-Length: 0\n");
    return headers + QStringLiteral("Content-Type: %1\nContent-Length: [len]\n\n").arg(contentType) + body;
}

QString wrap(const QString &body)
{
    // sipp rejects a scenario that assigns a variable it never uses: every variable assigned
    // is referenced once here, whether the steps use it or not.
    QStringList variables;
    static const QRegularExpression assignment(QStringLiteral("assign_to=\"([^\"]*)\""));
    QRegularExpressionMatchIterator it = assignment.globalMatch(body);
    while (it.hasNext()) {
        for (const QString &name : it.next().captured(1).split(QLatin1Char(',')))
            if (!variables.contains(name))
                variables << name;
    }
    QString text
        = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<scenario name=\"tarsel peer\">\n")
        + body;
    if (!variables.isEmpty())
        text += QStringLiteral("<Reference variables=\"%1\"/>\n").arg(variables.join(QLatin1Char(',')));
    return text + QStringLiteral("</scenario>\n");
}

// Keeps the other side's From (with its tag) and Contact of the message just received, so
// that in-dialog requests can be addressed whatever arrived in between.
QString keepPeer(const QString &fromHeader, const QString &moreActions = QString())
{
    return QStringLiteral("<action>\n"
                          "<ereg regexp=\".*\" search_in=\"hdr\" header=\"%1\" assign_to=\"peerfrom\"/>\n"
                          "<ereg regexp=\"&lt;([^&gt;]*)&gt;\" search_in=\"hdr\" header=\"Contact:\" "
                          "assign_to=\"x,peercontact\"/>\n"
                          "<ereg regexp=\"tag=([^;&gt; ]*)\" search_in=\"hdr\" header=\"%1\" "
                          "assign_to=\"x,peertag\"/>\n")
               .arg(fromHeader)
        + moreActions + QStringLiteral("</action>\n");
}
} // namespace

namespace SippScenario {

QString sdp(const QString &direction, int version, const QString &codecs)
{
    const QString media = codecs.isEmpty() ? QStringLiteral("m=audio {{MEDIA_PORT}} RTP/AVP 0 101\n"
                                                            "a=rtpmap:0 PCMU/8000\n"
                                                            "a=rtpmap:101 telephone-event/8000\n"
                                                            "a=fmtp:101 0-15\n")
                                           : codecs;
    return QStringLiteral("v=0\n"
                          "o=peer 1 %2 IN IP4 [local_ip]\n"
                          "s=-\n"
                          "c=IN IP4 [local_ip]\n"
                          "t=0 0\n")
               .arg(version)
        + media + QStringLiteral("a=%1\n").arg(direction);
}

namespace {
// The registrar of registrar(): `inviteAction` is what sipp does on each INVITE (beside keeping
// the peer), `outgoing` the steps that follow it.
QString registrarWith(
    const QString &inviteAction, const QString &outgoing, const QString &afterRegister, int expires)
{
    QString text;
    if (outgoing.isEmpty()) {
        text += QStringLiteral("<recv request=\"REGISTER\"/>\n");
    } else {
        text += QStringLiteral("<recv request=\"REGISTER\" optional=\"true\" next=\"register\"/>\n");
        text += QStringLiteral("<recv request=\"INVITE\">\n")
            + keepPeer(QStringLiteral("From:"), inviteAction) + QStringLiteral("</recv>\n");
        text += outgoing;
        text += QStringLiteral("<nop next=\"end\"/>\n<label id=\"register\"/>\n");
    }
    text += respond(401,
        QStringLiteral("Unauthorized\nWWW-Authenticate: Digest realm=\"tarsel.test\", "
                       "nonce=\"5b9d2c1e7f\", algorithm=MD5"),
        true);
    // Any user name is accepted with the password: a re-registration may change the account.
    text += QStringLiteral(
        "<recv request=\"REGISTER\">\n<action>\n"
        "<ereg regexp=\"username=&quot;([^&quot;]*)\" search_in=\"hdr\" header=\"Authorization:\" "
        "assign_to=\"x,authuser\"/>\n"
        "<verifyauth assign_to=\"authok\" username=\"[$authuser]\" password=\"{{PASSWORD}}\"/>\n"
        "</action>\n</recv>\n"
        "<nop test=\"authok\" next=\"authed\"/>\n");
    text += respond(403, QStringLiteral("Forbidden"), true);
    text += QStringLiteral("<nop next=\"end\"/>\n<label id=\"authed\"/>\n");
    text += sendBlock(
        QStringLiteral("SIP/2.0 200 OK\n[last_Via:]\n[last_From:]\n[last_To:];tag=[pid]reg[call_number]\n"
                       "[last_Call-ID:]\n[last_CSeq:]\n[last_Contact:];expires=%1\nExpires: %1\n"
                       "Content-Length: 0\n")
            .arg(expires));
    text += afterRegister;
    text += QStringLiteral("<recv request=\"REGISTER\"/>\n");
    text += sendBlock(
        QStringLiteral("SIP/2.0 200 OK\n[last_Via:]\n[last_From:]\n[last_To:];tag=[pid]reg[call_number]\n"
                       "[last_Call-ID:]\n[last_CSeq:]\nExpires: 0\nContent-Length: 0\n"));
    text += QStringLiteral("<label id=\"end\"/>\n<nop/>\n");
    return wrap(text);
}
} // namespace

QString registrar(const QString &outgoing, const QString &afterRegister, int expires)
{
    return registrarWith(QString(), outgoing, afterRegister, expires);
}

QString registrar(const QMap<QString, QString> &outgoingByNumber, const QString &afterRegister, int expires)
{
    // The dialled number is the user part of the INVITE's request URI.
    QString action = QStringLiteral(
        "<ereg regexp=\"^INVITE sip:([^@]*)@\" search_in=\"msg\" assign_to=\"x,dialled\"/>\n");
    QString branches;
    QString steps;
    int i = 0;
    for (auto it = outgoingByNumber.constBegin(); it != outgoingByNumber.constEnd(); ++it, ++i) {
        action
            += QStringLiteral("<strcmp assign_to=\"cmp%1\" variable=\"dialled\" value=\"%2\"/>\n"
                              "<test assign_to=\"is%1\" variable=\"cmp%1\" compare=\"equal\" value=\"0\"/>\n")
                   .arg(i)
                   .arg(it.key());
        branches += QStringLiteral("<nop test=\"is%1\" next=\"number%1\"/>\n").arg(i);
        steps += QStringLiteral("<label id=\"number%1\"/>\n").arg(i) + it.value()
            + QStringLiteral("<nop next=\"end\"/>\n");
    }
    // A number nobody answers for.
    branches += respond(404, QStringLiteral("Not Found"), true) + QStringLiteral("<recv request=\"ACK\"/>\n")
        + QStringLiteral("<nop next=\"end\"/>\n");
    return registrarWith(action, branches + steps, afterRegister, expires);
}

QString caller(const QString &steps, const QString &body)
{
    const QString invite
        = withBody(QStringLiteral("INVITE sip:{{USER}}@127.0.0.1:{{PHONE_PORT}} SIP/2.0\n"
                                  "Via: SIP/2.0/UDP [local_ip]:[local_port];branch=[branch]\n"
                                  "From: {{FROM}};tag=[pid]caller[call_number]\n"
                                  "To: <sip:{{USER}}@127.0.0.1:{{PHONE_PORT}}>\n"
                                  "Call-ID: [call_id]\n"
                                  "CSeq: 1 INVITE\n"
                                  "Contact: <sip:{{PEER}}@[local_ip]:[local_port]>\n"
                                  "Max-Forwards: 70\n"),
            body);
    return wrap(sendBlock(invite, true) + steps);
}

QString respond(int code, const QString &reason, bool tag, const QString &body)
{
    const QString to
        = tag ? QStringLiteral("[last_To:];tag=[pid]peer[call_number]\n") : QStringLiteral("[last_To:]\n");
    return sendBlock(
        withBody(QStringLiteral("SIP/2.0 %1 %2\n[last_Via:]\n[last_From:]\n").arg(code).arg(reason) + to
                + QStringLiteral("[last_Call-ID:]\n[last_CSeq:]\n"
                                 "Contact: <sip:{{PEER}}@[local_ip]:[local_port]>\n"),
            body));
}

QString answer(int code, const QString &reason)
{
    QString text = respond(180, QStringLiteral("Ringing"), true);
    if (code == 200) {
        text += respond(200, QStringLiteral("OK"), true, sdp());
        text += QStringLiteral("<recv request=\"ACK\"/>\n");
    } else {
        text += respond(code, reason, true);
        text += QStringLiteral("<recv request=\"ACK\"/>\n");
    }
    return text;
}

QString awaitAnswer(int code, const QString &ackBody)
{
    QString text = QStringLiteral("<recv response=\"100\" optional=\"true\"/>\n"
                                  "<recv response=\"180\" optional=\"true\"/>\n");
    text += QStringLiteral("<recv response=\"%1\">\n").arg(code) + keepPeer(QStringLiteral("To:"))
        + QStringLiteral("</recv>\n");
    if (code == 200) {
        text += sendBlock(withBody(QStringLiteral("ACK [$peercontact] SIP/2.0\n"
                                                  "Via: SIP/2.0/UDP [local_ip]:[local_port];branch=[branch]\n"
                                                  "From: {{FROM}};tag=[pid]caller[call_number]\n"
                                                  "To: [$peerfrom]\n"
                                                  "Call-ID: [call_id]\nCSeq: 1 ACK\nMax-Forwards: 70\n"),
            ackBody));
    } else {
        text += sendBlock(
            QStringLiteral("ACK sip:{{USER}}@127.0.0.1:{{PHONE_PORT}} SIP/2.0\n"
                           "[last_Via:]\n"
                           "From: {{FROM}};tag=[pid]caller[call_number]\n"
                           "[last_To:]\n"
                           "Call-ID: [call_id]\nCSeq: 1 ACK\nMax-Forwards: 70\nContent-Length: 0\n"));
    }
    return text;
}

namespace {
// The From lines of sipp as the caller (it sent the INVITE) and as the callee (it answered).
const QString CALLER_FROM = QStringLiteral("From: {{FROM}};tag=[pid]caller[call_number]\n");
const QString CALLEE_FROM
    = QStringLiteral("From: <sip:{{PEER}}@[local_ip]:[local_port]>;tag=[pid]peer[call_number]\n");

QString inDialogRequest(const QString &from, const QString &method, int cseq, const QString &body,
    const QString &extraHeaders, const QString &contentType = SDP_TYPE)
{
    return sendBlock(
        withBody(QStringLiteral("%1 [$peercontact] SIP/2.0\n"
                                "Via: SIP/2.0/UDP [local_ip]:[local_port];branch=[branch]\n")
                     .arg(method)
                + from
                + QStringLiteral("To: [$peerfrom]\n"
                                 "Call-ID: [call_id]\nCSeq: %2 %1\n"
                                 "Contact: <sip:{{PEER}}@[local_ip]:[local_port]>\nMax-Forwards: 70\n")
                      .arg(method)
                      .arg(cseq)
                + extraHeaders,
            body, contentType),
        method != QLatin1String("ACK")); // an ACK gets no response: never retransmitted
}
} // namespace

QString callerRequest(const QString &method, int cseq, const QString &body, const QString &extraHeaders)
{
    return inDialogRequest(CALLER_FROM, method, cseq, body, extraHeaders);
}

QString calleeRequest(const QString &method, int cseq, const QString &body, const QString &extraHeaders)
{
    return inDialogRequest(CALLEE_FROM, method, cseq, body, extraHeaders);
}

QString expect(const QString &method, const QString &body, int code, const QString &reason)
{
    return QStringLiteral("<recv request=\"%1\"/>\n").arg(method) + respond(code, reason, false, body);
}

QString referNotify(bool callerSide, int cseq, int code, const QString &reason)
{
    // The implicit subscription of a REFER ends with the final status of the new call.
    const QString state
        = code >= 200 ? QStringLiteral("terminated;reason=noresource") : QStringLiteral("active;expires=60");
    return inDialogRequest(callerSide ? CALLER_FROM : CALLEE_FROM, QStringLiteral("NOTIFY"), cseq,
        QStringLiteral("SIP/2.0 %1 %2\n").arg(code).arg(reason),
        QStringLiteral("Event: refer\nSubscription-State: %1\n").arg(state),
        QStringLiteral("message/sipfrag"));
}

QString expectResponse(int code)
{
    // A phone may say 100 Trying before a final response to an INVITE.
    return QStringLiteral("<recv response=\"100\" optional=\"true\"/>\n<recv response=\"%1\"/>\n").arg(code);
}

QString pause(int msecs)
{
    return QStringLiteral("<pause milliseconds=\"%1\"/>\n").arg(msecs);
}

} // namespace SippScenario
