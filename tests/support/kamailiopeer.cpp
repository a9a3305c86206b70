#include "tests/support/kamailiopeer.h"

#include "tests/support/sipppeer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {
const QString KAMAILIO_MODULES = QStringLiteral("/usr/lib/x86_64-linux-gnu/kamailio/modules/");
constexpr int START_WAIT_MS = 10000;
constexpr int STOP_WAIT_MS = 5000;

// The configuration, with {{PLACEHOLDERS}} for the ports, files and password of each test.
const char CONFIG_TEMPLATE_FILE[] = TARSEL_KAMAILIO_CONFIG;
} // namespace

int find_free_tcp_port()
{
    QTcpServer server;
    if (!server.listen(QHostAddress(QHostAddress::LocalHost), 0))
        return -1;
    return server.serverPort();
}

KamailioPeer::KamailioPeer(const QString &password, const QString &certificateHost)
    : m_password(password)
    , m_certificateHost(certificateHost)
    , m_udpPort(find_free_udp_port())
    , m_tcpPort(find_free_tcp_port())
    , m_tlsPort(find_free_tcp_port())
{
    // Two ports asked for one after the other may be the same.
    while (m_tlsPort == m_tcpPort)
        m_tlsPort = find_free_tcp_port();
}

KamailioPeer::~KamailioPeer()
{
    stop();
}

QString KamailioPeer::caFile() const
{
    return m_dir.filePath(QStringLiteral("ca.pem"));
}

QString KamailioPeer::otherCaFile() const
{
    return m_dir.filePath(QStringLiteral("other-ca.pem"));
}

QString KamailioPeer::configFile() const
{
    return m_dir.filePath(QStringLiteral("kamailio.cfg"));
}

bool KamailioPeer::runOpenssl(const QStringList &arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(m_dir.path());
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (openssl.waitForFinished(20000) && openssl.exitStatus() == QProcess::NormalExit
        && openssl.exitCode() == 0)
        return true;
    m_error = QStringLiteral("openssl %1 failed: %2")
                  .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(openssl.readAll()));
    return false;
}

bool KamailioPeer::makeCertificates()
{
    const QStringList key = { QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes") };
    auto makeCa = [&](const QString &name, const QString &subject) {
        return runOpenssl(QStringList { QStringLiteral("req"), QStringLiteral("-x509") } + key
            + QStringList { QStringLiteral("-keyout"), name + QStringLiteral(".key"), QStringLiteral("-out"),
                name + QStringLiteral(".pem"), QStringLiteral("-days"), QStringLiteral("2"),
                QStringLiteral("-subj"), subject });
    };
    if (!makeCa(QStringLiteral("ca"), QStringLiteral("/CN=Tarsel Test CA"))
        || !makeCa(QStringLiteral("other-ca"), QStringLiteral("/CN=Tarsel Unrelated CA")))
        return false;
    if (!runOpenssl(QStringList { QStringLiteral("req") } + key
            + QStringList { QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                QStringLiteral("server.csr"), QStringLiteral("-subj"),
                QStringLiteral("/CN=") + m_certificateHost }))
        return false;
    // The name goes into subjectAltName too: clients check that first.
    const bool isAddress = !QHostAddress(m_certificateHost).isNull();
    QFile extensions(m_dir.filePath(QStringLiteral("server.ext")));
    if (!extensions.open(QIODevice::WriteOnly))
        return false;
    extensions.write(
        QStringLiteral("subjectAltName=DNS:%1%2\n")
            .arg(m_certificateHost, isAddress ? QStringLiteral(",IP:") + m_certificateHost : QString())
            .toUtf8());
    extensions.close();
    return runOpenssl({ QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
        QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
        QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
        QStringLiteral("-out"), QStringLiteral("server.pem"), QStringLiteral("-days"),
        m_certificateExpired ? QStringLiteral("-1") : QStringLiteral("2"), QStringLiteral("-extfile"),
        QStringLiteral("server.ext") });
}

QString KamailioPeer::config() const
{
    QFile file(QString::fromUtf8(CONFIG_TEMPLATE_FILE));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QStringLiteral("{{UDP_PORT}}"), QString::number(m_udpPort));
    text.replace(QStringLiteral("{{TCP_PORT}}"), QString::number(m_tcpPort));
    text.replace(QStringLiteral("{{TLS_PORT}}"), QString::number(m_tlsPort));
    text.replace(QStringLiteral("{{MODULES}}"), KAMAILIO_MODULES);
    text.replace(QStringLiteral("{{CERTIFICATE}}"), m_dir.filePath(QStringLiteral("server.pem")));
    text.replace(QStringLiteral("{{PRIVATE_KEY}}"), m_dir.filePath(QStringLiteral("server.key")));
    text.replace(QStringLiteral("{{PASSWORD}}"), m_password);
    text.replace(QStringLiteral("{{GATEWAY_PORT}}"), QString::number(m_gatewayPort));
    return text;
}

bool KamailioPeer::start()
{
    if (!m_dir.isValid() || m_udpPort <= 0 || m_tcpPort <= 0 || m_tlsPort <= 0) {
        m_error = QStringLiteral("no temporary directory or free ports");
        return false;
    }
    if (!m_certificatesMade && !(m_certificatesMade = makeCertificates()))
        return false;
    const QString text = config();
    QFile file(configFile());
    if (text.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = QStringLiteral("no configuration written from ") + QString::fromUtf8(CONFIG_TEMPLATE_FILE);
        return false;
    }
    file.write(text.toUtf8());
    file.close();

    ++m_runs;
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("kamailio.log")), QIODevice::Append);
    // In the foreground with its worker processes, logging to stderr; its runtime files stay
    // in the temporary directory.
    m_process.start(QStringLiteral("kamailio"),
        { QStringLiteral("-f"), configFile(), QStringLiteral("-DD"), QStringLiteral("-E"),
            QStringLiteral("-Y"), m_dir.path(), QStringLiteral("-m"), QStringLiteral("64"),
            QStringLiteral("-M"), QStringLiteral("8") });
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("kamailio did not start: ") + m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(START_WAIT_MS);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress(QHostAddress::LocalHost), m_tlsPort);
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    m_error = QStringLiteral("kamailio is not listening on TLS port %1").arg(m_tlsPort);
    return false;
}

void KamailioPeer::stop()
{
    end_process(m_process, STOP_WAIT_MS);
}

bool KamailioPeer::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

QString KamailioPeer::report() const
{
    QString text = m_error.isEmpty() ? QString() : QStringLiteral("harness: ") + m_error + QLatin1Char('\n');
    QFile log(m_dir.filePath(QStringLiteral("kamailio.log")));
    if (log.open(QIODevice::ReadOnly))
        text += QStringLiteral("kamailio:\n") + QString::fromUtf8(log.readAll()).right(6000);
    return text;
}
