#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

// Hostile SIP input for the phone's UDP port, all sent from 127.0.0.1 to 127.0.0.1.
namespace HostileSip {

// A datagram of sip-hostile/ ("binary-header-line.sip", "clean-invite.sip") with the recorded
// ports replaced by the phone's and the sender's.
QByteArray datagram(const QString &name, int phonePort, int senderPort);

// Sends the two datagrams that crash the SIP library, in the order that crashes it, 5 ms
// apart, from a fresh socket. False when they could not be sent.
bool sendCrashingPair(int phonePort);

// One mutated message made from a valid INVITE (a fresh Call-ID and branch each): bytes
// flipped, a random byte run inserted, a line doubled or dropped, a header line replaced by
// random bytes without a colon, or the message cut short. The same generator state gives the
// same message.
QByteArray mutatedInvite(QRandomGenerator &random, int phonePort, int senderPort);

} // namespace HostileSip
