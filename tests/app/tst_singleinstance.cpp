#include "app/activationmessage.h"
#include "app/appdir.h"
#include "app/constants.h"
#include "app/singleinstance.h"
#include "app/supervisor.h"
#include "app/velclient.h"
#include "app/vellogger.h"
#include "app/velserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <csignal>
#include <sys/types.h>

// Each test runs its instances with a private TMPDIR: the marker's key file and the
// activation socket live there, so the tests never meet a real running softphone.
class tst_SingleInstance : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir *m_tmp = nullptr;
    QList<QProcess *> m_processes;

    // `display` false: started as from a terminal or URL handler without any display.
    QProcess *start(const QStringList &args = {}, bool display = true)
    {
        auto *p = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), m_tmp->path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!display) {
            for (const char *name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
                env.remove(QLatin1String(name));
        }
        // In the sanitizer builds a SIGSEGV is caught and turned into an exit status; the
        // instances must die by it as the program does in the field.
        for (const QString &options : { QStringLiteral("ASAN_OPTIONS"), QStringLiteral("TSAN_OPTIONS") })
            env.insert(options, env.value(options) + QStringLiteral(":handle_segv=0"));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::SeparateChannels);
        p->start(QString::fromLocal8Bit(qgetenv("INSTANCEHOST")), args);
        m_processes << p;
        return p;
    }

    // Waits for a line that starts with `prefix`; lines read on the way are gone. With `line`,
    // the whole line found (without its end).
    static bool waitForLine(
        QProcess *p, const QByteArray &prefix, int timeoutMs = 15000, QByteArray *line = nullptr)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            while (p->canReadLine()) {
                const QByteArray read = p->readLine().trimmed();
                if (read.startsWith(prefix)) {
                    if (line)
                        *line = read;
                    return true;
                }
            }
            if (p->state() == QProcess::NotRunning)
                return false;
            p->waitForReadyRead(100);
        }
        return false;
    }

    static QString readLog()
    {
        QFile file(VelLogger::filePath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // The process id of the next "ready" line, 0 when none came; `restarted` tells whether the
    // line said the start was a restart after a crash.
    static qint64 readyPid(QProcess *p, bool *restarted = nullptr, int timeoutMs = 15000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            while (p->canReadLine()) {
                const QList<QByteArray> words = p->readLine().trimmed().split(' ');
                if (words.value(0) == "ready") {
                    if (restarted)
                        *restarted = words.value(2) == "restarted";
                    return words.value(1).toLongLong();
                }
            }
            if (p->state() == QProcess::NotRunning)
                return 0;
            p->waitForReadyRead(100);
        }
        return 0;
    }

    QString logOf(const QString &appDir) const
    {
        QFile file(appDir + LOG_FILE_BASE);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void init()
    {
        m_tmp = new QTemporaryDir;
        QVERIFY(m_tmp->isValid());
    }

    void cleanup()
    {
        for (QProcess *p : qAsConst(m_processes)) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        qDeleteAll(m_processes);
        m_processes.clear();
        delete m_tmp;
    }

    void namesArePerUser()
    {
        QVERIFY(SingleInstance::markerKey().startsWith(QStringLiteral("OrvanePhoneTarsel-")));
        QVERIFY(SingleInstance::channelName().startsWith(QStringLiteral("OrvanePhoneServerTarsel-")));
        QVERIFY(SingleInstance::markerKey() != SingleInstance::channelName());
    }

    void secondStartRaisesHiddenWindow()
    {
        QProcess *first = start({ QStringLiteral("--hide") });
        QVERIFY(waitForLine(first, "ready"));

        QProcess *second = start();
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        // The second start never built a window of its own.
        QVERIFY(!second->readAllStandardOutput().contains("ready"));
        // The running instance shows its window again and keeps running.
        QVERIFY(waitForLine(first, "shown"));
        QCOMPARE(first->state(), QProcess::Running);
    }

    void startAfterCrashBecomesFirstInstance()
    {
        QProcess *first = start();
        QVERIFY(waitForLine(first, "ready"));
        ::kill(pid_t(first->processId()), SIGKILL);
        QVERIFY(first->waitForFinished(5000));

        // The dead instance left its marker segment and socket file behind.
        QElapsedTimer timer;
        timer.start();
        QProcess *next = start({ QStringLiteral("--hide") });
        QVERIFY2(waitForLine(next, "ready", 20000), "a start after a crash must become the first instance");
        QVERIFY2(timer.elapsed() < 20000, "must not wait out the activation time-out");

        // And it listens: a further start raises it and exits 0.
        QProcess *third = start();
        QVERIFY(third->waitForFinished(15000));
        QCOMPARE(third->exitCode(), 0);
        QVERIFY(waitForLine(next, "shown"));
    }

    // The supervisor: a start-up that dies by a signal comes back as the first instance, with
    // the crash and the restart in the log; a second start still reaches it.
    void supervisedCrashStartsAgain()
    {
        QTemporaryDir appDir;
        QProcess *first = start({ QStringLiteral("--supervised"), QStringLiteral("--hide"),
            QStringLiteral("--appdir"), appDir.path() });
        bool restarted = true;
        const qint64 crashed = readyPid(first, &restarted);
        QVERIFY(crashed > 0);
        QVERIFY(!restarted);
        QVERIFY2(crashed != first->processId(), "the program must run in a child of the supervisor");

        ::kill(pid_t(crashed), SIGSEGV);
        const qint64 again = readyPid(first, &restarted, 20000);
        QVERIFY2(again > 0, "the program was not started again after SIGSEGV");
        QVERIFY(restarted);
        QVERIFY(again != crashed);
        const QString log = logOf(appDir.path());
        QVERIFY2(log.contains(QStringLiteral("process %1) ended by signal %2").arg(crashed).arg(SIGSEGV)),
            qPrintable(log));
        QVERIFY2(
            log.contains(QStringLiteral("program started again, process %1").arg(again)), qPrintable(log));

        // The restarted program holds the single-instance marker and listens: a further start
        // raises its window and ends with 0.
        QProcess *second = start({ QStringLiteral("--supervised") });
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(!second->readAllStandardOutput().contains("ready"));
        QVERIFY(waitForLine(first, "shown"));

        // Ended from outside, the supervisor passes the signal on and starts nothing again.
        first->terminate();
        QVERIFY(first->waitForFinished(10000));
        QCOMPARE(first->exitStatus(), QProcess::CrashExit);
        QVERIFY(::kill(pid_t(again), 0) != 0);
        QVERIFY(!first->readAllStandardOutput().contains("ready"));
    }

    void supervisedExitStatusPassesThrough()
    {
        QProcess *p
            = start({ QStringLiteral("--supervised"), QStringLiteral("--exit"), QStringLiteral("3") });
        QVERIFY(p->waitForFinished(15000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 3);
        QCOMPARE(p->readAllStandardOutput().count("ready"), 1);
    }

    void supervisedBacksOffAfterCrashLoop()
    {
        QTemporaryDir appDir;
        QProcess *p = start({ QStringLiteral("--supervised"), QStringLiteral("--appdir"), appDir.path() });
        for (int crash = 1; crash <= Supervisor::CRASHES_BEFORE_BACK_OFF; ++crash) {
            const qint64 pid = readyPid(p, nullptr, 20000);
            QVERIFY2(pid > 0,
                qPrintable(QStringLiteral("no start before crash %1 (supervisor %2, status %3): %4\n%5")
                               .arg(crash)
                               .arg(p->state() == QProcess::Running ? QStringLiteral("running")
                                                                    : QStringLiteral("ended"))
                               .arg(p->exitCode())
                               .arg(QString::fromLocal8Bit(p->readAllStandardError()))
                               .arg(logOf(appDir.path()))));
            ::kill(pid_t(pid), SIGABRT);
        }
        const QString backOff = QStringLiteral("%1 crashes within %2 s; next start in %3 s")
                                    .arg(Supervisor::CRASHES_BEFORE_BACK_OFF)
                                    .arg(Supervisor::CRASH_WINDOW_SECONDS)
                                    .arg(Supervisor::BACK_OFF_SECONDS);
        QTRY_VERIFY_WITH_TIMEOUT(logOf(appDir.path()).contains(backOff), 10000);
        QCOMPARE(p->state(), QProcess::Running);
        // Waiting out the back-off, the supervisor still ends at once when told to.
        p->terminate();
        QVERIFY(p->waitForFinished(10000));
        QVERIFY(!p->readAllStandardOutput().contains("ready"));
    }

    void connectionBeforeWindowRaisesNothing()
    {
        const QString name = QStringLiteral("tarsel-test-%1").arg(QCoreApplication::applicationPid());
        VelServer server(name);
        QVERIFY(server.isListening());
        QLocalSocket early;
        early.connectToServer(name);
        QVERIFY(early.waitForConnected(5000));
        QTest::qWait(50); // let the server deliver newConnection with no window set

        QWidget window;
        QVERIFY(!window.isVisible());
        server.set_window(&window);
        QLocalSocket late;
        late.connectToServer(name);
        QVERIFY(late.waitForConnected(5000));
        QTRY_VERIFY_WITH_TIMEOUT(window.isVisible(), 5000);
    }

    // Second starts as a URL handler or terminal makes them: with a link, and without a display.
    void secondStartHandsOverLink()
    {
        QProcess *first = start({ QStringLiteral("--hide") });
        QVERIFY(waitForLine(first, "ready"));

        QProcess *second = start({ QStringLiteral("tel:03-1234-5678") }, false);
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(!second->readAllStandardOutput().contains("ready"));
        // The window comes to the front first, then gets the link.
        QVERIFY(waitForLine(first, "shown"));
        QByteArray dial;
        QVERIFY(waitForLine(first, "dial", 15000, &dial));
        QCOMPARE(dial, QByteArray("dial tel:03-1234-5678"));

        QProcess *dialOption = start({ QStringLiteral("--dial"), QStringLiteral("+81 3 1234 5678") });
        QVERIFY(dialOption->waitForFinished(15000));
        QCOMPARE(dialOption->exitCode(), 0);
        QVERIFY(waitForLine(first, "dial", 15000, &dial));
        QCOMPARE(dial, QByteArray("dial tel:+81 3 1234 5678"));
        QCOMPARE(first->state(), QProcess::Running);
    }

    void firstStartNeedsDisplay()
    {
        QProcess *headless = start({ QStringLiteral("tel:110") }, false);
        QVERIFY(headless->waitForFinished(15000));
        QCOMPARE(headless->exitCode(), 1);
        QVERIFY(headless->readAllStandardError().contains("no display"));

        // It left nothing behind: the next start is a first start, and dials its own link once
        // its window is up.
        QProcess *first = start({ QStringLiteral("sip:2002@example.com") });
        QVERIFY(waitForLine(first, "ready"));
        QByteArray dial;
        QVERIFY(waitForLine(first, "dial", 15000, &dial));
        QCOMPARE(dial, QByteArray("dial sip:2002@example.com"));
    }

    // What arrives on the channel, byte for byte: a link is passed on, anything else is dropped
    // with a log line; the window comes to the front either way.
    void channelMessages_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("logged");

        QTest::newRow("plain start") << QByteArray() << QString() << QString();
        QTest::newRow("link") << ActivationMessage::dial(QStringLiteral("tel:03-1234-5678"))
                              << QStringLiteral("tel:03-1234-5678") << QString();
        // Checking the link is the window's business; the channel carries it unchanged.
        QTest::newRow("link with newline")
            << ActivationMessage::dial(QStringLiteral("tel:1\n2")) << QStringLiteral("tel:1\n2") << QString();
        QTest::newRow("not JSON") << QByteArray("tel:03-1234-5678") << QString()
                                  << QStringLiteral("not a JSON object");
        QTest::newRow("JSON array") << QByteArray("[1]") << QString() << QStringLiteral("not a JSON object");
        QTest::newRow("newer version") << QByteArray(R"({"version":2,"dial":"tel:1"})") << QString()
                                       << QStringLiteral("version 2 not understood");
        QTest::newRow("no version") << QByteArray(R"({"dial":"tel:1"})") << QString()
                                    << QStringLiteral("no version");
        QTest::newRow("dial not text")
            << QByteArray(R"({"version":1,"dial":110})") << QString() << QStringLiteral("no text to dial");
        QTest::newRow("oversized") << ActivationMessage::dial(
            QString(ActivationMessage::MAX_BYTES, QLatin1Char('1')))
                                   << QString() << QStringLiteral("more than 4096 bytes");
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe{", 4) << QString()
                                << QStringLiteral("not a JSON object");
    }

    void channelMessages()
    {
        QFETCH(QByteArray, message);
        QFETCH(QString, link);
        QFETCH(QString, logged);
        AppDir::setPathForTesting(m_tmp->path());
        QVERIFY(QDir().mkpath(m_tmp->path() + LOG_DIR));
        const QString name = QStringLiteral("tarsel-msg-%1").arg(QCoreApplication::applicationPid());
        VelServer server(name);
        QVERIFY(server.isListening());
        QWidget window;
        server.set_window(&window);
        QSignalSpy dialled(&server, &VelServer::signal_dial_link);

        {
            VelClient client;
            client.connect_to_server(name, message);
        }
        QTRY_VERIFY_WITH_TIMEOUT(window.isVisible(), 5000);
        if (!link.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(dialled.size(), 1, 5000);
            QCOMPARE(dialled.first().first().toString(), link);
        } else if (!logged.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(readLog().contains(logged), 5000);
        } else {
            QTest::qWait(300);
        }
        if (link.isEmpty())
            QCOMPARE(dialled.size(), 0);
        if (logged.isEmpty())
            QVERIFY(!readLog().contains(QStringLiteral("activation message dropped")));
        AppDir::setPathForTesting(QString());
    }

    // A connection that sends part of a message and stays open is not waited for.
    void unfinishedMessageIsDropped()
    {
        AppDir::setPathForTesting(m_tmp->path());
        QVERIFY(QDir().mkpath(m_tmp->path() + LOG_DIR));
        const QString name = QStringLiteral("tarsel-slow-%1").arg(QCoreApplication::applicationPid());
        VelServer server(name);
        QWidget window;
        server.set_window(&window);
        QSignalSpy dialled(&server, &VelServer::signal_dial_link);
        QLocalSocket slow;
        slow.connectToServer(name);
        QVERIFY(slow.waitForConnected(5000));
        slow.write(ActivationMessage::dial(QStringLiteral("tel:110")).left(10));
        QVERIFY(slow.waitForBytesWritten(5000));
        QTRY_VERIFY_WITH_TIMEOUT(readLog().contains(QStringLiteral("not finished")), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(slow.state(), QLocalSocket::UnconnectedState, 5000);
        QCOMPARE(dialled.size(), 0);
        // The server still serves the next start.
        {
            VelClient client;
            client.connect_to_server(name, ActivationMessage::dial(QStringLiteral("tel:110")));
        }
        QTRY_COMPARE_WITH_TIMEOUT(dialled.size(), 1, 5000);
        AppDir::setPathForTesting(QString());
    }

    void liveServerNameIsNotStolen()
    {
        const QString name = QStringLiteral("tarsel-live-%1").arg(QCoreApplication::applicationPid());
        VelServer live(name);
        QVERIFY(live.isListening());
        VelServer intruder(name); // must not take the name from the live server
        QVERIFY(!intruder.isListening());
        QWidget window;
        live.set_window(&window);
        QLocalSocket client;
        client.connectToServer(name);
        QVERIFY(client.waitForConnected(5000));
        QTRY_VERIFY_WITH_TIMEOUT(window.isVisible(), 5000);
    }
};

QTEST_MAIN(tst_SingleInstance)
#include "tst_singleinstance.moc"
