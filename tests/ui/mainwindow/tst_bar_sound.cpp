// The bar's own sounds really reach the speaker. The test runs its own PulseAudio daemon with a
// null sink "spk" (nothing else plays into it), records the sink's monitor for the whole case
// and checks the recording for what a listener would hear: the two frequencies of a key tone,
// hold music that goes on past the end of its file and starts over from its beginning, and the
// hang-up sound's three bursts with silence between them once the call has ended.
#include "tests/phone/phonerig.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"
#include "tests/ui/mainwindow/barfixture.h"
#include "tests/ui/mainwindow/soundserver.h"

#include "app/constants.h"
#include "phone/velphone.h"
#include "store/veldata.h"
#include "ui/mainwindow/barsounds.h"
#include "ui/mainwindow/mainwindow.h"
#include "ui/mainwindow/wavsound.h"

#include <QAudioOutput>
#include <QProcess>
#include <QtEndian>
#include <QtMath>
#include <QtTest>

namespace {
constexpr int RATE = 44100;
constexpr int FRAME = RATE / 100; // 10 ms
constexpr double SOUND_RMS = 0.01; // the null sink records exact zeros while nothing plays
const QString USER = QStringLiteral("1001");
// A fast typist: each key while the previous key's tone (150 ms) still plays.
constexpr int FAST_KEY_PACE_MS = 120;

// Records a sink's monitor into memory from start() until destruction. The data is read as it
// comes, so nothing buffered in parec is lost, and the sample count is the recording's clock.
class Recorder
{
public:
    // A recording at a short latency makes the sound server run the sink at that latency too
    // (a monitor plays what its sink renders, when the sink renders it); one at the default
    // latency asks nothing of the sink, and gets the sound in the sink's own large blocks.
    enum Latency { Short, SinkDefault };

    explicit Recorder(const QString &sink = QStringLiteral("spk"), Latency latency = Short)
        : m_sink(sink)
        , m_latency(latency)
    {
        QObject::connect(&m_parec, &QProcess::readyReadStandardOutput,
            [this] { m_raw.append(m_parec.readAllStandardOutput()); });
    }
    ~Recorder()
    {
        m_parec.kill();
        m_parec.waitForFinished(5000);
    }

    // True once the first data has arrived: from here on every sound is recorded.
    bool start()
    {
        QStringList args = { QStringLiteral("-d"), m_sink + QStringLiteral(".monitor"),
            QStringLiteral("--format=s16le"), QStringLiteral("--rate=%1").arg(RATE),
            QStringLiteral("--channels=1"), QStringLiteral("--raw") };
        if (m_latency == Short)
            args << QStringLiteral("--latency-msec=20");
        m_parec.start(QStringLiteral("parec"), args);
        return m_parec.waitForStarted(5000) && QTest::qWaitFor([this] { return !m_raw.isEmpty(); }, 10000);
    }
    // Samples recorded so far.
    int position() const { return m_raw.size() / 2; }
    // Keeps the event loop running until `seconds` more have been recorded.
    bool recordFor(double seconds)
    {
        const int until = position() + int(seconds * RATE);
        return QTest::qWaitFor([&] { return position() >= until; }, int(seconds * 1000) + 10000);
    }
    QVector<double> samples() const
    {
        QVector<double> s(position());
        const uchar *data = reinterpret_cast<const uchar *>(m_raw.constData());
        for (int i = 0; i < s.size(); ++i)
            s[i] = qFromLittleEndian<qint16>(data + 2 * i) / 32768.0;
        return s;
    }

private:
    QString m_sink;
    Latency m_latency;
    QProcess m_parec;
    QByteArray m_raw;
};

// A second null sink on the test's sound server while it lives.
class SecondSink
{
public:
    SecondSink()
    {
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"),
            { QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                QStringLiteral("sink_name=spk2"),
                QStringLiteral("sink_properties=device.description=Second") });
        if (pactl.waitForFinished(5000) && pactl.exitCode() == 0)
            m_module = QString::fromLatin1(pactl.readAllStandardOutput()).trimmed();
    }
    ~SecondSink()
    {
        if (!m_module.isEmpty())
            QProcess::execute(QStringLiteral("pactl"), { QStringLiteral("unload-module"), m_module });
    }
    bool isValid() const { return !m_module.isEmpty(); }

private:
    QString m_module;
};

