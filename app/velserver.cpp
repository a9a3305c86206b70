#include "app/velserver.h"

#include "app/activationmessage.h"
#include "app/vellogger.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int PROBE_TIMEOUT_MS = 1000;
// A later start writes its message at once and closes; one that keeps the channel open longer
// is not waited for.
constexpr int MESSAGE_TIMEOUT_MS = 5000;

// True when the peer of a connected local socket runs as the same user as this process.
bool peerIsSameUser(QLocalSocket *socket)
{
    struct ucred cred
    {
    };
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

void drop_message(const QString &why)
{
    VelLogger().log(QStringLiteral("activation message dropped: ") + why, LEVEL_WARNING);
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
    // Connections still open end with the server, unread.
    for (QLocalSocket *socket : m_server->findChildren<QLocalSocket *>())
        disconnect(socket, nullptr, this, nullptr);
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
    // Take every pending connection so the queue never fills up. Another user's connection is
    // closed unread; ours raises the window at once and may still bring a message.
    bool raise = false;
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (!peerIsSameUser(socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        raise = true;
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read_message(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { finish_message(socket); });
        QTimer::singleShot(MESSAGE_TIMEOUT_MS, socket, [this, socket] {
            m_messages.remove(socket);
            disconnect(socket, nullptr, this, nullptr);
            socket->abort();
            socket->deleteLater();
            drop_message(QStringLiteral("not finished within %1 ms").arg(MESSAGE_TIMEOUT_MS));
        });
        if (socket->state() == QLocalSocket::UnconnectedState)
            finish_message(socket);
    }
    if (raise && m_window) {
        m_window->activateWindow();
        m_window->show();
    }
}

void VelServer::read_message(QLocalSocket *socket)
{
    QByteArray &message = m_messages[socket];
    message += socket->readAll();
    if (message.size() <= ActivationMessage::MAX_BYTES)
        return;
    m_messages.remove(socket);
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
    drop_message(QStringLiteral("more than %1 bytes").arg(ActivationMessage::MAX_BYTES));
}

void VelServer::finish_message(QLocalSocket *socket)
{
    QByteArray message = m_messages.take(socket);
    if (socket->isOpen())
        message += socket->readAll();
    disconnect(socket, nullptr, this, nullptr);
    socket->deleteLater();
    // No message: a plain start, which only raises the window.
    if (message.isEmpty())
        return;
    QString link;
    QString error;
    if (ActivationMessage::read(message, &link, &error))
        emit signal_dial_link(link);
    else
        drop_message(error);
}
