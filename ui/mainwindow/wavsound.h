#pragma once

#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QByteArray>
#include <QList>
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

// The speaker for the program's own sounds, chosen by the stored "playback" name: its part
// from the first "(" on is looked for in every output device name, and the last device that
// contains it wins. Without a "(" that part is empty and matches every device, so the last
// device is taken. -1 when no name matches (the default device is used then).
int choose_output_index(const QString &playbackName, const QStringList &deviceNames);

// The same choice over the system's output devices. onMatch, when given, hears every match.
QAudioDeviceInfo choose_output_device(
    const QString &playbackName, const std::function<void(const QString &)> &onMatch = {});