// How far ahead of what is heard the sink has rendered, as the sound server reports it; -1
// when it does not say.
double sinkLatencyMs(const QString &sink)
{
    QProcess pactl;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    pactl.setProcessEnvironment(env);
    pactl.start(QStringLiteral("pactl"), { QStringLiteral("list"), QStringLiteral("sinks") });
    if (!pactl.waitForFinished(5000))
        return -1;
    bool ours = false;
    for (const QString &line : QString::fromUtf8(pactl.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const QString field = line.trimmed();
        if (field.startsWith(QLatin1String("Name: ")))
            ours = field.mid(6) == sink;
        else if (ours && field.startsWith(QLatin1String("Latency: ")))
            return field.section(QLatin1Char(' '), 1, 1).toDouble() / 1000;
    }
    return -1;
}

// Power at one frequency over s[from, from + count): A²/4 for a sine of amplitude A.
double goertzel(const QVector<double> &s, int from, int count, double freq)
{
    const double coeff = 2 * qCos(2 * M_PI * freq / RATE);
    double q1 = 0, q2 = 0;
    for (int i = from; i < from + count && i < s.size(); ++i) {
        const double q0 = coeff * q1 - q2 + s[i];
        q2 = q1;
        q1 = q0;
    }
    return (q1 * q1 + q2 * q2 - coeff * q1 * q2) / (double(count) * count);
}

double rms(const QVector<double> &s, int from, int count)
{
    double sum = 0;
    for (int i = from; i < from + count && i < s.size(); ++i)
        sum += s[i] * s[i];
    return qSqrt(sum / count);
}

// RMS per 10 ms frame.
QVector<double> envelope(const QVector<double> &s, int frame = FRAME)
{
    QVector<double> e(s.size() / frame);
    for (int f = 0; f < e.size(); ++f)
        e[f] = rms(s, f * frame, frame);
    return e;
}

// The same for a 16-bit WAV file at its own rate.
QVector<double> envelope(const WavSound &file)
{
    QVector<double> s(file.pcm().size() / 2);
    const uchar *data = reinterpret_cast<const uchar *>(file.pcm().constData());
    for (int i = 0; i < s.size(); ++i)
        s[i] = qFromLittleEndian<qint16>(data + 2 * i) / 32768.0;
    return envelope(s, file.format().sampleRate() / 100);
}

// True when one frequency carries most of the sound of the 20 ms from `frame` on.
bool tonal(const QVector<double> &s, const QVector<double> &e, int frame, double freq)
{
    return goertzel(s, frame * FRAME, FRAME * 2, freq) > 0.3 * e[frame] * e[frame];
}

struct Burst
{
    int start, end; // samples
    double seconds() const { return double(end - start) / RATE; }
};

// Stretches of sound after sample `from`, separated by at least 30 ms of silence.
QVector<Burst> bursts(const QVector<double> &s, int from)
{
    const QVector<double> e = envelope(s);
    QVector<Burst> found;
    int quiet = 0;
    for (int f = from / FRAME; f < e.size(); ++f) {
        if (e[f] > SOUND_RMS) {
            if (found.isEmpty() || quiet >= 3)
                found.append({ f * FRAME, (f + 1) * FRAME });
            else
                found.last().end = (f + 1) * FRAME;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return found;
}

QString describe(const QVector<Burst> &found)
{
    QStringList parts;
    for (const Burst &b : found)
        parts << QStringLiteral("%1 s for %2 s")
                     .arg(double(b.start) / RATE, 0, 'f', 2)
                     .arg(b.seconds(), 0, 'f', 3);
    return QStringLiteral("%1 bursts: ").arg(found.size()) + parts.join(QStringLiteral(", "));
}

const QVector<double> DTMF_LOW = { 697, 770, 852, 941 };
const QVector<double> DTMF_HIGH = { 1209, 1336, 1477 };

// The key whose two DTMF frequencies sound in the burst, e.g. "5"; empty when the burst is no
// clean key tone. *powers lists the power at all seven frequencies for failure messages.
QString heardKey(const QVector<double> &s, const Burst &b, QString *powers)
{
    // The middle of the tone, away from its soft edges.
    const int from = b.start + RATE / 50, count = qMin(RATE / 10, b.end - b.start - RATE / 25);
    QStringList text;
    QVector<double> all;
    const auto strongest = [&](const QVector<double> &freqs) {
        const int first = all.size();
        int index = 0;
        for (int i = 0; i < freqs.size(); ++i) {
            all << goertzel(s, from, count, freqs[i]);
            text << QStringLiteral("%1 Hz %2").arg(freqs[i]).arg(all.last(), 0, 'g', 2);
            if (all.last() > all[first + index])
                index = i;
        }
        return index;
    };
    const int row = strongest(DTMF_LOW), col = strongest(DTMF_HIGH);
    *powers = text.join(QStringLiteral(", "));
    const double weaker = qMin(all[row], all[DTMF_LOW.size() + col]);
    all[row] = all[DTMF_LOW.size() + col] = 0;
    const double others = *std::max_element(all.begin(), all.end());
    // A real key tone: both of its frequencies loud (each sine is at a quarter of full scale,
    // power about 0.016) and every other DTMF frequency far below them.
    if (weaker < 1e-3 || others > weaker / 30)
        return QString();
    static const char *const keys[4][3]
        = { { "1", "2", "3" }, { "4", "5", "6" }, { "7", "8", "9" }, { "*", "0", "#" } };
    return QLatin1String(keys[row][col]);
}

int audioOutputs(const BarFixture &bar)
{
    return bar.window()->findChildren<QAudioOutput *>().size();
}

// No tone plays any more and no output of one is left.
bool toneOver(const BarFixture &bar)
{
    const BarSounds *sounds = bar.window()->findChild<BarSounds *>();
    return sounds && !sounds->tone_trigger()->isRunning() && audioOutputs(bar) == 0;
}

// The keys heard one after another from sample `from` on: each stretch of sound in which one
// key's pair of frequencies is the strongest for at least 30 ms. Tones that follow each other
// without a gap are told apart by their frequencies; a stretch shorter than 30 ms (where a
// 20 ms window spans the end of one tone and the start of the next) belongs to neither.
QVector<Burst> keyBursts(const QVector<double> &s, int from, QStringList *labels)
{
    const QVector<double> e = envelope(s);
    const auto strongest = [&](int frame, const QVector<double> &freqs) {
        int index = 0;
        double best = -1;
        for (int i = 0; i < freqs.size(); ++i) {
            const double p = goertzel(s, frame * FRAME, FRAME * 2, freqs[i]);
            if (p > best) {
                best = p;
                index = i;
            }
        }
        return index;
    };
    // One label per 10 ms frame: -1 for silence, else row * 3 + column of the key's pair.
    QVector<int> label(e.size(), -1);
    for (int f = from / FRAME; f + 1 < e.size(); ++f) {
        if (e[f] > SOUND_RMS && e[f + 1] > SOUND_RMS)
            label[f] = strongest(f, DTMF_LOW) * DTMF_HIGH.size() + strongest(f, DTMF_HIGH);
    }
    struct Run
    {
        int label, first, last; // frames
    };
    QVector<Run> runs;
    for (int f = from / FRAME; f < label.size(); ++f) {
        if (label[f] < 0)
            continue;
        if (!runs.isEmpty() && runs.last().label == label[f] && runs.last().last == f - 1)
            runs.last().last = f;
        else
            runs.append({ label[f], f, f });
    }
    QVector<Burst> found;
    int lastLabel = -1, lastFrame = -100;
    for (const Run &run : qAsConst(runs)) {
        if (run.last - run.first + 1 < 3)
            continue;
        // The same key again after a short stretch of something else is the same tone.
        if (run.label == lastLabel && run.first - lastFrame <= 3) {
            found.last().end = (run.last + 1) * FRAME;
        } else {
            found.append({ run.first * FRAME, (run.last + 1) * FRAME });
            if (labels) {
                static const char *const keys[]
                    = { "1", "2", "3", "4", "5", "6", "7", "8", "9", "*", "0", "#" };
                labels->append(QLatin1String(keys[run.label]));
            }
        }
        lastLabel = run.label;
        lastFrame = run.last;
    }
    return found;
}

// Pearson correlation of a[ia, ia + n) and b[ib, ib + n).
double correlation(const QVector<double> &a, int ia, const QVector<double> &b, int ib, int n)
{
    double ma = 0, mb = 0;
    for (int i = 0; i < n; ++i) {
        ma += a[ia + i];
        mb += b[ib + i];
    }
    ma /= n;
    mb /= n;
    double sab = 0, saa = 0, sbb = 0;
    for (int i = 0; i < n; ++i) {
        sab += (a[ia + i] - ma) * (b[ib + i] - mb);
        saa += (a[ia + i] - ma) * (a[ia + i] - ma);
        sbb += (b[ib + i] - mb) * (b[ib + i] - mb);
    }
    return saa > 0 && sbb > 0 ? sab / qSqrt(saa * sbb) : 0;
}
} // namespace

class tst_BarSound : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void eachKeyPlaysItsOwnTone();
    void toneRequestedWhileOnePlaysIsNotHeard();
    void keysTypedAtTypingPaceAreEachHeard();
    void keysAtTypingPaceStartTheirTonesAtTheDefaultLatency();
    void ownSoundsGoToTheStoredSpeaker();
    void holdMusicLoopsAndHangUpSoundEndsTheCall();

private:
    SoundServer m_server;
};

void tst_BarSound::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
}

