// A long hostile-input run: thousands of seeded mutated INVITEs at the engine running under the
// supervisor in a process of its own (phonehost), registered at a sipp registrar on 127.0.0.1.
// Prints the crashes, the recoveries, the time from a crash to the new registration and the
// engine process's resident memory; asserts nothing.
//   bench_mutation [messages=3000] [seed=1] [gap ms=5]
// Needs PULSE_SERVER like the tests (scripts/bench-all sets one up).
#include "tests/phone/mutationrun.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int messages = args.value(1, QStringLiteral("3000")).toInt();
    const quint32 seed = args.value(2, QStringLiteral("1")).toUInt();
    const int gapMs = args.value(3, QStringLiteral("5")).toInt();
    if (qEnvironmentVariableIsEmpty("PHONEHOST"))
        qputenv("PHONEHOST", QFile::encodeName(QStringLiteral(PHONEHOST_EXECUTABLE)));

    QTemporaryDir dir;
    // Every crash is a registration more; a burst of crashes also costs the 60 s back-off.
    MutationRun run(dir.path(), messages / 10 + 10);
    if (!run.start()) {
        std::fprintf(stderr, "bench_mutation: %s\n", qPrintable(run.why()));
        return 1;
    }
    const bool finished = run.run(messages, seed, gapMs, 500);
    std::printf("seed %u, %d ms between messages\n%s", seed, gapMs, qPrintable(run.report()));
    if (!finished)
        std::printf("stopped early: %s\n", qPrintable(run.why().left(500)));
    std::printf("registered at the end: %s\n", run.registered() ? "yes" : "no");
    return 0;
}
