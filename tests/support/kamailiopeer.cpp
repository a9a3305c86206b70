#include "kamailiopeer.h"

#include "sipppeer.h"

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

// Requests from connection-oriented clients (which listen nowhere) are answered and reached on
// their connection: their contacts get an alias of the connection's address, which the proxy
// resolves on the way back. REGISTER keeps the connection's address as the contact's
// "received" value instead.
const char CONFIG_TEMPLATE[] = R"cfg(#!KAMAILIO
debug=2
log_stderror=yes
fork=yes
children=2
tcp_children=2
auto_aliases=no
listen=udp:127.0.0.1:{{UDP_PORT}}
listen=tcp:127.0.0.1:{{TCP_PORT}}
listen=tls:127.0.0.1:{{TLS_PORT}}
enable_tls=yes
tcp_connection_lifetime=3605
tcp_accept_no_cl=yes
mpath="{{MODULES}}"
loadmodule "tm.so"
loadmodule "sl.so"
loadmodule "rr.so"
loadmodule "pv.so"
loadmodule "maxfwd.so"
loadmodule "textops.so"
loadmodule "siputils.so"
loadmodule "xlog.so"
loadmodule "usrloc.so"
loadmodule "registrar.so"
loadmodule "auth.so"
loadmodule "nathelper.so"
loadmodule "tls.so"
modparam("tls", "certificate", "{{CERTIFICATE}}")
modparam("tls", "private_key", "{{PRIVATE_KEY}}")
modparam("tls", "verify_certificate", 0)
modparam("tls", "require_certificate", 0)
modparam("tls", "tls_method", "TLSv1.2+")
modparam("usrloc", "db_mode", 0)
modparam("registrar", "gruu_enabled", 0)
modparam("registrar", "received_avp", "$avp(RECEIVED)")
modparam("nathelper", "received_avp", "$avp(RECEIVED)")
modparam("rr", "enable_double_rr", 1)
modparam("rr", "append_fromtag", 1)

request_route {
    xlog("L_INFO", "request $rm $ru from $si:$sp over $proto route [$hdr(Route)]\n");
    if (!mf_process_maxfwd_header("10")) {
        sl_send_reply("483", "Too Many Hops");
        exit;
    }
    if (proto != UDP) {
        force_rport();
        if (!is_method("REGISTER") && is_present_hf("Contact"))
            set_contact_alias();
    }
    if (has_totag()) {
        if (loose_route()) {
            handle_ruri_alias();
            t_relay();
            exit;
        }
        if (is_method("ACK")) {
            if (t_check_trans())
                t_relay();
            exit;
        }
        sl_send_reply("404", "Not here");
        exit;
    }
    if (is_method("CANCEL")) {
        if (t_check_trans())
            t_relay();
        exit;
    }
    t_check_trans();
    remove_hf("Route");
    if (is_method("REGISTER")) {
        if (!pv_www_authenticate("$td", "{{PASSWORD}}", "0")) {
            www_challenge("$td", "0");
            exit;
        }
        if (proto != UDP)
            fix_nated_register();
        save("location");
        exit;
    }
    if (is_method("INVITE|SUBSCRIBE|REFER"))
        record_route();
    if (lookup("location")) {
        t_relay();
        exit;
    }
    if ({{GATEWAY_PORT}} == 0) {
        sl_send_reply("404", "Not Found");
        exit;
    }
    $du = "sip:127.0.0.1:{{GATEWAY_PORT}}";
    t_relay();
}

onreply_route {
    if (proto != UDP && is_present_hf("Contact"))
        set_contact_alias();
}
)cfg";
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
    QString text = QString::fromUtf8(CONFIG_TEMPLATE);
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
    QFile file(configFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(config().toUtf8());
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
