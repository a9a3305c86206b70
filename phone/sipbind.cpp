#include "phone/sipbind.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const char SIP_SECTION[] = "sip";
const char BIND_KEY[] = "bind_address";

// The library's own choice when nothing is configured: every interface, IPv6 and IPv4.
const char EVERY_INTERFACE[] = "::0";

QString bound_address(LinphoneConfig *config)
{
    return QString::fromUtf8(linphone_config_get_string(config, SIP_SECTION, BIND_KEY, ""));
}
} // namespace

QString local_address_towards(const QString &host, int port)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    if (host.isEmpty()
        || ::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found)
            != 0)
        return QString();
    QString local;
    for (addrinfo *ai = found; ai && local.isEmpty(); ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        sockaddr_storage own {};
        socklen_t length = sizeof own;
        char text[NI_MAXHOST] = {};
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr *>(&own), &length) == 0
            && ::getnameinfo(
                   reinterpret_cast<sockaddr *>(&own), length, text, sizeof text, nullptr, 0, NI_NUMERICHOST)
                == 0)
            local = QString::fromLatin1(text);
        ::close(fd);
    }
    ::freeaddrinfo(found);
    return local;
}

QString bind_sip_towards(LinphoneCore *core, const QString &host, int port)
{
    const QString local = local_address_towards(host, port);
    LinphoneConfig *config = linphone_core_get_config(core);
    const QString wanted = local.isEmpty() ? QString::fromLatin1(EVERY_INTERFACE) : local;
    const QString current = bound_address(config);
    if (wanted == current || (current.isEmpty() && local.isEmpty()))
        return local;

    linphone_config_set_string(config, SIP_SECTION, BIND_KEY, wanted.toUtf8().constData());
    // The library reopens its sockets only when the transports change: closed, then the same
    // transports again.
    LinphoneTransports *transports = linphone_core_get_transports(core);
    LinphoneTransports *closed = linphone_factory_create_transports(linphone_factory_get());
    linphone_transports_set_udp_port(closed, 0);
    linphone_transports_set_tcp_port(closed, 0);
    linphone_transports_set_tls_port(closed, 0);
    linphone_transports_set_dtls_port(closed, 0);
    linphone_core_set_transports(core, closed);
    linphone_core_set_transports(core, transports);
    linphone_transports_unref(closed);
    linphone_transports_unref(transports);
    return local;
}
