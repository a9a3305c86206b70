// The bar as a user meets it:
//   - start to the first painted bar: the parent spawns itself as a child that builds the real
//     main window and prints "painted" once the window's first paint has been done; the parent
//     measures from the spawn to that line;
//   - key press to the tone output reaching ActiveState, on a private PulseAudio daemon;
//   - the resident memory of such a child, idle (account set, nobody answers) and registered
//     (at a local sipp registrar).
#include "appdir.h"
#include "benchutil.h"
#include "constants.h"
#include "mainwindow.h"
#include "soundserver.h"
#include "veldata.h"

#include <QApplication>
#include <QAudioOutput>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>

namespace {
constexpr int START_RUNS = 10;
constexpr int KEY_PRESSES = 30;
constexpr int SETTLE_MS = 3000;

// Prints "painted" once the first paint of the watched window has been done (the queued
// call runs after the paint), and with `exitAfter` ends the process there.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(bool exitAfter)
        : m_exitAfter(exitAfter)
    { }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(0, [exitAfter = m_exitAfter] {
                std::printf("painted\n");
                std::fflush(stdout);
                if (exitAfter)
                    std::_Exit(0); // only the start is measured: skip the orderly shutdown
            });
        }
        return false;
    }

private:
    bool m_exitAfter;
    bool m_seen = false;
};

// The shipped sounds are found as ./share/sounds, relative to the current directory: the
// build directory, three levels above this benchmark.
void enterSoundDirectory()
{
    QDir::setCurrent(QCoreApplication::applicationDirPath() + QStringLiteral("/../../.."));
}

// Child: the real bar in the given application directory. "--paint" ends after the first
// paint; "--live" runs on and also prints "registered" when the lamp goes online.
int runChild(int argc, char **argv, const QString &mode, const QString &appDir)
{
    AppDir::setPathForTesting(appDir);
    QApplication app(argc, argv);
    enterSoundDirectory();
    MainWindow window;
    PaintWatch watch(mode == QLatin1String("--paint"));
    window.installEventFilter(&watch);
    window.show();
    QLabel *lamp = window.findChild<QLabel *>(QStringLiteral("onlineStatus"));
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [lamp, &poll] {
        if (lamp->styleSheet() == STYLE_STATUS_ONLINE) {
            poll.stop();
            std::printf("registered\n");
            std::fflush(stdout);
        }
    });
    poll.start(20);
    std::_Exit(app.exec());
}

void prepare(const QString &appDir, int registrarPort)
{
    AppDir::setPathForTesting(appDir);
    AppDir::makeDataDirectories();
    {
        VelData store;
        store.save_account_settings({ { QStringLiteral("address"), QStringLiteral("127.0.0.1") },
            { QStringLiteral("port"), QString::number(registrarPort) },
            { QStringLiteral("userId"), QStringLiteral("1001") },
            { QStringLiteral("password"), QStringLiteral("s3cret") } });
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    AppDir::setPathForTesting(QString());
}

// Reads the child's output until `line` comes; false on time-out.
bool waitForLine(QProcess &child, const QByteArray &line, int msecs)
{
    QElapsedTimer timer;
    timer.start();
    QByteArray seen;
    while (timer.elapsed() < msecs) {
        if (child.waitForReadyRead(100))
            seen += child.readAllStandardOutput();
        if (seen.contains(line))
            return true;
        if (child.state() == QProcess::NotRunning)
            return false;
    }
    return false;
}

double residentMegabytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

int freeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return socket.localPort();
}

void benchStart(const QString &self)
{
    QTemporaryDir dir;
    prepare(dir.path(), freeUdpPort());
    QVector<double> samples;
    for (int i = 0; i <= START_RUNS; ++i) {
        QProcess child;
        QElapsedTimer timer;
        timer.start();
        child.start(self, { QStringLiteral("--paint"), dir.path() });
        const bool painted = waitForLine(child, "painted", 30000);
        const double ms = timer.nsecsElapsed() / 1e6;
        child.waitForFinished(30000);
        if (!painted) {
            std::printf("start to first painted bar: the child never painted\n");
            return;
        }
        if (i > 0) // the first run warms the file cache
            samples << ms;
    }
    std::printf("start to first painted bar:          median %7.1f ms, p95 %7.1f ms (%d runs)\n",
        percentile(samples, 0.5), percentile(samples, 0.95), START_RUNS);
}

