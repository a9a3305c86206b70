#pragma once

#include <QAudio>
#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QBuffer>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>

class PulseTone;
class QAudioOutput;
class QThread;
class VelData;
class WavSound;
class VelLogger;

// The bar's own sounds: key tones, the hang-up and failure tones, and the hold music, which
// plays from its start again until it is stopped. Everything here runs on the GUI thread (the
// tones' own stream has a thread of the sound library's: see PulseTone); the sounds play on the
// device of the stored speaker, on the default device when none matches. The bar's sound slots
// forward here.
//
// A tone is started by the start of the tone trigger thread, which only runs an empty event
// loop: while it runs a tone is playing, and a tone asked for then is not heard (tones are
// neither queued nor mixed), with one exception: a key typed once the previous key's tone has
// been heard for a moment cuts that tone off and sounds its own, so that every key of an
// operator typing at speed is heard. The owner connects the trigger's started() to start_tone().
//
// On a PulseAudio sink the tones play through a stream of their own (PulseTone), which starts a
// sound within its short latency whatever latency the sink had; Qt's output would start it as
// late as the sink's default latency. Without a sound server, or on a device of another sound
// system, they play through Qt Multimedia. The hold music always does: it loops for minutes,
// where a late start does not matter.
class BarSounds : public QObject
{
    Q_OBJECT
public:
    BarSounds(VelData *store, VelLogger *logger, QObject *parent);
    // Stops and deletes every output of its own.
    ~BarSounds() override;

    QThread *tone_trigger() const { return m_toneTrigger; }

    void play_tone(const QString &file);
    // The tone of a dial pad key: a digit, '*' or '#'.
    void play_key_tone(const QString &key);
    void start_tone();
    void tone_state_changed(QAudioOutput *output, QAudio::State newState);

    void play_hold_music(const QString &file);
    void hold_state_changed(QAudioOutput *output, QAudio::State newState);
    void stop_hold_music();

private:
    QAudioDeviceInfo output_device();
    // Opens the tones' own stream ahead, on the device they will play on.
    void prepare_tones();
    void play_sound(const QString &file, bool keyTone);
    // A tone's own Qt output, reading from a buffer of its own.
    QAudioOutput *make_tone_output(
        const QAudioDeviceInfo &device, const QByteArray &pcm, const QAudioFormat &format);
    // The route of the tones, logged when it changes.
    void note_route(bool ownStream, const QString &why);
    // Reads a sound file; a file that cannot be read leaves a log line.
    bool read_sound(const QString &file, WavSound &sound);
    // Clears the member, then stops the output and deletes it once control returns to the loop.
    void drop_output(QAudioOutput *&output);
    // Ends the tone that has just started once its own samples have played.
    void end_when_played();
    void end_tone();
    void finish_tone();
    void release_tone_output();
    void release_hold_output();

    VelData *m_store;
    VelLogger *m_logger;
    // Sounds hold only the PCM part of their WAV file, read afresh for every pass. A tone output
    // reads from a buffer of its own (its child); the tone's length comes from its file.
    QAudioOutput *m_toneOutput = nullptr;
    int m_toneLengthMs = 0;
    // Whether the playing tone is a key's, and since when it was asked for.
    bool m_toneIsKey = false;
    QElapsedTimer m_toneAsked;
    // The tones' own PulseAudio stream; the tone waiting for the trigger to play on it, with its
    // device (a Qt output is made for it when the stream cannot play it) and the stream's sink.
    std::unique_ptr<PulseTone> m_pulse;
    QByteArray m_pendingPcm;
    QAudioFormat m_pendingFormat;
    QAudioDeviceInfo m_pendingDevice;
    QString m_pendingSink;
    enum class Route { Unknown, OwnStream, Qt } m_route = Route::Unknown;
    // Counts the tones; a tone's end timer ends only its own tone. A tone waits for the
    // trigger's start until start_tone() has started it.
    quint64 m_toneSerial = 0;
    bool m_toneWaiting = false;
    // The output device of the program's own sounds, and the stored speaker it was chosen for.
    bool m_outputChosen = false;
    QString m_outputChosenFor;
    QString m_outputDeviceName;
    QBuffer m_holdBuffer;
    QAudioOutput *m_holdOutput = nullptr;
    // Runs an empty event loop: its start triggers a tone on the GUI thread, and while it runs
    // a tone is playing.
    QThread *m_toneTrigger = nullptr;
};