void tst_BarSound::cleanupTestCase()
{
    m_server.stop();
}

void tst_BarSound::eachKeyPlaysItsOwnTone()
{
    BarFixture bar;
    Recorder recorder;
    QVERIFY(recorder.start());
    const QString keys = QStringLiteral("150*9#");
    const int from = recorder.position();
    for (const QChar key : keys) {
        QTest::keyClick(bar.window(), key.toLatin1());
        // One tone at a time: the next key waits until this one is over, plus a pause so the
        // recording shows separate bursts.
        QTRY_VERIFY_WITH_TIMEOUT(toneOver(bar), 5000);
        QVERIFY(recorder.recordFor(0.25));
    }
    QCOMPARE(bar.number(), keys);
    QVERIFY(recorder.recordFor(0.3));

    const QVector<double> s = recorder.samples();
    const QVector<Burst> found = bursts(s, from);
    QVERIFY2(found.size() == keys.size(), qPrintable(describe(found)));
    for (int i = 0; i < keys.size(); ++i) {
        QString powers;
        const QString heard = heardKey(s, found[i], &powers);
        QVERIFY2(heard == keys.at(i),
            qPrintable(QStringLiteral("key %1 sounded as \"%2\" (%3); %4")
                           .arg(keys.at(i))
                           .arg(heard, powers, describe(found))));
        // The whole tone of about 150 ms is heard, not cut off when the output goes idle.
        QVERIFY2(found[i].seconds() > 0.11 && found[i].seconds() < 0.25, qPrintable(describe(found)));
    }
}

