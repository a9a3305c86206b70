#include "ui/operator/operatorstatus.h"
#include "store/settingskeys.h"

#include "app/constants.h"
#include "app/messagebox.h"
#include "app/vellogger.h"
#include "phone/velphone.h"
#include "store/veldata.h"
#include "ui/operator/operatorlogin.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <cmath>
#include <limits>

namespace {
constexpr int RESULT_OK = 0;
constexpr int RESULT_AUTH_ERROR = 1;
constexpr int RESULT_SYSTEM_ERROR = 99;
constexpr int RESULT_NONE = 100;

// A JSON number (or numeric text) as the integer result, truncated toward zero; anything
// that is not a number, or does not fit, counts as no result.
int toResult(const QJsonValue &value)
{
    double number = 0;
    if (value.isDouble()) {
        number = value.toDouble();
    } else if (value.isString()) {
        bool ok = false;
        number = value.toString().trimmed().toDouble(&ok);
        if (!ok)
            return RESULT_NONE;
    } else {
        return RESULT_NONE;
    }
    if (!std::isfinite(number) || number >= double(std::numeric_limits<int>::max()) + 1.0
        || number <= double(std::numeric_limits<int>::min()) - 1.0)
        return RESULT_NONE;
    return int(std::trunc(number));
}

QString toMessage(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble() || value.isBool())
        return value.toVariant().toString();
    return QString();
}
} // namespace

OperatorStatus::OperatorStatus(VelData *store, VelPhone *phone, VelLogger *logger, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_phone(phone)
    , m_logger(logger)
    , m_network(new QNetworkAccessManager(this))
{ }

void OperatorStatus::set_login_dialog(OperatorLogin *dialog)
{
    m_login = dialog;
}

int OperatorStatus::status_code(int index)
{
    switch (index) {
    case 1:
        return 1;
    case 2:
        return 11;
    case 3:
        return 12;
    case 4:
        return 13;
    default:
        return 0;
    }
}

QString OperatorStatus::cti_url(const QString &address) const
{
    return CTI_SCHEME + address + CTI_PATH;
}

QByteArray OperatorStatus::request_body(
    const QString &username, const QString &password, const QString &status)
{
    return QByteArrayLiteral("action=") + QUrl::toPercentEncoding(CTI_ACTION_SET_OP_STATUS)
        + QByteArrayLiteral("&username=") + QUrl::toPercentEncoding(username)
        + QByteArrayLiteral("&passwrod=") + QUrl::toPercentEncoding(password) + QByteArrayLiteral("&status=")
        + QUrl::toPercentEncoding(status);
}

OperatorStatus::Reply OperatorStatus::parse_reply(const QByteArray &body)
{
    Reply reply;
    const int zero = body.indexOf('\0');
    const QByteArray text = zero < 0 ? body : body.left(zero);
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject())
        return reply;
    const QJsonObject object = document.object();
    if (object.contains(QStringLiteral("result")))
        reply.result = toResult(object.value(QStringLiteral("result")));
    if (object.contains(QStringLiteral("message")))
        reply.message = toMessage(object.value(QStringLiteral("message")));
    return reply;
}

QString OperatorStatus::reply_text(const Reply &reply)
{
    switch (reply.result) {
    case RESULT_OK:
        return QString();
    case RESULT_AUTH_ERROR:
        return MSG_CTI_AUTH_ERROR + reply.message;
    case RESULT_SYSTEM_ERROR:
        return MSG_CTI_SYSTEM_ERROR + reply.message;
    default:
        return MSG_CTI_SERVER_ERROR + reply.message;
    }
}

void OperatorStatus::send_operator_status(const QMap<QString, QString> &params)
{
    // No connection or TLS session is reused between two reports.
    m_network->clearAccessCache();
    QNetworkRequest request(QUrl(params.value(QStringLiteral("url"))));
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(TRANSFER_TIMEOUT_MS);
    m_network->post(request,
        request_body(params.value(QStringLiteral("username")), params.value(QStringLiteral("password")),
            params.value(QStringLiteral("status"))));
}

