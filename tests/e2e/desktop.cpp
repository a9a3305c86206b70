#include "tests/e2e/desktop.h"

#include "tests/e2e/e2esupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QtGlobal>

namespace {
constexpr int START_MSECS = 15000;

} // namespace

E2eDesktop::E2eDesktop() = default;

E2eDesktop::~E2eDesktop()
{
    // Last started, first stopped: the tray and the compositor before the display they use.
    for (auto it = m_helpers.rbegin(); it != m_helpers.rend(); ++it) {
        QProcess *helper = it->get();
        if (helper->state() == QProcess::NotRunning)
            continue;
        helper->terminate();
        if (!helper->waitForFinished(3000)) {
            helper->kill();
            helper->waitForFinished(3000);
        }
    }
}

QString E2eDesktop::artifactsDir()
{
    const QString dir = QStringLiteral(TARSEL_E2E_ARTIFACTS);
    QDir().mkpath(dir);
    return dir;
}

bool E2eDesktop::startHelper(const QString &program, const QStringList &arguments)
{
    auto helper = std::make_unique<QProcess>();
    helper->setProcessEnvironment(environment());
    helper->setProcessChannelMode(QProcess::MergedChannels);
    helper->setStandardOutputFile(m_dir.filePath(program + QStringLiteral(".log")));
    helper->start(program, arguments);
    if (!helper->waitForStarted(5000)) {
        m_error = program + QStringLiteral(" did not start: ") + helper->errorString();
        return false;
    }
    m_helpers.push_back(std::move(helper));
    return true;
}

bool E2eDesktop::start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return false;
    }
    for (const char *sub : { "home", "tmp", "runtime", "pulse" })
        QDir(m_dir.path()).mkpath(QLatin1String(sub));
    QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // Xvfb picks a free display number itself and writes it to the descriptor given.
    auto xvfb = std::make_unique<QProcess>();
    xvfb->setProcessChannelMode(QProcess::SeparateChannels);
    xvfb->setStandardErrorFile(m_dir.filePath(QStringLiteral("Xvfb.log")));
    xvfb->start(QStringLiteral("Xvfb"),
        { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
            QStringLiteral("%1x%2x24").arg(WIDTH).arg(HEIGHT), QStringLiteral("-nolisten"),
            QStringLiteral("tcp") });
    QProcess *server = xvfb.get();
    m_helpers.push_back(std::move(xvfb));
    if (!server->waitForStarted(5000)) {
        m_error = QStringLiteral("Xvfb did not start");
        return false;
    }
    QByteArray number;
    E2e::waitUntil(START_MSECS, [&] {
        server->waitForReadyRead(50);
        number += server->readAllStandardOutput();
        return number.contains('\n') || server->state() == QProcess::NotRunning;
    });
    if (!number.contains('\n')) {
        m_error = QStringLiteral("Xvfb gave no display number");
        return false;
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());

    const QString pulseDir = m_dir.filePath(QStringLiteral("pulse"));
    if (!startHelper(QStringLiteral("pulseaudio"),
            { QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                QStringLiteral("--use-pid-file=no"), QStringLiteral("--disallow-exit"),
                QStringLiteral("--load=module-null-sink sink_name=spk"),
                QStringLiteral("--load=module-native-protocol-unix socket=%1/native auth-anonymous=1")
                    .arg(pulseDir) }))
        return false;
    if (!startHelper(QStringLiteral("xcompmgr"), QStringList()))
        return false;
    if (!startHelper(QStringLiteral("trayer"),
            { QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                QStringLiteral("--height"), QStringLiteral("24"), QStringLiteral("--SetDockType"),
                QStringLiteral("true") }))
        return false;

    if (!E2e::waitUntil(START_MSECS, [&] {
            return !run(QStringLiteral("xdotool"),
                { QStringLiteral("search"), QStringLiteral("--classname"), QStringLiteral("trayer") })
                        .trimmed()
                        .isEmpty();
        })) {
        m_error = QStringLiteral("the tray host did not come up");
        return false;
    }
    int pactl = -1;
    if (!E2e::waitUntil(START_MSECS, [&] {
            run(QStringLiteral("pactl"), { QStringLiteral("info") }, 5000, &pactl);
            return pactl == 0;
        })) {
        m_error = QStringLiteral("PulseAudio did not come up");
        return false;
    }
    return true;
}

