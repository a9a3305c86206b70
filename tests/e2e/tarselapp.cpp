#include "tests/e2e/tarselapp.h"

#include "tests/e2e/desktop.h"

#include "app/constants.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <QVariant>

namespace {
bool copyTree(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + source.mid(from.size());
        QDir().mkpath(QFileInfo(target).path());
        if (!QFile::copy(source, target))
            return false;
    }
    return true;
}

// One short-lived connection per use: the program under test writes the same file, and a
// connection kept open would hold SQLite locks and stale pages.
class Connection
{
public:
    explicit Connection(const QString &path)
        : m_name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.open();
    }
    ~Connection() { QSqlDatabase::removeDatabase(m_name); }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
};
} // namespace

TarselApp::TarselApp(E2eDesktop &desktop)
    : m_desktop(desktop)
{
    if (!m_ownDir.isValid())
        return;
    const QString dir = m_ownDir.path();
    if (!QFile::copy(QStringLiteral(TARSEL_EXECUTABLE), dir + QStringLiteral("/tarsel"))
        || !QFile::copy(
            QStringLiteral(TARSEL_PROGRAM_EXECUTABLE), dir + QStringLiteral("/" TARSEL_PROGRAM_NAME))
        || !copyTree(QStringLiteral(TARSEL_BUILD_DIR "/share/sounds"), dir + QStringLiteral("/share/sounds")))
        return;
    m_appDir = dir;
}

TarselApp::TarselApp(E2eDesktop &desktop, const QString &appDir)
    : m_desktop(desktop)
    , m_appDir(appDir)
{ }

TarselApp::~TarselApp()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString TarselApp::executable() const
{
    return m_appDir + QStringLiteral("/tarsel");
}

QString TarselApp::databasePath() const
{
    return m_appDir + DB_FILE;
}

bool TarselApp::prepareSettings(const QMap<int, QMap<QString, QString>> &settings)
{
    if (!QDir().mkpath(m_appDir + DATA_DIR))
        return false;
    QFile::setPermissions(
        m_appDir + DATA_DIR, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    Connection connection(databasePath());
    QSqlQuery query(connection.db());
    query.exec(SQL_CREATE_SETTINGS);
    query.exec(SQL_CREATE_HISTORY);
    for (auto category = settings.constBegin(); category != settings.constEnd(); ++category) {
        for (auto it = category.value().constBegin(); it != category.value().constEnd(); ++it) {
            query.prepare(QStringLiteral("INSERT INTO settings VALUES(?,?,?)"));
            query.addBindValue(QString::number(category.key()));
            query.addBindValue(it.key());
            query.addBindValue(it.value());
            if (!query.exec())
                return false;
        }
    }
    return true;
}

bool TarselApp::prepareHistory(const QList<HistoryRecord> &records)
{
    if (!QDir().mkpath(m_appDir + DATA_DIR))
        return false;
    Connection connection(databasePath());
    QSqlQuery query(connection.db());
    query.exec(SQL_CREATE_HISTORY);
    for (const HistoryRecord &record : records) {
        query.prepare(QStringLiteral("INSERT INTO history (Status, PhoneNumber, DialogTime, DialogDate, "
                                     "DeleteFlg) VALUES (?, ?, ?, ?, '0')"));
        for (const QString &value : { record.status, record.number, record.time, record.date })
            query.addBindValue(value);
        if (!query.exec())
            return false;
    }
    return true;
}

QProcessEnvironment TarselApp::environment() const
{
    QProcessEnvironment env = m_desktop.environment();
    for (auto it = m_environment.constBegin(); it != m_environment.constEnd(); ++it)
        env.insert(it.key(), it.value());
    return env;
}

bool TarselApp::start(const QStringList &arguments)
{
    m_process.setProcessEnvironment(environment());
    m_process.setWorkingDirectory(m_elsewhere.path());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(executable(), arguments);
    return m_process.waitForStarted(10000);
}

int TarselApp::startAgain(int msecs, const QStringList &arguments, bool display)
{
    QProcessEnvironment env = environment();
    if (!display)
        env.remove(QStringLiteral("DISPLAY"));
    QProcess second;
    second.setProcessEnvironment(env);
    second.setWorkingDirectory(m_elsewhere.path());
    second.start(executable(), arguments);
    if (!second.waitForStarted(10000))
        return -1;
    if (!second.waitForFinished(msecs)) {
        second.kill();
        second.waitForFinished(5000);
        return -1;
    }
    return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
}

bool TarselApp::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

bool TarselApp::waitForExit(int msecs)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(msecs);
}

int TarselApp::exitCode() const
{
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString TarselApp::output() const
{
    // Read without consuming, so that a failure message can still show it all.
    return QString::fromLocal8Bit(const_cast<QProcess &>(m_process).peek(1 << 20));
}

QList<QStringList> TarselApp::query(const QString &sql) const
{
    QList<QStringList> rows;
    if (!QFileInfo::exists(databasePath()))
        return rows;
    Connection connection(databasePath());
    QSqlQuery query(connection.db());
    if (!query.exec(sql))
        return rows;
    while (query.next()) {
        QStringList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << query.value(i).toString();
        rows << row;
    }
    return rows;
}

QList<HistoryRecord> TarselApp::history() const
{
    QList<HistoryRecord> records;
    for (const QStringList &row :
        query(QStringLiteral("SELECT Status, PhoneNumber, DialogTime, DialogDate FROM history ORDER BY Id")))
        records << HistoryRecord { row.at(0), row.at(1), row.at(2), row.at(3) };
    return records;
}

QMap<QString, QString> TarselApp::settings(int category) const
{
    QMap<QString, QString> values;
    for (const QStringList &row :
        query(QStringLiteral("SELECT Key, Value FROM settings WHERE Category=%1").arg(category)))
        values.insert(row.at(0), row.at(1));
    return values;
}

QString TarselApp::log() const
{
    QFile file(m_appDir + LOG_FILE_BASE);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
