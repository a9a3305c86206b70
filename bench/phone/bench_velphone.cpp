// Engine figures: request to wire latency (dial -> INVITE at the peer, answer -> 200 OK at the
// peer), an incoming INVITE's 180 Ringing as the caller sees it, core creation and destruction
// time, stopping while the registrar is silent, and the process's CPU use while the engine idles
// registered. Prints a table; asserts nothing.
//     bench_velphone [idle]     (idle: the idle CPU figure only)
#include "tests/phone/phonerig.h"
#include "tests/support/sipscenario.h"

#include "phone/velphone.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <sys/resource.h>

using namespace SippScenario;

namespace {
constexpr int CALLS = 50;

qint64 now_usecs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

void print_row(const char *name, QVector<double> values, const char *unit)
{
    if (values.isEmpty()) {
        std::printf("%-34s %10s\n", name, "n/a");
        return;
    }
    std::sort(values.begin(), values.end());
    const double median = values.at(values.size() / 2);
    const double p95 = values.at(std::min<int>(values.size() - 1, int(values.size() * 0.95)));
    std::printf(
        "%-34s %10.2f %10.2f %10.2f %6d  %s\n", name, median, p95, values.last(), int(values.size()), unit);
}

// Waits until the engine reports the call numbered `calls` (from 0) and it rings.
bool ringing(PhoneRig &rig, int call)
{
    return QTest::qWaitFor(
        [&] {
            return rig.spy().count("signal_received_dialog") > call && rig.phone()->is_incoming_ringing();
        },
        5000);
}

QVector<double> dial_latency()
{
    PhoneRig rig;
    SippPeer peer(SippScenario::registrar(answer(486, QStringLiteral("Busy Here"))), 120);
    peer.setCalls(CALLS + 1);
    if (!rig.startRegistered(peer))
        return {};
    QVector<qint64> requested;
    for (int i = 0; i < CALLS; ++i) {
        rig.spy().clear();
        requested << now_usecs();
        rig.phone()->request_dial(QStringLiteral("3001"));
        if (!QTest::qWaitFor([&] { return rig.spy().contains("signal_dialog_end"); }, 5000))
            return {};
    }
    rig.stopPhone();
    peer.waitForFinished(10000);
    const QVector<SipMessage> invites = peer.received(QStringLiteral("INVITE"));
    QVector<double> ms;
    for (int i = 0; i < std::min(invites.size(), requested.size()); ++i)
        ms << (invites[i].usecsSinceEpoch() - requested[i]) / 1000.0;
    return ms;
}

QVector<double> answer_latency()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    if (!rig.startRegistered(registrar))
        return {};
    // One call at a time, each a moment after the previous one: a call that arrives while the
    // library still has to release the last one (it reports End, then Released a pass later)
    // finds the operator busy and is declined, which would leave every other call unanswered.
    SippPeer caller(SippScenario::caller(awaitAnswer(200) + callerRequest(QStringLiteral("BYE"), 2)
                            + expectResponse(200) + pause(100),
                        sdp()),
        120);
    caller.setCalls(CALLS);
    caller.addArguments({ QStringLiteral("-l"), QStringLiteral("1") });
    PhoneRig::aim(caller, registrar, QStringLiteral("2001"));
    QMap<QString, qint64> requested; // Call-ID -> time of the answer request
    if (!caller.start())
        return {};
    // Calls are told apart by the signals: states alone may pass by between two polls.
    for (int i = 0; i < CALLS; ++i) {
        if (!ringing(rig, i))
            break;
        const QString callId = rig.spy()
                                   .last("signal_received_dialog")
                                   .value(0)
                                   .value<QMap<QString, QString>>()
                                   .value(QStringLiteral("callId"));
        requested.insert(callId, now_usecs());
        rig.phone()->request_answer();
        if (!QTest::qWaitFor([&] { return rig.spy().count("signal_dialog_end") > i; }, 5000))
            break;
    }
    caller.waitForFinished(20000);
    QVector<double> ms;
    for (const SipMessage &message : caller.messages()) {
        const QString callId = message.header(QStringLiteral("Call-ID"));
        if (message.received && message.isResponse(200)
            && message.header(QStringLiteral("CSeq")).endsWith(QStringLiteral("INVITE"))
            && requested.contains(callId))
            ms << (message.usecsSinceEpoch() - requested.take(callId)) / 1000.0;
    }
    return ms;
}

