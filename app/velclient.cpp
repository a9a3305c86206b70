#include "velclient.h"

#include <QLocalSocket>

namespace {
constexpr int CONNECT_TIMEOUT_MS = 30000;
}

VelClient::VelClient(QObject *parent)
    : QObject(parent)
    , m_socket(new QLocalSocket)
{
}

VelClient::~VelClient()
{
    m_socket->disconnectFromServer();
    delete m_socket;
}

void VelClient::connect_to_server(const QString &name)
{
    m_socket->connectToServer(name, QIODevice::ReadWrite);
    m_socket->waitForConnected(CONNECT_TIMEOUT_MS);
}
