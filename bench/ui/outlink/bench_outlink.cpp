// Incoming call to outlink page: how long from sipp sending its INVITE (its own time stamp of
// the message) until the caller's page request reaches the call centre's server (here a local
// one), for the first call and for later calls. As in the bar, the popup and its web engine are
// built hidden once the phone is registered; the first call comes a few seconds later. Also the
// resident memory of the program and of the web engine's helper processes along the way.
//
// Needs the test set-up's private PulseAudio (PULSE_SERVER), like the engine tests:
//     bench_outlink [calls]
#include "bench/app/benchutil.h"
#include "tests/phone/phonerig.h"
#include "tests/support/sipscenario.h"
#include "tests/ui/outlink/outlinktestmain.h"

#include "phone/velphone.h"
#include "store/veldata.h"
#include "tests/support/http/httptestserver.h"
#include "ui/outlink/remotesite.h"

#include <QDir>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>
#include <QWebEngineView>

#include <chrono>
#include <cstdio>
#include <unistd.h>

using namespace SippScenario;
using Params = QMap<QString, QString>;

namespace {
qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Resident memory in kB of a process, from /proc.
long rssKb(const QString &pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// This process and every descendant (the web engine's helpers; sipp is started by the rig
// and left out by name).
struct Memory
{
    long selfKb = 0;
    long helpersKb = 0;
    int helpers = 0;
};

Memory memory()
{
    QMap<QString, QString> parentOf;
    QMap<QString, QString> nameOf;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromLatin1(stat.readAll());
        const int open = text.indexOf(QLatin1Char('(')), close = text.lastIndexOf(QLatin1Char(')'));
        nameOf.insert(pid, text.mid(open + 1, close - open - 1));
        parentOf.insert(pid, text.mid(close + 2).split(QLatin1Char(' ')).value(1));
    }
    const QString self = QString::number(::getpid());
    Memory m;
    m.selfKb = rssKb(self);
    for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
        QString p = it.value();
        for (int depth = 0; depth < 8 && !p.isEmpty() && p != QStringLiteral("0"); ++depth) {
            if (p == self) {
                if (nameOf.value(it.key()).startsWith(QStringLiteral("QtWebEngine"))) {
                    m.helpersKb += rssKb(it.key());
                    ++m.helpers;
                }
                break;
            }
            p = parentOf.value(p);
        }
    }
    return m;
}

void printMemory(const char *when, const Memory &m)
{
    std::printf("RSS %-26s program %7.1f MB  web engine helpers %7.1f MB (%d processes)  total %7.1f MB\n",
        when, m.selfKb / 1024.0, m.helpersKb / 1024.0, m.helpers, (m.selfKb + m.helpersKb) / 1024.0);
}
} // namespace

