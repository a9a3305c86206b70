#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>

// One request as the server received it.
struct HttpRequest
{
    QByteArray method; // "GET", "POST", ...
    QByteArray target; // request target as sent: path and query, still encoded
    QByteArray path; // target up to "?"
    QByteArray query; // target after "?" (encoded); empty without one
    bool hasQuery = false; // the target held a "?" (possibly with nothing after it)
    QMap<QByteArray, QByteArray> headers; // names in lower case; the last of repeated headers
    QByteArray body;
    bool tls = false; // arrived over HTTPS
    qint64 receivedNs = 0; // steady clock (std::chrono::steady_clock) when complete

    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
};

// What the server answers to a path.
struct HttpReply
{
    int status = 200;
    QByteArray contentType = QByteArrayLiteral("text/html; charset=utf-8");
    QByteArray body = QByteArrayLiteral("<html><body>ok</body></html>");
    int delayMs = 0; // wait this long before answering
    bool dropConnection = false; // close the connection without any answer

    static HttpReply noBody(int status = 204);
    static HttpReply error(int status);
    static HttpReply slow(int delayMs);
};

// A local web server for tests: HTTP or HTTPS on 127.0.0.1 and a port the system picks. It
// records every request (method, target, headers, body) and answers what the test set for the
// path, otherwise the default reply (200 with a small page; 404 for /favicon.ico, which web
// engines ask for with every page). In HTTPS mode it makes its own self-signed certificate for
// "localhost" and 127.0.0.1 with the openssl command into a temporary directory.
//
// It lives on the thread that created it and answers from that thread's event loop, so a test
// waits with QTRY_* (or any event loop) while the client under test works.
class HttpTestServer : public QObject
{
    Q_OBJECT

public:
    enum Mode { Http, Https };

    explicit HttpTestServer(Mode mode = Http, QObject *parent = nullptr);
    ~HttpTestServer() override;

    // Listens on 127.0.0.1; false (and errorString()) when the port or the certificate failed.
    bool start();
    void stop();
    bool isListening() const;
    quint16 port() const;
    QString errorString() const { return m_error; }
    // "http://127.0.0.1:<port><path>" (https in HTTPS mode).
    QUrl url(const QString &path = QStringLiteral("/")) const;
    QSslCertificate certificate() const { return m_certificate; }

    void setReply(const QByteArray &path, const HttpReply &reply);
    void setDefaultReply(const HttpReply &reply);

    QList<HttpRequest> requests() const { return m_requests; }
    // Requests for one path (the favicon fetches are thus left out).
    QList<HttpRequest> requests(const QByteArray &path) const;
    void clearRequests() { m_requests.clear(); }

    // "a=1&b=x+y" → [("a","1"), ("b","x y")]: form decoding as a web application does it
    // ("+" is a blank, percent escapes are UTF-8). Fields keep their order; a field without
    // "=" has an empty value.
    static QList<QPair<QString, QString>> formFields(const QByteArray &encoded);

    // Makes a self-signed certificate and key (PEM) in `dir` with the openssl command.
    static bool makeCertificate(const QString &dir, QString *certPath, QString *keyPath, QString *error);

signals:
    void requestReceived(const HttpRequest &request);

private:
    class Listener;
    void handleConnection(QTcpSocket *socket);
    void readFrom(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const HttpRequest &request);

    Mode m_mode;
    Listener *m_listener;
    QTemporaryDir m_certDir;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QString m_error;
    QMap<QByteArray, HttpReply> m_replies;
    HttpReply m_defaultReply;
    QList<HttpRequest> m_requests;
    QMap<QTcpSocket *, QByteArray> m_buffers;
};

Q_DECLARE_METATYPE(HttpRequest)
