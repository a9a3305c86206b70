// The history window over years of history: 100,000 rows prepared in the history table, then
// the time to open the window, to switch tabs, to add a call with add_history (the insert and
// the refresh of the four tabs), to scroll a tab to its end, and the resident memory across
// 1,000 adds.
#include "app/appdir.h"
#include "bench/app/benchutil.h"
#include "store/veldata.h"
#include "ui/history/historywindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

namespace {
constexpr int ROWS = 100000;
constexpr int WARM_UP_ADDS = 50;
constexpr int MEASURED_ADDS = 1000;

double residentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * double(sysconf(_SC_PAGESIZE)) / (1024 * 1024) : 0;
}

double msSince(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

QMap<QString, QString> callRow(int n)
{
    return { { QStringLiteral("status"), QString::number(n % 4 + 1) },
        { QStringLiteral("phoneNumber"), QStringLiteral("0%1").arg(900000000 + n) },
        { QStringLiteral("dialogTime"), QStringLiteral("00:01:06") },
        { QStringLiteral("dialogDate"), QStringLiteral("2026-03-04 05:06:07") },
        { QStringLiteral("deleteFlg"), QStringLiteral("0") } };
}

bool prepareRows(QSqlDatabase db)
{
    if (!db.transaction())
        return false;
    QSqlQuery insert;
    if (!insert.prepare(QStringLiteral("INSERT INTO history VALUES(NULL,?,?,?,?,'0')")))
        return false;
    for (int i = 0; i < ROWS; ++i) {
        insert.bindValue(0, QString::number(i % 4 + 1));
        insert.bindValue(1, QStringLiteral("0%1").arg(300000000 + i));
        insert.bindValue(2, QStringLiteral("00:00:%1").arg(i % 60, 2, 10, QLatin1Char('0')));
        insert.bindValue(3, QStringLiteral("2025-01-01 00:00:00"));
        if (!insert.exec())
            return false;
    }
    return db.commit();
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    AppDir::setPathForTesting(dir.path());
    AppDir::makeDataDirectories();
    VelData store;

    QElapsedTimer timer;
    timer.start();
    if (!prepareRows(store.database())) {
        std::fprintf(stderr, "cannot prepare the history rows\n");
        return 1;
    }
    std::printf("prepared %d rows in %.0f ms\n", ROWS, msSince(timer));

    timer.restart();
    HistoryWindow window(nullptr, &store);
    window.show();
    QCoreApplication::processEvents();
    std::printf("open window (construct, show, first events): %.1f ms\n", msSince(timer));

    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    for (int tab = 1; tab <= tabs->count(); ++tab) {
        timer.restart();
        tabs->setCurrentIndex(tab % tabs->count());
        QCoreApplication::processEvents();
        std::printf("switch to tab %d: %.1f ms\n", tab % tabs->count(), msSince(timer));
    }

    for (int n = 0; n < WARM_UP_ADDS; ++n) {
        window.add_history(callRow(n));
        QCoreApplication::processEvents();
    }
    const double rssBefore = residentMiB();
    QVector<double> adds;
    QVector<double> addsPainted;
    for (int n = 0; n < MEASURED_ADDS; ++n) {
        timer.restart();
        window.add_history(callRow(n));
        adds << msSince(timer);
        QCoreApplication::processEvents();
        addsPainted << msSince(timer);
    }
    const double rssAfter = residentMiB();
    std::printf(
        "add_history incl. refresh (%d adds, window shown): median %.2f ms, p95 %.2f ms, max %.2f ms\n",
        MEASURED_ADDS, percentile(adds, 0.5), percentile(adds, 0.95), percentile(adds, 1.0));
    std::printf("  with the repaint that follows: median %.2f ms, p95 %.2f ms, max %.2f ms\n",
        percentile(addsPainted, 0.5), percentile(addsPainted, 0.95), percentile(addsPainted, 1.0));
    std::printf("resident memory: %.1f MiB before, %.1f MiB after %d adds (%+.1f MiB)\n", rssBefore, rssAfter,
        MEASURED_ADDS, rssAfter - rssBefore);

    // The worst a user can do: scroll the all-calls tab to its very end, batch after batch.
    tabs->setCurrentIndex(0);
    auto *all = window.findChild<QTableView *>(QStringLiteral("allDialogTable"));
    timer.restart();
    int batches = 0;
    while (all->model()->canFetchMore(QModelIndex())) {
        all->scrollToBottom();
        QCoreApplication::processEvents();
        ++batches;
    }
    std::printf("scroll all calls to the end (%d rows, %d scroll steps): %.0f ms, resident %.1f MiB\n",
        all->model()->rowCount(), batches, msSince(timer), residentMiB());
    timer.restart();
    window.add_history(callRow(0));
    std::printf("add_history after that: %.2f ms, resident %.1f MiB\n", msSince(timer), residentMiB());
    return 0;
}
