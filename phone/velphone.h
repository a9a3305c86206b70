#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QThread>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include <linphone/core.h>

class VelData;
class VelLogger;

// States of the engine's own call state machine; the user interface compares them.
enum PhoneState {
    PHONE_READY = 1,
    PHONE_DIALLING = 2,
    PHONE_RINGING = 3,
    PHONE_TALKING = 4,
    PHONE_HOLDING = 5,
    PHONE_HELD = 6,
    PHONE_TRANSFER_WAIT = 7,
    PHONE_TRANSFER_DIALLING = 8,
    PHONE_TRANSFER_TALKING = 9,
    PHONE_TRANSFER_HOLDING = 10,
    PHONE_TRANSFER_HELD = 11,
};

// The telephony engine: a worker thread that owns the one SIP core of the process, registers
// the stored account, turns the library's reports into the phone state machine and the
// signals below, and carries out the requests that the user interface leaves for it.
//
// Threads and locks:
// - m_requestMutex guards the pending requests, their texts, "transfer done" and "running".
//   The GUI thread's setters take only this lock, so they never wait for the core. The loop
//   sleeps on m_wake under it; every setter and stop() wake it at once.
// - m_coreMutex guards the core and every other field (calls, phone state, numbers). The
//   engine thread holds it around each iteration and the executors (all library callbacks
//   run inside them); the GUI-thread core operations and the queries take it too.
// - Lock order: m_coreMutex before m_requestMutex, never the other way round.
// All signals are emitted on the engine thread. The locks are the standard library's, which
// ThreadSanitizer understands (Qt's own mutexes are invisible to it in a non-instrumented Qt).
class VelPhone : public QThread
{
    Q_OBJECT

public:
    VelPhone(QObject *parent, VelData *store, VelLogger *logger);
    ~VelPhone() override;

    // Request setters (GUI thread): record the request and return at once.
    void request_dial(const QString &number);
    void request_answer();
    void request_hold();
    void request_transfer(const QString &number);
    void request_hangup();
    void request_re_register();
    void stop();

    // Queries (GUI thread): read under the core lock, so each answer is consistent.
    bool is_incoming_ringing() const;
    bool is_in_call() const;
    bool is_idle() const;
    int get_phone_state() const;
    int get_call_result() const;
    QString get_remote_number() const;
    QString get_last_dialled_number() const;

    // Direct core operations (any thread; serialised with the engine by the core lock).
    void send_dtmf(char digit);
    void re_register();
    void apply_sound_settings();
    QMap<QString, QStringList> get_sound_devices();

signals:
    void signal_registration_state(const QString &status, const QString &userId);
    void signal_received_dialog(const QMap<QString, QString> &params);
    void signal_update_dialog_status(const QString &status);
    void signal_dialog_end();
    void signal_start_count_dialog_time();
    void signal_show_operator_login();
    void signal_clear_phone_number();
    void signal_show_phone_message(const QString &message);
    void signal_set_phone_number(const QString &phoneNumber);
    void signal_show_transfer_call_result(const QString &message);
    void signal_play_hold_music();
    void signal_stop_hold_music();
    void signal_play_terminated_audio(const QString &file);

protected:
    void run() override;

private:
    struct Requests
    {
        bool dial = false;
        bool hold = false;
        bool transfer = false;
        bool hangup = false;
        bool answer = false;
        QString dialNumber;
        QString transferNumber;
    };

    static void on_registration_state_changed(LinphoneCore *core, LinphoneProxyConfig *config,
        LinphoneRegistrationState state, const char *message);
    static void on_call_state_changed(
        LinphoneCore *core, LinphoneCall *call, LinphoneCallState state, const char *message);
    static void on_transfer_state_changed(
        LinphoneCore *core, LinphoneCall *transferred, LinphoneCallState state);
    void velphone_registration_state_changed(
        LinphoneProxyConfig *config, LinphoneRegistrationState state, const QString &message);
    void velphone_call_state_changed(LinphoneCall *call, LinphoneCallState state, const QString &message);
    void on_call_released(LinphoneCall *call);
    void velphone_transfer_state_changed(LinphoneCall *transferred, LinphoneCallState state);

    void open_core_log();
    void close_core_log();
    void create_core();
    void destroy_core();
    void do_register();
    void re_register_locked();
    void apply_sound_settings_locked();
    void serve_requests();
    void do_dial(const QString &number);
    void do_hold();
    void do_transfer(const QString &number);
    void do_hangup();
    void do_answer();
    void terminate_and_release(LinphoneCall *&call);

    bool is_idle_locked() const;
    bool is_engine_thread() const;
    bool remote_is_own_user() const;
    QString connected_status() const;
    void set_status(const QString &status);
    void log(const QString &text);

    VelData *m_store;
    VelLogger *m_logger;

    mutable std::mutex m_coreMutex;
    LinphoneCore *m_core = nullptr;
    LinphoneProxyConfig *m_proxy = nullptr;
    LinphoneCall *m_currentCall = nullptr;
    LinphoneCall *m_transferCall = nullptr;
    QMap<QString, QString> m_account;
    QString m_remoteNumber;
    QString m_lastDialledNumber;
    int m_callResult = 0;
    int m_phoneState = PHONE_READY;
    bool m_registrationCleared = false;
    bool m_registered = false;
    bool m_hangupInProgress = false;
    FILE *m_coreLog = nullptr;
    LinphoneLoggingServiceCbs *m_logCbs = nullptr;

    std::mutex m_requestMutex;
    std::condition_variable m_wake;
    Requests m_requests;
    bool m_reRegisterRequested = false;
    bool m_transferDone = false;
    bool m_running = true;
};
