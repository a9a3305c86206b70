#include "singleinstance.h"
#include "velserver.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
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

    QProcess *start(const QStringList &args = {})
    {
        auto *p = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), m_tmp->path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::SeparateChannels);
        p->start(QString::fromLocal8Bit(qgetenv("INSTANCEHOST")), args);
        m_processes << p;
        return p;
    }

    static bool waitForLine(QProcess *p, const QByteArray &prefix, int timeoutMs = 15000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            while (p->canReadLine()) {
                if (p->readLine().startsWith(prefix))
                    return true;
            }
            if (p->state() == QProcess::NotRunning)
                return false;
            p->waitForReadyRead(100);
        }
        return false;
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
        QProcess *first = start({QStringLiteral("--hide")});
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
        QProcess *next = start({QStringLiteral("--hide")});
        QVERIFY2(waitForLine(next, "ready", 20000), "a start after a crash must become the first instance");
        QVERIFY2(timer.elapsed() < 20000, "must not wait out the activation time-out");

        // And it listens: a further start raises it and exits 0.
        QProcess *third = start();
        QVERIFY(third->waitForFinished(15000));
        QCOMPARE(third->exitCode(), 0);
        QVERIFY(waitForLine(next, "shown"));
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
