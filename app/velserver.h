#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QWidget;

// The running instance's end of the activation channel. A connection from a later start of the
// same user brings the main window to the front at once; if the start sends a message
// (ActivationMessage) before it closes, a link to dial in it is passed on with
// signal_dial_link. Malformed, oversized or unfinished messages are dropped with a log line.
class VelServer : public QObject
{
    Q_OBJECT
public:
    explicit VelServer(const QString &name, QObject *parent = nullptr);
    ~VelServer() override;

    void set_window(QWidget *window);
    bool isListening() const;

signals:
    // A later start handed over this link or number (not yet checked).
    void signal_dial_link(const QString &link);

private slots:
    void solt_socket_new_connection();

private:
    void read_message(QLocalSocket *socket);
    void finish_message(QLocalSocket *socket);

    QLocalServer *m_server;
    QPointer<QWidget> m_window;
    // What each open connection has sent so far.
    QHash<QLocalSocket *, QByteArray> m_messages;
};
