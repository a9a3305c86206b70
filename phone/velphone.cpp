#include "phone/velphone.h"
#include "phone/sipbind.h"
#include "phone/sipsocket.h"
#include "store/settingskeys.h"

#include "app/appdir.h"
#include "app/constants.h"
#include "app/vellogger.h"
#include "store/veldata.h"

#include <QDate>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <bctoolbox/charconv.h>
#include <bctoolbox/logging.h>
#include <linphone/logging.h>

namespace {
// The loop sleeps until a SIP message arrives, a request is made or this much time has passed,
// whichever comes first: the library's timers (retransmissions, registration refresh, call
// time-outs) and our own deadlines are served at this granularity. With no call up only the
// registration's timers run, and the longer sleep keeps an idle phone's CPU use low.
constexpr int LOOP_WAIT_MS = 50;
constexpr int QUIET_WAIT_MS = 250;
// An RFC 4733 event lasts about 100 ms and its end is sent three times; while the media layer
// still sends one it drops the next digit, so queued digits leave at this pace.
constexpr int DTMF_SPACING_MS = 180;
constexpr std::size_t DTMF_QUEUE_LIMIT = 64;
// A blind transfer whose transferee reports nothing at all within this time (its first NOTIFY
// may have been refused as out of order) is settled as of unknown outcome; once it has reported
// progress, the transfer target may ring for a while longer.
constexpr int TRANSFER_SILENCE_MS = 8000;
constexpr int TRANSFER_PROGRESS_MS = 60000;
// How long the settings window waits for the engine to re-scan the sound devices.
constexpr int DEVICE_LIST_WAIT_MS = 3000;
// At exit the un-REGISTER gets this long to be answered; a silent server does not hold exit up.
constexpr int UNREGISTER_WAIT_MS = 300;
constexpr int SHUTDOWN_STEP_MS = 10;
constexpr int INCOMING_TIMEOUT_SECONDS = 600;
constexpr int REGISTRATION_EXPIRES_SECONDS = 60;
// A TCP or TLS connection to the server that broke is tried again at this pace (the library
// itself would wait a minute over TLS), so the phone is registered again soon after the server
// is back.
constexpr int RECONNECT_RETRY_MS = 2000;
// Random local SIP and RTP ports, so that nothing clashes with another phone on the host.
constexpr int RANDOM_PORT = -1;

const QString REGISTRATION_TIMEOUT_MESSAGE = QStringLiteral("timeout");

// Values of the account's secure-transport keys; an absent or empty key is the first choice.
const QString TRANSPORT_UDP = QStringLiteral("udp");
const QString TRANSPORT_TCP = QStringLiteral("tcp");
const QString TRANSPORT_TLS = QStringLiteral("tls");
const QString SRTP_OFF = QString();
const QString SRTP_OPTIONAL = QStringLiteral("optional");
const QString SRTP_MANDATORY = QStringLiteral("mandatory");
const QString TLS_VERIFY_ON = QStringLiteral("1");
const QString TLS_VERIFY_OFF = QStringLiteral("0");
const QString DEFAULT_TLS_PORT = QStringLiteral("5061");
// The certificates the system trusts, used when the account names no CA file of its own.
const QString SYSTEM_CA_FILE = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
const QString DAY_FORMAT = QStringLiteral("yyyyMMdd");

// The core keeps no database, call history, zrtp cache or config file of its own: all it
// would write lives elsewhere (settings in our store) or is not needed by an operator phone.
// Without these lines it writes below $HOME, and stalls silently where that directory is missing.
// Video stays off entirely: this is an audio-only phone.
const char CORE_CONFIG[] = "[storage]\n"
                           "uri=null\n"
                           "call_logs_db_uri=null\n"
                           "zrtp_secrets_db_uri=null\n"
                           "[video]\n"
                           "capture=0\n"
                           "display=0\n"
                           "automatically_initiate=0\n"
                           "automatically_accept=0\n";

// The library's own log file. Library threads other than the engine's log too, so the handle
// is used only under its own lock.
std::mutex s_coreLogMutex;
FILE *s_coreLogFile = nullptr;

void write_core_log(LinphoneLoggingService *, const char *domain, LinphoneLogLevel, const char *message)
{
    std::lock_guard<std::mutex> lock(s_coreLogMutex);
    if (!s_coreLogFile || !message)
        return;
    std::fprintf(s_coreLogFile, "%s %s\n",
        qPrintable(QDateTime::currentDateTime().toString(Qt::ISODateWithMs)), message);
    std::fflush(s_coreLogFile);
    Q_UNUSED(domain);
}

QString from_utf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

bool in_consultation(int phoneState)
{
    return phoneState >= PHONE_TRANSFER_DIALLING && phoneState <= PHONE_TRANSFER_HELD;
}

void forget_call(LinphoneCall *&call)
{
    if (call)
        linphone_call_unref(call);
    call = nullptr;
}

bool has_ended(const LinphoneCall *call)
{
    const LinphoneCallState state = linphone_call_get_state(call);
    return state == LinphoneCallEnd || state == LinphoneCallError || state == LinphoneCallReleased;
}

std::chrono::steady_clock::time_point after_ms(int msecs)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(msecs);
}

// The library says why it refused a server's certificate only in its log: the verification
// reports each certificate of the chain with the failed checks as flags. The last non-empty
// flags are kept here for the engine to explain a failed TLS registration. Library threads log
// too, hence the lock.
std::mutex s_tlsVerdictMutex;
QString s_tlsVerdict;
const QString CERTIFICATE_REPORT = QStringLiteral("Found certificate depth=");
const QString CERTIFICATE_FLAGS = QStringLiteral("flags=[");

void note_tls_verdict(LinphoneLoggingService *, const char *, LinphoneLogLevel, const char *message)
{
    const QString text = QString::fromUtf8(message);
    if (!text.startsWith(CERTIFICATE_REPORT))
        return;
    const int start = text.indexOf(CERTIFICATE_FLAGS);
    const int end = text.indexOf(QLatin1Char(']'), start);
    if (start < 0 || end < 0)
        return;
    const QString flags = text.mid(start + CERTIFICATE_FLAGS.size(), end - start - CERTIFICATE_FLAGS.size());
    if (flags.trimmed().isEmpty())
        return;
    std::lock_guard<std::mutex> lock(s_tlsVerdictMutex);
    s_tlsVerdict = flags.trimmed();
}

// The certificate reports are ordinary messages of the SIP stack, below what the library logs
// unless the core log is on; they are let through only while a TLS registration is under way.
const char SIP_STACK_LOG_DOMAIN[] = "belle-sip";

QString take_tls_verdict()
{
    std::lock_guard<std::mutex> lock(s_tlsVerdictMutex);
    QString verdict;
    verdict.swap(s_tlsVerdict);
    return verdict;
}

// The library's flag words in the operator's and administrator's terms.
QString explain_tls_verdict(const QString &flags)
{
    static const QList<QPair<QString, QString>> reasons = {
        { QStringLiteral("not-trusted"), QStringLiteral("unknown CA") },
        { QStringLiteral("CN-mismatch"), QStringLiteral("host name mismatch") },
        { QStringLiteral("expired"), QStringLiteral("expired") },
        { QStringLiteral("future-validity"), QStringLiteral("not yet valid") },
        { QStringLiteral("revoked"), QStringLiteral("revoked") },
    };
    QStringList said;
    for (const auto &reason : reasons) {
        if (flags.split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(reason.first))
            said << reason.second;
    }
    return said.isEmpty() ? flags : said.join(QStringLiteral(", "));
}
} // namespace