void OperatorStatus::set_op_status_finished(QNetworkReply *reply)
{
    if (m_reRegisterAfterReply) {
        // Applies an account change that is still pending; does nothing otherwise.
        if (m_phone)
            m_phone->re_register();
        m_reRegisterAfterReply = false;
    }

    Reply parsed = parse_reply(reply->readAll());
    if (reply->error() != QNetworkReply::NoError) {
        m_logger->log(
            QStringLiteral("operator status request failed: ") + reply->errorString(), LEVEL_WARNING);
        const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
        if (!answered) {
            // No answer at all: a network error, or the transfer time-out (which cancels the
            // request).
            parsed = Reply();
            if (reply->error() == QNetworkReply::OperationCanceledError
                || reply->error() == QNetworkReply::TimeoutError)
                parsed.message = MSG_CTI_NO_ANSWER;
        } else if (parsed.result == RESULT_OK) {
            // An HTTP error status never counts as success; any other result of its body is the
            // server's own reason and is shown as such.
            parsed.result = RESULT_NONE;
        }
    }

    if (parsed.result == RESULT_OK) {
        m_confirmedStatus = m_requestedStatus;
        if (m_login && m_login->isVisible())
            m_login->hide();
        m_loginPending = false;
    } else {
        MessageBox::show(QMessageBox::Warning, TITLE_OPERATOR_LOGIN, reply_text(parsed));
    }
    reply->close();
    reply->deleteLater();
}

void OperatorStatus::ssl_error_handler(QNetworkReply *reply, const QList<QSslError> &errors)
{
    // Call centres run their CTI servers with self-signed certificates: accept them.
    Q_UNUSED(errors)
    reply->ignoreSslErrors();
}

void OperatorStatus::reset_operator_status(const QString &operatorAddress)
{
    if (operatorAddress.isEmpty())
        return;
    send_operator_status(
        { { QStringLiteral("url"), cti_url(operatorAddress) }, { QStringLiteral("username"), m_username },
            { QStringLiteral("password"), m_password }, { QStringLiteral("status"), QStringLiteral("0") } });
    m_firstReset = true;
    m_loginPending = true;
    m_ignoreNextStatusChange = true;
    m_reRegisterAfterReply = true;
}

void OperatorStatus::operator_status_change(int index)
{
    if (m_ignoreNextStatusChange) {
        m_ignoreNextStatusChange = false;
        return;
    }
    m_requestedStatus = status_code(index);
    const QMap<QString, QString> account = m_store->get_account_settings();
    if ((account.value(KEY_OPERATOR_ID).isEmpty() || account.value(KEY_OPERATOR_PW).isEmpty())
        && m_confirmedStatus == 0)
        m_loginPending = true;
    if (m_loginPending && m_login) {
        m_login->activateWindow();
        m_login->show();
        return;
    }
    send_operator_status({ { QStringLiteral("url"), cti_url(account.value(KEY_OPERATOR_ADDRESS)) },
        { QStringLiteral("username"), m_username }, { QStringLiteral("password"), m_password },
        { QStringLiteral("status"), QString::number(m_requestedStatus) } });
}

void OperatorStatus::set_op_status(const QString &username, const QString &password)
{
    const QString address = m_store->get_account_settings().value(KEY_OPERATOR_ADDRESS);
    if (address.isEmpty()) {
        MessageBox::show(QMessageBox::Warning, TITLE_ERROR, MSG_SET_OPERATOR_SERVER);
        return;
    }
    m_username = username;
    m_password = password;
    if (m_ignoreNextStatusChange)
        m_requestedStatus = 1;
    send_operator_status({ { QStringLiteral("url"), cti_url(address) },
        { QStringLiteral("username"), m_username }, { QStringLiteral("password"), m_password },
        { QStringLiteral("status"), QString::number(m_requestedStatus) } });
}

void OperatorStatus::reset_user_status_combox()
{
    m_ignoreNextStatusChange = m_requestedStatus != m_confirmedStatus;
}
