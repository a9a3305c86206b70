// Time from process start to the event loop running, with the real main window, for an empty
// settings table and for one with 1,000 rows. The parent spawns itself as a child that prints
// "ready" from the first event-loop pass; the parent measures from the spawn to that line.
#include "app/appdir.h"
#include "app/constants.h"
#include "bench/app/benchutil.h"
#include "store/veldata.h"
#include "ui/mainwindow/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {
constexpr int RUNS = 10;

int runChild(int argc, char **argv, const QString &appDir)
{
    AppDir::setPathForTesting(appDir);
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    QTimer::singleShot(0, [] {
        std::printf("ready\n");
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    const int rc = app.exec();
    // Only the start is measured; skip the orderly shutdown.
    std::_Exit(rc);
}

void prepare(const QString &appDir, int settingsRows)
{
    AppDir::setPathForTesting(appDir);
    AppDir::makeDataDirectories();
    {
        VelData store;
        QSqlQuery q(store.database());
        q.exec(QStringLiteral("BEGIN"));
        for (int i = 0; i < settingsRows; ++i)
            q.exec(QStringLiteral("INSERT INTO settings VALUES(%1,'key%2','value%2')").arg(1 + i % 4).arg(i));
        q.exec(QStringLiteral("COMMIT"));
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
}

double measureOnce(const QString &self, const QString &appDir)
{
    QProcess child;
    QElapsedTimer timer;
    timer.start();
    child.start(self, { QStringLiteral("--child"), appDir });
    while (child.waitForReadyRead(30000)) {
        if (child.readAll().contains("ready"))
            break;
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    child.waitForFinished(30000);
    return ms;
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && QByteArray(argv[1]) == "--child")
        return runChild(argc, argv, QString::fromLocal8Bit(argv[2]));

    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    for (int rows : { 0, 1000 }) {
        QTemporaryDir dir;
        prepare(dir.path(), rows);
        QVector<double> samples;
        measureOnce(app.applicationFilePath(), dir.path()); // warm the file cache
        for (int i = 0; i < RUNS; ++i)
            samples << measureOnce(app.applicationFilePath(), dir.path());
        std::printf("startup to event loop, %4d settings rows: median %.1f ms, p95 %.1f ms (%d runs)\n", rows,
            percentile(samples, 0.5), percentile(samples, 0.95), RUNS);
    }
    return 0;
}