VelPhone::VelPhone(QObject *parent, VelData *store, VelLogger *logger)
    : QThread(parent)
    , m_store(store)
    , m_logger(logger)
    , m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    log(QStringLiteral("liblinphone version: ") + from_utf8(linphone_core_get_version()));

    if (m_store->get_general_settings().value(KEY_DEBUG_MODEL) == QLatin1String("1"))
        open_core_log();
    create_core();
}

VelPhone::~VelPhone()
{
    // Whoever stops the engine waits for the thread; a core left behind (the thread never ran)
    // is destroyed here so that nothing leaks. Read under the core lock: QThread::wait() orders
    // nothing that ThreadSanitizer can see, the lock does.
    std::lock_guard<std::mutex> core(m_coreMutex);
    if (!isRunning() && m_core)
        destroy_core();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

bool VelPhone::is_engine_thread() const
{
    return QThread::currentThread() == this;
}

void VelPhone::log(const QString &text)
{
    if (m_logger)
        m_logger->log(text, LEVEL_INFO);
}

void VelPhone::post(std::function<void()> emission)
{
    m_outbox.push_back(std::move(emission));
}

void VelPhone::flush_signals()
{
    // Emitted without any engine lock held: a receiver connected directly may query at once.
    std::vector<std::function<void()>> pending;
    pending.swap(m_outbox);
    for (const auto &emission : pending)
        emission();
}

VelPhone *VelPhone::engine_of(LinphoneCore *core)
{
    return static_cast<VelPhone *>(linphone_core_get_user_data(core));
}

// ---------------------------------------------------------------------------------------------
// Core set-up

void VelPhone::open_core_log()
{
    const QString path = AppDir::file(CORE_LOG_FILE);
    QFileInfo info(path);
    // One older generation only: a log last written on an earlier day becomes core.log1.
    if (info.exists()
        && info.lastModified().date().toString(DAY_FORMAT) != QDate::currentDate().toString(DAY_FORMAT)) {
        const QString older = path + QLatin1Char('1');
        if (QFile::exists(older))
            QFile::remove(older);
        QFile::rename(path, older);
    }

    FILE *file = std::fopen(QFile::encodeName(path).constData(), "a");
    if (!file)
        return;
    {
        std::lock_guard<std::mutex> lock(s_coreLogMutex);
        s_coreLogFile = file;
    }
    LinphoneLoggingService *service = linphone_logging_service_get();
    m_logCbs = linphone_factory_create_logging_service_cbs(linphone_factory_get());
    linphone_logging_service_cbs_set_log_message_written(m_logCbs, write_core_log);
    linphone_logging_service_add_callbacks(service, m_logCbs);
    linphone_logging_service_set_log_level_mask(service,
        LinphoneLogLevelMessage | LinphoneLogLevelWarning | LinphoneLogLevelError | LinphoneLogLevelFatal);
}

void VelPhone::close_core_log()
{
    if (!m_logCbs)
        return;
    LinphoneLoggingService *service = linphone_logging_service_get();
    linphone_logging_service_remove_callbacks(service, m_logCbs);
    linphone_logging_service_cbs_unref(m_logCbs);
    m_logCbs = nullptr;
    linphone_logging_service_set_log_level_mask(
        service, LinphoneLogLevelWarning | LinphoneLogLevelError | LinphoneLogLevelFatal);
    std::lock_guard<std::mutex> lock(s_coreLogMutex);
    std::fclose(s_coreLogFile);
    s_coreLogFile = nullptr;
}
void VelPhone::create_core()
{
    // Texts handed to the library are UTF-8 already. Left at "locale", the library converts
    // each file name through the locale and calls setlocale() to do so, on the engine thread,
    // while the GUI thread uses the locale: setlocale() is not safe with other threads running.
    bctbx_set_default_encoding("UTF-8");
    LinphoneFactory *factory = linphone_factory_get();
    // Whatever the library still wants to keep on disk goes below the application directory.
    const QByteArray dataDir = QFile::encodeName(AppDir::file(DATA_DIR) + QLatin1Char('/'));
    linphone_factory_set_data_dir(factory, dataDir.constData());
    linphone_factory_set_config_dir(factory, dataDir.constData());
    linphone_factory_set_download_dir(factory, dataDir.constData());
    // The media library's only plugin on Debian is a video display (which pulls in QML and,
    // through it, more of Qt); this phone is audio only, so plugins are looked for where there
    // are none.
    linphone_factory_set_msplugins_dir(factory, dataDir.constData());

    LinphoneConfig *config = linphone_factory_create_config_from_string(factory, CORE_CONFIG);
    m_core = linphone_factory_create_core_with_config_3(factory, config, nullptr);
    linphone_config_unref(config);
    // The library's callbacks find the engine through the core.
    linphone_core_set_user_data(m_core, this);

    LinphoneCoreCbs *cbs = linphone_factory_create_core_cbs(factory);
    linphone_core_cbs_set_registration_state_changed(cbs, &VelPhone::on_registration_state_changed);
    linphone_core_cbs_set_call_state_changed(cbs, &VelPhone::on_call_state_changed);
    linphone_core_cbs_set_transfer_state_changed(cbs, &VelPhone::on_transfer_state_changed);
    linphone_core_add_callbacks(m_core, cbs);
    linphone_core_cbs_unref(cbs);

    m_tlsLogCbs = linphone_factory_create_logging_service_cbs(factory);
    linphone_logging_service_cbs_set_log_message_written(m_tlsLogCbs, note_tls_verdict);
    linphone_logging_service_add_callbacks(linphone_logging_service_get(), m_tlsLogCbs);

    // With no message database an incoming SIP MESSAGE would crash the library; an operator
    // phone has no chat, so messages are refused.
    linphone_core_disable_chat(m_core, LinphoneReasonNotAcceptable);
    linphone_core_enable_video_capture(m_core, false);
    linphone_core_enable_video_display(m_core, false);
    LinphoneVideoActivationPolicy *policy = linphone_factory_create_video_activation_policy(factory);
    linphone_video_activation_policy_set_automatically_initiate(policy, false);
    linphone_video_activation_policy_set_automatically_accept(policy, false);
    linphone_core_set_video_activation_policy(m_core, policy);
    linphone_video_activation_policy_unref(policy);

    linphone_core_set_ringback(m_core, QFile::encodeName(RINGBACK_SOUND).constData());
    linphone_core_set_ring(m_core, QFile::encodeName(RING_SOUND).constData());
    // The bar plays its own hold music and hang-up sound; the library's own beeps for these
    // (a 480 Hz beep at a call's end, the on-hold beep) would sound on top of them. An empty
    // file name silences one tone; its other tones (busy) stay.
    linphone_core_set_tone(m_core, LinphoneToneCallEnd, "");
    linphone_core_set_tone(m_core, LinphoneToneCallOnHold, "");
    // Likewise its beeps when the caller gives up before the call is answered, over the bar's
    // failure sound.
    linphone_core_set_call_error_tone(m_core, LinphoneReasonNotAnswered, "");
    linphone_core_set_inc_timeout(m_core, INCOMING_TIMEOUT_SECONDS);

    LinphoneTransports *transports = linphone_factory_create_transports(factory);
    linphone_transports_set_udp_port(transports, RANDOM_PORT);
    linphone_transports_set_tcp_port(transports, 0);
    linphone_transports_set_tls_port(transports, 0);
    linphone_transports_set_dtls_port(transports, 0);
    linphone_core_set_transports(m_core, transports);
    linphone_transports_unref(transports);
    linphone_core_set_audio_port(m_core, RANDOM_PORT);

    linphone_core_set_user_agent(
        m_core, USER_AGENT_NAME.toUtf8().constData(), APP_VERSION.toUtf8().constData());
    linphone_core_set_mic_gain_db(m_core, m_store->get_audio_settings().value(KEY_CAPTURE_GAIN).toFloat());

    linphone_core_start(m_core);
}

void VelPhone::destroy_core()
{
    // Stopping sends the BYEs of calls still up and the un-REGISTER.
    linphone_core_stop(m_core);
    linphone_core_unref(m_core);
    m_core = nullptr;
    m_proxy = nullptr;
    watch_tls_handshake(false);
    linphone_logging_service_remove_callbacks(linphone_logging_service_get(), m_tlsLogCbs);
    linphone_logging_service_cbs_unref(m_tlsLogCbs);
    m_tlsLogCbs = nullptr;
    close_core_log();
}

void VelPhone::shut_down_core()
{
    LinphoneCall *current = m_currentCall;
    LinphoneCall *transfer = m_transferCall;
    m_currentCall = nullptr;
    m_transferCall = nullptr;
    terminate_and_release(current);
    terminate_and_release(transfer);
    for (LinphoneCall *call : m_referredCalls)
        terminate_and_release(call);
    m_referredCalls.clear();

    // The un-REGISTER and the BYEs go out now; a server that answers lets the library finish in
    // a few milliseconds, a silent one is not waited for.
    if (m_proxy && linphone_proxy_config_get_state(m_proxy) == LinphoneRegistrationOk) {
        linphone_proxy_config_edit(m_proxy);
        linphone_proxy_config_enable_register(m_proxy, false);
        linphone_proxy_config_done(m_proxy);
    }
    const auto deadline = after_ms(UNREGISTER_WAIT_MS);
    for (;;) {
        linphone_core_iterate(m_core);
        const bool unregistered
            = !m_proxy || linphone_proxy_config_get_state(m_proxy) != LinphoneRegistrationProgress;
        if ((unregistered && !linphone_core_get_calls_nb(m_core))
            || std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(SHUTDOWN_STEP_MS));
    }
    // Whatever is still unanswered is dropped: stopping a core with the network up waits for it.
    linphone_core_set_network_reachable(m_core, false);
    destroy_core();
}

// ---------------------------------------------------------------------------------------------
// Engine loop

void VelPhone::run()
{
    {
        std::lock_guard<std::mutex> core(m_coreMutex);
        do_register();
        publish_snapshot();
    }
    flush_signals();
    bool quiet = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> core(m_coreMutex);
            linphone_core_iterate(m_core);
            refuse_referred_calls();
            release_tone_player();
            serve_requests();
            settle_unconfirmed_transfer();
            reconnect_if_due();
            if (m_registrationCleared) {
                do_register();
                m_registrationCleared = false;
            }
            publish_snapshot();
            watch_sip_socket();
            // Over TCP or TLS the socket watched is not the one messages come on: those wait
            // for the timer, so it keeps the short period.
            quiet = m_transport == TRANSPORT_UDP && !linphone_core_get_calls_nb(m_core) && !m_transferPending;
        }
        flush_signals();

        std::unique_lock<std::mutex> lock(m_requestMutex);
        if (!m_running)
            break;
        const Requests &r = m_requests;
        const bool pending = r.dial || r.hold || r.transfer || r.hangup || r.answer || r.applySound
            || r.listDevices || m_reRegisterRequested;
        if (!pending) {
            auto wakeAt = after_ms(quiet ? QUIET_WAIT_MS : LOOP_WAIT_MS);
            if (!m_dtmfQueue.empty())
                wakeAt = std::min(wakeAt, m_nextDtmfAt);
            // A request made from here on finds the wake-up descriptor set, so poll returns at once.
            lock.unlock();
            wait_for_input(wakeAt);
            lock.lock();
        }
        if (!m_running)
            break;
    }

    std::vector<std::function<void()>> last;
    {
        std::lock_guard<std::mutex> core(m_coreMutex);
        shut_down_core();
        publish_snapshot();
        // Taken under the core lock: the destructor reads the engine's fields under it once the
        // thread has ended, and QThread::wait() orders nothing ThreadSanitizer can see.
        last.swap(m_outbox);
    }
    for (const auto &emission : last)
        emission();
}

