#include "store/veldata.h"
#include "store/settingskeys.h"

#include "app/appdir.h"
#include "app/constants.h"
#include "app/vellogger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int DEFAULT_HIDE_DELAY_SECONDS = 5;

QString loadStatement(int category)
{
    return QStringLiteral("SELECT * FROM settings WHERE Category=%1").arg(category);
}

QString keySelectStatement(int category)
{
    return QStringLiteral("SELECT * FROM settings WHERE Category=%1 AND Key=?").arg(category);
}

QString updateStatement(int category)
{
    return QStringLiteral("UPDATE settings SET Value=? WHERE Category=%1 AND Key=?").arg(category);
}

// Drops the group and other bits and keeps the owner's as they are: a read-only directory
// stays read-only.
mode_t ownerBitsOnly(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0700;
    return st.st_mode & 0700;
}

const QString INSERT_STATEMENT = QStringLiteral("INSERT INTO settings VALUES(?,?,?)");

const QFileDevice::Permissions GROUP_OR_OTHER = QFileDevice::ReadGroup | QFileDevice::WriteGroup
    | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
} // namespace

VelData::VelData(QObject *parent)
    : QObject(parent)
    , m_logger(new VelLogger(this))
{
    open_database();
}

VelData::~VelData() = default;

void VelData::secure_permissions()
{
    // The database holds the SIP and operator passwords: the data directory and the file are
    // for the owner only. An empty database file is created with 0600 before SQLite opens it,
    // so it is never readable by others, not even for a moment.
    const QString dirPath = AppDir::file(DATA_DIR);
    QFileInfo dirInfo(dirPath);
    if (dirInfo.isDir() && (dirInfo.permissions() & GROUP_OR_OTHER)) {
        if (::chmod(QFile::encodeName(dirPath).constData(), ownerBitsOnly(dirPath)) == 0)
            m_logger->log(QStringLiteral("data directory was readable by others; now owner only: ") + dirPath,
                LEVEL_WARNING);
        else
            m_logger->log(
                QStringLiteral("cannot restrict the data directory to its owner: ") + dirPath, LEVEL_WARNING);
    }

    const QString dbPath = AppDir::file(DB_FILE);
    const QByteArray dbName = QFile::encodeName(dbPath);
    QFileInfo dbInfo(dbPath);
    if (!dbInfo.exists()) {
        const int fd = ::open(dbName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    } else if (dbInfo.isFile() && (dbInfo.permissions() & GROUP_OR_OTHER)) {
        if (::chmod(dbName.constData(), ownerBitsOnly(dbPath)) == 0)
            m_logger->log(QStringLiteral("database file was readable by others; now owner only: ") + dbPath,
                LEVEL_WARNING);
        else
            m_logger->log(
                QStringLiteral("cannot restrict the database file to its owner: ") + dbPath, LEVEL_WARNING);
    }
}

void VelData::open_database()
{
    m_db = QSqlDatabase::addDatabase(DB_DRIVER);
    m_db.setDatabaseName(AppDir::file(DB_FILE));
    m_db.setUserName(DB_USER_NAME);
    m_db.setPassword(DB_PASSWORD);

    secure_permissions();
    if (!m_db.open()) {
        m_logger->log(m_db.lastError().text(), LEVEL_WARNING);
        return;
    }

    // On an existing database both statements fail because the tables exist; that is how
    // the tables come into being on first start, so their results are not looked at.
    QSqlQuery query;
    query.exec(SQL_CREATE_SETTINGS);
    query.exec(SQL_CREATE_HISTORY);

    load_category(CATEGORY_ACCOUNT);
    load_category(CATEGORY_OUTLINK);
    load_category(CATEGORY_AUDIO);
    load_category(CATEGORY_GENERAL);
}

bool VelData::ensure_open()
{
    if (m_db.isOpen())
        return true;
    if (m_db.open())
        return true;
    m_logger->log(m_db.lastError().text(), LEVEL_WARNING);
    return false;
}

QMap<QString, QString> &VelData::map_for(int category)
{
    switch (category) {
    case CATEGORY_ACCOUNT:
        return m_account;
    case CATEGORY_OUTLINK:
        return m_outlink;
    case CATEGORY_AUDIO:
        return m_audio;
    default:
        return m_general;
    }
}

QMap<QString, QString> VelData::copy_of(int category) const
{
    // A copy of its own, texts included, rather than Qt's implicitly shared one: the engine
    // thread reads its copy after the lock is released, while a save on the GUI thread may
    // change the cached map in place. Qt decides whether a map is still shared with a relaxed
    // load of its reference count, which orders nothing between the threads.
    std::lock_guard<std::mutex> locker(m_mapsMutex);
    const QMap<QString, QString> &cached = const_cast<VelData *>(this)->map_for(category);
    QMap<QString, QString> copy;
    for (auto it = cached.cbegin(); it != cached.cend(); ++it)
        copy.insert(QString(it.key().constData(), it.key().size()),
            QString(it.value().constData(), it.value().size()));
    return copy;
}

void VelData::load_category(int category)
{
    if (ensure_open()) {
        QSqlQuery query;
        const bool ok = query.exec(loadStatement(category));
        QMap<QString, QString> loaded;
        while (query.next()) {
            // A later row with the same key overwrites an earlier one.
            loaded.insert(query.value(QStringLiteral("Key")).toString(),
                query.value(QStringLiteral("Value")).toString());
        }
        {
            std::lock_guard<std::mutex> locker(m_mapsMutex);
            QMap<QString, QString> &map = map_for(category);
            for (auto it = loaded.cbegin(); it != loaded.cend(); ++it)
                map.insert(it.key(), it.value());
        }
        if (!ok && category != CATEGORY_OUTLINK)
            m_logger->log(query.lastError().text(), LEVEL_WARNING);
    }
    if (category == CATEGORY_OUTLINK)
        m_logger->log(QStringLiteral("simpleParams: ") + copy_of(CATEGORY_OUTLINK).value(KEY_SIMPLE_PARAMS),
            LEVEL_WARNING);
}

bool VelData::save_category(int category, const QMap<QString, QString> &settings)
{
    if (!ensure_open())
        return false;

    bool allSaved = true;
    QSqlQuery query;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
        const QString &key = it.key();
        const QString &value = it.value();

        query.clear();
        if (!query.prepare(keySelectStatement(category))) {
            allSaved = false;
            continue;
        }
        query.bindValue(0, key);
        query.exec();
        bool present = false;
        while (query.next())
            present = true;
        query.clear();

        bool ok;
        if (present) {
            ok = query.prepare(updateStatement(category));
            if (ok) {
                query.bindValue(0, value);
                query.bindValue(1, key);
            }
        } else {
            ok = query.prepare(INSERT_STATEMENT);
            if (ok) {
                query.bindValue(0, category);
                query.bindValue(1, key);
                query.bindValue(2, value);
            }
        }
        if (ok)
            ok = query.exec();
        if (!ok) {
            m_logger->log(query.lastError().text(), LEVEL_WARNING);
            allSaved = false;
            continue;
        }
        std::lock_guard<std::mutex> locker(m_mapsMutex);
        map_for(category).insert(key, value);
    }
    return allSaved;
}

