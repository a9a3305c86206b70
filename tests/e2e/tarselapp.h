#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class E2eDesktop;

// One row of the call history as the database file holds it.
struct HistoryRecord
{
    QString status, number, time, date;
};

// The built program in an application directory of its own, as an operator's machine has it:
// the executable and share/sounds copied into a fresh directory, the database prepared there
// by an administrator (or left out for a first start). The program runs as a separate process
// on the test's desktop; what it wrote is read back from its files.
class TarselApp
{
public:
    // A copy of the built executable and its sounds in a new directory.
    explicit TarselApp(E2eDesktop &desktop);
    // An application directory that exists already (an installed one).
    TarselApp(E2eDesktop &desktop, const QString &appDir);
    ~TarselApp();
    TarselApp(const TarselApp &) = delete;
    TarselApp &operator=(const TarselApp &) = delete;

    bool isValid() const { return !m_appDir.isEmpty(); }
    QString appDir() const { return m_appDir; }
    QString executable() const;
    QString databasePath() const;

    // Writes settings rows (category → key → value) into the database before the start, the
    // way an administrator prepares a machine; the tables are created as the program creates
    // them.
    bool prepareSettings(const QMap<int, QMap<QString, QString>> &settings);
    // Rows of the call history written before the start, as earlier days of work left them.
    bool prepareHistory(const QList<HistoryRecord> &records);

    // Starts the program from an unrelated working directory (the program finds its files
    // beside itself), with `arguments` (a link to dial). False when the process did not start.
    bool start(const QStringList &arguments = QStringList());
    // A second start of the program on the same desktop, with `arguments`; without `display`
    // it has no DISPLAY, as from a terminal or a URL handler outside the session. Returns its
    // exit code, or -1 when it did not end within `msecs`.
    int startAgain(int msecs, const QStringList &arguments = QStringList(), bool display = true);
    // A variable for every start from now on, e.g. a PATH that leads to a stand-in program.
    void setEnvironment(const QString &name, const QString &value) { m_environment.insert(name, value); }
    bool isRunning() const;
    // True when the process ended within the time; exitCode() then holds its status.
    bool waitForExit(int msecs);
    int exitCode() const;
    QString output() const;

    // What the program left in its files.
    QList<HistoryRecord> history() const; // oldest first
    QMap<QString, QString> settings(int category) const;
    QString log() const;

private:
    QList<QStringList> query(const QString &sql) const;
    QProcessEnvironment environment() const;

    E2eDesktop &m_desktop;
    QTemporaryDir m_ownDir;
    QString m_appDir;
    QTemporaryDir m_elsewhere;
    QProcess m_process;
    QMap<QString, QString> m_environment;
};