int main(int argc, char *argv[])
{
    prepare_web_engine_for_tests();
    QApplication app(argc, argv);
    const int calls = argc > 1 ? std::max(2, atoi(argv[1])) : 8;
    if (!PhoneRig::havePulse()) {
        std::fprintf(
            stderr, "PULSE_SERVER is not set: start a private PulseAudio first (see scripts/test)\n");
        return 2;
    }

    HttpTestServer server;
    if (!server.start()) {
        std::fprintf(stderr, "server: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    int result = 0;
    {
        PhoneRig rig;
        SippPeer registrar(SippScenario::registrar());
        if (!rig.startRegistered(registrar))
            return 1;
        rig.store()->save_outlink_settings(
            { { "simpleUrl", server.url("/popup").toString() }, { "simpleMethod", "get" },
                { "simpleParams", "tel=%CallerID%\nname=%CallerName%\ncall=%CallId%" } });
        const int phonePort = PhoneRig::phonePortFrom(registrar);

        // What the bar does: the hidden popup once registered; on an incoming call the page and
        // the show.
        printMemory("registered, no web engine", memory());
        RemoteSite *site = new RemoteSite(nullptr, rig.phone(), rig.store());
        qint64 receivedNs = 0;
        QObject::connect(rig.phone(), &VelPhone::signal_received_dialog, &app, [&](const Params &params) {
            receivedNs = nowNs();
            site->set_webview_params(params);
            if (!site->isVisible())
                site->show();
        });

        QTest::qWait(3000);
        printMemory("warmed up, before the first popup", memory());

        // Steady-clock time of each page request with the wall clock's offset, and the INVITE's
        // time stamp as sipp logged it: compared once the run is over (see SipMessage).
        const qint64 wallMinusSteadyNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count()
            - nowNs();
        QVector<SipMessage> invites;
        QVector<qint64> requestsNs;
        QVector<double> warmTotal, warmSignal, warmPage;
        for (int i = 0; i < calls; ++i) {
            SippPeer caller(SippScenario::caller(awaitAnswer(486), sdp()));
            caller.setRemote(QStringLiteral("127.0.0.1:%1").arg(phonePort));
            caller.set(QStringLiteral("USER"), PhoneRig::USER);
            caller.set(QStringLiteral("PHONE_PORT"), QString::number(phonePort));
            caller.set(QStringLiteral("PEER"), QString::number(3000 + i));
            caller.set(QStringLiteral("FROM"),
                QStringLiteral("\"Caller %1\" <sip:%2@127.0.0.1:%3>")
                    .arg(i)
                    .arg(3000 + i)
                    .arg(caller.port()));
            server.clearRequests();
            receivedNs = 0;
            const qint64 startNs = nowNs();
            if (!caller.start()) {
                result = 1;
                break;
            }
            // A real event loop: the web engine's browser side runs on it, and QTest::qWaitFor's
            // 10 ms naps between passes would delay each of its steps.
            QEventLoop untilRequest;
            QObject::connect(&server, &HttpTestServer::requestReceived, &untilRequest, [&] {
                if (!server.requests("/popup").isEmpty())
                    untilRequest.quit();
            });
            QTimer::singleShot(30000, &untilRequest, &QEventLoop::quit);
            if (server.requests("/popup").isEmpty())
                untilRequest.exec();
            if (server.requests("/popup").isEmpty()) {
                std::fprintf(stderr, "call %d: no page request\n", i);
                result = 1;
                break;
            }
            const qint64 requestNs = server.requests("/popup").first().receivedNs;
            requestsNs << requestNs;
            const double total = (requestNs - startNs) / 1e6;
            const double toSignal = (receivedNs - startNs) / 1e6;
            const double toPage = (requestNs - receivedNs) / 1e6;
            if (i == 0) {
                std::printf("first call (web engine warmed): sipp start→page request %7.1f ms  (sipp "
                            "start+INVITE→engine "
                            "signal %6.1f ms, signal→page request %7.1f ms)\n",
                    total, toSignal, toPage);
            } else {
                warmTotal << total;
                warmSignal << toSignal;
                warmPage << toPage;
            }
            QSignalSpy finished(site->findChild<QWebEngineView *>("webView"), &QWebEngineView::loadFinished);
            finished.wait(10000);
            if (i == 0) {
                QTest::qWait(500);
                printMemory("after the first popup", memory());
            }
            rig.phone()->request_hangup();
            const bool finishedCall = caller.waitForFinished(10000);
            for (const SipMessage &message : caller.messages()) {
                if (!message.received && message.isRequest(QStringLiteral("INVITE"))) {
                    invites << message;
                    break;
                }
            }
            if (!finishedCall
                || !QTest::qWaitFor([&] { return rig.phone()->get_phone_state() == PHONE_READY; }, 5000)) {
                std::fprintf(stderr, "call %d did not end:\n%s\n", i, qPrintable(caller.report()));
                result = 1;
                break;
            }
        }
        if (!warmTotal.isEmpty()) {
            std::printf("later calls (%d): sipp start→page request median %6.1f ms, p90 %6.1f ms, max "
                        "%6.1f ms\n",
                int(warmTotal.size()), percentile(warmTotal, 0.5), percentile(warmTotal, 0.9),
                percentile(warmTotal, 1.0));
            std::printf(
                "    of which sipp start+INVITE→engine signal median %6.1f ms; signal→page request median "
                "%6.1f ms\n",
                percentile(warmSignal, 0.5), percentile(warmPage, 0.5));
        }
        printMemory("after the last call", memory());
        delete site;
        rig.stopPhone();
        QVector<double> fromWire;
        for (int i = 0; i < std::min(invites.size(), requestsNs.size()); ++i)
            fromWire << ((requestsNs[i] + wallMinusSteadyNs) / 1000 - invites[i].usecsSinceEpoch()) / 1000.0;
        if (!fromWire.isEmpty()) {
            std::printf(
                "INVITE on the wire (sipp's time stamp)→page request: first call %6.1f ms", fromWire.first());
            if (fromWire.size() > 1) {
                const QVector<double> later = fromWire.mid(1);
                std::printf(", later calls median %6.1f ms, max %6.1f ms", percentile(later, 0.5),
                    percentile(later, 1.0));
            }
            std::printf("\n");
        }
    }
    return result;
}
