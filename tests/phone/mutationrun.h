#pragma once

#include "tests/support/sipppeer.h"

#include <QProcess>
#include <QString>
#include <QVector>

// Mutated INVITEs from 127.0.0.1 at the engine running under the supervisor in its own process
// (phonehost), registered at a sipp registrar. Every crash of the engine's process must be
// followed by a new process that registers again from a new port; the run counts both.
class MutationRun
{
public:
    struct Figures
    {
        int sent = 0;
        int crashes = 0;
        int recoveries = 0;
        QVector<qint64> recoveryMs; // from the crash seen to the new process registered
        QVector<QPair<int, qint64>> rssKb; // (messages sent, resident KiB of the engine's process)
    };

    // `appDir` becomes the host's application directory (database prepared here); `maxCrashes`
    // bounds the registrations the registrar accepts.
    MutationRun(const QString &appDir, int maxCrashes);
    ~MutationRun();

    // Starts the registrar and the host; false (with why()) unless it registered.
    bool start();
    // Sends `messages` mutated INVITEs made with `seed`, `gapMs` apart, recording RSS every
    // `rssEvery` messages. False (with why()) when a crash was not recovered in time.
    bool run(int messages, quint32 seed, int gapMs, int rssEvery);
    // Sends the two datagrams known to crash the SIP library and waits for the recovery.
    bool crashWithPair();
    const Figures &figures() const { return m_figures; }
    QString why() const { return m_why; }
    // One line per figure, for the test's and the benchmark's output.
    QString report() const;
    // Whether the supervised process is still there and registered at the end.
    bool registered() const;

private:
    qint64 childPid() const;
    int acceptedRegistrations() const;
    bool waitForRecovery(int oldPort, int acceptedBefore);

    QString m_appDir;
    SippPeer m_registrar;
    QProcess m_host;
    Figures m_figures;
    QString m_why;
};
