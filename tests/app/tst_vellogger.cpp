#include "app/appdir.h"
#include "app/constants.h"
#include "app/vellogger.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

class tst_VelLogger : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;

    static QString base() { return VelLogger::filePath(); }

    static QStringList lines(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList result = QString::fromLocal8Bit(f.readAll()).split(QLatin1Char('\n'));
        if (!result.isEmpty() && result.last().isEmpty())
            result.removeLast();
        return result;
    }

    static void writeFile(const QString &path, const QByteArray &content, const QDateTime &modified)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        AppDir::setPathForTesting(m_dir->path());
        QVERIFY(QDir().mkpath(AppDir::file(LOG_DIR)));
    }

    void cleanup()
    {
        AppDir::setPathForTesting(QString());
        delete m_dir;
    }

    void lineFormat()
    {
        VelLogger logger;
        logger.log(QStringLiteral("registered 1001"), 1);
        logger.log(QStringLiteral("二行目\nsecond line"), 2);
        logger.log(QStringLiteral("level is ignored"), 99);
        const QStringList got = lines(base());
        QCOMPARE(got.size(), 4);
        const QRegularExpression stamp(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] "));
        QVERIFY(stamp.match(got[0]).hasMatch());
        QVERIFY(got[0].endsWith(QStringLiteral("] registered 1001")));
        // A message with a line break keeps it: one stamp, two physical lines.
        QVERIFY(got[1].endsWith(QStringLiteral("] 二行目")));
        QCOMPARE(got[2], QStringLiteral("second line"));
        QVERIFY(got[3].endsWith(QStringLiteral("] level is ignored")));
    }

    void sameDayAppends()
    {
        VelLogger(nullptr).log(QStringLiteral("first"), 2);
        VelLogger second;
        second.log(QStringLiteral("second"), 2);
        QCOMPARE(lines(base()).size(), 2);
        QVERIFY(!QFile::exists(base() + QStringLiteral("1")));
    }

    void rotationOnNewDay()
    {
        const QDateTime yesterday = QDateTime::currentDateTime().addDays(-1);
        writeFile(base(), "current\n", yesterday);
        for (int n = 1; n <= 6; ++n)
            writeFile(base() + QString::number(n), "gen" + QByteArray::number(n) + "\n", yesterday);

        VelLogger logger;
        QVERIFY(!QFile::exists(base()));
        QVERIFY(!QFile::exists(base() + QStringLiteral("7")));
        QCOMPARE(lines(base() + QStringLiteral("1")), QStringList { QStringLiteral("current") });
        // Each generation moved up by one; the sixth was pushed out.
        for (int n = 2; n <= 6; ++n)
            QCOMPARE(lines(base() + QString::number(n)), QStringList { QStringLiteral("gen%1").arg(n - 1) });

        logger.log(QStringLiteral("new day"), 2);
        QCOMPARE(lines(base()).size(), 1);
    }

    void rotationWithGaps()
    {
        // Only the current file from an earlier day: it becomes generation 1, nothing else appears.
        writeFile(base(), "old\n", QDateTime::currentDateTime().addDays(-3));
        writeFile(base() + QStringLiteral("3"), "three\n", QDateTime::currentDateTime().addDays(-5));
        VelLogger logger;
        QCOMPARE(lines(base() + QStringLiteral("1")), QStringList { QStringLiteral("old") });
        QVERIFY(!QFile::exists(base() + QStringLiteral("2")));
        QCOMPARE(lines(base() + QStringLiteral("4")), QStringList { QStringLiteral("three") });
    }

    void twoThreadsNeverMixLines()
    {
        constexpr int perThread = 10000;
        VelLogger logger;
        auto writer = [&logger](const QString &tag) {
            return QThread::create([&logger, tag] {
                for (int i = 0; i < perThread; ++i)
                    logger.log(
                        tag + QString::number(i) + QStringLiteral(" ") + QString(40, QLatin1Char('x')), 1);
            });
        };
        QThread *a = writer(QStringLiteral("engine-"));
        QThread *b = writer(QStringLiteral("gui-"));
        a->start();
        b->start();
        QVERIFY(a->wait(120000));
        QVERIFY(b->wait(120000));
        delete a;
        delete b;

        const QStringList got = lines(base());
        QCOMPARE(got.size(), 2 * perThread);
        const QRegularExpression whole(QStringLiteral("^\\[[^\\]]+\\] (engine|gui)-(\\d+) x{40}$"));
        int lastEngine = -1, lastGui = -1;
        for (const QString &line : got) {
            const QRegularExpressionMatch m = whole.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            int &last = m.captured(1) == QStringLiteral("engine") ? lastEngine : lastGui;
            QCOMPARE(m.captured(2).toInt(), last + 1);
            last = m.captured(2).toInt();
        }
    }

    void unwritableDirectoryLosesLinesQuietly()
    {
        QVERIFY(QDir(AppDir::file(LOG_DIR)).removeRecursively());
        VelLogger logger;
        logger.log(QStringLiteral("lost"), 2);
        QVERIFY(!QFile::exists(base()));

        // A path that is a directory can never be opened as a file, not even by root.
        QVERIFY(QDir().mkpath(base()));
        logger.log(QStringLiteral("lost too"), 2);
        QVERIFY(QFileInfo(base()).isDir());
    }
};

QTEST_GUILESS_MAIN(tst_VelLogger)
#include "tst_vellogger.moc"
