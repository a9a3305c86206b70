#pragma once

#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// The sample data of a RIFF/WAVE file and the format its header declares. Only the PCM bytes
// of the "data" chunk are kept, so the header never reaches the speaker as a click and the
// samples are played in their own encoding (16-bit WAV is signed).
class WavSound
{
public:
    // Reads and parses the file. False when it is missing, unreadable or not plain PCM WAVE;
    // error() then says why.
    bool load(const QString &path);
    bool parse(const QByteArray &bytes);

    const QAudioFormat &format() const { return m_format; }
    const QByteArray &pcm() const { return m_pcm; }
    const QString &error() const { return m_error; }

private:
    bool fail(const QString &reason);

    QAudioFormat m_format;
    QByteArray m_pcm;
    QString m_error;
};

// The speaker for the program's own sounds: the output device that is the same sound device as
// the stored "playback" name, which is the SIP library's id "<driver> <kind>: <card>". The card
// is an ALSA device name, or for PulseAudio the sink's description (sinksByDescription gives the
// sink's name for it). A stored name of the older form "name (device)" takes the last device
// whose name contains "(device)". -1 when nothing matches: the default device is used then.
int choose_output_index(const QString &playbackName, const QStringList &deviceNames,
    const QMap<QString, QString> &sinksByDescription = {});

// The same choice over the system's output devices (the PulseAudio sinks asked of the sound
// server). onMatch, when given, hears the chosen device's name.
QAudioDeviceInfo choose_output_device(
    const QString &playbackName, const std::function<void(const QString &)> &onMatch = {});