void tst_BarSound::toneRequestedWhileOnePlaysIsNotHeard()
{
    BarFixture bar;
    Recorder recorder;
    QVERIFY(recorder.start());
    const int from = recorder.position();
    // "9" comes while the tone of "5" plays: it is dialled but not heard, not even later.
    QTest::keyClick(bar.window(), Qt::Key_5);
    QTest::keyClick(bar.window(), Qt::Key_9);
    QCOMPARE(bar.number(), QStringLiteral("59"));
    QTRY_VERIFY_WITH_TIMEOUT(toneOver(bar), 5000);
    QVERIFY(recorder.recordFor(0.8));
    // Once the first tone is over, the next key is heard again.
    QTest::keyClick(bar.window(), Qt::Key_9);
    QTRY_VERIFY_WITH_TIMEOUT(toneOver(bar), 5000);
    QVERIFY(recorder.recordFor(0.3));

    const QVector<double> s = recorder.samples();
    const QVector<Burst> found = bursts(s, from);
    QVERIFY2(found.size() == 2, qPrintable(describe(found)));
    QString powers;
    QVERIFY2(heardKey(s, found[0], &powers) == QLatin1String("5"), qPrintable(powers));
    QVERIFY2(heardKey(s, found[1], &powers) == QLatin1String("9"), qPrintable(powers));
    // Between them lies the silence of the key that was not played.
    QVERIFY2(double(found[1].start - found[0].end) / RATE > 0.6, qPrintable(describe(found)));
}

