// Where the SIP socket listens. By default the library listens on every interface, so anyone
// who reaches the operator's machine can send the phone SIP messages; the phone only needs
// the interface through which its server is reached.
#pragma once

#include <QString>

#include <linphone/core.h>

// The local address (numeric text) that the routing table picks for reaching host:port, as a
// connected UDP socket finds it (nothing is sent); empty when the host does not resolve or
// has no route.
QString local_address_towards(const QString &host, int port);

// Binds the core's SIP socket to the local address that reaches host:port ([sip] bind_address,
// then the transports applied anew, which opens the socket again on a new random port). Where
// no such address is found it listens on every interface again. Returns the address bound,
// empty for every interface. Nothing is reopened when the address stays the same.
QString bind_sip_towards(LinphoneCore *core, const QString &host, int port);
