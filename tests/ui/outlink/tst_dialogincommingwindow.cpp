#include "tests/ui/outlink/outlinkfixture.h"

#include "app/constants.h"
#include "ui/outlink/dialogincommingwindow.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

// The plain incoming call window on its own: its set-up, the number text written at each
// show, and its buttons (answer tells the bar, hang-up tells nobody, close only hides).
class tst_DialogIncommingWindow : public QObject
{
    Q_OBJECT

private:
    static QPushButton *button(DialogIncommingWindow &w, const char *name)
    {
        return w.findChild<QPushButton *>(name);
    }

private slots:
    void windowSetup();
    void numberTextWrittenAtEachShow();
    void buttons();
};

void tst_DialogIncommingWindow::windowSetup()
{
    QWidget bar;
    DialogIncommingWindow window(&bar, nullptr);
    QCOMPARE(window.parentWidget(), &bar);
    QCOMPARE(window.size(), QSize(448, 159));
    QCOMPARE(window.windowType(), Qt::Tool);
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(window.findChild<QLabel *>("versionLabel")->text(), APP_VERSION);
    QCOMPARE(window.findChild<QFrame *>("siteFrame")->styleSheet(), STYLE_SITE_FRAME_SIMPLE);
    QCOMPARE(button(window, "siteDialogButton")->styleSheet(), STYLE_SITE_DIAL_BUTTON);
    QCOMPARE(button(window, "siteTerminateButton")->styleSheet(), STYLE_SITE_TERMINATE_BUTTON);
    QVERIFY(!window.isVisible());
}

void tst_DialogIncommingWindow::numberTextWrittenAtEachShow()
{
    // Without an engine number only the suffix is shown; the label is rewritten at every show
    // (the engine-backed number is checked in the call tests).
    DialogIncommingWindow window(nullptr, nullptr);
    QLabel *number = window.findChild<QLabel *>("phoneNumber");
    number->setText(QStringLiteral("stale"));
    window.show();
    QCOMPARE(number->text(), QStringLiteral(" から着信中・・・"));
    number->setText(QStringLiteral("stale"));
    window.hide();
    QCOMPARE(number->text(), QStringLiteral("stale"));
    window.show();
    QCOMPARE(number->text(), TEXT_INCOMING_SUFFIX);
}

void tst_DialogIncommingWindow::buttons()
{
    BrowserCatcher browser;
    DialogIncommingWindow window(nullptr, nullptr);
    QSignalSpy accepted(&window, &DialogIncommingWindow::signal_dialog_accept);
    window.show();

    QTest::mouseClick(button(window, "siteTerminateButton"), Qt::LeftButton);
    QCOMPARE(accepted.size(), 0);
    QVERIFY(window.isVisible());

    QTest::mouseClick(button(window, "siteDialogButton"), Qt::LeftButton);
    QCOMPARE(accepted.size(), 1);

    QTest::mouseClick(button(window, "logoButton"), Qt::LeftButton);
    QCOMPARE(browser.opened, QList<QUrl>({ PRODUCT_URL }));

    QTest::mouseClick(button(window, "closeButton"), Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QCOMPARE(accepted.size(), 1);
}

QTEST_MAIN(tst_DialogIncommingWindow)
#include "tst_dialogincommingwindow.moc"