void tst_BarSound::keysTypedAtTypingPaceAreEachHeard()
{
    BarFixture bar;
    Recorder recorder;
    QVERIFY(recorder.start());
    const int from = recorder.position();
    // An operator types about three keys a second: each tone is over before the next key.
    const QString keys = QStringLiteral("123");
    for (const QChar key : keys) {
        QTest::keyClick(bar.window(), key.toLatin1());
        QTest::qWait(350);
    }
    QTRY_VERIFY_WITH_TIMEOUT(toneOver(bar), 5000);
    QVERIFY(recorder.recordFor(0.5));

    const QVector<double> s = recorder.samples();
    const QVector<Burst> found = bursts(s, from);
    QVERIFY2(found.size() == keys.size(), qPrintable(describe(found)));
    for (int i = 0; i < keys.size(); ++i) {
        QString powers;
        QVERIFY2(heardKey(s, found[i], &powers) == keys.at(i), qPrintable(powers));
    }
}

void tst_BarSound::keysAtTypingPaceStartTheirTonesAtTheDefaultLatency()
{
    // The recording asks nothing of the sink's latency, so the sink runs at its default, where
    // it renders up to two seconds at a time. Each key comes while the previous key's tone still
    // plays, and each must be heard when it is typed, in its turn: ten keys, ten tones, each
    // with its key's two frequencies. (Tones that sound together, or one after another long
    // after their keys, have no stretch in which one key's pair alone sounds.)
    BarFixture bar;
    Recorder recorder(QStringLiteral("spk"), Recorder::SinkDefault);
    QVERIFY(recorder.start());
    // An operator types a while after the bar has come up. A null sink at its default latency
    // has rendered up to two seconds ahead, which it plays out before any shorter latency asked
    // for takes effect; a bar that asks for one has it by the time it is used. (Not checked
    // here: what counts is what is heard.)
    const auto shortLatency = [] {
        const double ms = sinkLatencyMs(QStringLiteral("spk"));
        return ms >= 0 && ms < 100;
    };
    if (!QTest::qWaitFor(shortLatency, 5000))
        qInfo().noquote()
            << QStringLiteral("the sink is %1 ms ahead").arg(sinkLatencyMs(QStringLiteral("spk")));
    const int from = recorder.position();
    const QString keys = QStringLiteral("1472583690");
    for (const QChar key : keys) {
        QTest::keyClick(bar.window(), key.toLatin1());
        QTest::qWait(FAST_KEY_PACE_MS);
    }
    QCOMPARE(bar.number(), keys);
    QTRY_VERIFY_WITH_TIMEOUT(toneOver(bar), 10000);
    QVERIFY(recorder.recordFor(3.0));

    const QVector<double> s = recorder.samples();
    QStringList labels;
    const QVector<Burst> found = keyBursts(s, from, &labels);
    const QString heard = QStringLiteral("heard %1 in %2").arg(labels.join(QString()), describe(found));
    QVERIFY2(found.size() == keys.size(), qPrintable(heard));
    for (int i = 0; i < keys.size(); ++i) {
        QString powers;
        QVERIFY2(heardKey(s, found[i], &powers) == keys.at(i),
            qPrintable(QStringLiteral("key %1: %2; %3").arg(keys.at(i)).arg(powers, heard)));
    }
}

