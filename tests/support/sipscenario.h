#pragma once

#include <QMap>
#include <QString>

// Building blocks of sipp scenarios for a SIP phone under test. Every function returns XML text
// for SippPeer; "{{KEY}}" placeholders are filled by SippPeer::set(). Common keys:
//   USER, PASSWORD  the phone's account at the registrar
//   PHONE_PORT      the phone's SIP port (from its REGISTER Contact)
//   PEER            the user name sipp answers or calls as (default set by the helpers' callers)
// Variables the steps keep ([$peerfrom] etc.) are listed in the wrapper's Reference element.
namespace SippScenario {

// A registrar with digest authentication: the first REGISTER of a Call-ID gets 401, the second
// is checked against PASSWORD (any user name) and gets 200 (Expires `expires`, 60 unless given) or,
// with a wrong password, 403.
// The registration then waits for the un-REGISTER (Expires: 0) and answers it 200, so a phone
// that is stopped leaves at once. `outgoing`: steps run for each INVITE the phone sends to the
// registrar (each with its own Call-ID); `afterRegister`: steps between the 200 and the
// un-REGISTER. sipp must be started with as many calls as Call-IDs the test expects.
QString registrar(
    const QString &outgoing = QString(), const QString &afterRegister = QString(), int expires = 60);
// The same registrar where the steps depend on the number the phone dials (the user part of the
// INVITE's request URI): `outgoingByNumber` maps each number to its steps; any other number is
// answered 404.
QString registrar(const QMap<QString, QString> &outgoingByNumber, const QString &afterRegister = QString(),
    int expires = 60);

// A caller that sends INVITE to sip:USER@127.0.0.1:PHONE_PORT from FROM (a complete address,
// display name included), with `sdp` as body (empty: no body), then runs `steps`.
QString caller(const QString &steps, const QString &sdp = QString());

// The SDP that sipp offers or answers: PCMU and telephone-event on {{MEDIA_PORT}}, with the
// given direction attribute ("sendrecv", "sendonly").
// `version` is the o= session version: a re-offer must raise it to be taken as a change.
// `media`: replaces the m= and a=rtpmap lines (e.g. an offer with a codec the phone lacks).
QString sdp(
    const QString &direction = QStringLiteral("sendrecv"), int version = 1, const QString &media = QString());

// Steps of a callee (sipp answering the INVITE just received): 180, then the final response.
// code 200 sends the SDP answer and waits for the ACK.
QString answer(int code, const QString &reason);
// A response to the request just received; `tag` adds sipp's To tag (first response of a dialog).
QString respond(int code, const QString &reason, bool tag = false, const QString &body = QString());

// Steps of the caller side after its INVITE: wait for the final response `code` (200: send ACK,
// with `ackBody` as SDP answer when the INVITE offered none).
QString awaitAnswer(int code, const QString &ackBody = QString());

// An in-dialog request from the caller side (it sent the INVITE) or from the callee side
// (it answered the phone's INVITE), with an optional SDP body and a fixed CSeq.
QString callerRequest(const QString &method, int cseq, const QString &body = QString(),
    const QString &extraHeaders = QString());
QString calleeRequest(const QString &method, int cseq, const QString &body = QString(),
    const QString &extraHeaders = QString());

// Expect a request from the phone and answer it 200 (with `body` if given), or with `code`.
QString expect(const QString &method, const QString &body = QString(), int code = 200,
    const QString &reason = QStringLiteral("OK"));
// A NOTIFY of the progress of a REFER the phone sent (RFC 3515): the sipfrag "SIP/2.0 code
// reason"; a final code ends the subscription. `callerSide`: sipp sent the dialog's INVITE.
QString referNotify(bool callerSide, int cseq, int code, const QString &reason);
// Expect a response from the phone.
QString expectResponse(int code);
QString pause(int msecs);

} // namespace SippScenario
