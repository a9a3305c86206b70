#include "ui/mainwindow/barsounds.h"
#include "store/settingskeys.h"
#include "ui/mainwindow/pulsetone.h"
#include "ui/mainwindow/wavsound.h"

#include "app/constants.h"
#include "app/vellogger.h"
#include "store/veldata.h"

#include <QAudioOutput>
#include <QDebug>
#include <QThread>
#include <QTimer>

namespace {

const QString UNSUPPORTED_FORMAT
    = QStringLiteral("Raw audio format not supported by backend, cannot play audio.");

// How long a finished tone's output may take to play out what the device still holds.
constexpr int TONE_PLAY_OUT_LIMIT_MS = 5000;
// A key typed this long after the previous key's tone was asked for cuts that tone off and
// sounds its own; a key typed sooner is not heard. Long enough for a tone to be recognised.
constexpr int KEY_TONE_HEARD_MS = 80;
// How long after the bar's start the tones' stream is opened.
constexpr int PREPARE_TONES_AFTER_MS = 500;
// The realm of the devices of Qt's PulseAudio plugin (its plugin key: it is Qt's default audio
// plugin on Linux); their names are the sound server's sink names.
const QString PULSE_REALM = QStringLiteral("default");

QString tone_for_key(const QString &key)
{
    if (key == QLatin1String("#"))
        return DTMF_SOUND_POUND;
    if (key == QLatin1String("*"))
        return DTMF_SOUND_STAR;
    const QString *const digits[] = { &DTMF_SOUND_0, &DTMF_SOUND_1, &DTMF_SOUND_2, &DTMF_SOUND_3,
        &DTMF_SOUND_4, &DTMF_SOUND_5, &DTMF_SOUND_6, &DTMF_SOUND_7, &DTMF_SOUND_8, &DTMF_SOUND_9 };
    const int digit = key.toInt();
    return *digits[digit >= 1 && digit <= 9 ? digit : 0];
}

// How long the device still plays what it has been given.
int queued_msecs(const QAudioOutput *output)
{
    constexpr int MARGIN_MS = 50;
    const qint64 queued = output->bufferSize() - output->bytesFree();
    return int(output->format().durationForBytes(int(qMax<qint64>(queued, 0))) / 1000) + MARGIN_MS;
}
} // namespace

