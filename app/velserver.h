#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QLocalServer;
class QWidget;

// The running instance's end of the activation channel: a connection from a later start is
// the whole message, and brings the main window to the front.
class VelServer : public QObject
{
    Q_OBJECT
public:
    explicit VelServer(const QString &name, QObject *parent = nullptr);
    ~VelServer() override;

    void set_window(QWidget *window);
    bool isListening() const;

private slots:
    void solt_socket_new_connection();

private:
    QLocalServer *m_server;
    QPointer<QWidget> m_window;
};
