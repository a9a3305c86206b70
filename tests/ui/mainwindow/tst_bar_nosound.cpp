// The bar when its sound server goes away while it runs: no key tone can start any more, and
// each failure must leave the bar ready to try the next key, or after one failure no tone
// would ever sound again (the bar would take the failed tone for one that still plays).
#include "tests/ui/mainwindow/barfixture.h"
#include "tests/ui/mainwindow/soundserver.h"

#include "ui/mainwindow/mainwindow.h"

#include <QAudioOutput>
#include <QtTest>

class tst_BarNoSound : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void failedToneDoesNotSilenceTheNext();

private:
    SoundServer m_server;
};

void tst_BarNoSound::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
}

void tst_BarNoSound::failedToneDoesNotSilenceTheNext()
{
    BarFixture bar;
    const auto outputs = [&bar] { return bar.window()->findChildren<QAudioOutput *>().size(); };
    // Every tone that cannot be played leaves one of these lines in the log.
    const auto failures = [&bar] {
        const QString log = bar.logText();
        return log.count(QStringLiteral("tone output failed to start"))
            + log.count(QStringLiteral("tone output stopped: error"))
            + log.count(QStringLiteral("Raw audio format not supported by backend"));
    };

    QTest::keyClick(bar.window(), Qt::Key_4);
    QTRY_COMPARE_WITH_TIMEOUT(outputs(), 0, 5000);
    QCOMPARE(failures(), 0);

    m_server.stop();
    QTest::keyClick(bar.window(), Qt::Key_5);
    QTRY_COMPARE_WITH_TIMEOUT(failures(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(outputs(), 0, 5000);
    // The next key tries again instead of being taken for a tone that still plays.
    QTest::keyClick(bar.window(), Qt::Key_6);
    QTRY_COMPARE_WITH_TIMEOUT(failures(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(outputs(), 0, 5000);
    QCOMPARE(bar.number(), QStringLiteral("456"));
}

QTEST_MAIN(tst_BarNoSound)
#include "tst_bar_nosound.moc"
