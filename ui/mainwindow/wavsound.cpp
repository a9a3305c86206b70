#include "ui/mainwindow/wavsound.h"

#include <QFile>
#include <QProcess>
#include <QRegExp>
#include <QtEndian>

namespace {
constexpr quint16 WAVE_FORMAT_PCM = 0x0001;
constexpr quint16 WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
constexpr int FMT_MIN_SIZE = 16;
constexpr int FMT_SUBFORMAT_OFFSET = 24; // first two bytes of the sub-format GUID
constexpr int RIFF_HEADER_SIZE = 12;
constexpr int CHUNK_HEADER_SIZE = 8;

quint16 u16(const char *p)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar *>(p));
}

quint32 u32(const char *p)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(p));
}
} // namespace

bool WavSound::fail(const QString &reason)
{
    m_format = QAudioFormat();
    m_pcm.clear();
    m_error = reason;
    return false;
}

bool WavSound::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
    if (!parse(file.readAll())) {
        m_error = path + QStringLiteral(": ") + m_error;
        return false;
    }
    return true;
}

bool WavSound::parse(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    const qint64 size = bytes.size();
    if (size < RIFF_HEADER_SIZE || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return fail(QStringLiteral("not a RIFF/WAVE file"));

    bool haveFormat = false;
    qint64 pos = RIFF_HEADER_SIZE;
    while (pos + CHUNK_HEADER_SIZE <= size) {
        const QByteArray id = bytes.mid(int(pos), 4);
        const qint64 chunkSize = u32(data + pos + 4);
        const qint64 body = pos + CHUNK_HEADER_SIZE;
        const qint64 available = qMin(chunkSize, size - body);

        if (id == "fmt ") {
            if (available < FMT_MIN_SIZE)
                return fail(QStringLiteral("format chunk too short"));
            quint16 tag = u16(data + body);
            if (tag == WAVE_FORMAT_EXTENSIBLE && available >= FMT_SUBFORMAT_OFFSET + 2)
                tag = u16(data + body + FMT_SUBFORMAT_OFFSET);
            if (tag != WAVE_FORMAT_PCM)
                return fail(QStringLiteral("encoding %1 is not PCM").arg(tag));
            const int channels = u16(data + body + 2);
            const int rate = int(u32(data + body + 4));
            const int blockAlign = u16(data + body + 12);
            const int bits = u16(data + body + 14);
            if (channels < 1 || rate < 1 || (bits != 8 && bits != 16 && bits != 24 && bits != 32)
                || blockAlign != channels * bits / 8)
                return fail(QStringLiteral("inconsistent format: %1 channels, %2 Hz, %3 bits, block %4")
                                .arg(channels)
                                .arg(rate)
                                .arg(bits)
                                .arg(blockAlign));
            m_format = QAudioFormat();
            m_format.setSampleRate(rate);
            m_format.setChannelCount(channels);
            m_format.setSampleSize(bits);
            m_format.setCodec(QStringLiteral("audio/pcm"));
            m_format.setByteOrder(QAudioFormat::LittleEndian);
            // WAV stores 8-bit samples unsigned and every wider size signed.
            m_format.setSampleType(bits == 8 ? QAudioFormat::UnSignedInt : QAudioFormat::SignedInt);
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return fail(QStringLiteral("data chunk before the format chunk"));
            // A file cut short keeps the whole samples it still has.
            const int frame = m_format.bytesPerFrame();
            const qint64 usable = available - available % frame;
            if (usable <= 0)
                return fail(QStringLiteral("no samples"));
            m_pcm = bytes.mid(int(body), int(usable));
            m_error.clear();
            return true;
        }
        pos = body + chunkSize + (chunkSize & 1); // chunks are padded to even sizes
    }
    return fail(haveFormat ? QStringLiteral("no data chunk") : QStringLiteral("no format chunk"));
}

namespace {
const QString PULSE_DRIVER = QStringLiteral("PulseAudio");
const QString CARD_SEPARATOR = QStringLiteral(": ");

// Every device whose name contains the part of the playback name from its first "(" on; an
// empty part matches nothing.
QList<int> bracket_matches(const QString &playbackName, const QStringList &deviceNames)
{
    QRegExp bracketed(QStringLiteral("\\(.*\\)?"), Qt::CaseSensitive);
    const QString wanted = bracketed.indexIn(playbackName) >= 0 ? bracketed.cap(0) : QString();
    QList<int> matches;
    if (wanted.isEmpty())
        return matches;
    for (int i = 0; i < deviceNames.size(); ++i) {
        if (deviceNames.at(i).contains(wanted, Qt::CaseSensitive))
            matches << i;
    }
    return matches;
}

// The sound server's sinks, description → name, as "pactl list sinks" shows them.
QMap<QString, QString> pulse_sinks_by_description()
{
    QProcess pactl;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    pactl.setProcessEnvironment(env);
    pactl.start(QStringLiteral("pactl"), { QStringLiteral("list"), QStringLiteral("sinks") });
    QMap<QString, QString> sinks;
    if (!pactl.waitForFinished(2000) || pactl.exitCode() != 0)
        return sinks;
    QString name;
    for (const QString &line : QString::fromUtf8(pactl.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const QString field = line.trimmed();
        if (field.startsWith(QLatin1String("Name: ")))
            name = field.mid(6);
        else if (field.startsWith(QLatin1String("Description: ")) && !name.isEmpty())
            sinks.insert(field.mid(13), name);
    }
    return sinks;
}
} // namespace

int choose_output_index(const QString &playbackName, const QStringList &deviceNames,
    const QMap<QString, QString> &sinksByDescription)
{
    if (playbackName.isEmpty())
        return -1;
    // The SIP library's id: "<driver> <kind>: <card>".
    const int separator = playbackName.indexOf(CARD_SEPARATOR);
    const QString card = separator < 0 ? playbackName : playbackName.mid(separator + CARD_SEPARATOR.size());
    for (const QString &name : { playbackName, card, sinksByDescription.value(card) }) {
        const int index = name.isEmpty() ? -1 : deviceNames.indexOf(name);
        if (index >= 0)
            return index;
    }
    const QList<int> matches = bracket_matches(playbackName, deviceNames);
    return matches.isEmpty() ? -1 : matches.last();
}

QAudioDeviceInfo choose_output_device(
    const QString &playbackName, const std::function<void(const QString &)> &onMatch)
{
    const QList<QAudioDeviceInfo> devices = QAudioDeviceInfo::availableDevices(QAudio::AudioOutput);
    QStringList names;
    for (const QAudioDeviceInfo &device : devices)
        names << device.deviceName();
    const QMap<QString, QString> sinks
        = playbackName.startsWith(PULSE_DRIVER) ? pulse_sinks_by_description() : QMap<QString, QString>();
    const int index = choose_output_index(playbackName, names, sinks);
    if (index < 0)
        return QAudioDeviceInfo::defaultOutputDevice();
    if (onMatch)
        onMatch(names.at(index));
    return devices.at(index);
}