void VelPhone::release_tone_player()
{
    // At a call's end the library opens its tone player (a sound stream with a ticker thread
    // that wakes every 10 ms), for a silenced tone as well, and keeps it until the next ring.
    // Stopping it there costs the next INVITE up to one tick plus the stream's teardown, before
    // its 180 Ringing. It is freed here instead, as soon as no call is up; not after a busy
    // end, whose tone the library plays and frees itself.
    if (!m_tonePlayerToRelease || linphone_core_get_calls_nb(m_core))
        return;
    m_tonePlayerToRelease = false;
    linphone_core_stop_ringing(m_core);
}

void VelPhone::wake_locked()
{
    const std::uint64_t one = 1;
    if (::write(m_wakeFd, &one, sizeof one) < 0 && errno != EAGAIN)
        log(QStringLiteral("engine wake-up failed: ") + QString::fromLocal8Bit(std::strerror(errno)));
}

void VelPhone::watch_sip_socket()
{
    // The SIP socket is opened anew when the transports change (a new bind address, a network
    // change); one system call per pass checks that the one watched is still it.
    LinphoneTransports *used = linphone_core_get_transports_used(m_core);
    const int port = linphone_transports_get_udp_port(used);
    linphone_transports_unref(used);
    if (port == m_sipPort && is_udp_socket_on(m_sipSocket, port))
        return;
    m_sipPort = port;
    m_sipSocket = find_udp_socket(port);
}

void VelPhone::wait_for_input(std::chrono::steady_clock::time_point until)
{
    // Idle, the engine thread sleeps in poll() on two descriptors: the wake-up counter that the
    // request setters and stop() raise, and the library's SIP socket. An incoming message or a
    // request ends the sleep at once; otherwise it lasts until the next timer is due. Messages
    // on TCP or TLS connections wait for that timer, which then runs every 50 ms.
    using namespace std::chrono;
    const auto left = duration_cast<milliseconds>(until - steady_clock::now()).count();
    pollfd fds[2] = { { m_wakeFd, POLLIN, 0 }, { m_sipSocket, POLLIN, 0 } };
    const nfds_t count = m_sipSocket >= 0 ? 2 : 1;
    if (::poll(fds, count, int(std::max<long long>(left, 0))) > 0 && (fds[0].revents & POLLIN)) {
        std::uint64_t raised = 0;
        while (::read(m_wakeFd, &raised, sizeof raised) > 0) { }
    }
}

void VelPhone::serve_requests()
{
    // The requests are taken in one piece, so a text always belongs to its own flag; a request
    // set while the executors run waits for the next pass.
    Requests taken;
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        taken = m_requests;
        m_requests = Requests();
        if (taken.transfer)
            m_transferDone = false;
    }
    if (taken.dial)
        do_dial(taken.dialNumber);
    if (taken.hold)
        do_hold();
    if (taken.transfer)
        do_transfer(taken.transferNumber);
    if (taken.hangup && !m_hangupInProgress) {
        m_hangupInProgress = true;
        do_hangup();
    }
    if (taken.answer)
        do_answer();
    re_register_locked();
    if (taken.applySound)
        apply_sound_settings_locked();
    if (taken.listDevices)
        list_sound_devices_locked();
    send_queued_dtmf();
}

void VelPhone::publish_snapshot()
{
    Snapshot next;
    next.phoneState = m_phoneState;
    next.callResult = m_callResult;
    next.idle = is_idle_locked();
    next.incomingRinging = m_currentCall && linphone_call_get_dir(m_currentCall) == LinphoneCallIncoming
        && linphone_call_get_state(m_currentCall) == LinphoneCallIncomingReceived;
    next.inCall = m_currentCall && linphone_call_get_state(m_currentCall) == LinphoneCallStreamsRunning;
    next.remoteNumber = m_remoteNumber;
    next.lastDialledNumber = m_lastDialledNumber;
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    m_snapshot = next;
}

