// The talk time the bar shows and the history stores.
#include "ui/mainwindow/calltime.h"

#include <QtTest>

class tst_CallTime : public QObject
{
    Q_OBJECT

private slots:
    void oneSecondAhead_data()
    {
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<QString>("shown");
        QTest::newRow("answered just now") << qint64(0) << "00:00:01";
        QTest::newRow("part of a second counts nothing") << qint64(999) << "00:00:01";
        QTest::newRow("five ticks") << qint64(5000) << "00:00:06";
        QTest::newRow("65 seconds") << qint64(65000) << "00:01:06";
        QTest::newRow("one hour") << qint64(3600000) << "01:00:01";
        QTest::newRow("last second of a day") << qint64(86399000) << "00:00:00";
        QTest::newRow("a day and a minute wraps") << qint64(86460000) << "00:01:01";
    }

    void oneSecondAhead()
    {
        QFETCH(qint64, elapsedMs);
        QFETCH(QString, shown);
        const QDateTime start(QDate(2026, 3, 1), QTime(9, 0, 0));
        QCOMPARE(call_time_between(start, start.addMSecs(elapsedMs)), shown);
    }
};

QTEST_GUILESS_MAIN(tst_CallTime)
#include "tst_calltime.moc"
