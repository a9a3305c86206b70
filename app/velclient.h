#pragma once

#include <QObject>
#include <QString>

class QLocalSocket;

// A later start's end of the activation channel: connecting raises the running bar; a start
// with something to dial also sends one small message (ActivationMessage).
class VelClient : public QObject
{
    Q_OBJECT
public:
    explicit VelClient(QObject *parent = nullptr);
    ~VelClient() override;

    // Connects and waits up to 30 s, then sends `message` if there is one; the outcome does not
    // matter to the caller.
    void connect_to_server(const QString &name, const QByteArray &message = QByteArray());

private:
    QLocalSocket *m_socket;
};
