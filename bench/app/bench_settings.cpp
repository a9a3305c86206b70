// Saving 20 account keys: first save (inserts) and later saves (updates).
#include "app/appdir.h"
#include "app/constants.h"
#include "bench/app/benchutil.h"
#include "store/veldata.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    AppDir::setPathForTesting(dir.path());
    AppDir::makeDataDirectories();
    VelData store;

    QMap<QString, QString> settings;
    for (int i = 0; i < 20; ++i)
        settings.insert(QStringLiteral("key%1").arg(i, 2, 10, QLatin1Char('0')), QStringLiteral("value"));

    QElapsedTimer timer;
    timer.start();
    store.save_account_settings(settings);
    const double first = timer.nsecsElapsed() / 1e6;

    QVector<double> samples;
    for (int run = 0; run < 50; ++run) {
        for (auto it = settings.begin(); it != settings.end(); ++it)
            it.value() = QString::number(run);
        timer.restart();
        store.save_account_settings(settings);
        samples << timer.nsecsElapsed() / 1e6;
    }
    std::printf("save 20 keys: first (inserts) %.2f ms; updates median %.2f ms, p95 %.2f ms (50 runs)\n",
        first, percentile(samples, 0.5), percentile(samples, 0.95));
    return 0;
}
