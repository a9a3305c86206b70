// Click to dial from outside: the built program runs registered at a local sipp registrar (busy
// for every call) on a private desktop; a second start with a tel: link, without a display as a
// URL handler starts it, is timed from its spawn to the INVITE that sipp logs, and to its own
// exit. Ten runs, one after another with the bar idle in between.
#include "bench/app/benchutil.h"
#include "tests/e2e/desktop.h"
#include "tests/e2e/e2esupport.h"
#include "tests/e2e/tarselapp.h"
#include "tests/support/sipppeer.h"
#include "tests/support/sipscenario.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>

#include <cstdio>

namespace {
constexpr int RUNS = 10;
const QString LINK = QStringLiteral("tel:03-1234-5678");
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    E2eDesktop desktop;
    if (!desktop.start()) {
        std::fprintf(stderr, "desktop: %s\n", qPrintable(desktop.error()));
        return 1;
    }
    SippPeer registrar(SippScenario::registrar(SippScenario::respond(486, QStringLiteral("Busy Here"), true)
                           + QStringLiteral("<recv request=\"ACK\"/>\n")),
        300);
    registrar.setCalls(RUNS + 1);
    TarselApp app(desktop);
    QString why;
    if (!E2e::startRegistered(desktop, app, registrar, {}, QStringLiteral("bench-clicktodial"), &why)) {
        std::fprintf(stderr, "start: %s\n", qPrintable(why));
        return 1;
    }

    QVector<qint64> spawnedAtUs;
    QVector<double> exitMs;
    for (int run = 0; run < RUNS; ++run) {
        QElapsedTimer elapsed;
        spawnedAtUs << QDateTime::currentMSecsSinceEpoch() * 1000;
        elapsed.start();
        const int status = app.startAgain(20000, { LINK }, false);
        exitMs << elapsed.nsecsElapsed() / 1e6;
        const bool dialled = E2e::waitUntil(
            10000, [&] { return registrar.received(QStringLiteral("INVITE")).size() == run + 1; });
        const bool idle = E2e::waitUntil(10000, [&] { return app.history().size() == run + 1; });
        if (status != 0 || !dialled || !idle) {
            std::fprintf(stderr, "run %d: exit %d, dialled %d, idle %d\n%s\n", run, status, dialled, idle,
                qPrintable(registrar.report()));
            return 1;
        }
    }

    // sipp's time stamps are local times; reading them is done now, with no run in progress.
    const QVector<SipMessage> invites = registrar.received(QStringLiteral("INVITE"));
    QVector<double> inviteMs;
    for (int run = 0; run < RUNS; ++run)
        inviteMs << (invites.at(run).usecsSinceEpoch() - spawnedAtUs.at(run)) / 1000.0;
    std::printf(
        "second start with %s -> INVITE at the registrar (%d runs): median %.1f ms, min %.1f, max %.1f\n",
        qPrintable(LINK), RUNS, percentile(inviteMs, 0.5), percentile(inviteMs, 0), percentile(inviteMs, 1));
    std::printf("second start with %s -> its exit (status 0): median %.1f ms, min %.1f, max %.1f\n",
        qPrintable(LINK), percentile(exitMs, 0.5), percentile(exitMs, 0), percentile(exitMs, 1));
    return 0;
}
