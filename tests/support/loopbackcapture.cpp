#include "tests/support/loopbackcapture.h"

#include "tests/support/sipppeer.h"

#include <QDeadlineTimer>

namespace {
constexpr int START_WAIT_MS = 10000;
constexpr int STOP_WAIT_MS = 3000;
const QByteArray CAPTURING = QByteArrayLiteral("Capturing on");
} // namespace

LoopbackCapture::LoopbackCapture()
{
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &LoopbackCapture::read);
}

LoopbackCapture::~LoopbackCapture()
{
    stop();
}

bool LoopbackCapture::start(const QString &filter)
{
    // One line per packet: its UDP payload in hex, written at once (-l).
    m_process.start(QStringLiteral("tshark"),
        { QStringLiteral("-i"), QStringLiteral("lo"), QStringLiteral("-f"), filter, QStringLiteral("-l"),
            QStringLiteral("-n"), QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-e"),
            QStringLiteral("udp.payload") });
    if (!m_process.waitForStarted(START_WAIT_MS))
        return false;
    const QDeadlineTimer deadline(START_WAIT_MS);
    QByteArray said;
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
        said += m_process.readAllStandardError();
        if (said.contains(CAPTURING))
            return true;
    }
    return false;
}

void LoopbackCapture::stop()
{
    end_process(m_process, STOP_WAIT_MS);
    read();
}

void LoopbackCapture::read()
{
    m_pending += m_process.readAllStandardOutput();
    int end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(end).trimmed();
        m_pending.remove(0, end + 1);
        if (!line.isEmpty())
            m_payloads << QByteArray::fromHex(line);
    }
}

QString LoopbackCapture::report() const
{
    return QStringLiteral("tshark: state %1, %2 payloads, %3")
        .arg(m_process.state())
        .arg(m_payloads.size())
        .arg(m_process.errorString());
}