// ---------------------------------------------------------------------------------------------
// Registration

namespace {
bool is_port_number(const QString &port)
{
    constexpr int MAX_PORT = 65535;
    for (const QChar c : port) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    const int value = port.toInt(&ok);
    return ok && value <= MAX_PORT;
}
} // namespace

void VelPhone::do_register()
{
    // The account that leaves is shown as unregistered before the new one registers.
    if (m_proxy && m_registered) {
        const QString leaving = m_account.value(KEY_USER_ID);
        post([this, leaving] { emit signal_registration_state(REG_STATUS_UNREGISTER, leaving); });
    }
    m_account = m_store->get_account_settings();
    const QString transport
        = m_account.value(KEY_TRANSPORT).isEmpty() ? TRANSPORT_UDP : m_account.value(KEY_TRANSPORT);
    const QString address = m_account.value(KEY_ADDRESS);
    QString port = m_account.value(KEY_PORT);
    if (port.isEmpty() && transport == TRANSPORT_TLS)
        port = DEFAULT_TLS_PORT;
    const QString userId = m_account.value(KEY_USER_ID);
    const QString password = m_account.value(KEY_PASSWORD);
    if (address.isEmpty() || port.isEmpty() || userId.isEmpty() || password.isEmpty())
        return;
    if (!is_port_number(port)) {
        // A port the setting window cannot produce (the database was prepared by hand): no
        // REGISTER to an address made of it; the bar shows the failure.
        log(QStringLiteral("registration not started: the stored port \"%1\" is not a number from 0 to 65535")
                .arg(port));
        post([this, userId] { emit signal_registration_state(REG_STATUS_FAILED, userId); });
        return;
    }

    // Over UDP the addresses stay as they always were; otherwise they name the transport.
    const QString uriTail
        = transport == TRANSPORT_UDP ? QString() : QStringLiteral(";transport=") + transport;
    LinphoneFactory *factory = linphone_factory_get();
    const QString identity
        = QStringLiteral("sip:") + userId + QLatin1Char('@') + address + QLatin1Char(':') + port + uriTail;
    LinphoneAddress *identityAddress
        = linphone_factory_create_address(factory, identity.toUtf8().constData());
    if (!identityAddress)
        return;

    // Earlier registrations are dropped so that their configurations do not pile up; one that
    // is still registered is unregistered by the library on removal, without anyone waiting for
    // its server.
    while (const bctbx_list_t *configs = linphone_core_get_proxy_config_list(m_core))
        linphone_core_remove_proxy_config(m_core, static_cast<LinphoneProxyConfig *>(configs->data));
    m_registered = false;
    m_reconnectPending = false;

    // A setting the engine cannot honour stops here: registering over a weaker transport or with
    // plain media instead would hide the mistake from everyone.
    const QString refusal = apply_transport(transport);
    const QString mediaRefusal = refusal.isEmpty() ? apply_media_encryption() : QString();
    if (!refusal.isEmpty() || !mediaRefusal.isEmpty()) {
        linphone_address_unref(identityAddress);
        log(refusal + mediaRefusal + QStringLiteral(": not registered"));
        post([this, userId] { emit signal_registration_state(REG_STATUS_FAILED, userId); });
        return;
    }

    // Over UDP only the interface that reaches the server hears SIP: a datagram that crashes the
    // library cannot come from every network the machine is on. TCP and TLS listen nowhere.
    if (transport == TRANSPORT_UDP) {
        const QString bound = bind_sip_towards(m_core, address, port.toInt());
        log(QStringLiteral("SIP listening on ")
            + (bound.isEmpty() ? QStringLiteral("every interface") : bound));
    }

    LinphoneAuthInfo *auth
        = linphone_factory_create_auth_info(factory, linphone_address_get_username(identityAddress), nullptr,
            password.toUtf8().constData(), nullptr, nullptr, nullptr);
    linphone_core_clear_all_auth_info(m_core);
    linphone_core_add_auth_info(m_core, auth);
    linphone_auth_info_unref(auth);

    LinphoneProxyConfig *config = linphone_core_create_proxy_config(m_core);
    linphone_proxy_config_set_identity_address(config, identityAddress);
    const QString server = QStringLiteral("sip:") + address + QLatin1Char(':') + port + uriTail;
    linphone_proxy_config_set_server_addr(config, server.toUtf8().constData());
    linphone_proxy_config_set_expires(config, REGISTRATION_EXPIRES_SECONDS);
    linphone_proxy_config_enable_register(config, true);
    linphone_address_unref(identityAddress);
    linphone_core_add_proxy_config(m_core, config);
    linphone_core_set_default_proxy_config(m_core, config);
    m_proxy = config;
    linphone_proxy_config_unref(config);

    apply_sound_settings_locked();
    linphone_core_iterate(m_core);
}

QString VelPhone::apply_transport(const QString &transport)
{
    if (transport != TRANSPORT_UDP && transport != TRANSPORT_TCP && transport != TRANSPORT_TLS)
        return QStringLiteral("account: unknown transport \"%1\" (udp, tcp or tls)").arg(transport);
    if (transport == TRANSPORT_TLS) {
        const QString refusal = apply_tls_settings();
        if (!refusal.isEmpty())
            return refusal;
    }
    if (transport == m_transport)
        return QString();
    // Over TCP and TLS the phone listens on no SIP port at all: it connects to its server and
    // takes the server's requests on that connection. Nobody else can reach its SIP stack.
    LinphoneTransports *transports = linphone_factory_create_transports(linphone_factory_get());
    linphone_transports_set_udp_port(transports, transport == TRANSPORT_UDP ? RANDOM_PORT : 0);
    linphone_transports_set_tcp_port(transports, transport == TRANSPORT_TCP ? LC_SIP_TRANSPORT_DONTBIND : 0);
    linphone_transports_set_tls_port(transports, transport == TRANSPORT_TLS ? LC_SIP_TRANSPORT_DONTBIND : 0);
    linphone_transports_set_dtls_port(transports, 0);
    const LinphoneStatus status = linphone_core_set_transports(m_core, transports);
    linphone_transports_unref(transports);
    if (status != 0)
        return QStringLiteral("account: transport %1 could not be set up").arg(transport);
    log(QStringLiteral("SIP transport: ") + transport);
    m_transport = transport;
    return QString();
}

QString VelPhone::apply_tls_settings()
{
    const QString verify
        = m_account.value(KEY_TLS_VERIFY).isEmpty() ? TLS_VERIFY_ON : m_account.value(KEY_TLS_VERIFY);
    if (verify != TLS_VERIFY_ON && verify != TLS_VERIFY_OFF)
        return QStringLiteral("account: tlsVerify \"%1\" is neither 1 nor 0").arg(verify);
    QString caFile = m_account.value(KEY_TLS_CA_FILE);
    if (caFile.isEmpty())
        caFile = SYSTEM_CA_FILE;
    else if (QFileInfo(caFile).isRelative())
        caFile = AppDir::path() + QLatin1Char('/') + caFile;
    // The library takes a missing file for an empty list and would only refuse every server.
    if (verify == TLS_VERIFY_ON && !QFileInfo(caFile).isReadable())
        return QStringLiteral("TLS: CA file %1 cannot be read").arg(caFile);
    linphone_core_set_root_ca(m_core, QFile::encodeName(caFile).constData());
    linphone_core_verify_server_certificates(m_core, verify == TLS_VERIFY_ON);
    linphone_core_verify_server_cn(m_core, verify == TLS_VERIFY_ON);
    if (verify == TLS_VERIFY_OFF)
        log(QStringLiteral("TLS: the server's certificate is not verified (tlsVerify 0)"));
    take_tls_verdict();
    watch_tls_handshake(true);
    return QString();
}

