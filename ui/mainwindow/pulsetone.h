#pragma once

#include <QAudioFormat>
#include <QByteArray>
#include <QString>

struct pa_context;
struct pa_mainloop_api;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;
struct timeval;

// One playback stream of the program's own on the PulseAudio server, for short sounds that must
// be heard when they are asked for. Qt's PulseAudio output asks the server for no particular
// latency, so a sink at its default renders its data up to seconds ahead and a key tone comes
// out late, or together with the next one. This stream asks for a short latency, which the
// server then gives the sink as well; the whole sound is handed over at once, so nothing on the
// GUI thread has to keep it fed.
//
// The stream is opened ahead (prepare()) and kept: while it exists the server keeps the sink at
// the short latency, also when it is corked. A sink that was at its default latency still has
// what it rendered before to play out when the stream comes; a stream opened only at a key
// would come out late for a while. Once a sound has played the stream is corked, so an idle
// program leaves the sink idle (free to be suspended).
//
// Called on the GUI thread only. The library's callbacks run on the thread of its threaded main
// loop; every use of the context and the stream on the GUI thread takes the loop's lock.
// A sound asked for while the previous one plays replaces it.
class PulseTone
{
public:
    PulseTone() = default;
    ~PulseTone();

    PulseTone(const PulseTone &) = delete;
    PulseTone &operator=(const PulseTone &) = delete;

    // Plays the samples on the named sink, the server's default sink when the name is empty,
    // cutting off what still plays. Connects to the server first when not connected (again
    // after the server went away); it is never started for us. False when the server cannot be
    // reached, refuses the stream or the format: error() says why.
    bool play(const QByteArray &pcm, const QAudioFormat &format, const QString &sink);
    // Starts connecting and opening the stream for sounds of this format on this sink, and
    // returns at once. Without a server nothing happens (play() tries again).
    void prepare(const QAudioFormat &format, const QString &sink);
    QString error() const { return m_error; }

private:
    bool start_loop();
    // Starts connecting when there is no usable context; returns at once.
    bool start_context();
    bool connect_context();
    // Starts opening the stream for m_wantSink and m_wantFormat; returns at once.
    bool start_stream();
    bool open_stream(const QString &sink, const QAudioFormat &format);
    void close_stream();
    void close_context();
    // Waits on the loop (its lock held) until done() or for at most msecs.
    template<typename Done> bool wait_for(Done done, int msecs);
    // Waits until ready() or failed(), for as long as a server may take to answer; false, with
    // the reason (the server's, or `late` when it did not answer), unless ready.
    template<typename Ready, typename Failed> bool await(Ready ready, Failed failed, const QString &late);
    bool fail(const QString &reason);

    // On the loop's thread: opens the prepared stream once the context is ready.
    static void on_context_state(pa_context *context, void *self);
    // The cork timer's callback.
    static void on_quiet(pa_mainloop_api *api, pa_time_event *event, const struct timeval *tv, void *self);

    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    pa_stream *m_stream = nullptr;
    // The stream there is or is being opened, and what it plays.
    QString m_streamSink;
    QAudioFormat m_streamFormat;
    // Corks the stream once the last sound has played (runs on the loop's thread).
    pa_time_event *m_corkTimer = nullptr;
    QString m_error;
};