QProcessEnvironment E2eDesktop::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Real windows on this display only: whatever platform the test runner chose is dropped.
    for (const char *name : { "QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "QT_QUICK_BACKEND", "XAUTHORITY" })
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("TMPDIR"), m_dir.filePath(QStringLiteral("tmp")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
    const QString pulseDir = m_dir.filePath(QStringLiteral("pulse"));
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), pulseDir);
    env.insert(
        QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + pulseDir + QStringLiteral("/native"));
    return env;
}

QString E2eDesktop::run(const QString &program, const QStringList &arguments, int msecs, int *exitCode) const
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (exitCode)
        *exitCode = -1;
    if (!process.waitForStarted(5000))
        return QString();
    if (!process.waitForFinished(msecs)) {
        process.kill();
        process.waitForFinished(3000);
        return QString();
    }
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput());
}

QList<qulonglong> E2eDesktop::findWindows(const QString &titleRegex) const
{
    QList<qulonglong> windows;
    const QString out = run(QStringLiteral("xdotool"),
        { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), titleRegex });
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        windows << line.trimmed().toULongLong();
    return windows;
}

QRect E2eDesktop::geometry(qulonglong window) const
{
    const QString out = run(QStringLiteral("xdotool"),
        { QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), QString::number(window) });
    QMap<QString, int> values;
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
    if (!values.contains(QStringLiteral("WIDTH")))
        return QRect();
    return QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
        values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")));
}

qulonglong E2eDesktop::waitForWindow(const QString &titleRegex, int msecs, const QSize &size) const
{
    qulonglong found = 0;
    E2e::waitUntil(msecs, [&] {
        for (qulonglong window : findWindows(titleRegex)) {
            if (!size.isValid() || geometry(window).size() == size) {
                found = window;
                return true;
            }
        }
        return false;
    });
    return found;
}

bool E2eDesktop::waitForNoWindow(const QString &titleRegex, int msecs, const QSize &size) const
{
    return E2e::waitUntil(msecs, [&] {
        for (qulonglong window : findWindows(titleRegex)) {
            if (!size.isValid() || geometry(window).size() == size)
                return false;
        }
        return true;
    });
}

void E2eDesktop::moveTo(const QPoint &at) const
{
    run(QStringLiteral("xdotool"),
        { QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()),
            QString::number(at.y()) });
}

void E2eDesktop::click(const QPoint &at, int button) const
{
    moveTo(at);
    run(QStringLiteral("xdotool"), { QStringLiteral("click"), QString::number(button) });
}

void E2eDesktop::key(const QStringList &keys) const
{
    run(QStringLiteral("xdotool"),
        QStringList { QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60") } + keys);
}

void E2eDesktop::type(const QString &text) const
{
    run(QStringLiteral("xdotool"),
        { QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("60"), text });
}

QImage E2eDesktop::screenshot(const QString &name) const
{
    const QString path = artifactsDir() + QLatin1Char('/') + name + QStringLiteral(".png");
    // import reads the composited screen (xwd would miss the compositor's work).
    run(QStringLiteral("import"), { QStringLiteral("-window"), QStringLiteral("root"), path }, 20000);
    qInfo("screenshot: %s", qPrintable(path));
    return QImage(path);
}

QByteArray E2eDesktop::record(int msecs, const std::function<void()> &action) const
{
    QProcess recorder;
    recorder.setProcessEnvironment(environment());
    recorder.start(QStringLiteral("parec"),
        { QStringLiteral("-d"), QStringLiteral("spk.monitor"), QStringLiteral("--format=s16le"),
            QStringLiteral("--rate=8000"), QStringLiteral("--channels=1"), QStringLiteral("--raw") });
    if (!recorder.waitForStarted(5000))
        return QByteArray();
    // The recording counts from its first data: what plays before would be lost.
    QByteArray samples;
    QObject::connect(&recorder, &QProcess::readyReadStandardOutput,
        [&] { samples.append(recorder.readAllStandardOutput()); });
    if (!E2e::waitUntil(10000, [&] { return !samples.isEmpty(); }))
        return QByteArray();
    action();
    QTest::qWait(msecs);
    recorder.terminate();
    if (!recorder.waitForFinished(3000)) {
        recorder.kill();
        recorder.waitForFinished(3000);
    }
    samples.append(recorder.readAllStandardOutput());
    return samples;
}

int E2eDesktop::soundPeak(const QByteArray &samples)
{
    int peak = 0;
    for (int i = 0; i + 1 < samples.size(); i += 2) {
        const qint16 sample = qint16(quint8(samples.at(i)) | (quint8(samples.at(i + 1)) << 8));
        peak = qMax(peak, qAbs(int(sample)));
    }
    return peak;
}