void VelPhone::watch_tls_handshake(bool on)
{
    if (on == m_watchingTls)
        return;
    m_watchingTls = on;
    if (on) {
        m_sipStackLogMask = bctbx_get_log_level_mask(SIP_STACK_LOG_DOMAIN);
        bctbx_set_log_level_mask(SIP_STACK_LOG_DOMAIN, m_sipStackLogMask | BCTBX_LOG_MESSAGE);
    } else {
        bctbx_set_log_level_mask(SIP_STACK_LOG_DOMAIN, m_sipStackLogMask);
    }
}

QString VelPhone::apply_media_encryption()
{
    const QString srtp = m_account.value(KEY_SRTP);
    if (srtp != SRTP_OFF && srtp != SRTP_OPTIONAL && srtp != SRTP_MANDATORY)
        return QStringLiteral("account: unknown srtp \"%1\" (empty, optional or mandatory)").arg(srtp);
    const bool encrypted = srtp != SRTP_OFF;
    if (encrypted && !linphone_core_media_encryption_supported(m_core, LinphoneMediaEncryptionSRTP))
        return QStringLiteral("SRTP: not supported by the SIP library");
    // The library offers SRTP as the secure profile only (RTP/SAVP), which a plain-only peer
    // refuses. "optional" therefore offers plain RTP with SRTP as an alternative the answer may
    // pick (SDP capability negotiation); "mandatory" offers and accepts nothing but SRTP.
    const bool optional = srtp == SRTP_OPTIONAL;
    linphone_core_set_media_encryption(
        m_core, srtp == SRTP_MANDATORY ? LinphoneMediaEncryptionSRTP : LinphoneMediaEncryptionNone);
    linphone_core_set_media_encryption_mandatory(m_core, srtp == SRTP_MANDATORY);
    if (optional) {
        bctbx_list_t *alternatives = bctbx_list_append(
            nullptr, reinterpret_cast<void *>(static_cast<intptr_t>(LinphoneMediaEncryptionSRTP)));
        linphone_core_set_supported_media_encryptions(m_core, alternatives);
        bctbx_list_free(alternatives);
    }
    linphone_core_enable_capability_negociation(m_core, optional);
    return QString();
}

void VelPhone::reconnect_if_due()
{
    if (!m_reconnectPending || !m_proxy || std::chrono::steady_clock::now() < m_reconnectAt)
        return;
    m_reconnectPending = false;
    log(QStringLiteral("SIP connection lost: registering again over ") + m_transport);
    linphone_proxy_config_refresh_register(m_proxy);
}

void VelPhone::re_register()
{
    // Only wakes the engine: it serves a pending re-registration request on its next pass.
    std::lock_guard<std::mutex> lock(m_requestMutex);
    wake_locked();
}

void VelPhone::re_register_locked()
{
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        if (!m_reRegisterRequested)
            return;
        m_reRegisterRequested = false;
    }
    // The new account registers at once. The old registration is removed, which unregisters it
    // in the background: waiting for the old server's answer first would leave the new account
    // unregistered for good when that server is silent or refuses.
    do_register();
}

// ---------------------------------------------------------------------------------------------
// Sound devices

void VelPhone::apply_sound_settings()
{
    std::lock_guard<std::mutex> lock(m_requestMutex);
    m_requests.applySound = true;
    wake_locked();
}

void VelPhone::apply_sound_settings_locked()
{
    const QMap<QString, QString> audio = m_store->get_audio_settings();
    if (audio.isEmpty())
        return;
    bctbx_list_t *devices = linphone_core_get_extended_audio_devices(m_core);
    for (const bctbx_list_t *it = devices; it; it = it->next) {
        const char *id = linphone_audio_device_get_id(static_cast<LinphoneAudioDevice *>(it->data));
        const QString name = from_utf8(id);
        if (name == audio.value(KEY_PLAYBACK))
            linphone_core_set_playback_device(m_core, id);
        if (name == audio.value(KEY_RINGBACK))
            linphone_core_set_ringer_device(m_core, id);
        if (name == audio.value(KEY_CAPTURE))
            linphone_core_set_capture_device(m_core, id);
    }
    bctbx_list_free_with_data(devices, reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
    linphone_core_set_mic_gain_db(m_core, audio.value(KEY_CAPTURE_GAIN).toFloat());
}

void VelPhone::list_sound_devices_locked()
{
    linphone_core_reload_sound_devices(m_core);
    QStringList playback;
    QStringList capture;
    bctbx_list_t *devices = linphone_core_get_extended_audio_devices(m_core);
    for (const bctbx_list_t *it = devices; it; it = it->next) {
        const auto *device = static_cast<const LinphoneAudioDevice *>(it->data);
        const QString name = from_utf8(linphone_audio_device_get_id(device));
        if (linphone_audio_device_has_capability(device, LinphoneAudioDeviceCapabilityRecord))
            capture << name;
        if (linphone_audio_device_has_capability(device, LinphoneAudioDeviceCapabilityPlay))
            playback << name;
    }
    bctbx_list_free_with_data(devices, reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
    QMap<QString, QStringList> result;
    result.insert(KEY_PLAYBACK, playback);
    result.insert(KEY_CAPTURE, capture);
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    m_devices = result;
    ++m_devicesGeneration;
    m_devicesListed.notify_all();
}

QMap<QString, QStringList> VelPhone::get_sound_devices()
{
    if (!isRunning()) {
        // No engine thread yet (or any more): nobody else uses the core.
        std::lock_guard<std::mutex> core(m_coreMutex);
        if (m_core)
            list_sound_devices_locked();
        std::lock_guard<std::mutex> lock(m_snapshotMutex);
        return m_devices;
    }
    int generation = 0;
    {
        std::lock_guard<std::mutex> lock(m_snapshotMutex);
        generation = m_devicesGeneration;
    }
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        m_requests.listDevices = true;
        wake_locked();
    }
    std::unique_lock<std::mutex> lock(m_snapshotMutex);
    if (!m_devicesListed.wait_for(lock, std::chrono::milliseconds(DEVICE_LIST_WAIT_MS),
            [&] { return m_devicesGeneration != generation; }))
        log(QStringLiteral("sound devices: the engine did not answer in time, last list used"));
    return m_devices;
}

// ---------------------------------------------------------------------------------------------
// DTMF

void VelPhone::send_dtmf(char digit)
{
    std::lock_guard<std::mutex> lock(m_requestMutex);
    if (m_dtmfQueue.size() >= DTMF_QUEUE_LIMIT)
        return;
    m_dtmfQueue.push_back(digit);
    wake_locked();
}

void VelPhone::send_queued_dtmf()
{
    if (std::chrono::steady_clock::now() < m_nextDtmfAt)
        return;
    char digit = 0;
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        if (m_dtmfQueue.empty())
            return;
        digit = m_dtmfQueue.front();
        m_dtmfQueue.pop_front();
    }
    LinphoneCall *call = linphone_core_get_current_call(m_core);
    if (!call || linphone_call_get_state(call) != LinphoneCallStreamsRunning) {
        // The call ended or went on hold: what was still queued is not for the next one.
        std::lock_guard<std::mutex> lock(m_requestMutex);
        m_dtmfQueue.clear();
        return;
    }
    linphone_call_send_dtmf(call, digit);
    m_nextDtmfAt = after_ms(DTMF_SPACING_MS);
}

// ---------------------------------------------------------------------------------------------
// Request setters: values and flags are handed over under the request lock, then the loop is
// woken so that it does not sleep out its pass.