void tst_BarSound::ownSoundsGoToTheStoredSpeaker()
{
    SecondSink second;
    QVERIFY(second.isValid());
    // The speaker as the setting window stores it: the SIP library's id of the second sink.
    QString speaker;
    QStringList listed;
    {
        BarFixture probe;
        listed = probe.phone()->get_sound_devices().value(QStringLiteral("playback"));
    }
    for (const QString &device : qAsConst(listed)) {
        if (device.endsWith(QLatin1String(": Second")))
            speaker = device;
    }
    QVERIFY2(!speaker.isEmpty(), qPrintable(listed.join(QLatin1String(", "))));
    BarFixture bar({ { CATEGORY_AUDIO, { { QStringLiteral("playback"), speaker } } } });

    Recorder first(QStringLiteral("spk")), other(QStringLiteral("spk2"));
    QVERIFY(first.start());
    QVERIFY(other.start());
    const int fromFirst = first.position(), fromOther = other.position();
    QTest::keyClick(bar.window(), Qt::Key_8);
    QTRY_VERIFY_WITH_TIMEOUT(toneOver(bar), 10000);
    QVERIFY(first.recordFor(0.5));
    QVERIFY(other.recordFor(0.5));

    const QVector<double> s = other.samples();
    const QVector<Burst> heard = bursts(s, fromOther);
    QVERIFY2(heard.size() == 1, qPrintable(describe(heard)));
    QString powers;
    QVERIFY2(heardKey(s, heard[0], &powers) == QLatin1String("8"), qPrintable(powers));
    QVERIFY2(bursts(first.samples(), fromFirst).isEmpty(),
        qPrintable(describe(bursts(first.samples(), fromFirst))));
    QVERIFY2(
        bar.logText().contains(QStringLiteral("own sounds play on \"spk2\"")), qPrintable(bar.logText()));
}

