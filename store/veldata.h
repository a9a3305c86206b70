#pragma once

#include <QMap>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include <mutex>

class VelLogger;

// Settings categories of the settings table.
enum SettingsCategory {
    CATEGORY_ACCOUNT = 1,
    CATEGORY_OUTLINK = 2,
    CATEGORY_AUDIO = 3,
    CATEGORY_GENERAL = 4,
};

// History Status codes (the engine's call result).
constexpr int HISTORY_INCOMING_ANSWERED = 1;
constexpr int HISTORY_OUTGOING_ANSWERED = 2;
constexpr int HISTORY_INCOMING_MISSED = 3;
constexpr int HISTORY_OUTGOING_UNANSWERED = 4;

// The program's only persistent store: one SQLite file (data/velpdata) on Qt's default
// connection, with the settings table (four categories of key/value pairs, read into memory
// once at open and written through key by key) and the history table.
//
// Threads: the database is used on the GUI thread only. The engine thread reads settings
// through the getters, which copy the in-memory maps under m_mapsMutex; saves update the maps
// under the same lock. It is the standard library's mutex, which ThreadSanitizer sees (Qt's
// own is invisible to it in a non-instrumented Qt).
class VelData : public QObject
{
public:
    explicit VelData(QObject *parent = nullptr);
    ~VelData() override;

    void open_database();

    QMap<QString, QString> get_account_settings() const;
    QMap<QString, QString> get_outlink_settings() const;
    QMap<QString, QString> get_audio_settings() const;
    QMap<QString, QString> get_general_settings() const;

    // Upsert every key of the map into its category. False when the database could not be
    // opened or any statement of the save failed; the keys written before a failure stay.
    bool save_account_settings(const QMap<QString, QString> &settings);
    bool save_outlink_settings(const QMap<QString, QString> &settings);
    bool save_audio_settings(const QMap<QString, QString> &settings);
    bool save_general_settings(const QMap<QString, QString> &settings);

    // Seconds the remote site window stays after a call; 5 when nothing is stored.
    int get_delay_hidden_remote_window() const;

    void delete_all_history();

    QSqlDatabase database() const;

private:
    bool ensure_open();
    void load_category(int category);
    bool save_category(int category, const QMap<QString, QString> &settings);
    QMap<QString, QString> &map_for(int category);
    QMap<QString, QString> copy_of(int category) const;
    void secure_permissions();

    QSqlDatabase m_db;
    VelLogger *m_logger;
    mutable std::mutex m_mapsMutex;
    QMap<QString, QString> m_account;
    QMap<QString, QString> m_outlink;
    QMap<QString, QString> m_audio;
    QMap<QString, QString> m_general;
};