void VelPhone::request_dial(const QString &number)
{
    std::lock_guard<std::mutex> lock(m_requestMutex);
    m_requests.dialNumber = number;
    m_requests.dial = true;
    wake_locked();
}

void VelPhone::request_answer()
{
    std::lock_guard<std::mutex> lock(m_requestMutex);
    m_requests.answer = true;
    wake_locked();
}

void VelPhone::request_hold()
{
    std::lock_guard<std::mutex> lock(m_requestMutex);
    m_requests.hold = true;
    wake_locked();
}

void VelPhone::request_transfer(const QString &number)
{
    std::lock_guard<std::mutex> lock(m_requestMutex);
    m_requests.transferNumber = number;
    m_requests.transfer = true;
    wake_locked();
}

void VelPhone::request_hangup()
{
    std::lock_guard<std::mutex> lock(m_requestMutex);
    m_requests.hangup = true;
    wake_locked();
}

void VelPhone::request_re_register()
{
    std::lock_guard<std::mutex> lock(m_requestMutex);
    m_reRegisterRequested = true;
    wake_locked();
}

void VelPhone::stop()
{
    std::lock_guard<std::mutex> lock(m_requestMutex);
    m_running = false;
    wake_locked();
}

// ---------------------------------------------------------------------------------------------
// Queries

bool VelPhone::is_incoming_ringing() const
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    return m_snapshot.incomingRinging;
}

bool VelPhone::is_in_call() const
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    return m_snapshot.inCall;
}

bool VelPhone::is_idle() const
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    return m_snapshot.idle;
}

bool VelPhone::is_idle_locked() const
{
    if (!m_currentCall)
        return true;
    const LinphoneCallState state = linphone_call_get_state(m_currentCall);
    return state == LinphoneCallReleased || state == LinphoneCallIdle || state == LinphoneCallEnd;
}

int VelPhone::get_phone_state() const
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    return m_snapshot.phoneState;
}

int VelPhone::get_call_result() const
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    return m_snapshot.callResult;
}

QString VelPhone::get_remote_number() const
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    return m_snapshot.remoteNumber;
}

QString VelPhone::get_last_dialled_number() const
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    return m_snapshot.lastDialledNumber;
}

// ---------------------------------------------------------------------------------------------
// Executors (engine thread, core lock held)

void VelPhone::do_dial(const QString &number)
{
    Q_ASSERT(is_engine_thread());
    if (number.isEmpty())
        return;
    if (m_phoneState == PHONE_READY) {
        if (!is_idle_locked())
            return;
        LinphoneCall *call = linphone_core_invite(m_core, number.toUtf8().constData());
        if (!call)
            return;
        forget_call(m_currentCall);
        m_currentCall = linphone_call_ref(call);
        m_remoteNumber = number;
        m_lastDialledNumber = number;
        m_callResult = HISTORY_OUTGOING_UNANSWERED;
    } else if (m_phoneState == PHONE_TRANSFER_WAIT) {
        if (m_transferCall && !has_ended(m_transferCall))
            return;
        LinphoneCall *call = linphone_core_invite(m_core, number.toUtf8().constData());
        if (!call)
            return;
        forget_call(m_transferCall);
        m_transferCall = linphone_call_ref(call);
    }
}

void VelPhone::do_hold()
{
    Q_ASSERT(is_engine_thread());
    // While the other side holds the call or it waits for a transfer, the button acts on the
    // consultation call only.
    LinphoneCall *target = m_phoneState >= PHONE_HELD ? m_transferCall : m_currentCall;
    if (!target)
        return;
    const LinphoneCallState state = linphone_call_get_state(target);
    if (state == LinphoneCallPaused)
        linphone_call_resume(target);
    else if (state == LinphoneCallStreamsRunning)
        linphone_call_pause(target);
}

void VelPhone::do_transfer(const QString &number)
{
    Q_ASSERT(is_engine_thread());
    if (!m_currentCall) {
        if (!m_transferCall)
            return;
        // The held party has gone: the consultation call is what the operator still has.
        m_currentCall = m_transferCall;
        m_transferCall = nullptr;
        m_phoneState = PHONE_TALKING;
        set_status(MSG_IN_CALL);
        post([this] { emit signal_show_phone_message(MSG_NO_TRANSFER_SOURCE); });
        return;
    }
    if (linphone_call_get_state(m_currentCall) == LinphoneCallStreamsRunning) {
        if (linphone_call_pause(m_currentCall) == 0)
            m_phoneState = PHONE_TRANSFER_WAIT;
        return;
    }
    if (m_phoneState == PHONE_TRANSFER_WAIT) {
        if (number.isEmpty()) {
            if (linphone_call_resume(m_currentCall) != 0)
                return;
            m_transferPending = false;
            if (!remote_is_own_user()) {
                const QString remote = m_remoteNumber;
                post([this, remote] { emit signal_set_phone_number(remote); });
            }
            return;
        }
        LinphoneAddress *target = linphone_core_interpret_url(m_core, number.toUtf8().constData());
        if (!target)
            return;
        const LinphoneStatus status = linphone_call_transfer_to(m_currentCall, target);
        linphone_address_unref(target);
        if (status >= 0) {
            {
                std::lock_guard<std::mutex> lock(m_requestMutex);
                m_transferDone = true;
            }
            // The transferee reports the outcome with NOTIFYs; if they never come, the call is
            // settled later instead of leaving the operator waiting.
            m_transferPending = true;
            m_transferProgressSeen = false;
            m_transferDeadline = after_ms(TRANSFER_SILENCE_MS);
        }
        return;
    }
    if (m_phoneState == PHONE_TRANSFER_TALKING && m_transferCall) {
        if (linphone_call_transfer_to_another(m_currentCall, m_transferCall) >= 0) {
            std::lock_guard<std::mutex> lock(m_requestMutex);
            m_transferDone = true;
        }
    }
}

void VelPhone::do_hangup()
{
    Q_ASSERT(is_engine_thread());
    bool acted = false;
    if (in_consultation(m_phoneState)) {
        // Only the consultation call ends; the held call waits for another transfer target.
        if (m_transferCall) {
            linphone_call_terminate(m_transferCall);
            acted = true;
        }
    } else if (m_currentCall) {
        if (linphone_call_get_dir(m_currentCall) == LinphoneCallIncoming
            && linphone_call_get_state(m_currentCall) == LinphoneCallIncomingReceived)
            linphone_call_decline(m_currentCall, LinphoneReasonBusy);
        else
            linphone_call_terminate(m_currentCall);
        acted = true;
    }
    // Further hang-up requests are dropped until the call's end is reported.
    if (!acted)
        m_hangupInProgress = false;
}

void VelPhone::do_answer()
{
    Q_ASSERT(is_engine_thread());
    if (m_currentCall && linphone_call_get_dir(m_currentCall) == LinphoneCallIncoming
        && linphone_call_get_state(m_currentCall) == LinphoneCallIncomingReceived)
        linphone_call_accept(m_currentCall);
}

void VelPhone::terminate_and_release(LinphoneCall *&call)
{
    if (call && !has_ended(call))
        linphone_call_terminate(call);
    forget_call(call);
}

void VelPhone::settle_unconfirmed_transfer()
{
    if (!m_transferPending || std::chrono::steady_clock::now() < m_transferDeadline)
        return;
    // The transferee never said how its call to the target went. The held call stays with the
    // operator, who can take it back with 転送 or end it with 切断.
    m_transferPending = false;
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        m_transferDone = false;
    }
    log(QStringLiteral("transfer: no outcome reported by the transferee, call left with the operator"));
    post([this] { emit signal_show_transfer_call_result(MSG_TRANSFER_UNKNOWN); });
}

