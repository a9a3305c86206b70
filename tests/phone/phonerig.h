#pragma once

#include "tests/support/kamailiopeer.h"
#include "tests/support/signallog.h"
#include "tests/support/sipppeer.h"

#include <QMap>
#include <QScopedPointer>
#include <QString>
#include <QTemporaryDir>

class VelData;
class VelLogger;
class VelPhone;

// One engine under test with everything it needs: a fresh application directory (also used
// as $HOME, so that anything the SIP library writes outside it would show), the store with an
// account pointing at a sipp registrar, the logger, and a signal log.
class PhoneRig
{
public:
    PhoneRig();
    ~PhoneRig();

    // False, with a warning that says what to do, when no private PulseAudio is set up for the
    // tests.
    static bool havePulse();

    QString appDir() const { return m_dir.path(); }
    VelData *store() const { return m_store.data(); }
    void saveAccount(const QString &user, const QString &password, int port);
    void saveGeneral(const QString &key, const QString &value);
    void saveAudio(const QMap<QString, QString> &audio);

    // Creates and starts the engine with the stored settings.
    void startPhone();
    // Starts the registrar (password PASSWORD), stores the account USER/PASSWORD at it, starts
    // the engine and waits until it is registered; false (with the story printed) otherwise.
    bool startRegistered(SippPeer &registrar);
    // Stores the account USER/PASSWORD at the Kamailio `server` over `transport` ("udp", "tcp"
    // or "tls", at the server's port for it) with the further account keys given, and starts
    // the engine; waitRegistered() then says whether it registered.
    void startAt(const KamailioPeer &server, const QString &transport,
        const QMap<QString, QString> &keys = QMap<QString, QString>());
    // Waits until the engine has registered and told the ready text; false (with the story
    // printed) otherwise.
    bool waitRegistered(const QString &peerReport = QString());
    // The application log so far.
    QString logText() const;
    VelPhone *phone() const { return m_phone.data(); }
    SignalLog &spy() { return *m_signals; }
    // Waits (bounded) until the engine is in `state` and `status` is the last status text
    // delivered, so that a following spy().clear() drops nothing that belongs to what comes next.
    bool reach(int state, const QString &status);
    // Stops the engine and waits for its thread (bounded).
    bool stopPhone();

    // The phone's SIP port as its REGISTER announced it in Contact; 0 when unknown.
    static int phonePortFrom(const SippPeer &registrar);
    // Aims a caller peer (SippScenario::caller) at the phone that registered at `registrar`:
    // it calls as user `callerUser`, with `displayName` when given.
    static void aim(SippPeer &caller, const SippPeer &registrar, const QString &callerUser,
        const QString &displayName = QString());
    // The texts of signal_update_dialog_status in the log, in order.
    static QStringList statusTexts(const SignalLog &spy);

    static const QString USER;
    static const QString PASSWORD;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QScopedPointer<VelLogger> m_logger;
    QScopedPointer<VelData> m_store;
    QScopedPointer<VelPhone> m_phone;
    QScopedPointer<SignalLog> m_signals;
};