BarSounds::BarSounds(VelData *store, VelLogger *logger, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_logger(logger)
    , m_pulse(std::make_unique<PulseTone>())
    , m_toneTrigger(new QThread)
{
    // Once the bar is up (choosing the device asks the sound server for its devices, some
    // 50-100 ms, which would hold up the bar's first paint): the sound server then has the sink
    // at the stream's short latency well before the first key.
    QTimer::singleShot(PREPARE_TONES_AFTER_MS, this, &BarSounds::prepare_tones);
}

void BarSounds::prepare_tones()
{
    const QAudioDeviceInfo device = output_device();
    WavSound keyTone;
    if (device.realm() == PULSE_REALM && keyTone.load(DTMF_SOUND_0))
        m_pulse->prepare(keyTone.format(), device.deviceName());
}

BarSounds::~BarSounds()
{
    m_toneTrigger->quit();
    m_toneTrigger->wait();
    release_tone_output();
    release_hold_output();
    // The outputs are deleted here, while the bar is whole: the PulseAudio output runs the
    // event loop in its destructor, which must not reach half-destroyed widgets, nor deliver a
    // report about another output to code that would ask that output about its closed stream.
    const QList<QAudioOutput *> outputs = findChildren<QAudioOutput *>();
    for (QAudioOutput *output : outputs)
        output->disconnect();
    qDeleteAll(outputs);
    delete m_toneTrigger;
}

QAudioDeviceInfo BarSounds::output_device()
{
    // Chosen once per stored name (finding a PulseAudio sink asks the sound server), and anew
    // when the chosen device has gone.
    const QString stored = m_store->get_audio_settings().value(KEY_PLAYBACK);
    if (m_outputChosen && stored == m_outputChosenFor) {
        if (m_outputDeviceName.isEmpty())
            return QAudioDeviceInfo::defaultOutputDevice();
        for (const QAudioDeviceInfo &device : QAudioDeviceInfo::availableDevices(QAudio::AudioOutput)) {
            if (device.deviceName() == m_outputDeviceName)
                return device;
        }
    }
    bool matched = false;
    const QAudioDeviceInfo device = choose_output_device(stored, [&matched](const QString &name) {
        matched = true;
        qDebug() << "lin same device name:" << name;
    });
    m_outputChosen = true;
    m_outputChosenFor = stored;
    m_outputDeviceName = matched ? device.deviceName() : QString();
    m_logger->log(
        QStringLiteral("own sounds play on \"%1\"%2 for the speaker \"%3\"")
            .arg(device.deviceName(), matched ? QString() : QStringLiteral(" (default device)"), stored),
        LEVEL_INFO);
    return device;
}

void BarSounds::play_tone(const QString &file)
{
    play_sound(file, false);
}

void BarSounds::play_key_tone(const QString &key)
{
    play_sound(tone_for_key(key), true);
}

void BarSounds::play_sound(const QString &file, bool keyTone)
{
    if (m_toneTrigger->isRunning() || m_toneOutput) {
        // A tone plays. The new one is not heard (tones are neither queued nor mixed), unless it
        // is a key typed once the previous key's tone has been heard for a moment: an operator
        // typing at speed types the next key before that tone is over, and hears every key.
        if (!keyTone || !m_toneIsKey || m_toneAsked.elapsed() < KEY_TONE_HEARD_MS)
            return;
        finish_tone();
    }
    const QAudioDeviceInfo device = output_device();
    WavSound sound;
    if (!read_sound(file, sound))
        return;
    if (!device.isFormatSupported(sound.format())) {
        m_logger->log(UNSUPPORTED_FORMAT + file, LEVEL_WARNING);
        return;
    }
    m_toneLengthMs = int(sound.format().durationForBytes(sound.pcm().size()) / 1000);
    m_toneIsKey = keyTone;
    m_toneAsked.start();
    ++m_toneSerial;
    if (device.realm() == PULSE_REALM) {
        // Played on the tones' own stream once the trigger has started; a Qt output only if
        // the stream cannot play it.
        m_pendingPcm = sound.pcm();
        m_pendingFormat = sound.format();
        m_pendingDevice = device;
        m_pendingSink = device.deviceName();
    } else {
        note_route(false, QStringLiteral("\"%1\" is no PulseAudio sink").arg(device.deviceName()));
        m_toneOutput = make_tone_output(device, sound.pcm(), sound.format());
    }
    m_toneWaiting = true;
    m_toneTrigger->start(QThread::InheritPriority);
}

QAudioOutput *BarSounds::make_tone_output(
    const QAudioDeviceInfo &device, const QByteArray &pcm, const QAudioFormat &format)
{
    auto *output = new QAudioOutput(device, format, this);
    // Each output reads its own copy, so an output that still plays out its last samples
    // never sees the next tone's data.
    auto *samples = new QBuffer(output);
    samples->setData(pcm);
    samples->open(QIODevice::ReadOnly);
    connect(output, &QAudioOutput::stateChanged, this,
        [this, output](QAudio::State state) { tone_state_changed(output, state); });
    return output;
}

void BarSounds::note_route(bool ownStream, const QString &why)
{
    const Route route = ownStream ? Route::OwnStream : Route::Qt;
    if (route == m_route)
        return;
    m_route = route;
    m_logger->log(ownStream ? QStringLiteral("tones play on a sound server stream of their own (%1)").arg(why)
                            : QStringLiteral("tones play through Qt Multimedia: %1").arg(why),
        LEVEL_INFO);
}

void BarSounds::start_tone()
{
    if (!m_toneWaiting)
        return;
    m_toneWaiting = false;
    if (!m_pendingPcm.isNull()) {
        const QByteArray pcm = m_pendingPcm;
        m_pendingPcm = QByteArray();
        if (m_pulse->play(pcm, m_pendingFormat, m_pendingSink)) {
            note_route(true, m_pendingSink);
            end_when_played();
            return;
        }
        note_route(false, QStringLiteral("no stream of their own (%1)").arg(m_pulse->error()));
        m_toneOutput = make_tone_output(m_pendingDevice, pcm, m_pendingFormat);
    }
    if (!m_toneOutput) {
        finish_tone();
        return;
    }
    m_toneOutput->start(m_toneOutput->findChild<QBuffer *>());
    // A device that cannot start (no sound server) reports no state change at all.
    if (m_toneOutput && m_toneOutput->error() != QAudio::NoError) {
        m_logger->log(QStringLiteral("tone output failed to start: error %1").arg(m_toneOutput->error()),
            LEVEL_WARNING);
        finish_tone();
        return;
    }
    if (!m_toneOutput) // stopped as it started
        return;
    end_when_played();
}

void BarSounds::end_when_played()
{
    // The tone is over when its own samples have played. The device's idle report cannot tell
    // that: a sound server at its default latency gives it more than a second late, and every
    // key typed until then would go unheard.
    QTimer::singleShot(m_toneLengthMs, this, [this, serial = m_toneSerial] {
        if (serial == m_toneSerial)
            end_tone();
    });
}

void BarSounds::tone_state_changed(QAudioOutput *output, QAudio::State newState)
{
    if (!output || output != m_toneOutput)
        return;
    switch (newState) {
    case QAudio::IdleState:
        // Everything has been handed to the device before the tone's time was up.
        end_tone();
        break;
    case QAudio::StoppedState:
        if (m_toneOutput->error() != QAudio::NoError)
            m_logger->log(
                QStringLiteral("tone output stopped: error %1").arg(m_toneOutput->error()), LEVEL_WARNING);
        finish_tone();
        break;
    default:
        qDebug() << "audio other:" << newState;
        break;
    }
}

void BarSounds::end_tone()
{
    // The next tone may start now. A Qt output lives on until the device has played what it
    // still holds (stopping it at once would cut off the tone's end), and goes at the latest
    // after a few seconds. The tones' own stream needs nothing: it plays the tone to its end,
    // or the next tone replaces it.
    if (QAudioOutput *output = m_toneOutput) {
        m_toneOutput = nullptr;
        disconnect(output, nullptr, this, nullptr);
        const auto drop = [output] {
            // A report the sound server queued before the stop may still come in: nothing of
            // ours may ask the stopped output about its buffer then.
            output->disconnect(output);
            output->stop();
            output->deleteLater();
        };
        const auto dropWhenPlayed
            = [output, drop] { QTimer::singleShot(queued_msecs(output), output, drop); };
        if (output->state() == QAudio::IdleState) {
            dropWhenPlayed();
        } else {
            connect(output, &QAudioOutput::stateChanged, output, [dropWhenPlayed, drop](QAudio::State state) {
                if (state == QAudio::IdleState)
                    dropWhenPlayed();
                else if (state == QAudio::StoppedState)
                    drop();
            });
        }
        QTimer::singleShot(TONE_PLAY_OUT_LIMIT_MS, output, drop);
    }
    m_toneTrigger->quit();
    m_toneTrigger->wait();
}

void BarSounds::finish_tone()
{
    release_tone_output();
    m_pendingPcm = QByteArray();
    m_toneWaiting = false;
    // The running trigger thread is the mark that a tone plays. Its empty event loop ends at
    // once; waiting for that here clears the mark together with the output, so a key typed
    // right after the tone is over is not taken for one typed while it plays.
    m_toneTrigger->quit();
    m_toneTrigger->wait();
}

bool BarSounds::read_sound(const QString &file, WavSound &sound)
{
    if (sound.load(file))
        return true;
    m_logger->log(sound.error(), LEVEL_WARNING);
    return false;
}

void BarSounds::drop_output(QAudioOutput *&output)
{
    QAudioOutput *dropped = output;
    output = nullptr;
    if (dropped) {
        disconnect(dropped, nullptr, this, nullptr);
        dropped->stop();
        dropped->deleteLater();
    }
}

void BarSounds::release_tone_output()
{
    drop_output(m_toneOutput);
}

void BarSounds::play_hold_music(const QString &file)
{
    // One hold music output at a time; a second start while it plays changes nothing.
    if (m_holdOutput)
        return;
    const QAudioDeviceInfo device = output_device();
    WavSound sound;
    if (!read_sound(file, sound))
        return;
    if (!device.isFormatSupported(sound.format())) {
        qDebug() << UNSUPPORTED_FORMAT;
        return;
    }
    m_holdBuffer.close();
    m_holdBuffer.setData(sound.pcm());
    m_holdBuffer.open(QIODevice::ReadOnly);
    m_holdOutput = new QAudioOutput(device, sound.format(), this);
    connect(m_holdOutput, &QAudioOutput::stateChanged, this,
        [this, output = m_holdOutput](QAudio::State state) { hold_state_changed(output, state); });
    m_holdOutput->start(&m_holdBuffer);
    if (m_holdOutput && m_holdOutput->error() != QAudio::NoError) {
        m_logger->log(
            QStringLiteral("hold music failed to start: error %1").arg(m_holdOutput->error()), LEVEL_WARNING);
        release_hold_output();
    }
}

void BarSounds::hold_state_changed(QAudioOutput *output, QAudio::State newState)
{
    if (!output || output != m_holdOutput)
        return;
    if (newState == QAudio::IdleState) {
        // Played to its end (once the device has played what it holds): start again from the
        // beginning until the engine says stop.
        QTimer::singleShot(queued_msecs(m_holdOutput), this, [this, output = m_holdOutput] {
            if (output != m_holdOutput)
                return;
            release_hold_output();
            play_hold_music(HOLD_SOUND);
        });
    } else if (newState == QAudio::StoppedState) {
        if (m_holdOutput->error() != QAudio::NoError)
            m_logger->log(
                QStringLiteral("hold music stopped: error %1").arg(m_holdOutput->error()), LEVEL_WARNING);
        return;
    }
    qDebug() << "other:" << newState;
}

void BarSounds::stop_hold_music()
{
    release_hold_output();
}

void BarSounds::release_hold_output()
{
    drop_output(m_holdOutput);
    m_holdBuffer.close();
}
