#pragma once

#include <QAudio>
#include <QAudioDeviceInfo>
#include <QBuffer>
#include <QObject>
#include <QString>

class QAudioOutput;
class QThread;
class VelData;
class WavSound;
class VelLogger;

// The bar's own sounds: key tones, the hang-up and failure tones, and the hold music, which
// plays from its start again until it is stopped. Everything runs on the GUI thread; the sounds
// play on the device of the stored speaker, on the default device when none matches. The bar's
// sound slots forward here.
//
// A tone is started by the start of the tone trigger thread, which only runs an empty event
// loop: while it runs a tone is playing, and a tone asked for then is not heard (tones are
// neither queued nor mixed). The owner connects the trigger's started() to start_tone().
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
    // Reads a sound file; a file that cannot be read leaves a log line.
    bool read_sound(const QString &file, WavSound &sound);
    // Clears the member, then stops the output and deletes it once control returns to the loop.
    void drop_output(QAudioOutput *&output);
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