// INVITE sent -> 180 Ringing received, both as the caller (sipp) logged them: the time the
// engine takes to notice a call that arrives while it idles. Each call is declined once it rings.
QVector<double> ringing_latency()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    if (!rig.startRegistered(registrar))
        return {};
    SippPeer caller(SippScenario::caller(awaitAnswer(486) + pause(100), sdp()), 120);
    caller.setCalls(CALLS);
    caller.addArguments({ QStringLiteral("-l"), QStringLiteral("1") });
    PhoneRig::aim(caller, registrar, QStringLiteral("2001"));
    if (!caller.start())
        return {};
    for (int i = 0; i < CALLS; ++i) {
        if (!ringing(rig, i))
            break;
        rig.phone()->request_hangup();
        if (!QTest::qWaitFor([&] { return rig.spy().count("signal_dialog_end") > i; }, 5000))
            break;
        // The engine idles again before the next call, as an operator's phone does.
        QTest::qWait(150);
    }
    caller.waitForFinished(20000);
    QMap<QString, qint64> invited; // Call-ID -> INVITE sent
    QVector<double> ms;
    for (const SipMessage &message : caller.messages()) {
        const QString callId = message.header(QStringLiteral("Call-ID"));
        if (!message.received && message.isRequest(QStringLiteral("INVITE")))
            invited.insert(callId, message.usecsSinceEpoch());
        else if (message.received && message.isResponse(180) && invited.contains(callId))
            ms << (message.usecsSinceEpoch() - invited.take(callId)) / 1000.0;
    }
    return ms;
}

void core_lifetime(QVector<double> &create, QVector<double> &destroy)
{
    PhoneRig rig; // no account: nothing registers, so stopping sends nothing
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer timer;
        timer.start();
        rig.startPhone();
        create << timer.nsecsElapsed() / 1e6;
        timer.restart();
        rig.stopPhone();
        destroy << timer.nsecsElapsed() / 1e6;
    }
}

// Exit with the phone registered at a registrar that has gone silent: the un-REGISTER is never
// answered, and stopping must not wait for it.
QVector<double> stop_with_silent_registrar()
{
    QVector<double> ms;
    for (int i = 0; i < 5; ++i) {
        PhoneRig rig;
        SippPeer registrar(SippScenario::registrar());
        if (!rig.startRegistered(registrar))
            return {};
        const int port = registrar.port();
        registrar.kill();
        // The port now swallows what arrives: no answer, and no ICMP refusal either.
        QUdpSocket silent;
        silent.bind(QHostAddress::LocalHost, quint16(port));
        QElapsedTimer timer;
        timer.start();
        rig.stopPhone();
        ms << timer.nsecsElapsed() / 1e6;
    }
    return ms;
}

// Registered and idle, 10 s. The event loop sleeps meanwhile (QTest::qWait would poll it).
double idle_cpu_percent()
{
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar());
    if (!rig.startRegistered(registrar))
        return -1;
    QTest::qWait(500);
    rusage before {};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer wall;
    wall.start();
    QEventLoop idle;
    QTimer::singleShot(10000, &idle, &QEventLoop::quit);
    idle.exec();
    rusage after {};
    getrusage(RUSAGE_SELF, &after);
    auto usecs = [](const timeval &t) { return t.tv_sec * 1000000.0 + t.tv_usec; };
    const double cpu
        = usecs(after.ru_utime) + usecs(after.ru_stime) - usecs(before.ru_utime) - usecs(before.ru_stime);
    rig.stopPhone();
    return 100.0 * cpu / (wall.nsecsElapsed() / 1000.0);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool idleOnly = app.arguments().value(1) == QLatin1String("idle");
    QVector<double> dial, answer, ringing, create, destroy, silentStop;
    if (!idleOnly) {
        dial = dial_latency();
        answer = answer_latency();
        ringing = ringing_latency();
        core_lifetime(create, destroy);
        silentStop = stop_with_silent_registrar();
    }
    const double idle = idle_cpu_percent();

    std::printf("%-34s %10s %10s %10s %6s\n", "engine", "median", "p95", "max", "n");
    if (!idleOnly) {
        print_row("request_dial -> INVITE at peer", dial, "ms");
        print_row("request_answer -> 200 OK at peer", answer, "ms");
        print_row("INVITE -> 180 Ringing at peer", ringing, "ms");
        print_row("core creation (constructor)", create, "ms");
        print_row("core destruction (stop + wait)", destroy, "ms");
        print_row("stop, registrar silent", silentStop, "ms");
    }
    std::printf("%-34s %10.2f %10s %10s %6s  %%CPU of one core (whole process, 10 s)\n",
        "idle engine, registered", idle, "", "", "");
    return !idleOnly && (dial.isEmpty() || answer.isEmpty()) ? 1 : 0;
}