QMap<QString, QString> VelData::get_account_settings() const
{
    return copy_of(CATEGORY_ACCOUNT);
}

QMap<QString, QString> VelData::get_outlink_settings() const
{
    return copy_of(CATEGORY_OUTLINK);
}

QMap<QString, QString> VelData::get_audio_settings() const
{
    return copy_of(CATEGORY_AUDIO);
}

QMap<QString, QString> VelData::get_general_settings() const
{
    return copy_of(CATEGORY_GENERAL);
}

bool VelData::save_account_settings(const QMap<QString, QString> &settings)
{
    return save_category(CATEGORY_ACCOUNT, settings);
}

bool VelData::save_outlink_settings(const QMap<QString, QString> &settings)
{
    return save_category(CATEGORY_OUTLINK, settings);
}

bool VelData::save_audio_settings(const QMap<QString, QString> &settings)
{
    return save_category(CATEGORY_AUDIO, settings);
}

bool VelData::save_general_settings(const QMap<QString, QString> &settings)
{
    return save_category(CATEGORY_GENERAL, settings);
}

int VelData::get_delay_hidden_remote_window() const
{
    const QMap<QString, QString> general = get_general_settings();
    if (general.isEmpty())
        return DEFAULT_HIDE_DELAY_SECONDS;
    const QString value = general.value(KEY_HIDE_DELAY);
    if (value.isEmpty())
        return DEFAULT_HIDE_DELAY_SECONDS;
    return value.toInt(); // text that is not a number gives 0
}

void VelData::delete_all_history()
{
    QSqlQuery query;
    if (!query.exec(QStringLiteral("DELETE FROM history")))
        m_logger->log(query.lastError().text(), LEVEL_WARNING);
}

QSqlDatabase VelData::database() const
{
    return m_db;
}
