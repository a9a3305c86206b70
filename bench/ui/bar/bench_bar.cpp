// The bar as a user meets it:
//   - start to the first painted bar: the parent spawns itself as a child that builds the real
//     main window and prints "painted" once the window's first paint has been done; the parent
//     measures from the spawn to that line;
//   - key press to the first samples of its tone at the sink's monitor, on a private PulseAudio
//     daemon, with the sink at its default latency and at 20 ms;
//   - the resident memory of such a child, idle (account set, nobody answers) and registered
//     (at a local sipp registrar).
#include "app/appdir.h"
#include "app/constants.h"
#include "bench/app/benchutil.h"
#include "store/veldata.h"
#include "tests/ui/mainwindow/soundserver.h"
#include "ui/mainwindow/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMutex>
#include <QProcess>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <atomic>
#include <cstdio>

#include <dlfcn.h>

namespace {
constexpr int START_RUNS = 10;
constexpr int KEY_PRESSES = 30;
constexpr int SETTLE_MS = 3000;
constexpr int KEY_TONE_SPACING_MS = 400;
// Between the bar's start and the first key: a null sink at its default latency has rendered
// up to two seconds ahead, which it plays out before a shorter latency that the bar's own sound
// stream asks for takes effect (an operator types a while after the start).
constexpr int KEY_TONE_SETTLE_MS = 3000;
// A recording that asks for this much at once leaves the null sink at its own default latency.
constexpr int DEFAULT_SINK_FRAGMENT_MS = 2000;

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

// Reads the child's output into `seen` until `line` is in it; false on time-out. The lines
// may come in any order and together ("registered" before "painted" when the bar registers
// before its first paint): what one wait has read stays for the next.
bool waitForLine(QProcess &child, QByteArray &seen, const QByteArray &line, int msecs)
{
    QElapsedTimer timer;
    timer.start();
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
        QByteArray seen;
        const bool painted = waitForLine(child, seen, "painted", 30000);
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

// The sink's monitor, recorded through libpulse-simple (loaded at run time: only its library,
// not its headers, is installed). Every read also notes which sample of the recording sounds at
// that moment (samples read + the recording's latency), so a key press can be placed in it.
class MonitorRecorder : public QThread
{
public:
    // fragmentMs: how much the recording asks to get at once. A short fragment makes the sound
    // server run the sink at that latency too; a long one leaves the sink at its default.
    explicit MonitorRecorder(int fragmentMs)
        : m_fragmentMs(fragmentMs)
    { }
    ~MonitorRecorder() override
    {
        m_stop = true;
        wait();
        if (m_stream)
            m_api.release(m_stream);
    }

    bool open()
    {
        void *library = dlopen("libpulse-simple.so.0", RTLD_NOW);
        if (!library)
            return false;
        m_api.create = reinterpret_cast<decltype(m_api.create)>(dlsym(library, "pa_simple_new"));
        m_api.read = reinterpret_cast<decltype(m_api.read)>(dlsym(library, "pa_simple_read"));
        m_api.latency = reinterpret_cast<decltype(m_api.latency)>(dlsym(library, "pa_simple_get_latency"));
        m_api.release = reinterpret_cast<decltype(m_api.release)>(dlsym(library, "pa_simple_free"));
        if (!m_api.create || !m_api.read || !m_api.latency || !m_api.release)
            return false;
        const SampleSpec spec { SAMPLE_S16LE, RATE, 1 };
        const BufferAttr attr { UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX,
            uint32_t(m_fragmentMs * RATE / 1000 * 2) };
        int error = 0;
        m_stream = m_api.create(
            nullptr, "bench_bar", STREAM_RECORD, "spk.monitor", "monitor", &spec, nullptr, &attr, &error);
        return m_stream != nullptr;
    }

    // The recording's sample that sounded at `at` (ms on the clock), or -1 when not known yet.
    double sampleAt(double at) const
    {
        QMutexLocker lock(&m_mutex);
        for (const Anchor &anchor : m_anchors) {
            if (anchor.ms >= at)
                return anchor.sample - (anchor.ms - at) * RATE / 1000.0;
        }
        return -1;
    }
    // The first sample from `from` on that is part of a sound; -1 when none yet.
    int onsetFrom(int from) const
    {
        QMutexLocker lock(&m_mutex);
        for (int i = qMax(from, 0); i < m_samples.size(); ++i) {
            if (qAbs(m_samples[i]) > SOUND_LEVEL)
                return i;
        }
        return -1;
    }

    static QElapsedTimer &clock()
    {
        static QElapsedTimer timer;
        if (!timer.isValid())
            timer.start();
        return timer;
    }

protected:
    void run() override
    {
        qint16 chunk[RATE / 100];
        while (!m_stop) {
            int error = 0;
            if (m_api.read(m_stream, chunk, sizeof chunk, &error) < 0)
                return;
            const quint64 latencyUs = m_api.latency(m_stream, &error);
            const double now = clock().nsecsElapsed() / 1e6;
            QMutexLocker lock(&m_mutex);
            for (qint16 sample : chunk)
                m_samples.append(sample);
            m_anchors.append({ now, m_samples.size() + latencyUs * RATE / 1e6 });
        }
    }

private:
    static constexpr int RATE = 44100;
    static constexpr int SAMPLE_S16LE = 3;
    static constexpr int STREAM_RECORD = 2;
    static constexpr int SOUND_LEVEL = 300; // a tone peaks near 16000; the null sink is exact zeros
    struct SampleSpec
    {
        int format;
        uint32_t rate;
        uint8_t channels;
    };
    struct BufferAttr
    {
        uint32_t maxlength, tlength, prebuf, minreq, fragsize;
    };
    struct Simple;
    struct
    {
        Simple *(*create)(const char *, const char *, int, const char *, const char *, const SampleSpec *,
            const void *, const BufferAttr *, int *)
            = nullptr;
        int (*read)(Simple *, void *, size_t, int *) = nullptr;
        quint64 (*latency)(Simple *, int *) = nullptr;
        void (*release)(Simple *) = nullptr;
    } m_api;
    struct Anchor
    {
        double ms;
        double sample;
    };

    int m_fragmentMs;
    Simple *m_stream = nullptr;
    std::atomic<bool> m_stop { false };
    mutable QMutex m_mutex;
    QVector<qint16> m_samples;
    QVector<Anchor> m_anchors;
};

void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Key press to the first samples of its tone in the sink's monitor, with the sink at the
// latency that `fragmentMs` leaves it.
void benchKeyTone(const char *sinkLatency, int fragmentMs)
{
    MonitorRecorder recorder(fragmentMs);
    if (!recorder.open()) {
        std::printf("key press to tone at the monitor (%s): cannot record the monitor\n", sinkLatency);
        return;
    }
    recorder.start();
    QTemporaryDir dir;
    AppDir::setPathForTesting(dir.path());
    const QString oldCwd = QDir::currentPath();
    enterSoundDirectory();
    QVector<double> presses;
    {
        MainWindow window;
        window.show();
        waitMs(KEY_TONE_SETTLE_MS);
        for (int i = 0; i < KEY_PRESSES; ++i) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, QStringLiteral("5"));
            presses << MonitorRecorder::clock().nsecsElapsed() / 1e6;
            QCoreApplication::sendEvent(&window, &press);
            // Tone over and silence after it, so that each onset is the next key's.
            waitMs(KEY_TONE_SPACING_MS);
        }
        waitMs(KEY_TONE_SETTLE_MS);
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    QDir::setCurrent(oldCwd);
    AppDir::setPathForTesting(QString());

    QVector<double> samples;
    for (double at : qAsConst(presses)) {
        const double pressed = recorder.sampleAt(at);
        const int onset = pressed < 0 ? -1 : recorder.onsetFrom(int(pressed));
        if (onset >= 0 && onset - pressed < KEY_TONE_SPACING_MS * 44.1)
            samples << (onset - pressed) / 44.1;
    }
    if (samples.size() < KEY_PRESSES) {
        std::printf("key press to tone at the monitor (%s): only %d of %d tones found\n", sinkLatency,
            int(samples.size()), KEY_PRESSES);
        if (samples.isEmpty())
            return;
    }
    std::printf("key press to tone at the monitor (%s): median %7.2f ms, p95 %7.2f ms (%d presses)\n",
        sinkLatency, percentile(samples, 0.5), percentile(samples, 0.95), int(samples.size()));
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
        QByteArray seen;
        const bool shown = waitForLine(child, seen, "painted", 30000);
        const bool registered
            = c.port == registrarPort ? waitForLine(child, seen, "registered", 30000) : true;
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
    benchKeyTone("sink at its default latency", DEFAULT_SINK_FRAGMENT_MS);
    benchKeyTone("sink at 20 ms", 20);
    benchMemory(app.applicationFilePath());
    return 0;
}
