#include "ui/mainwindow/pulsetone.h"

#include "app/constants.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

namespace {
// The stream's target latency. The server runs the sink at about this latency while the
// stream exists, so a sound starts within it.
constexpr pa_usec_t TARGET_LATENCY_US = 25 * PA_USEC_PER_MSEC;
// How long the GUI thread waits for the server to accept the connection or the stream: a local
// server answers within milliseconds.
constexpr int SERVER_ANSWER_LIMIT_MS = 1000;
// How long after a sound's last sample the stream is corked: its latency and some margin, so
// that the end of the sound still on its way to the sink is not cut off.
constexpr pa_usec_t CORK_AFTER_US = 250 * PA_USEC_PER_MSEC;

bool sample_spec(const QAudioFormat &format, pa_sample_spec *spec)
{
    spec->rate = uint32_t(format.sampleRate());
    spec->channels = uint8_t(format.channelCount());
    const bool little = format.byteOrder() == QAudioFormat::LittleEndian;
    if (format.sampleSize() == 8 && format.sampleType() == QAudioFormat::UnSignedInt)
        spec->format = PA_SAMPLE_U8;
    else if (format.sampleSize() == 16 && format.sampleType() == QAudioFormat::SignedInt && little)
        spec->format = PA_SAMPLE_S16LE;
    else if (format.sampleSize() == 24 && format.sampleType() == QAudioFormat::SignedInt && little)
        spec->format = PA_SAMPLE_S24LE;
    else if (format.sampleSize() == 32 && format.sampleType() == QAudioFormat::SignedInt && little)
        spec->format = PA_SAMPLE_S32LE;
    else
        return false;
    return pa_sample_spec_valid(spec) != 0;
}

void drop(pa_operation *operation)
{
    if (operation)
        pa_operation_unref(operation);
}

void signal_loop(void *loop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(loop), 0);
}
} // namespace

PulseTone::~PulseTone()
{
    if (!m_loop)
        return;
    pa_threaded_mainloop_lock(m_loop);
    close_context();
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

bool PulseTone::fail(const QString &reason)
{
    m_error = reason;
    return false;
}

template<typename Done> bool PulseTone::wait_for(Done done, int msecs)
{
    struct Alarm
    {
        pa_threaded_mainloop *loop;
        bool rang;
    } alarm { m_loop, false };
    pa_time_event *event = pa_context_rttime_new(
        m_context, pa_rtclock_now() + pa_usec_t(msecs) * PA_USEC_PER_MSEC,
        [](pa_mainloop_api *, pa_time_event *, const struct timeval *, void *data) {
            auto *alarm = static_cast<Alarm *>(data);
            alarm->rang = true;
            signal_loop(alarm->loop);
        },
        &alarm);
    while (!done() && !alarm.rang && event)
        pa_threaded_mainloop_wait(m_loop);
    if (event)
        pa_threaded_mainloop_get_api(m_loop)->time_free(event);
    return done();
}

template<typename Ready, typename Failed>
bool PulseTone::await(Ready ready, Failed failed, const QString &late)
{
    wait_for([&] { return ready() || failed(); }, SERVER_ANSWER_LIMIT_MS);
    if (ready())
        return true;
    return fail(failed() ? QString::fromUtf8(pa_strerror(pa_context_errno(m_context)))
                         : late + QStringLiteral(" within %1 ms").arg(SERVER_ANSWER_LIMIT_MS));
}

bool PulseTone::start_loop()
{
    if (m_loop)
        return true;
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop)
        return fail(QStringLiteral("cannot make a PulseAudio main loop"));
    pa_threaded_mainloop_set_name(m_loop, "tones");
    if (pa_threaded_mainloop_start(m_loop) < 0) {
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
        return fail(QStringLiteral("cannot start the PulseAudio main loop"));
    }
    return true;
}

bool PulseTone::start_context()
{
    if (m_context && !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
        close_context(); // the server went away: start over
    if (m_context)
        return true;
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), qPrintable(ABOUT_APP_NAME));
    if (!m_context)
        return fail(QStringLiteral("cannot make a PulseAudio context"));
    pa_context_set_state_callback(m_context, &PulseTone::on_context_state, this);
    // Never starts a server of its own: without one, the caller plays the sound another way.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        fail(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
        close_context();
        return false;
    }
    return true;
}

void PulseTone::on_context_state(pa_context *context, void *self)
{
    auto *tone = static_cast<PulseTone *>(self);
    if (pa_context_get_state(context) == PA_CONTEXT_READY && !tone->m_stream
        && tone->m_streamFormat.isValid())
        tone->start_stream();
    signal_loop(tone->m_loop);
}

