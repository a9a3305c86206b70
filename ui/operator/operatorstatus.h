#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>

class OperatorLogin;
class QNetworkAccessManager;
class QNetworkReply;
class VelData;
class VelLogger;
class VelPhone;

// The operator's status at the call centre's CTI server: one HTTPS form POST of the action
// "set_op_status" per report, whose JSON reply says whether the server accepted it. The main
// window owns one instance and forwards its operator slots to it; it also connects the network
// manager's finished and sslErrors signals to its own slots, which call the handlers here.
class OperatorStatus : public QObject
{
    Q_OBJECT
public:
    // A server that never answers ends in a server error after this long instead of hanging.
    static constexpr int TRANSFER_TIMEOUT_MS = 15000;

    struct Reply
    {
        int result = 100; // no "result" member reads as a server error
        QString message;
    };

    OperatorStatus(VelData *store, VelPhone *phone, VelLogger *logger, QObject *parent = nullptr);

    QNetworkAccessManager *network_manager() const { return m_network; }
    // Nothing creates the login dialog in the present wiring; when one is set it is shown
    // instead of sending while a login is pending, and hidden when the server accepts.
    void set_login_dialog(OperatorLogin *dialog);

    void operator_status_change(int index);
    void set_op_status(const QString &username, const QString &password);
    void reset_user_status_combox();
    void reset_operator_status(const QString &operatorAddress);
    void set_op_status_finished(QNetworkReply *reply);
    void ssl_error_handler(QNetworkReply *reply, const QList<QSslError> &errors);

    int requested_status() const { return m_requestedStatus; }
    int confirmed_status() const { return m_confirmedStatus; }
    bool is_login_pending() const { return m_loginPending; }

    // The form body: field names and order as the server expects them ("passwrod" included),
    // every value percent-encoded so that "&" or "=" in a password cannot add fields.
    static QByteArray request_body(const QString &username, const QString &password, const QString &status);
    // Reads "result" (a number, truncated toward zero) and "message" from a JSON object; a
    // body that is not a JSON object has no result.
    static Reply parse_reply(const QByteArray &body);
    // The text shown for a reply; empty when the server accepted the status.
    static QString reply_text(const Reply &reply);
    static int status_code(int index);

private:
    void send_operator_status(const QMap<QString, QString> &params);
    QString cti_url(const QString &address) const;

    VelData *m_store;
    VelPhone *m_phone;
    VelLogger *m_logger;
    QNetworkAccessManager *m_network;
    QPointer<OperatorLogin> m_login;

    QString m_username;
    QString m_password;
    int m_requestedStatus = 0;
    int m_confirmedStatus = 0;
    bool m_firstReset = true; // set by every reset, read by nothing
    bool m_loginPending = true;
    bool m_ignoreNextStatusChange = false;
    bool m_reRegisterAfterReply = false;
};