void VelPhone::refuse_referred_calls()
{
    // Calls the library placed on its own for a REFER from the remote party are ended at once;
    // the transferor hears of the failure through the REFER's NOTIFY.
    for (LinphoneCall *call : m_referredCalls) {
        if (!has_ended(call))
            linphone_call_terminate(call);
    }
    // The library held the operator's call to place that call; it goes on as before.
    if (m_resumeAfterRefer && m_currentCall && linphone_call_get_state(m_currentCall) == LinphoneCallPaused) {
        m_resumeAfterRefer = false;
        linphone_call_resume(m_currentCall);
    }
}

// ---------------------------------------------------------------------------------------------
// Library reports (engine thread, inside an iteration or an executor, core lock held)

void VelPhone::on_registration_state_changed(
    LinphoneCore *core, LinphoneProxyConfig *config, LinphoneRegistrationState state, const char *message)
{
    if (VelPhone *engine = engine_of(core))
        engine->velphone_registration_state_changed(config, state, from_utf8(message));
}

void VelPhone::on_call_state_changed(
    LinphoneCore *core, LinphoneCall *call, LinphoneCallState state, const char *message)
{
    if (VelPhone *engine = engine_of(core))
        engine->velphone_call_state_changed(call, state, from_utf8(message));
}

void VelPhone::on_transfer_state_changed(
    LinphoneCore *core, LinphoneCall *transferred, LinphoneCallState state)
{
    if (VelPhone *engine = engine_of(core))
        engine->velphone_transfer_state_changed(transferred, state);
}

void VelPhone::set_status(const QString &status)
{
    post([this, status] { emit signal_update_dialog_status(status); });
}

bool VelPhone::remote_is_own_user() const
{
    return m_remoteNumber == m_account.value(KEY_USER_ID);
}

QString VelPhone::connected_status() const
{
    return remote_is_own_user() ? MSG_ONLINE : MSG_IN_CALL;
}

void VelPhone::velphone_registration_state_changed(
    LinphoneProxyConfig *config, LinphoneRegistrationState state, const QString &message)
{
    // Reports about configurations of earlier registrations, removed since, are not the
    // account's state any more.
    if (config != m_proxy) {
        log(message);
        return;
    }
    const QString userId = m_account.value(KEY_USER_ID);
    auto report = [this, userId](const QString &status) {
        post([this, status, userId] { emit signal_registration_state(status, userId); });
    };
    switch (state) {
    case LinphoneRegistrationProgress:
        report(REG_STATUS_PROGRESS);
        break;
    case LinphoneRegistrationOk:
        watch_tls_handshake(false);
        report(REG_STATUS_SUCCESSFUL);
        post([this] { emit signal_show_operator_login(); });
        if (m_phoneState == PHONE_READY)
            set_status(MSG_READY_TO_DIAL);
        m_registered = true;
        break;
    case LinphoneRegistrationCleared:
        m_registrationCleared = true;
        report(REG_STATUS_UNREGISTER);
        break;
    case LinphoneRegistrationFailed:
        watch_tls_handshake(false);
        {
            const QString verdict = m_transport == TRANSPORT_TLS ? take_tls_verdict() : QString();
            if (!verdict.isEmpty())
                log(QStringLiteral("TLS: certificate of %1 refused (%2): not registered")
                        .arg(m_account.value(KEY_ADDRESS), explain_tls_verdict(verdict)));
            // A connection that broke or could not be made is tried again soon; a refused
            // certificate needs the administrator, not another attempt.
            m_reconnectPending = m_transport != TRANSPORT_UDP && verdict.isEmpty()
                && linphone_proxy_config_get_error(config) == LinphoneReasonIOError;
            if (m_reconnectPending)
                m_reconnectAt = after_ms(RECONNECT_RETRY_MS);
        }
        report(REG_STATUS_FAILED);
        m_registered = false;
        // The library says "timeout" when the registrar stopped answering: the operator's calls
        // end here. They are forgotten before they are terminated, so their end reports find no
        // call of the engine's and the end is told once; with no call there is no end to tell
        // (it would store an invented history row).
        if (message == REGISTRATION_TIMEOUT_MESSAGE) {
            const bool inCall = m_currentCall || m_transferCall;
            if (inCall) {
                const int result = m_callResult;
                const QString remote = m_remoteNumber;
                post([this, result, remote] { emit signal_dialog_end(result, remote); });
            }
            LinphoneCall *current = m_currentCall;
            LinphoneCall *transfer = m_transferCall;
            m_currentCall = nullptr;
            m_transferCall = nullptr;
            m_phoneState = PHONE_READY;
            m_transferPending = false;
            terminate_and_release(current);
            terminate_and_release(transfer);
            if (inCall)
                set_status(MSG_READY_TO_DIAL);
        }
        break;
    default:
        report(MSG_NOT_AUTHENTICATED);
        break;
    }
    log(message);
}