bool PulseTone::connect_context()
{
    if (!start_context())
        return false;
    if (await([this] { return pa_context_get_state(m_context) == PA_CONTEXT_READY; },
            [this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)); },
            QStringLiteral("the sound server did not answer")))
        return true;
    close_context();
    return false;
}

bool PulseTone::start_stream()
{
    pa_sample_spec spec;
    if (!sample_spec(m_streamFormat, &spec))
        return fail(QStringLiteral("no PulseAudio sample format for %1-bit samples")
                        .arg(m_streamFormat.sampleSize()));
    m_stream = pa_stream_new(m_context, "tones", &spec, nullptr);
    if (!m_stream)
        return fail(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
    pa_stream_set_state_callback(
        m_stream, [](pa_stream *, void *loop) { signal_loop(loop); }, m_loop);
    // A short target length with ADJUST_LATENCY: the server gives the sink a latency to match.
    // The rest is the server's choice; the sound is written whole, beyond the target length.
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(TARGET_LATENCY_US, &spec));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    const QByteArray device = m_streamSink.toUtf8();
    if (pa_stream_connect_playback(m_stream, m_streamSink.isEmpty() ? nullptr : device.constData(), &attr,
            pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED), nullptr, nullptr)
        < 0) {
        fail(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
        close_stream();
        return false;
    }
    return true;
}

bool PulseTone::open_stream(const QString &sink, const QAudioFormat &format)
{
    const bool same = m_stream && m_streamSink == sink && m_streamFormat == format;
    if (same && pa_stream_get_state(m_stream) == PA_STREAM_READY)
        return true;
    // A stream still being opened for the same sound is waited for; any other is replaced.
    if (!same || !PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream))) {
        close_stream();
        m_streamSink = sink;
        m_streamFormat = format;
        if (!start_stream())
            return false;
    }
    if (await([this] { return pa_stream_get_state(m_stream) == PA_STREAM_READY; },
            [this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)); },
            QStringLiteral("the sound server did not open the stream")))
        return true;
    close_stream();
    return false;
}

void PulseTone::close_stream()
{
    if (!m_stream)
        return;
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
    m_stream = nullptr;
}

void PulseTone::close_context()
{
    if (m_corkTimer) {
        pa_threaded_mainloop_get_api(m_loop)->time_free(m_corkTimer);
        m_corkTimer = nullptr;
    }
    close_stream();
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void PulseTone::on_quiet(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *self)
{
    // On the loop's thread, its lock held: the GUI thread takes it for every use of the stream.
    auto *tone = static_cast<PulseTone *>(self);
    if (tone->m_stream && pa_stream_get_state(tone->m_stream) == PA_STREAM_READY)
        drop(pa_stream_cork(tone->m_stream, 1, nullptr, nullptr));
}

bool PulseTone::play(const QByteArray &pcm, const QAudioFormat &format, const QString &sink)
{
    pa_sample_spec spec;
    if (!sample_spec(format, &spec))
        return fail(
            QStringLiteral("no PulseAudio sample format for %1-bit samples").arg(format.sampleSize()));
    if (!start_loop())
        return false;
    pa_threaded_mainloop_lock(m_loop);
    bool played = connect_context() && open_stream(sink, format);
    if (played) {
        // What the previous sound still had to play goes; this one starts as soon as it is there.
        drop(pa_stream_flush(m_stream, nullptr, nullptr));
        if (pa_stream_write(m_stream, pcm.constData(), size_t(pcm.size()), nullptr, 0, PA_SEEK_RELATIVE)
            < 0) {
            played = fail(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
        } else {
            drop(pa_stream_cork(m_stream, 0, nullptr, nullptr));
            drop(pa_stream_trigger(m_stream, nullptr, nullptr));
            const pa_usec_t quiet
                = pa_rtclock_now() + pa_bytes_to_usec(uint64_t(pcm.size()), &spec) + CORK_AFTER_US;
            if (m_corkTimer)
                pa_context_rttime_restart(m_context, m_corkTimer, quiet);
            else
                m_corkTimer = pa_context_rttime_new(m_context, quiet, &PulseTone::on_quiet, this);
        }
    }
    pa_threaded_mainloop_unlock(m_loop);
    return played;
}

void PulseTone::prepare(const QAudioFormat &format, const QString &sink)
{
    if (!start_loop())
        return;
    pa_threaded_mainloop_lock(m_loop);
    if (!m_stream || m_streamSink != sink || m_streamFormat != format) {
        close_stream();
        m_streamSink = sink;
        m_streamFormat = format;
        // Opened by on_context_state() once a new context is ready.
        if (start_context() && pa_context_get_state(m_context) == PA_CONTEXT_READY)
            start_stream();
    }
    pa_threaded_mainloop_unlock(m_loop);
}
