// Reading the PCM part of WAV files, and the speaker choice by the stored device name.
#include "ui/mainwindow/wavsound.h"

#include <QtEndian>
#include <QtTest>

namespace {
QByteArray le16(quint16 v)
{
    QByteArray b(2, 0);
    qToLittleEndian(v, reinterpret_cast<uchar *>(b.data()));
    return b;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, 0);
    qToLittleEndian(v, reinterpret_cast<uchar *>(b.data()));
    return b;
}

QByteArray chunk(const QByteArray &id, const QByteArray &body)
{
    QByteArray c = id + le32(quint32(body.size())) + body;
    if (body.size() % 2)
        c += '\0';
    return c;
}

QByteArray fmtBody(quint16 tag, quint16 channels, quint32 rate, quint16 bits)
{
    const quint16 block = quint16(channels * bits / 8);
    return le16(tag) + le16(channels) + le32(rate) + le32(rate * block) + le16(block) + le16(bits);
}

QByteArray riff(const QByteArray &chunks)
{
    return "RIFF" + le32(quint32(4 + chunks.size())) + "WAVE" + chunks;
}
} // namespace

class tst_WavSound : public QObject
{
    Q_OBJECT

private slots:
    void shippedSounds_data();
    void shippedSounds();
    void playsOnlyTheDataChunk();
    void extensibleAndEightBit();
    void truncatedDataKeepsWholeFrames();
    void rejected_data();
    void rejected();
    void missingFile();
    void deviceChoice_data();
    void deviceChoice();
};

void tst_WavSound::shippedSounds_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("rate");
    QTest::newRow("key tone") << "dtmf-5.wav" << 44100;
    QTest::newRow("hang-up") << "hangup.wav" << 44100;
    QTest::newRow("failed") << "failed.wav" << 44100;
    QTest::newRow("hold music") << "hold.wav" << 8000;
}

void tst_WavSound::shippedSounds()
{
    QFETCH(QString, file);
    QFETCH(int, rate);
    const QString path = QStringLiteral(TARSEL_SOURCE_DIR "/share/sounds/") + file;
    WavSound sound;
    QVERIFY2(sound.load(path), qPrintable(sound.error()));
    QCOMPARE(sound.format().sampleRate(), rate);
    QCOMPARE(sound.format().channelCount(), 1);
    QCOMPARE(sound.format().sampleSize(), 16);
    QCOMPARE(sound.format().sampleType(), QAudioFormat::SignedInt);
    QCOMPARE(sound.format().byteOrder(), QAudioFormat::LittleEndian);
    QCOMPARE(sound.format().codec(), QStringLiteral("audio/pcm"));
    QFile raw(path);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QCOMPARE(sound.pcm(), raw.readAll().mid(44)); // these files have the plain 44-byte header
}

void tst_WavSound::playsOnlyTheDataChunk()
{
    const QByteArray samples = le16(1000) + le16(quint16(-1000)) + le16(7);
    // An odd-sized chunk before the data is padded; a chunk after the data is not sound.
    const QByteArray bytes = riff(chunk("fmt ", fmtBody(1, 1, 16000, 16)) + chunk("LIST", "abc")
        + chunk("data", samples) + chunk("LIST", "trailing metadata"));
    WavSound sound;
    QVERIFY2(sound.parse(bytes), qPrintable(sound.error()));
    QCOMPARE(sound.pcm(), samples);
    QCOMPARE(sound.format().sampleRate(), 16000);
}

void tst_WavSound::extensibleAndEightBit()
{
    QByteArray ext = fmtBody(0xFFFE, 2, 48000, 16) + le16(22) + le16(16) + le32(3) + le16(1)
        + QByteArray::fromHex("000000001000800000aa00389b71");
    WavSound sound;
    QVERIFY2(
        sound.parse(riff(chunk("fmt ", ext) + chunk("data", QByteArray(8, 'x')))), qPrintable(sound.error()));
    QCOMPARE(sound.format().channelCount(), 2);
    QCOMPARE(sound.format().sampleType(), QAudioFormat::SignedInt);

    QVERIFY(
        sound.parse(riff(chunk("fmt ", fmtBody(1, 1, 8000, 8)) + chunk("data", QByteArray(4, char(0x80))))));
    QCOMPARE(sound.format().sampleType(), QAudioFormat::UnSignedInt);
    QCOMPARE(sound.format().sampleSize(), 8);
}