void VelPhone::velphone_call_state_changed(
    LinphoneCall *call, LinphoneCallState state, const QString &message)
{
    // A call the library placed by itself for a REFER from the remote party: the operator never
    // asked for it, and an engine that does not track it could not end it.
    const bool referred
        = std::find(m_referredCalls.begin(), m_referredCalls.end(), call) != m_referredCalls.end();
    if (referred
        || (call != m_currentCall && call != m_transferCall && linphone_call_get_transferer_call(call))) {
        if (!referred) {
            m_referredCalls.push_back(linphone_call_ref(call));
            log(QStringLiteral("REFER from the remote party refused: call to ")
                + from_utf8(linphone_call_get_refer_to(linphone_call_get_transferer_call(call)))
                + QStringLiteral(" ended"));
        }
        if (state == LinphoneCallReleased) {
            m_referredCalls.erase(std::find(m_referredCalls.begin(), m_referredCalls.end(), call));
            linphone_call_unref(call);
        }
        log(message);
        return;
    }

    switch (state) {
    case LinphoneCallIncomingReceived:
        if (m_phoneState == PHONE_READY) {
            if (!is_idle_locked())
                break;
            m_phoneState = PHONE_RINGING;
            forget_call(m_currentCall);
            m_currentCall = linphone_call_ref(call);
            const LinphoneAddress *remote = linphone_call_get_remote_address(call);
            const QString callerName = from_utf8(linphone_address_get_display_name(remote));
            const QString callerId = from_utf8(linphone_address_get_username(remote));
            const QString callId = from_utf8(linphone_call_log_get_call_id(linphone_call_get_call_log(call)));
            m_remoteNumber = callerId;
            m_callResult = HISTORY_INCOMING_MISSED;
            QMap<QString, QString> params;
            params.insert(KEY_CALLER_NAME, callerName);
            params.insert(KEY_CALLER_ID, callerId);
            params.insert(KEY_CALL_ID, callId);
            qDebug() << "Call-ID:" << callId;
            post([this, params] { emit signal_received_dialog(params); });
            set_status(MSG_INCOMING);
        } else {
            // One call at a time: a second caller hears busy and the operator sees nothing.
            linphone_call_decline(call, LinphoneReasonBusy);
        }
        break;
    case LinphoneCallOutgoingProgress:
        if (m_phoneState == PHONE_READY) {
            m_phoneState = PHONE_DIALLING;
            log(QString::number(m_phoneState));
            set_status(MSG_CALLING);
        } else if (m_phoneState == PHONE_TRANSFER_WAIT) {
            m_phoneState = PHONE_TRANSFER_DIALLING;
            set_status(MSG_TRANSFER_CALLING);
        }
        break;
    case LinphoneCallStreamsRunning:
        log(QString::number(m_phoneState));
        switch (m_phoneState) {
        case PHONE_DIALLING:
        case PHONE_RINGING:
            m_phoneState = PHONE_TALKING;
            report_media_encryption(call);
            post([this] { emit signal_start_count_dialog_time(); });
            set_status(connected_status());
            break;
        case PHONE_HOLDING:
        case PHONE_HELD:
        case PHONE_TRANSFER_WAIT:
            if (m_phoneState == PHONE_HOLDING)
                post([this] { emit signal_stop_hold_music(); });
            m_phoneState = PHONE_TALKING;
            set_status(connected_status());
            break;
        case PHONE_TRANSFER_DIALLING:
        case PHONE_TRANSFER_HOLDING:
        case PHONE_TRANSFER_HELD:
            m_phoneState = PHONE_TRANSFER_TALKING;
            set_status(MSG_TRANSFER_IN_CALL);
            break;
        default:
            break;
        }
        if (m_callResult == HISTORY_OUTGOING_UNANSWERED)
            m_callResult = HISTORY_OUTGOING_ANSWERED;
        else if (m_callResult == HISTORY_INCOMING_MISSED)
            m_callResult = HISTORY_INCOMING_ANSWERED;
        break;
    case LinphoneCallPaused:
        if (m_resumeAfterRefer && call == m_currentCall)
            break; // held by the library for the refused REFER; resumed after this iteration
        if (m_phoneState == PHONE_TALKING) {
            m_phoneState = PHONE_HOLDING;
            post([this] { emit signal_play_hold_music(); });
            set_status(MSG_ON_HOLD);
        } else if (m_phoneState == PHONE_TRANSFER_WAIT) {
            set_status(MSG_ENTER_TRANSFER_NUMBER);
        } else if (m_phoneState == PHONE_TRANSFER_TALKING) {
            m_phoneState = PHONE_TRANSFER_HOLDING;
            set_status(MSG_TRANSFER_ON_HOLD);
        }
        break;
    case LinphoneCallPausedByRemote:
        if (m_phoneState == PHONE_TALKING) {
            m_phoneState = PHONE_HELD;
            set_status(MSG_REMOTE_HOLD);
        } else if (m_phoneState == PHONE_TRANSFER_TALKING) {
            m_phoneState = PHONE_TRANSFER_HELD;
            set_status(MSG_TRANSFER_REMOTE_HOLD);
        }
        break;
    case LinphoneCallRefered:
        // The library follows a REFER by itself; the engine ends the call it places (see above).
        // A call running until now was held by the library for it and is taken back.
        if (call == m_currentCall && (m_phoneState == PHONE_TALKING || m_phoneState == PHONE_HELD))
            m_resumeAfterRefer = true;
        break;
    case LinphoneCallEnd:
    case LinphoneCallError:
        // A call has ended once End (or Error) is reported: from here on a new INVITE is a new
        // call. The library's Released report can come much later.
        m_hangupInProgress = false;
        m_tonePlayerToRelease = linphone_call_get_reason(call) != LinphoneReasonBusy;
        if (call == m_currentCall && !in_consultation(m_phoneState))
            end_current_call(call);
        else if (in_consultation(m_phoneState))
            end_consultation_leg(call);
        break;
    case LinphoneCallReleased:
        m_hangupInProgress = false;
        // The library keeps a log entry of every call in memory; the history lives in our store,
        // so the entries are dropped rather than kept for a whole shift.
        linphone_core_clear_call_logs(m_core);
        break;
    default:
        break;
    }
    log(message);
}

void VelPhone::report_media_encryption(LinphoneCall *call)
{
    const LinphoneMediaEncryption encryption
        = linphone_call_params_get_media_encryption(linphone_call_get_current_params(call));
    const bool encrypted = encryption != LinphoneMediaEncryptionNone;
    const QString kind = encryption == LinphoneMediaEncryptionSRTP ? QStringLiteral("SRTP")
        : encryption == LinphoneMediaEncryptionZRTP                ? QStringLiteral("ZRTP")
                                                                   : QStringLiteral("DTLS-SRTP");
    log(QStringLiteral("call media: ")
        + (encrypted ? QStringLiteral("encrypted (%1)").arg(kind) : QStringLiteral("plain RTP")));
    if (!m_account.value(KEY_SRTP).isEmpty())
        post([this, encrypted] { emit signal_media_encryption(encrypted); });
}

void VelPhone::end_current_call(LinphoneCall *call)
{
    const LinphoneReason reason = linphone_call_get_reason(call);
    if (reason == LinphoneReasonNone)
        post([this] { emit signal_play_terminated_audio(HANGUP_SOUND); });
    else if (reason != LinphoneReasonBusy)
        post([this] { emit signal_play_terminated_audio(FAILED_SOUND); });
    set_status(MSG_READY_TO_DIAL);
    const int result = m_callResult;
    const QString remote = m_remoteNumber;
    post([this, result, remote] { emit signal_dialog_end(result, remote); });
    if (m_phoneState == PHONE_TRANSFER_WAIT) {
        bool transferDone = false;
        {
            std::lock_guard<std::mutex> lock(m_requestMutex);
            transferDone = m_transferDone;
            m_transferDone = false;
        }
        // A transferee that hangs up without having reported its call to the target connected
        // leaves the outcome unknown.
        if (transferDone && !m_transferPending)
            post([this] { emit signal_show_transfer_call_result(MSG_TRANSFER_DONE); });
        else if (transferDone)
            post([this] { emit signal_show_transfer_call_result(MSG_TRANSFER_UNKNOWN); });
    }
    m_transferPending = false;
    m_resumeAfterRefer = false;
    m_phoneState = PHONE_READY;
    forget_call(m_currentCall);
}

void VelPhone::end_consultation_leg(LinphoneCall *call)
{
    if (call == m_currentCall) {
        forget_call(m_currentCall);
        bool transferring = false;
        {
            std::lock_guard<std::mutex> lock(m_requestMutex);
            transferring = m_transferDone;
        }
        // The held party hung up: the operator learns it now, not at the next 転送 click, and
        // keeps the consultation call. After an attended transfer its end is expected.
        if (!transferring)
            set_status(MSG_NO_TRANSFER_SOURCE);
    } else if (call == m_transferCall) {
        forget_call(m_transferCall);
        if (m_currentCall) {
            m_phoneState = PHONE_TRANSFER_WAIT;
            set_status(MSG_ENTER_TRANSFER_NUMBER);
            post([this] { emit signal_clear_phone_number(); });
        } else {
            m_phoneState = PHONE_READY;
            set_status(MSG_READY_TO_DIAL);
            const int result = m_callResult;
            const QString remote = m_remoteNumber;
            post([this, result, remote] { emit signal_dialog_end(result, remote); });
        }
    }
}

void VelPhone::velphone_transfer_state_changed(LinphoneCall *transferred, LinphoneCallState state)
{
    // The other party reports how its call to the transfer target goes (the REFER's NOTIFYs).
    // When the REFER is refused or that call fails, the transferred call stays with the operator,
    // held: ending it later must not announce a transfer that never happened.
    log(QStringLiteral("transfer state: ") + from_utf8(linphone_call_state_to_string(state)));
    if (transferred != m_currentCall)
        return;
    if (state == LinphoneCallOutgoingProgress || state == LinphoneCallOutgoingRinging) {
        if (m_transferPending && !m_transferProgressSeen) {
            m_transferProgressSeen = true;
            m_transferDeadline = after_ms(TRANSFER_PROGRESS_MS);
        }
    } else if (state == LinphoneCallConnected) {
        m_transferPending = false;
    } else if (state == LinphoneCallError) {
        m_transferPending = false;
        std::lock_guard<std::mutex> lock(m_requestMutex);
        m_transferDone = false;
    }
}
