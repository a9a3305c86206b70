#include "tests/phone/mutationrun.h"

#include "tests/phone/phonerig.h"
#include "tests/support/hostilesip.h"
#include "tests/support/sipscenario.h"

#include "app/appdir.h"
#include "app/supervisor.h"
#include "app/vellogger.h"
#include "store/veldata.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

#include <algorithm>
#include <csignal>

namespace {
// A restart comes at once, or after the supervisor's back-off when crashes come in a burst.
constexpr int RECOVERY_LIMIT_MS = Supervisor::BACK_OFF_SECONDS * 1000 + 30000;

qint64 rssKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}
} // namespace

MutationRun::MutationRun(const QString &appDir, int maxCrashes)
    : m_appDir(appDir)
    , m_registrar(SippScenario::registrar(), 3600)
{
    // One registration per process: the first one and one after each crash.
    m_registrar.setCalls(maxCrashes + 1);
}

MutationRun::~MutationRun()
{
    if (m_host.state() != QProcess::NotRunning) {
        m_host.terminate();
        if (!m_host.waitForFinished(10000)) {
            m_host.kill();
            m_host.waitForFinished(5000);
        }
    }
}

bool MutationRun::start()
{
    m_registrar.set(QStringLiteral("PASSWORD"), PhoneRig::PASSWORD);
    if (!m_registrar.start()) {
        m_why = QStringLiteral("sipp did not start");
        return false;
    }
    {
        // The account, written the way the setting window writes it.
        AppDir::setPathForTesting(m_appDir);
        AppDir::makeDataDirectories();
        {
            VelData store;
            store.save_account_settings({ { QStringLiteral("address"), QStringLiteral("127.0.0.1") },
                { QStringLiteral("port"), QString::number(m_registrar.port()) },
                { QStringLiteral("userId"), PhoneRig::USER },
                { QStringLiteral("password"), PhoneRig::PASSWORD } });
        }
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
        AppDir::setPathForTesting(QString());
    }
    // Under the sanitizers a crash must still end the process by its signal, as it does in the
    // field, and a report must end it by SIGABRT: both are what the supervisor recovers from.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &options : { QStringLiteral("ASAN_OPTIONS"), QStringLiteral("TSAN_OPTIONS") })
        env.insert(
            options, env.value(options) + QStringLiteral(":handle_segv=0:handle_abort=0:abort_on_error=1"));
    m_host.setProcessEnvironment(env);
    m_host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_host.setStandardOutputFile(QProcess::nullDevice());
    m_host.start(QString::fromLocal8Bit(qgetenv("PHONEHOST")), { m_appDir });
    if (!m_host.waitForStarted(10000)) {
        m_why = QStringLiteral("phonehost did not start (PHONEHOST=%1)")
                    .arg(QString::fromLocal8Bit(qgetenv("PHONEHOST")));
        return false;
    }
    if (!QTest::qWaitFor([&] { return acceptedRegistrations() == 1; }, 20000)) {
        m_why = QStringLiteral("not registered: ") + m_registrar.report();
        return false;
    }
    return true;
}

qint64 MutationRun::childPid() const
{
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(m_host.processId()));
    if (!children.open(QIODevice::ReadOnly))
        return 0;
    return children.readAll().trimmed().split(' ').value(0).toLongLong();
}

int MutationRun::acceptedRegistrations() const
{
    int accepted = 0;
    for (const SipMessage &message : m_registrar.messages()) {
        if (!message.received && message.isResponse(200)
            && message.header(QStringLiteral("CSeq")).endsWith(QStringLiteral("REGISTER")))
            ++accepted;
    }
    return accepted;
}

bool MutationRun::registered() const
{
    return m_host.state() == QProcess::Running && childPid() > 0 && phonePort(m_registrar) > 0;
}

bool MutationRun::waitForRecovery(int oldPort, int acceptedBefore)
{
    QElapsedTimer timer;
    timer.start();
    const bool back = QTest::qWaitFor(
        [&] { return phonePort(m_registrar) != oldPort && acceptedRegistrations() > acceptedBefore; },
        RECOVERY_LIMIT_MS);
    if (!back) {
        m_why = QStringLiteral("no new registration %1 ms after crash %2: %3")
                    .arg(RECOVERY_LIMIT_MS)
                    .arg(m_figures.crashes)
                    .arg(m_registrar.report().right(2000));
        return false;
    }
    m_figures.recoveryMs << timer.elapsed();
    ++m_figures.recoveries;
    return true;
}

bool MutationRun::run(int messages, quint32 seed, int gapMs, int rssEvery)
{
    QRandomGenerator random(seed);
    QUdpSocket socket;
    if (!socket.bind(QHostAddress(QHostAddress::LocalHost), 0)) {
        m_why = QStringLiteral("no socket");
        return false;
    }
    qint64 pid = childPid();
    int port = phonePort(m_registrar);
    m_figures.rssKb << qMakePair(0, rssKb(pid));
    for (int i = 1; i <= messages; ++i) {
        const QByteArray message = HostileSip::mutatedInvite(random, port, socket.localPort());
        socket.writeDatagram(message, QHostAddress(QHostAddress::LocalHost), quint16(port));
        ++m_figures.sent;
        QTest::qWait(gapMs);
        while (socket.hasPendingDatagrams())
            socket.receiveDatagram();

        // A crash shows as the supervised process gone; the supervisor starts the next one.
        if (::kill(pid_t(pid), 0) != 0 || childPid() != pid) {
            ++m_figures.crashes;
            const int accepted = acceptedRegistrations();
            if (!waitForRecovery(port, accepted))
                return false;
            pid = childPid();
            port = phonePort(m_registrar);
        }
        if (i % rssEvery == 0)
            m_figures.rssKb << qMakePair(i, rssKb(pid));
    }
    return true;
}

bool MutationRun::crashWithPair()
{
    const qint64 pid = childPid();
    const int port = phonePort(m_registrar);
    const int accepted = acceptedRegistrations();
    if (!HostileSip::sendCrashingPair(port)) {
        m_why = QStringLiteral("the two datagrams could not be sent");
        return false;
    }
    if (!QTest::qWaitFor([&] { return ::kill(pid_t(pid), 0) != 0 || childPid() != pid; }, 10000)) {
        m_why = QStringLiteral("the two datagrams did not crash the engine's process");
        return false;
    }
    ++m_figures.crashes;
    return waitForRecovery(port, accepted);
}

QString MutationRun::report() const
{
    QString text = QStringLiteral("mutated messages sent: %1\ncrashes: %2\nrecoveries: %3\n")
                       .arg(m_figures.sent)
                       .arg(m_figures.crashes)
                       .arg(m_figures.recoveries);
    if (!m_figures.recoveryMs.isEmpty()) {
        QVector<qint64> sorted = m_figures.recoveryMs;
        std::sort(sorted.begin(), sorted.end());
        text += QStringLiteral("crash seen to registered again: median %1 ms, max %2 ms\n")
                    .arg(sorted.at(sorted.size() / 2))
                    .arg(sorted.last());
    }
    for (const auto &point : m_figures.rssKb)
        text += QStringLiteral("RSS after %1 messages: %2 KiB\n").arg(point.first).arg(point.second);
    return text;
}
