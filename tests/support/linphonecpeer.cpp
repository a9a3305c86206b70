#include "tests/support/linphonecpeer.h"

#include "tests/support/sipppeer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <QUdpSocket>

LinphonecPeer::LinphonecPeer(bool srtp)
    : m_srtp(srtp)
    , m_port(find_free_udp_port())
    , m_audioPort(find_free_udp_port())
{
    while (m_audioPort == m_port)
        m_audioPort = find_free_udp_port();
}

LinphonecPeer::~LinphonecPeer()
{
    stop();
}

namespace {
// The codecs a phone may offer, all but PCMU switched off (codecs the file does not name keep
// the library's default).
QString pcmuOnly()
{
    static const QList<QPair<QString, int>> codecs = { { QStringLiteral("PCMU"), 8000 },
        { QStringLiteral("opus"), 48000 }, { QStringLiteral("speex"), 16000 },
        { QStringLiteral("speex"), 8000 }, { QStringLiteral("PCMA"), 8000 }, { QStringLiteral("G729"), 8000 },
        { QStringLiteral("GSM"), 8000 }, { QStringLiteral("G722"), 8000 }, { QStringLiteral("iLBC"), 8000 } };
    QString text;
    for (int i = 0; i < codecs.size(); ++i) {
        text += QStringLiteral("[audio_codec_%1]\nmime=%2\nrate=%3\nchannels=%4\nenabled=%5\n")
                    .arg(i)
                    .arg(codecs[i].first)
                    .arg(codecs[i].second)
                    .arg(codecs[i].first == QLatin1String("opus") ? 2 : 1)
                    .arg(i == 0 ? 1 : 0);
    }
    return text;
}
} // namespace

bool LinphonecPeer::start()
{
    if (!m_dir.isValid() || m_port <= 0)
        return false;
    // Like the phone's own core: no databases, no video, loopback media on free ports. With
    // SRTP it is mandatory, so a plain offer is refused; an offer of SRTP as an alternative
    // (SDP capability negotiation) is understood.
    const QString rc = QStringLiteral("[sip]\n"
                                      "sip_port=%1\n"
                                      "sip_tcp_port=0\n"
                                      "sip_tls_port=0\n"
                                      "media_encryption=%2\n"
                                      "media_encryption_mandatory=%3\n"
                                      "support_capability_negotiations=1\n"
                                      "[rtp]\n"
                                      "audio_rtp_port=%4\n"
                                      "bind_address=127.0.0.1\n"
                                      "[storage]\n"
                                      "uri=null\n"
                                      "call_logs_db_uri=null\n"
                                      "zrtp_secrets_db_uri=null\n"
                                      "[video]\n"
                                      "capture=0\n"
                                      "display=0\n"
                                      "automatically_initiate=0\n"
                                      "automatically_accept=0\n")
                           .arg(m_port)
                           .arg(m_srtp ? QStringLiteral("srtp") : QStringLiteral("none"))
                           .arg(m_srtp ? 1 : 0)
                           .arg(m_audioPort)
        + pcmuOnly();
    QFile file(m_dir.filePath(QStringLiteral("linphonerc")));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(rc.toUtf8());
    file.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    m_process.setProcessEnvironment(environment);
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("screen.log")));
    m_process.start(QStringLiteral("linphonec"),
        { QStringLiteral("-c"), file.fileName(), QStringLiteral("-a"), QStringLiteral("-d"),
            QStringLiteral("6"), QStringLiteral("-l"), m_dir.filePath(QStringLiteral("linphonec.log")) });
    if (!m_process.waitForStarted(5000))
        return false;
    // Bound once its SIP port can no longer be taken.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress(QHostAddress::LocalHost), m_port))
            return true;
        probe.close();
        QThread::msleep(50);
    }
    return false;
}

void LinphonecPeer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("quit\n");
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

QString LinphonecPeer::log() const
{
    QString text;
    for (const QString &name : { QStringLiteral("screen.log"), QStringLiteral("linphonec.log") }) {
        QFile file(m_dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}
