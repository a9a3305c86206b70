#include "velserver.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int PROBE_TIMEOUT_MS = 1000;

// True when the peer of a connected local socket runs as the same user as this process.
bool peerIsSameUser(QLocalSocket *socket)
{
    struct ucred cred {};
    socklen_t len = sizeof(cred);
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return false;
    return cred.uid == ::getuid();
}
bool nameIsLive(const QString &name)
{
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool live = probe.waitForConnected(PROBE_TIMEOUT_MS);
    probe.abort();
    return live;
}
} // namespace

VelServer::VelServer(const QString &name, QObject *parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    // Only this user may open the channel; another operator's start never raises our window.
    // With this option Qt replaces an existing socket file instead of failing, which would
    // silently take the name from a live server: listen only when nothing answers on it. A
    // crashed instance's socket file answers nothing and is replaced.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!nameIsLive(name) && !m_server->listen(name)) {
        if (QLocalServer::removeServer(name))
            m_server->listen(name);
    }
    connect(m_server, &QLocalServer::newConnection, this, &VelServer::solt_socket_new_connection);
}

VelServer::~VelServer()
{
    m_server->close();
    delete m_server;
}

void VelServer::set_window(QWidget *window)
{
    m_window = window;
}

bool VelServer::isListening() const
{
    return m_server->isListening();
}

void VelServer::solt_socket_new_connection()
{
    // Take every pending connection so the queue never fills up; the connection itself is
    // the message, nothing is read from it.
    bool raise = false;
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        raise = raise || peerIsSameUser(socket);
        socket->disconnectFromServer();
        socket->deleteLater();
    }
    if (raise && m_window) {
        m_window->activateWindow();
        m_window->show();
    }
}