void tst_WavSound::truncatedDataKeepsWholeFrames()
{
    // The data chunk claims 100 bytes but the file ends after 5: two whole 16-bit frames stay.
    QByteArray bytes = riff(chunk("fmt ", fmtBody(1, 1, 8000, 16))) + "data" + le32(100) + "ABCDE";
    WavSound sound;
    QVERIFY(sound.parse(bytes));
    QCOMPARE(sound.pcm(), QByteArray("ABCD"));
}

void tst_WavSound::rejected_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray fmt = chunk("fmt ", fmtBody(1, 1, 8000, 16));
    const QByteArray data = chunk("data", QByteArray(4, 'x'));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not riff") << QByteArray("ID3\x03 this is an mp3 and long enough");
    QTest::newRow("riff but not wave") << QByteArray("RIFF\x10\0\0\0AVI LIST\0\0\0\0", 20);
    QTest::newRow("no format chunk") << riff(data);
    QTest::newRow("no data chunk") << riff(fmt);
    QTest::newRow("empty data chunk") << riff(fmt + chunk("data", QByteArray()));
    QTest::newRow("compressed") << riff(chunk("fmt ", fmtBody(2, 1, 8000, 4)) + data);
    QTest::newRow("float") << riff(chunk("fmt ", fmtBody(3, 1, 8000, 32)) + data);
    QTest::newRow("short format chunk") << riff(chunk("fmt ", QByteArray(10, '\0')) + data);
    QTest::newRow("no channels") << riff(chunk("fmt ", fmtBody(1, 0, 8000, 16)) + data);
    QTest::newRow("odd sample size") << riff(chunk("fmt ", fmtBody(1, 1, 8000, 12)) + data);
}

void tst_WavSound::rejected()
{
    QFETCH(QByteArray, bytes);
    WavSound sound;
    QVERIFY(!sound.parse(bytes));
    QVERIFY(!sound.error().isEmpty());
    QVERIFY(sound.pcm().isEmpty());
}

void tst_WavSound::missingFile()
{
    WavSound sound;
    QVERIFY(!sound.load(QStringLiteral("/nonexistent/dtmf-1.wav")));
    QVERIFY(sound.error().contains(QStringLiteral("/nonexistent/dtmf-1.wav")));
}

using Sinks = QMap<QString, QString>;

void tst_WavSound::deviceChoice_data()
{
    QTest::addColumn<QString>("playback");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<Sinks>("sinks"); // PulseAudio: description → name
    QTest::addColumn<int>("chosen");
    const QStringList devices = { "default", "Speakers (USB Audio)", "Headset (USB Audio)", "spk", "spk2" };
    const Sinks sinks = { { "Null Output", "spk" }, { "Second Output", "spk2" } };
    QTest::newRow("PulseAudio sink by its description")
        << "PulseAudio Unknown: Second Output" << devices << sinks << 4;
    QTest::newRow("the other sink") << "PulseAudio Unknown: Null Output" << devices << sinks << 3;
    QTest::newRow("ALSA device by its name") << "ALSA Unknown: default" << devices << sinks << 0;
    QTest::newRow("sink that is gone takes the default")
        << "PulseAudio Unknown: USB Headset" << devices << sinks << -1;
    QTest::newRow("sound server not asked")
        << "PulseAudio Unknown: Second Output" << devices << Sinks() << -1;
    QTest::newRow("older name: bracketed part, last match wins")
        << "My speaker (USB Audio)" << devices << sinks << 2;
    QTest::newRow("brackets included") << "x (Null)" << devices << sinks << -1;
    QTest::newRow("case sensitive") << "x (usb audio)" << devices << sinks << -1;
    QTest::newRow("empty name takes the default") << "" << devices << sinks << -1;
    QTest::newRow("unknown name takes the default") << "Speakers" << devices << sinks << -1;
    QTest::newRow("no devices") << "" << QStringList() << sinks << -1;
}

void tst_WavSound::deviceChoice()
{
    QFETCH(QString, playback);
    QFETCH(QStringList, devices);
    QFETCH(Sinks, sinks);
    QFETCH(int, chosen);
    QCOMPARE(choose_output_index(playback, devices, sinks), chosen);
}

QTEST_GUILESS_MAIN(tst_WavSound)
#include "tst_wavsound.moc"
