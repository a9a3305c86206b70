#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

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
// - m_coreMutex guards the core and every engine field (calls, phone state, numbers). Only the
//   engine thread takes it: around each iteration, the executors (all library callbacks run
//   inside them) and the core's destruction. The GUI thread never touches the core.
// - m_requestMutex guards the pending requests, their texts, the DTMF queue, "transfer done" and
//   "running". The GUI thread's setters take only this lock, so they never wait for the core.
//   Every setter and stop() raise the wake-up descriptor under it; the loop sleeps in poll() on
//   that descriptor and the library's SIP socket, without any lock held.
// - m_snapshotMutex guards the snapshot of the engine's state that the queries answer from; the
//   engine publishes it after each pass, before it emits that pass's signals, so a slot that
//   queries after a signal sees at least the state the signal told of.
// - Lock order: m_coreMutex before m_requestMutex, m_coreMutex before m_snapshotMutex; the
//   request and snapshot locks are never held together.
// All signals are emitted on the engine thread, after the core lock has been released: the
// library's reports only collect them. The locks are the standard library's, which
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

    // Queries (GUI thread): answered from the snapshot the engine last published, so they never
    // wait for the SIP library and each answer is consistent.
    bool is_incoming_ringing() const;
    bool is_in_call() const;
    bool is_idle() const;
    int get_phone_state() const;
    int get_call_result() const;
    QString get_remote_number() const;
    QString get_last_dialled_number() const;

    // Operations on the core, handed to the engine thread. send_dtmf queues the digit: digits
    // go out in order, each once the previous event has been sent. re_register serves a pending
    // re-registration request; apply_sound_settings selects the stored devices.
    void send_dtmf(char digit);
    void re_register();
    void apply_sound_settings();
    // Re-scans the sound devices on the engine thread and returns their names; waits at most
    // DEVICE_LIST_WAIT_MS for the engine and otherwise answers with the last list it made.
    QMap<QString, QStringList> get_sound_devices();

signals:
    void signal_registration_state(const QString &status, const QString &userId);
    void signal_received_dialog(const QMap<QString, QString> &params);
    void signal_update_dialog_status(const QString &status);
    // The ended call's result code and remote number travel with its end: by the time the
    // receiver runs, the engine may already be presenting the next call.
    void signal_dialog_end(int callResult, const QString &remoteNumber);
    void signal_start_count_dialog_time();
    void signal_show_operator_login();
    void signal_clear_phone_number();
    void signal_show_phone_message(const QString &message);
    void signal_set_phone_number(const QString &phoneNumber);
    void signal_show_transfer_call_result(const QString &message);
    void signal_play_hold_music();
    void signal_stop_hold_music();
    void signal_play_terminated_audio(const QString &file);
    // Whether the media of the call just connected is encrypted; told only when the account
    // asks for SRTP (the call's end clears what was shown).
    void signal_media_encryption(bool encrypted);

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
        bool applySound = false;
        bool listDevices = false;
        QString dialNumber;
        QString transferNumber;
    };

    // What the queries answer; published by the engine thread.
    struct Snapshot
    {
        int phoneState = PHONE_READY;
        int callResult = 0;
        bool idle = true;
        bool incomingRinging = false;
        bool inCall = false;
        QString remoteNumber;
        QString lastDialledNumber;
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
    void report_media_encryption(LinphoneCall *call);
    void velphone_transfer_state_changed(LinphoneCall *transferred, LinphoneCallState state);

    void open_core_log();
    void close_core_log();
    void create_core();
    void destroy_core();
    void do_register();
    void re_register_locked();
    void reconnect_if_due();
    // Each returns why the account's setting cannot be honoured, or "" once it is applied.
    QString apply_transport(const QString &transport);
    QString apply_tls_settings();
    QString apply_media_encryption();
    // Lets the SIP stack's certificate reports through while a TLS registration is under way.
    void watch_tls_handshake(bool on);
    void apply_sound_settings_locked();
    void serve_requests();
    void do_dial(const QString &number);
    void do_hold();
    void do_transfer(const QString &number);
    void do_hangup();
    void do_answer();
    void terminate_and_release(LinphoneCall *&call);
    void end_current_call(LinphoneCall *call);
    void end_consultation_leg(LinphoneCall *call);
    void send_queued_dtmf();
    void settle_unconfirmed_transfer();
    void refuse_referred_calls();
    void list_sound_devices_locked();
    void shut_down_core();
    void publish_snapshot();
    void wake_locked();
    void watch_sip_socket();
    void release_tone_player();
    void wait_for_input(std::chrono::steady_clock::time_point until);
    void flush_signals();
    // Collects a signal for emission once the core lock is released.
    void post(std::function<void()> emission);
    static VelPhone *engine_of(LinphoneCore *core);

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
    // Calls the library started on its own for a REFER from the remote party; ended at once.
    std::vector<LinphoneCall *> m_referredCalls;
    bool m_resumeAfterRefer = false;
    // A blind transfer whose outcome the transferee has not reported yet.
    bool m_transferPending = false;
    bool m_transferProgressSeen = false;
    std::chrono::steady_clock::time_point m_transferDeadline;
    QMap<QString, QString> m_account;
    QString m_transport = QStringLiteral("udp"); // the SIP transport the core is set up for
    QString m_remoteNumber;
    QString m_lastDialledNumber;
    int m_callResult = 0;
    int m_phoneState = PHONE_READY;
    bool m_registrationCleared = false;
    bool m_registered = false;
    bool m_hangupInProgress = false;
    // A call ended without the busy tone: the library's tone player is freed once no call is up.
    bool m_tonePlayerToRelease = false;
    FILE *m_coreLog = nullptr;
    LinphoneLoggingServiceCbs *m_logCbs = nullptr;
    // Listens for the library's account of a refused server certificate.
    LinphoneLoggingServiceCbs *m_tlsLogCbs = nullptr;
    bool m_watchingTls = false;
    bool m_reconnectPending = false;
    std::chrono::steady_clock::time_point m_reconnectAt;
    unsigned int m_sipStackLogMask = 0;
    std::vector<std::function<void()>> m_outbox; // engine thread only
    std::chrono::steady_clock::time_point m_nextDtmfAt;

    mutable std::mutex m_snapshotMutex;
    Snapshot m_snapshot;
    QMap<QString, QStringList> m_devices;
    int m_devicesGeneration = 0;
    std::condition_variable m_devicesListed; // with m_snapshotMutex

    std::mutex m_requestMutex;
    int m_wakeFd = -1; // an eventfd, raised under m_requestMutex
    // The SIP socket the loop sleeps on and its port; engine thread only.
    int m_sipSocket = -1;
    int m_sipPort = 0;
    Requests m_requests;
    bool m_reRegisterRequested = false;
    std::deque<char> m_dtmfQueue;
    bool m_transferDone = false;
    bool m_running = true;
};
