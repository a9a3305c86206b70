#include "tests/support/http/httptestserver.h"

#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>

namespace {
const QByteArray HEADER_END = QByteArrayLiteral("\r\n\r\n");
const QByteArray FAVICON = QByteArrayLiteral("/favicon.ico");

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

HttpReply HttpReply::noBody(int status)
{
    HttpReply reply;
    reply.status = status;
    reply.contentType.clear();
    reply.body.clear();
    return reply;
}

HttpReply HttpReply::error(int status)
{
    HttpReply reply;
    reply.status = status;
    reply.body = QByteArrayLiteral("<html><body>error</body></html>");
    return reply;
}

HttpReply HttpReply::slow(int delayMs)
{
    HttpReply reply;
    reply.delayMs = delayMs;
    return reply;
}

class HttpTestServer::Listener : public QTcpServer
{
public:
    explicit Listener(HttpTestServer *owner)
        : QTcpServer(owner)
        , m_owner(owner)
    { }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        QTcpSocket *socket;
        if (m_owner->m_mode == Https) {
            auto *ssl = new QSslSocket(this);
            ssl->setSocketDescriptor(descriptor);
            ssl->setLocalCertificate(m_owner->m_certificate);
            ssl->setPrivateKey(m_owner->m_key);
            ssl->setPeerVerifyMode(QSslSocket::VerifyNone);
            ssl->startServerEncryption();
            socket = ssl;
        } else {
            socket = new QTcpSocket(this);
            socket->setSocketDescriptor(descriptor);
        }
        m_owner->handleConnection(socket);
    }

private:
    HttpTestServer *m_owner;
};

HttpTestServer::HttpTestServer(Mode mode, QObject *parent)
    : QObject(parent)
    , m_mode(mode)
    , m_listener(new Listener(this))
{
    qRegisterMetaType<HttpRequest>();
    m_replies.insert(FAVICON, HttpReply::error(404));
}

HttpTestServer::~HttpTestServer()
{
    stop();
}

bool HttpTestServer::makeCertificate(const QString &dir, QString *certPath, QString *keyPath, QString *error)
{
    *certPath = dir + QStringLiteral("/cert.pem");
    *keyPath = dir + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
            QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
            QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1"), QStringLiteral("-keyout"), *keyPath,
            QStringLiteral("-out"), *certPath });
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit
        || openssl.exitCode() != 0) {
        *error = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(openssl.readAll());
        return false;
    }
    return true;
}

bool HttpTestServer::start()
{
    if (m_mode == Https && m_certificate.isNull()) {
        QString certPath, keyPath;
        if (!m_certDir.isValid()) {
            m_error = QStringLiteral("no temporary directory for the certificate");
            return false;
        }
        if (!makeCertificate(m_certDir.path(), &certPath, &keyPath, &m_error))
            return false;
        QFile cert(certPath), key(keyPath);
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
            m_error = QStringLiteral("cannot read the certificate files");
            return false;
        }
        m_certificate = QSslCertificate(&cert, QSsl::Pem);
        m_key = QSslKey(&key, QSsl::Ec, QSsl::Pem);
        if (m_certificate.isNull() || m_key.isNull()) {
            m_error = QStringLiteral("the certificate or key made by openssl cannot be read");
            return false;
        }
    }
    if (!m_listener->listen(QHostAddress::LocalHost, 0)) {
        m_error = m_listener->errorString();
        return false;
    }
    return true;
}

void HttpTestServer::stop()
{
    m_listener->close();
    const QList<QTcpSocket *> sockets = m_buffers.keys();
    m_buffers.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

bool HttpTestServer::isListening() const
{
    return m_listener->isListening();
}

quint16 HttpTestServer::port() const
{
    return m_listener->serverPort();
}

QUrl HttpTestServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                    .arg(m_mode == Https ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(port())
                    .arg(path));
}

void HttpTestServer::setReply(const QByteArray &path, const HttpReply &reply)
{
    m_replies.insert(path, reply);
}

void HttpTestServer::setDefaultReply(const HttpReply &reply)
{
    m_defaultReply = reply;
}

QList<HttpRequest> HttpTestServer::requests(const QByteArray &path) const
{
    QList<HttpRequest> result;
    for (const HttpRequest &r : m_requests) {
        if (r.path == path)
            result.append(r);
    }
    return result;
}

QList<QPair<QString, QString>> HttpTestServer::formFields(const QByteArray &encoded)
{
    QList<QPair<QString, QString>> fields;
    if (encoded.isEmpty())
        return fields;
    for (QByteArray part : encoded.split('&')) {
        part.replace('+', ' ');
        const int eq = part.indexOf('=');
        const QByteArray name = eq < 0 ? part : part.left(eq);
        const QByteArray value = eq < 0 ? QByteArray() : part.mid(eq + 1);
        fields.append({ QString::fromUtf8(QByteArray::fromPercentEncoding(name)),
            QString::fromUtf8(QByteArray::fromPercentEncoding(value)) });
    }
    return fields;
}

void HttpTestServer::handleConnection(QTcpSocket *socket)
{
    m_buffers.insert(socket, QByteArray());
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        m_buffers.remove(socket);
        socket->deleteLater();
    });
}

void HttpTestServer::readFrom(QTcpSocket *socket)
{
    if (!m_buffers.contains(socket))
        return;
    m_buffers[socket] += socket->readAll();

    // A connection may carry several requests one after the other. An answer may close the
    // connection, which drops its buffer.
    while (m_buffers.contains(socket)) {
        QByteArray &buffer = m_buffers[socket];
        const int headerEnd = buffer.indexOf(HEADER_END);
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        HttpRequest request;
        const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
        request.method = start.value(0);
        request.target = start.value(1);
        const int q = request.target.indexOf('?');
        request.hasQuery = q >= 0;
        request.path = q < 0 ? request.target : request.target.left(q);
        request.query = q < 0 ? QByteArray() : request.target.mid(q + 1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(
                    lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const int length = request.header("Content-Length").toInt();
        const int bodyStart = headerEnd + HEADER_END.size();
        if (buffer.size() < bodyStart + length)
            return;
        request.body = buffer.mid(bodyStart, length);
        buffer.remove(0, bodyStart + length);
        request.tls = m_mode == Https;
        request.receivedNs = steadyNowNs();
        m_requests.append(request);
        emit requestReceived(request);
        answer(socket, request);
    }
}

void HttpTestServer::answer(QTcpSocket *socket, const HttpRequest &request)
{
    const HttpReply reply = m_replies.value(request.path, m_defaultReply);
    QPointer<QTcpSocket> guarded(socket);
    auto send = [guarded, reply] {
        if (!guarded || guarded->state() != QAbstractSocket::ConnectedState)
            return;
        if (reply.dropConnection) {
            guarded->abort();
            return;
        }
        QByteArray head
            = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
        if (!reply.contentType.isEmpty())
            head += "Content-Type: " + reply.contentType + "\r\n";
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        head += "Cache-Control: no-store\r\n\r\n";
        guarded->write(head + reply.body);
    };
    if (reply.delayMs > 0)
        QTimer::singleShot(reply.delayMs, this, send);
    else
        send();
}
