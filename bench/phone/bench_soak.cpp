// A shift's worth of calls through one engine: a sipp caller calls again and again, one call at a
// time; of every three calls the phone answers one (the caller hangs up after a moment), lets
// one ring until the caller gives up (missed) and refuses one as busy. Every 100 calls it prints
// the process's resident memory, threads, open descriptors and the calls ended so far, at the end
// the calls by result. Usage: bench_soak [calls] (default 600).
#include "tests/phone/phonerig.h"
#include "tests/support/sipscenario.h"

#include "phone/velphone.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QTest>

#include <cstdio>

using namespace SippScenario;

namespace {
long status_field(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(int(qstrlen(name))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

int open_descriptors()
{
    return int(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

// The caller: after the phone's answer it talks for a moment and hangs up; a 486 ends the call;
// without either within a second it cancels.
QString answeredOrBusy()
{
    return QStringLiteral("<recv response=\"100\" optional=\"true\"/>\n"
                          "<recv response=\"180\" optional=\"true\"/>\n"
                          "<recv response=\"200\" optional=\"true\" next=\"answered\" timeout=\"1000\" "
                          "ontimeout=\"missed\">\n<action>\n"
                          "<ereg regexp=\".*\" search_in=\"hdr\" header=\"To:\" assign_to=\"peerfrom\"/>\n"
                          "<ereg regexp=\"&lt;([^&gt;]*)&gt;\" search_in=\"hdr\" header=\"Contact:\" "
                          "assign_to=\"x,peercontact\"/>\n</action>\n</recv>\n"
                          "<recv response=\"486\"/>\n")
        + QStringLiteral("<send><![CDATA[\nACK sip:{{USER}}@127.0.0.1:{{PHONE_PORT}} SIP/2.0\n[last_Via:]\n"
                         "From: {{FROM}};tag=[pid]caller[call_number]\n[last_To:]\nCall-ID: [call_id]\n"
                         "CSeq: 1 ACK\nMax-Forwards: 70\nContent-Length: 0\n\n]]></send>\n"
                         "<nop next=\"end\"/>\n<label id=\"answered\"/>\n")
        + QStringLiteral("<send><![CDATA[\nACK [$peercontact] SIP/2.0\n"
                         "Via: SIP/2.0/UDP [local_ip]:[local_port];branch=[branch]\n"
                         "From: {{FROM}};tag=[pid]caller[call_number]\nTo: [$peerfrom]\nCall-ID: [call_id]\n"
                         "CSeq: 1 ACK\nMax-Forwards: 70\nContent-Length: 0\n\n]]></send>\n")
        + pause(100) + callerRequest(QStringLiteral("BYE"), 2) + expectResponse(200)
        + QStringLiteral("<nop next=\"end\"/>\n<label id=\"missed\"/>\n")
        + QStringLiteral("<send><![CDATA[\nCANCEL sip:{{USER}}@127.0.0.1:{{PHONE_PORT}} SIP/2.0\n"
                         "[last_Via:]\nFrom: {{FROM}};tag=[pid]caller[call_number]\n"
                         "To: <sip:{{USER}}@127.0.0.1:{{PHONE_PORT}}>\nCall-ID: [call_id]\n"
                         "CSeq: 1 CANCEL\nMax-Forwards: 70\nContent-Length: 0\n\n]]></send>\n")
        + expectResponse(200) + awaitAnswer(487) + QStringLiteral("<label id=\"end\"/>\n");
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? QByteArray(argv[1]).toInt() : 600;
    PhoneRig rig;
    SippPeer registrar(SippScenario::registrar(), 3600);
    if (!rig.startRegistered(registrar)) {
        std::fprintf(stderr, "the phone did not register\n");
        return 1;
    }
    SippPeer caller(SippScenario::caller(answeredOrBusy(), sdp()), 3600);
    PhoneRig::aim(caller, registrar, QStringLiteral("2001"));
    caller.setCalls(calls);
    caller.addArguments(
        { QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-r"), QStringLiteral("50") });
    if (!caller.start())
        return 1;

    // Each call is answered or refused once it rings; ends are counted as they arrive.
    int presented = 0;
    int ended = 0;
    QObject::connect(rig.phone(), &VelPhone::signal_received_dialog, &app, [&] {
        ++presented;
        if (presented % 3 == 0)
            rig.phone()->request_hangup(); // declined busy
        else if (presented % 3 == 1)
            rig.phone()->request_answer();
        // else left ringing: the caller gives up, a missed call
    });
    QMap<int, int> results; // call result -> calls
    QObject::connect(rig.phone(), &VelPhone::signal_dialog_end, &app, [&](int result) {
        ++results[result];
        ++ended;
        if (ended % 100)
            return;
        rig.spy().clear(); // the harness's own record of signals would grow otherwise
        std::printf("%8d %10ld %8ld %6d\n", ended, status_field("VmRSS:"), status_field("Threads:"),
            open_descriptors());
        std::fflush(stdout);
    });
    std::printf("%8s %10s %8s %6s\n", "calls", "RSS kB", "threads", "fds");
    while (caller.isRunning())
        QTest::qWait(50);
    rig.stopPhone();
    for (auto it = results.cbegin(); it != results.cend(); ++it)
        std::printf("calls ended with result %d: %d\n", it.key(), it.value());
    if (caller.waitForFinished(10000))
        return 0;
    std::fprintf(stderr, "%s\n", qPrintable(caller.report().left(4000)));
    return 1;
}
