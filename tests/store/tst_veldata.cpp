#include "app/appdir.h"
#include "app/constants.h"
#include "app/vellogger.h"
#include "store/veldata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <sys/stat.h>
#include <unistd.h>

using Settings = QMap<QString, QString>;

class tst_VelData : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;
    VelData *m_store = nullptr;

    QString dbPath() const { return AppDir::file(DB_FILE); }

    VelData *openStore()
    {
        closeStore();
        m_store = new VelData;
        return m_store;
    }

    void closeStore()
    {
        delete m_store;
        m_store = nullptr;
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    }

    // Rows of the settings table as "category|key|value", read through a separate connection.
    QStringList rows(const QString &where = QString())
    {
        QStringList result;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(DB_DRIVER, QStringLiteral("inspect"));
            db.setDatabaseName(dbPath());
            if (!db.open())
                return { QStringLiteral("cannot open") };
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT Category, Key, Value FROM settings ") + where
                + QStringLiteral(" ORDER BY rowid"));
            while (q.next())
                result << QStringLiteral("%1|%2|%3")
                              .arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString());
        }
        QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
        return result;
    }

    void execOutside(const QStringList &statements)
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(DB_DRIVER, QStringLiteral("outside"));
            db.setDatabaseName(dbPath());
            QVERIFY(db.open());
            QSqlQuery q(db);
            for (const QString &s : statements)
                QVERIFY2(q.exec(s), qPrintable(s));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("outside"));
    }

    QString logText() const
    {
        QFile f(VelLogger::filePath());
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

    static QByteArray fileBytes(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static mode_t modeOf(const QString &path)
    {
        struct stat st
        {
        };
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_mode & 0777;
    }

    // Runs the store in another process as user "nobody" when we are root, since root
    // writes into read-only directories anyway.
    QString probe(const QStringList &args)
    {
        QProcess p;
        const QString exe = QString::fromLocal8Bit(qgetenv("STOREPROBE"));
        if (::getuid() == 0)
            p.start(QStringLiteral("setpriv"),
                QStringList { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                    QStringLiteral("--clear-groups"), exe }
                    + args);
        else
            p.start(exe, args);
        if (!p.waitForFinished(30000))
            return QStringLiteral("probe hung");
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
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
        closeStore();
        AppDir::setPathForTesting(QString());
        delete m_dir;
    }

    void firstStartCreatesPrivateDatabase()
    {
        QVERIFY(!QFile::exists(dbPath()));
        VelData *store = openStore();
        QVERIFY(QFile::exists(dbPath()));
        QVERIFY(store->database().tables().contains(QStringLiteral("settings")));
        QVERIFY(store->database().tables().contains(QStringLiteral("history")));
        QVERIFY(store->get_account_settings().isEmpty());
        QVERIFY(store->get_outlink_settings().isEmpty());
        QVERIFY(store->get_audio_settings().isEmpty());
        QVERIFY(store->get_general_settings().isEmpty());
        QCOMPARE(store->get_delay_hidden_remote_window(), 5);
        // It holds passwords: owner only, the directory too.
        QCOMPARE(modeOf(dbPath()), mode_t(0600));
        QCOMPARE(modeOf(AppDir::file(DATA_DIR)), mode_t(0700));
        // The category 2 load logs the simple page's parameters, empty here.
        QVERIFY(logText().contains(QStringLiteral("] simpleParams: \n")));
    }

    void openReadableFilesAreTightened()
    {
        openStore();
        closeStore();
        QVERIFY(::chmod(QFile::encodeName(dbPath()).constData(), 0644) == 0);
        QVERIFY(::chmod(QFile::encodeName(AppDir::file(DATA_DIR)).constData(), 0755) == 0);
        openStore();
        QCOMPARE(modeOf(dbPath()), mode_t(0600));
        QCOMPARE(modeOf(AppDir::file(DATA_DIR)), mode_t(0700));
        QVERIFY(logText().contains(QStringLiteral("database file was readable by others")));
        QVERIFY(logText().contains(QStringLiteral("data directory was readable by others")));
    }

    void upsertKeyByKey()
    {
        VelData *store = openStore();
        QVERIFY(store->save_account_settings({ { QStringLiteral("address"), QStringLiteral("a") },
            { QStringLiteral("port"), QStringLiteral("5060") } }));
        QCOMPARE(rows(), (QStringList { QStringLiteral("1|address|a"), QStringLiteral("1|port|5060") }));
        QVERIFY(store->save_account_settings({ { QStringLiteral("port"), QStringLiteral("5061") } }));
        QCOMPARE(rows(), (QStringList { QStringLiteral("1|address|a"), QStringLiteral("1|port|5061") }));
        QCOMPARE(store->get_account_settings().value(QStringLiteral("port")), QStringLiteral("5061"));
        QCOMPARE(store->get_account_settings().value(QStringLiteral("address")), QStringLiteral("a"));

        // A caller's copy is its own.
        Settings copy = store->get_account_settings();
        copy.insert(QStringLiteral("address"), QStringLiteral("changed"));
        QCOMPARE(store->get_account_settings().value(QStringLiteral("address")), QStringLiteral("a"));

        // Reopening reads the same values back; Japanese text survives.
        QVERIFY(store->save_audio_settings(
            { { QStringLiteral("playback"), QStringLiteral("スピーカー [Null Output]") } }));
        store = openStore();
        QCOMPARE(store->get_account_settings().value(QStringLiteral("port")), QStringLiteral("5061"));
        QCOMPARE(store->get_audio_settings().value(QStringLiteral("playback")),
            QStringLiteral("スピーカー [Null Output]"));
    }

    void categoriesAreIndependent()
    {
        VelData *store = openStore();
        QVERIFY(store->save_audio_settings({ { QStringLiteral("playback"), QStringLiteral("speaker") } }));
        QVERIFY(store->save_account_settings({ { QStringLiteral("playback"), QStringLiteral("other") } }));
        QVERIFY(store->save_audio_settings({ { QStringLiteral("playback"), QStringLiteral("speaker2") } }));
        QCOMPARE(rows(),
            (QStringList { QStringLiteral("3|playback|speaker2"), QStringLiteral("1|playback|other") }));
        QCOMPARE(store->get_account_settings().value(QStringLiteral("playback")), QStringLiteral("other"));
        QVERIFY(store->get_general_settings().isEmpty());
        QVERIFY(store->get_outlink_settings().isEmpty());
    }

    void hideDelay_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<int>("seconds");
        QTest::newRow("seven") << "7" << true << 7;
        QTest::newRow("not a number") << "abc" << true << 0;
        QTest::newRow("empty") << "" << true << 5;
        QTest::newRow("zero") << "0" << true << 0;
        QTest::newRow("missing key, other keys present") << "" << false << 5;
    }

    void hideDelay()
    {
        QFETCH(QString, value);
        QFETCH(bool, stored);
        QFETCH(int, seconds);
        VelData *store = openStore();
        Settings general { { QStringLiteral("alwaysTop"), QStringLiteral("1") } };
        if (stored)
            general.insert(QStringLiteral("dalayHiddenRemoteWindow"), value);
        QVERIFY(store->save_general_settings(general));
        QCOMPARE(store->get_delay_hidden_remote_window(), seconds);
        QCOMPARE(openStore()->get_delay_hidden_remote_window(), seconds);
    }

    void duplicateRowsFromOutside()
    {
        openStore();
        closeStore();
        execOutside({ QStringLiteral("INSERT INTO settings VALUES(1,'userId','first')"),
            QStringLiteral("INSERT INTO settings VALUES(1,'userId','last')") });
        VelData *store = openStore();
        QCOMPARE(store->get_account_settings().value(QStringLiteral("userId")), QStringLiteral("last"));
        QVERIFY(store->save_account_settings({ { QStringLiteral("userId"), QStringLiteral("1001") } }));
        QCOMPARE(rows(), (QStringList { QStringLiteral("1|userId|1001"), QStringLiteral("1|userId|1001") }));
    }

    void failingStatementMidSave()
    {
        openStore();
        closeStore();
        // A trigger refuses one key, as a full disk or a locked table would refuse a write.
        execOutside({ QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON settings WHEN NEW.Key='m' "
                                     "BEGIN SELECT RAISE(ABORT, 'refused by test'); END") });
        VelData *store = openStore();
        const bool saved = store->save_account_settings({ { QStringLiteral("a"), QStringLiteral("1") },
            { QStringLiteral("m"), QStringLiteral("2") }, { QStringLiteral("z"), QStringLiteral("3") } });
        QVERIFY2(!saved, "a save with a failed statement must not report success");
        QCOMPARE(rows(), (QStringList { QStringLiteral("1|a|1"), QStringLiteral("1|z|3") }));
        const Settings account = store->get_account_settings();
        QCOMPARE(account.value(QStringLiteral("a")), QStringLiteral("1"));
        QVERIFY(!account.contains(QStringLiteral("m")));
        QCOMPARE(account.value(QStringLiteral("z")), QStringLiteral("3"));
        QVERIFY(logText().contains(QStringLiteral("refused by test")));
    }

    void garbageFileIsNeverTouched_data()
    {
        QTest::addColumn<QByteArray>("content");
        QByteArray noise(8192, '\0');
        QRandomGenerator gen(42);
        for (char &c : noise)
            c = char(gen.bounded(256));
        QTest::newRow("random bytes") << noise;
        QTest::newRow("short text") << QByteArray("these are my notes, not a database\n");
    }

    void garbageFileIsNeverTouched()
    {
        QFETCH(QByteArray, content);
        QVERIFY(QDir().mkpath(AppDir::file(DATA_DIR)));
        {
            QFile f(dbPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        VelData *store = openStore();
        QVERIFY(store->get_account_settings().isEmpty());
        QCOMPARE(store->get_delay_hidden_remote_window(), 5);
        QVERIFY(!store->save_account_settings({ { QStringLiteral("address"), QStringLiteral("a") } }));
        QVERIFY(!store->save_general_settings({ { QStringLiteral("alwaysTop"), QStringLiteral("1") } }));
        store->delete_all_history();
        closeStore();
        QCOMPARE(fileBytes(dbPath()), content);
        QVERIFY(logText().contains(QStringLiteral("not a database")));
    }

    void readOnlyDataDirectory()
    {
        // Owned by the probe's user but without write permission for anybody.
        const QString data = AppDir::file(DATA_DIR);
        const QString logs = AppDir::file(LOG_DIR);
        QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755) == 0);
        if (::getuid() == 0) {
            QVERIFY(::chown(QFile::encodeName(data).constData(), 65534, 65534) == 0);
            QVERIFY(::chown(QFile::encodeName(logs).constData(), 65534, 65534) == 0);
        }
        QVERIFY(::chmod(QFile::encodeName(data).constData(), 0555) == 0);

        QCOMPARE(probe({ m_dir->path(), QStringLiteral("save"), QStringLiteral("1"),
                     QStringLiteral("address"), QStringLiteral("a") }),
            QStringLiteral("not saved"));
        QVERIFY(!QFile::exists(dbPath()));
        QVERIFY2(logText().contains(QStringLiteral("unable to open database file"))
                || logText().contains(QStringLiteral("Error opening database")),
            qPrintable(logText()));
        QVERIFY(::chmod(QFile::encodeName(data).constData(), 0700) == 0);
    }

    void engineThreadReadsWhileSaving()
    {
        VelData *store = openStore();
        std::atomic<bool> stop { false };
        std::atomic<int> reads { 0 };
        QThread *reader = QThread::create([&] {
            while (!stop.load()) {
                const Settings audio = store->get_audio_settings();
                const QString gain = audio.value(QStringLiteral("captureGain"));
                QVERIFY(gain.isEmpty() || gain.toInt() >= 0);
                ++reads;
            }
        });
        reader->start();
        for (int i = 0; i < 200; ++i)
            QVERIFY(store->save_audio_settings({ { QStringLiteral("captureGain"), QString::number(i) } }));
        QTRY_VERIFY(reads.load() > 0);
        stop = true;
        QVERIFY(reader->wait(10000));
        delete reader;
        QCOMPARE(store->get_audio_settings().value(QStringLiteral("captureGain")), QStringLiteral("199"));
    }

    void deleteAllHistoryKeepsIdsGrowing()
    {
        VelData *store = openStore();
        QSqlQuery q;
        QVERIFY(q.exec(
            QStringLiteral("INSERT INTO history(Status, PhoneNumber, DialogTime, DialogDate, DeleteFlg) "
                           "VALUES('1','100','00:00:05','2026-01-01 10:00:00','0')")));
        QVERIFY(q.exec(
            QStringLiteral("INSERT INTO history(Status, PhoneNumber, DialogTime, DialogDate, DeleteFlg) "
                           "VALUES('3','101','00:00:00','2026-01-01 10:01:00','0')")));
        store->delete_all_history();
        QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*) FROM history")) && q.next());
        QCOMPARE(q.value(0).toInt(), 0);
        QVERIFY(q.exec(QStringLiteral("INSERT INTO history(Status) VALUES('2')")));
        QCOMPARE(q.lastInsertId().toInt(), 3);
    }
};

QTEST_GUILESS_MAIN(tst_VelData)
#include "tst_veldata.moc"