void tst_BarSound::holdMusicLoopsAndHangUpSoundEndsTheCall()
{
    using namespace SippScenario;
    constexpr int HOLD_MS = 19000;

    SippPeer registrar(SippScenario::registrar());
    registrar.set(QStringLiteral("PASSWORD"), QStringLiteral("s3cret"));
    QVERIFY(registrar.start());
    BarFixture bar({ { CATEGORY_ACCOUNT, BarFixture::account(USER, registrar.port()) } });
    bar.window()->show();
    QTRY_COMPARE_WITH_TIMEOUT(bar.label("dialogStatus")->text(), MSG_READY_TO_DIAL, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(PhoneRig::phonePortFrom(registrar) > 0, 5000);

    // Answered, held by the bar, and hung up by the caller while still held.
    SippPeer caller(SippScenario::caller(awaitAnswer(200) + expect(QStringLiteral("INVITE"), sdp())
            + QStringLiteral("<recv request=\"ACK\"/>\n") + pause(HOLD_MS)
            + callerRequest(QStringLiteral("BYE"), 2) + expectResponse(200),
        sdp()));
    caller.set(QStringLiteral("USER"), USER);
    caller.set(QStringLiteral("PHONE_PORT"), QString::number(PhoneRig::phonePortFrom(registrar)));
    caller.set(QStringLiteral("FROM"), QStringLiteral("<sip:0451234567@127.0.0.1>"));
    caller.setRemote(QStringLiteral("127.0.0.1:%1").arg(PhoneRig::phonePortFrom(registrar)));
    QVERIFY(caller.start());

    QLabel *status = bar.label("dialogStatus");
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_INCOMING, 5000);
    QTest::mouseClick(bar.button("dialogButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_IN_CALL, 5000);

    Recorder recorder;
    QVERIFY(recorder.start());
    const int holdClicked = recorder.position();
    QTest::mouseClick(bar.button("pauseButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_ON_HOLD, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(audioOutputs(bar), 1, 5000);
    // A second start while the music plays adds no second output.
    QVERIFY(QMetaObject::invokeMethod(bar.window(), "slot_play_hold_music"));
    QCOMPARE(audioOutputs(bar), 1);

    QTRY_COMPARE_WITH_TIMEOUT(status->text(), MSG_READY_TO_DIAL, HOLD_MS + 10000);
    // What the music should sound like: the loudness of the shipped file, per 10 ms.
    WavSound file;
    QVERIFY2(file.load(HOLD_SOUND), qPrintable(file.error()));
    const QVector<double> music = envelope(file);
    QVERIFY2(caller.waitForFinished(5000), qPrintable(caller.report()));
    QVERIFY(recorder.recordFor(3.5)); // the hang-up sound lasts 2.6 s

    const QVector<double> s = recorder.samples();
    const QVector<double> e = envelope(s);
    const int fileFrames = music.size();
    const int clicked = holdClicked / FRAME;
    // Where in the recording the file's frames [fileFrom, fileFrom + 2 s) sound, searched from
    // frame `from` to `to`: the recording's frame where the file would have begun, and *r the
    // correlation of the loudness patterns.
    const auto fileBegins = [&](int fileFrom, int from, int to, double *r) {
        constexpr int TEMPLATE = 200;
        int found = -1;
        *r = -1;
        for (int at = from; at <= to && at + fileFrom + TEMPLATE <= e.size(); ++at) {
            const double c = correlation(music, fileFrom, e, at + fileFrom, TEMPLATE);
            if (c > *r) {
                *r = c;
                found = at;
            }
        }
        return found;
    };
    // The first pass, found by a stretch from its middle: over its first seconds the SIP
    // library beeps its own on-hold tone.
    double r1 = 0, r2 = 0;
    const int first = fileBegins(600, clicked, clicked + 150, &r1);
    QVERIFY2(first >= 0 && r1 > 0.8,
        qPrintable(QStringLiteral("the hold music was not heard within 1.5 s (r = %1)").arg(r1)));
    // The music goes on past the length of its file: the only silence is the moment the next
    // pass takes to start (about 0.1 s; over a second under AddressSanitizer).
    QVERIFY2(first + fileFrames + 200 <= e.size(), "the recording ends before the music had looped");
    int silence = 0, longest = 0;
    for (int f = first; f < first + fileFrames + 200; ++f) {
        silence = e[f] <= SOUND_RMS ? silence + 1 : 0;
        longest = qMax(longest, silence);
    }
    qInfo().noquote() << QStringLiteral("longest silence in the music: %1 s").arg(longest / 100.0);
    QVERIFY2(longest < 150, qPrintable(QStringLiteral("the music stopped for %1 s").arg(longest / 100.0)));
    // ... and once the whole file has played it starts over from its beginning. (Every bar of
    // the tune has the same rhythm, so the search stays within 1.5 s, short of the next bar.)
    const int second = fileBegins(0, first + fileFrames - 50, first + fileFrames + 150, &r2);
    const QString loop = QStringLiteral("the file (%1 s) begins again %2 s after it began (r = %3, %4)")
                             .arg(fileFrames / 100.0)
                             .arg((second - first) / 100.0)
                             .arg(r1, 0, 'f', 3)
                             .arg(r2, 0, 'f', 3);
    qInfo().noquote() << loop;
    QVERIFY2(r2 > 0.8 && second - first >= fileFrames - 5, qPrintable(loop));

    // The call's end: the hang-up sound, 400 Hz in three bursts of 0.5 s, and between the
    // bursts and after them silence, so the hold music has stopped.
    int hangup = first + fileFrames + 200;
    while (hangup + 270 < e.size() && !(e[hangup] > 0.1 && tonal(s, e, hangup, 400)))
        ++hangup;
    QVERIFY2(hangup + 270 < e.size(), "no hang-up sound after the call ended");
    const QVector<Burst> found = bursts(s, hangup * FRAME);
    QVERIFY2(found.size() == 3, qPrintable(describe(found)));
    for (const Burst &b : found) {
        // The first burst may begin with the music's last moments, still on their way out.
        QVERIFY2(b.seconds() > 0.44 && b.seconds() < (&b == &found.first() ? 0.7 : 0.56),
            qPrintable(describe(found)));
        const int middle = b.end - RATE * 9 / 20;
        const double p400 = goertzel(s, middle, RATE * 2 / 5, 400);
        QVERIFY2(p400 > 0.3 * qPow(rms(s, middle, RATE * 2 / 5), 2), qPrintable(describe(found)));
    }
    // Silence after each burst; the first one's edges may blur into the music's last moments
    // on a loaded machine, so the exact 0.5 s cadence is checked from the second burst on.
    QVERIFY2(double(found[1].start - found[0].end) / RATE > 0.3, qPrintable(describe(found)));
    QVERIFY2(qAbs(double(found[2].start - found[1].end) / RATE - 0.5) < 0.06, qPrintable(describe(found)));
    QVERIFY2(qAbs(double(found[2].start - found[1].start) / RATE - 1.0) < 0.06, qPrintable(describe(found)));
}

QTEST_MAIN(tst_BarSound)
#include "tst_bar_sound.moc"
