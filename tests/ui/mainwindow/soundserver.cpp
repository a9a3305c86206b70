#include "tests/ui/mainwindow/soundserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

SoundServer::~SoundServer()
{
    stop();
}

bool SoundServer::start()
{
    const QString runtime = m_dir.path();
    const QString socket = runtime + QStringLiteral("/native");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), runtime);
    m_daemon.setProcessEnvironment(env);
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    m_daemon.setStandardOutputFile(runtime + QStringLiteral("/pulse.log"));
    m_daemon.start(QStringLiteral("pulseaudio"),
        { QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
            QStringLiteral("--use-pid-file=no"), QStringLiteral("--disallow-exit"),
            QStringLiteral("--load=module-null-sink sink_name=spk"),
            QStringLiteral("--load=module-native-protocol-unix socket=%1 auth-anonymous=1").arg(socket) });
    if (!m_daemon.waitForStarted(5000)) {
        m_error = QStringLiteral("pulseaudio did not start: ") + m_daemon.errorString();
        return false;
    }
    qputenv("PULSE_RUNTIME_PATH", QFile::encodeName(runtime));
    qputenv("PULSE_SERVER", QFile::encodeName(QStringLiteral("unix:") + socket));

    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_daemon.state() != QProcess::Running)
            break;
        if (QFile::exists(socket)) {
            QProcess info;
            info.start(QStringLiteral("pactl"), { QStringLiteral("info") });
            if (info.waitForFinished(5000) && info.exitStatus() == QProcess::NormalExit
                && info.exitCode() == 0)
                return true;
        }
        QThread::msleep(50);
    }
    m_error = QStringLiteral("pulseaudio does not answer on %1:\n%2").arg(socket, log());
    return false;
}

void SoundServer::stop()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000)) {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
}

QString SoundServer::log() const
{
    QFile file(m_dir.path() + QStringLiteral("/pulse.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}
