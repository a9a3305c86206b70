#include "app/velclient.h"

#include <QLocalSocket>

namespace {
constexpr int CONNECT_TIMEOUT_MS = 30000;
constexpr int WRITE_TIMEOUT_MS = 5000;
} // namespace

VelClient::VelClient(QObject *parent)
    : QObject(parent)
    , m_socket(new QLocalSocket)
{ }

VelClient::~VelClient()
{
    m_socket->disconnectFromServer();
    delete m_socket;
}

void VelClient::connect_to_server(const QString &name, const QByteArray &message)
{
    m_socket->connectToServer(name, QIODevice::ReadWrite);
    if (!m_socket->waitForConnected(CONNECT_TIMEOUT_MS) || message.isEmpty())
        return;
    // The server reads until this end closes: written out in full before the destructor
    // disconnects.
    m_socket->write(message);
    while (m_socket->bytesToWrite() > 0 && m_socket->waitForBytesWritten(WRITE_TIMEOUT_MS)) { }
}