void benchKeyTone()
{
    QTemporaryDir dir;
    AppDir::setPathForTesting(dir.path());
    const QString oldCwd = QDir::currentPath();
    enterSoundDirectory();
    QVector<double> samples;
    {
        MainWindow window;
        window.show();
        for (int i = 0; i < KEY_PRESSES; ++i) {
            QEventLoop loop;
            QElapsedTimer timer;
            double ms = -1;
            timer.start();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, QStringLiteral("5"));
            QCoreApplication::sendEvent(&window, &press);
            QAudioOutput *output = window.findChild<QAudioOutput *>();
            if (!output)
                break;
            QObject::connect(output, &QAudioOutput::stateChanged, [&](QAudio::State state) {
                if (state == QAudio::ActiveState && ms < 0) {
                    ms = timer.nsecsElapsed() / 1e6;
                    loop.quit();
                }
            });
            QTimer::singleShot(5000, &loop, &QEventLoop::quit);
            loop.exec();
            if (ms < 0)
                break;
            samples << ms;
            // The next key only after this tone is over: one tone at a time. The output is
            // deleted later, from an event loop like this one.
            QPointer<QAudioOutput> playing(output);
            QEventLoop over;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (!playing)
                    over.quit();
            });
            poll.start(10);
            QTimer::singleShot(5000, &over, &QEventLoop::quit);
            over.exec();
        }
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    QDir::setCurrent(oldCwd);
    AppDir::setPathForTesting(QString());
    if (samples.size() < KEY_PRESSES) {
        std::printf(
            "key press to tone ActiveState: only %d of %d tones started\n", int(samples.size()), KEY_PRESSES);
        return;
    }
    std::printf("key press to tone output ActiveState: median %7.2f ms, p95 %7.2f ms (%d presses)\n",
        percentile(samples, 0.5), percentile(samples, 0.95), KEY_PRESSES);
}

// A registrar that accepts every REGISTER at once.
const char REGISTRAR[] = R"(<?xml version="1.0" encoding="UTF-8" ?>
<scenario name="registrar">
  <recv request="REGISTER"/>
  <send><![CDATA[
SIP/2.0 200 OK
[last_Via:]
[last_From:]
[last_To:];tag=[pid]reg[call_number]
[last_Call-ID:]
[last_CSeq:]
[last_Contact:];expires=3600
Content-Length: 0

]]></send>
</scenario>
)";

void benchMemory(const QString &self)
{
    QTemporaryDir dir;
    QFile scenario(dir.filePath(QStringLiteral("registrar.xml")));
    scenario.open(QIODevice::WriteOnly);
    scenario.write(REGISTRAR);
    scenario.close();
    const int registrarPort = freeUdpPort();
    QProcess sipp;
    sipp.start(QStringLiteral("sipp"),
        { QStringLiteral("-sf"), scenario.fileName(), QStringLiteral("-i"), QStringLiteral("127.0.0.1"),
            QStringLiteral("-p"), QString::number(registrarPort), QStringLiteral("-nostdin"),
            QStringLiteral("-bg") });
    sipp.waitForFinished(5000); // -bg: sipp goes to the background and prints its pid
    const qint64 sippPid = QString::fromLatin1(sipp.readAllStandardOutput())
                               .section(QStringLiteral("PID=["), 1)
                               .section(QLatin1Char(']'), 0, 0)
                               .toLongLong();

    struct Case
    {
        const char *name;
        int port;
    };
    for (const Case &c : { Case { "idle (nobody answers the REGISTER)", freeUdpPort() },
             Case { "registered", registrarPort } }) {
        QTemporaryDir appDir;
        prepare(appDir.path(), c.port);
        QProcess child;
        child.start(self, { QStringLiteral("--live"), appDir.path() });
        const bool shown = waitForLine(child, "painted", 30000);
        const bool registered = c.port == registrarPort ? waitForLine(child, "registered", 30000) : true;
        QThread::msleep(SETTLE_MS);
        const double mb = residentMegabytes(child.processId());
        child.kill();
        child.waitForFinished(5000);
        if (!shown || !registered)
            std::printf("resident memory, %s: the bar did not get there\n", c.name);
        else
            std::printf("resident memory, %-36s %7.1f MB (%d s after start)\n", c.name, mb, SETTLE_MS / 1000);
    }
    if (sippPid > 0)
        QProcess::execute(QStringLiteral("kill"), { QString::number(sippPid) });
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && (QByteArray(argv[1]) == "--paint" || QByteArray(argv[1]) == "--live"))
        return runChild(argc, argv, QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every sound of this run goes to a daemon of its own, children included.
    SoundServer sound;
    if (!sound.start()) {
        std::printf("no private PulseAudio: %s\n", qPrintable(sound.error()));
        return 1;
    }
    QApplication app(argc, argv);
    benchStart(app.applicationFilePath());
    benchKeyTone();
    benchMemory(app.applicationFilePath());
    return 0;
}
