#pragma once

#include <QObject>
#include <QString>

class QLocalSocket;

// A later start's end of the activation channel: connecting is the whole message.
class VelClient : public QObject
{
    Q_OBJECT
public:
    explicit VelClient(QObject *parent = nullptr);
    ~VelClient() override;

    // Connects and waits up to 30 s; the outcome does not matter to the caller.
    void connect_to_server(const QString &name);

private:
    QLocalSocket *m_socket;
};
