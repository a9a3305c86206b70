#include "tests/support/sipppeer.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QUdpSocket>

int find_free_udp_port()
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress(QHostAddress::LocalHost), 0))
        return -1;
    return socket.localPort();
}

namespace {
// sipp binds its audio media to the base port given with -mp and its video media two ports
// above, each with its RTCP port after it: a base whose next three ports are free as well.
int find_free_media_base()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int base = find_free_udp_port();
        if (base <= 0 || base > 65532)
            continue;
        QUdpSocket probes[4];
        bool free = true;
        for (int i = 0; i < 4 && free; ++i)
            free = probes[i].bind(
                QHostAddress(QHostAddress::LocalHost), quint16(base + i), QAbstractSocket::DontShareAddress);
        if (free)
            return base;
    }
    return find_free_udp_port();
}
} // namespace

QString SipMessage::startLine() const
{
    return text.section(QLatin1Char('\n'), 0, 0).trimmed();
}

bool SipMessage::isRequest(const QString &method) const
{
    return startLine().startsWith(method + QLatin1Char(' '));
}

bool SipMessage::isResponse(int code) const
{
    return startLine().startsWith(QStringLiteral("SIP/2.0 %1").arg(code));
}

QString SipMessage::header(const QString &name) const
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 1; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty())
            break; // end of the headers
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return QString();
}

qint64 SipMessage::usecsSinceEpoch() const
{
    const QDateTime seconds = QDateTime::fromString(loggedAt.left(19), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return seconds.toMSecsSinceEpoch() * 1000 + loggedAt.mid(20).toLongLong();
}

QString SipMessage::body() const
{
    const int end = text.indexOf(QStringLiteral("\n\n"));
    return end < 0 ? QString() : text.mid(end + 2);
}

SippPeer::SippPeer(const QString &scenario, int timeoutSeconds)
    : m_scenario(scenario)
    , m_timeoutSeconds(timeoutSeconds)
    , m_port(find_free_udp_port())
    , m_mediaPort(find_free_udp_port())
{ }

SippPeer::~SippPeer()
{
    kill();
}

void SippPeer::set(const QString &key, const QString &value)
{
    m_values.insert(key, value);
}

void SippPeer::setMediaPort(int port)
{
    m_mediaPort = port;
}

bool SippPeer::start()
{
    if (!m_dir.isValid() || m_port <= 0)
        return false;
    QString text = m_scenario;
    QMap<QString, QString> values = m_values;
    values.insert(QStringLiteral("PORT"), QString::number(m_port));
    if (!values.contains(QStringLiteral("PEER")))
        values.insert(QStringLiteral("PEER"), QStringLiteral("sipp"));
    values.insert(QStringLiteral("MEDIA_PORT"), QString::number(m_mediaPort));
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        text.replace(QStringLiteral("{{") + it.key() + QStringLiteral("}}"), it.value());

    QFile file(m_dir.filePath(QStringLiteral("scenario.xml")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(text.toUtf8());
    file.close();

    // sipp's own media ports (-mp and the three after it) are free ports too, so that parallel
    // runs never meet.
    QStringList args = {
        QStringLiteral("-sf"),
        file.fileName(),
        QStringLiteral("-i"),
        address(),
        QStringLiteral("-p"),
        QString::number(m_port),
        QStringLiteral("-mp"),
        QString::number(find_free_media_base()),
        QStringLiteral("-m"),
        QString::number(m_calls),
        QStringLiteral("-timeout"),
        QStringLiteral("%1s").arg(m_timeoutSeconds),
        QStringLiteral("-timeout_error"),
        QStringLiteral("-nostdin"),
        QStringLiteral("-trace_msg"),
        QStringLiteral("-message_file"),
        m_dir.filePath(QStringLiteral("messages.log")),
        QStringLiteral("-trace_err"),
        QStringLiteral("-error_file"),
        m_dir.filePath(QStringLiteral("errors.log")),
    };
    args << m_extra;
    if (!m_remote.isEmpty())
        args.prepend(m_remote);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("screen.log")));
    m_process.start(QStringLiteral("sipp"), args);
    return m_process.waitForStarted(5000);
}

bool SippPeer::waitForFinished(int msecs)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(msecs))
        return false;
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

bool SippPeer::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

void end_process(QProcess &process, int msecs)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(msecs)) {
        process.kill();
        process.waitForFinished(msecs);
    }
}

void SippPeer::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

QVector<SipMessage> SippPeer::messages() const
{
    QFile file(m_dir.filePath(QStringLiteral("messages.log")));
    QVector<SipMessage> result;
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QString log = QString::fromUtf8(file.readAll()).remove(QLatin1Char('\r'));
    // Each entry: a dashed line with a time stamp and "UDP message received [n] bytes :" or
    // "UDP message sent (n bytes):", a blank line, then the message.
    static const QRegularExpression separator(
        QStringLiteral("^-{10,}.*\\n.*(sent|received).*$"), QRegularExpression::MultilineOption);
    QVector<QPair<int, int>> spans; // where each entry's dashed head line starts and ends
    QRegularExpressionMatchIterator it = separator.globalMatch(log);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        spans.append({ m.capturedStart(), m.capturedEnd() });
    }
    for (int i = 0; i < spans.size(); ++i) {
        const QString head = log.mid(spans[i].first, spans[i].second - spans[i].first);
        const int start = spans[i].second;
        const int end = i + 1 < spans.size() ? spans[i + 1].first : log.size();
        SipMessage message;
        message.received = head.contains(QStringLiteral("received"));
        static const QRegularExpression stamp(
            QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{6}"));
        message.loggedAt = stamp.match(head).captured(0);
        message.text = log.mid(start, end - start).trimmed() + QLatin1Char('\n');
        if (!message.startLine().isEmpty())
            result.append(message);
    }
    return result;
}

QVector<SipMessage> SippPeer::received(const QString &method) const
{
    QVector<SipMessage> result;
    for (const SipMessage &message : messages()) {
        if (message.received && message.isRequest(method))
            result.append(message);
    }
    return result;
}

QString SippPeer::report() const
{
    QString text = QStringLiteral("sipp exit code %1\n").arg(m_process.exitCode());
    QFile errors(m_dir.filePath(QStringLiteral("errors.log")));
    if (errors.open(QIODevice::ReadOnly))
        text += QString::fromUtf8(errors.readAll()).left(1500) + QLatin1Char('\n');
    for (const SipMessage &message : messages())
        text += (message.received ? QStringLiteral("<< ") : QStringLiteral(">> ")) + message.startLine()
            + QLatin1Char('\n');
    return text;
}

int phonePort(const SippPeer &registrar)
{
    const QVector<SipMessage> registers = registrar.received(QStringLiteral("REGISTER"));
    if (registers.isEmpty())
        return 0;
    static const QRegularExpression port(QStringLiteral("@127\\.0\\.0\\.1:(\\d+)"));
    return port.match(registers.last().header(QStringLiteral("Contact"))).captured(1).toInt();
}
