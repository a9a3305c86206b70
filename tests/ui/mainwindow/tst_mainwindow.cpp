// The bar as a person sees it, offscreen, with its real engine idle (no account).
#include "tests/ui/mainwindow/barfixture.h"

#include "app/constants.h"
#include "phone/velphone.h"
#include "store/veldata.h"
#include "ui/mainwindow/aboutwindow.h"
#include "ui/mainwindow/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>

namespace {
QStringList actionTexts(const QList<QAction *> &actions)
{
    QStringList texts;
    for (const QAction *action : actions)
        texts << (action->isSeparator() ? QStringLiteral("|") : action->text());
    return texts;
}

// Answers the next modal message box with the button of that text; returns its title and text.
void answerMessageBox(const QString &buttonText, QString *title, QString *text)
{
    QTimer::singleShot(0, [=] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            answerMessageBox(buttonText, title, text);
            return;
        }
        *title = box->windowTitle();
        *text = box->text();
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == buttonText)
                button->click();
        }
    });
}
} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void construction();
    void imagesAreInTheProgram();
    void alwaysTop_data();
    void alwaysTop();
    void registrationDisplay_data();
    void registrationDisplay();
    void digitsAndKeys();
    void paste();
    void backspaceOnlyEditsTypedNumbers();
    void enterWithEmptyDisplay();
    void clearButtonShortAndLongPress();
    void callButtonRecallsNothingWhenNeverDialled();
    void callTimer();
    void endOfCallResetsDisplay();
    void transferResultShowsTwoSeconds();
    void menusShareActionsInOrder();
    void aboutWindow();
    void everyTextFitsItsLabel_data();
    void everyTextFitsItsLabel();
    void phoneMessage();
    void exitAnsweredNo();
    void exitAnsweredYes();
    void closeOnlyHides();
    void closingAnotherWindowWhileHiddenKeepsRunning();
    void dragWithLeftButtonOnly();
    void trayDoubleClickShows();
};

void tst_MainWindow::imagesAreInTheProgram()
{
    // Every image that the bar's style sheets name is compiled into the program that shows the
    // bar; a missing one leaves a blank where the design has a picture.
    BarFixture bar;
    static const QRegularExpression url(QStringLiteral("url\\((:/[^)]+)\\)"));
    QStringList named;
    const QList<QWidget *> widgets = bar.window()->findChildren<QWidget *>() << bar.window();
    for (const QWidget *widget : widgets) {
        QRegularExpressionMatchIterator it = url.globalMatch(widget->styleSheet());
        while (it.hasNext())
            named << it.next().captured(1);
    }
    QVERIFY2(named.size() >= 10, qPrintable(named.join(QLatin1Char(' '))));
    for (const QString &image : qAsConst(named))
        QVERIFY2(!QImage(image).isNull(), qPrintable(image));
}

void tst_MainWindow::construction()
{
    BarFixture bar({ { CATEGORY_ACCOUNT, { { QStringLiteral("userId"), QStringLiteral("2040") } } } });
    MainWindow *w = bar.window();
    QCOMPARE(w->size(), QSize(947, 58));
    QCOMPARE(w->windowTitle(), APP_TITLE);
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(!(w->windowFlags() & Qt::WindowStaysOnTopHint));
    QVERIFY(w->testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(bar.label("userId")->text(), QStringLiteral("2040"));
    QCOMPARE(bar.label("dialogStatus")->text(), MSG_NOT_AUTHENTICATED);
    QCOMPARE(bar.label("versionLabel")->text(), APP_VERSION);
    QCOMPARE(bar.label("numberInputMessage")->text(), TEXT_NUMBER_INPUT_HINT);
    QCOMPARE(bar.label("onlineStatus")->styleSheet(), STYLE_STATUS_OFFLINE);
    QCOMPARE(bar.label("phoneNumberLabel")->styleSheet(), STYLE_PHONE_NUMBER_LABEL);
    QVERIFY(bar.button("deleteButton")->isHidden());
    QCOMPARE(bar.button("dialogButton")->text(), TEXT_CALL);
    QCOMPARE(bar.button("pauseButton")->text(), TEXT_HOLD);
    QCOMPARE(bar.button("transferButton")->text(), TEXT_TRANSFER);
    QCOMPARE(bar.button("terminateButton")->text(), TEXT_HANGUP);
    QCOMPARE(bar.button("settingButton")->text(), TEXT_SETTING);
    QCOMPARE(bar.button("historyButton")->text(), TEXT_HISTORY);
    QCOMPARE(bar.button("dialogButton")->styleSheet(), STYLE_DIAL_BUTTON);
    QCOMPARE(bar.button("historyButton")->styleSheet(), STYLE_HISTORY_BUTTON);
    QCOMPARE(bar.button("dialogButton")->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(bar.button("closeButton")->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(bar.button("dialogButton")->parentWidget()->geometry(), QRect(574, 6, 221, 41));
    QVERIFY(bar.phone()->isRunning());
    auto *tray = w->findChild<QSystemTrayIcon *>();
    QVERIFY(tray && tray->isVisible());
    QCOMPARE(tray->toolTip(), APP_TITLE);
}

void tst_MainWindow::alwaysTop_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("onTop");
    QTest::newRow("1") << "1" << true;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("true") << "true" << false;
    QTest::newRow("yes") << "yes" << false;
}

void tst_MainWindow::alwaysTop()
{
    QFETCH(QString, value);
    QFETCH(bool, onTop);
    BarFixture bar({ { CATEGORY_GENERAL, { { QStringLiteral("alwaysTop"), value } } } });
    QCOMPARE(bool(bar.window()->windowFlags() & Qt::WindowStaysOnTopHint), onTop);
    QVERIFY(bar.window()->windowFlags() & Qt::FramelessWindowHint);
}

void tst_MainWindow::registrationDisplay_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("status");
    QTest::newRow("sucessful keeps the status")
        << REG_STATUS_SUCCESSFUL << STYLE_STATUS_ONLINE << QStringLiteral("before");
    QTest::newRow("progress") << REG_STATUS_PROGRESS << STYLE_STATUS_OFFLINE << MSG_AUTHENTICATING;
    QTest::newRow("failed") << REG_STATUS_FAILED << STYLE_STATUS_OFFLINE << MSG_AUTH_FAILED;
    QTest::newRow("unresigter") << REG_STATUS_UNREGISTER << STYLE_STATUS_OFFLINE << MSG_NOT_AUTHENTICATED;
    QTest::newRow("other word") << MSG_NOT_AUTHENTICATED << STYLE_STATUS_OFFLINE << QStringLiteral("before");
}

void tst_MainWindow::registrationDisplay()
{
    QFETCH(QString, state);
    QFETCH(QString, style);
    QFETCH(QString, status);
    BarFixture bar;
    bar.window()->slot_phone_registration_state_change(REG_STATUS_SUCCESSFUL, QStringLiteral("1"));
    bar.window()->slot_update_dialog_status(QStringLiteral("before"));
    bar.window()->slot_phone_registration_state_change(state, QStringLiteral("3001"));
    QCOMPARE(bar.label("onlineStatus")->styleSheet(), style);
    QCOMPARE(bar.label("dialogStatus")->text(), status);
    QCOMPARE(bar.label("userId")->text(), QStringLiteral("3001"));
    QCOMPARE(
        bar.window()->findChild<QSystemTrayIcon *>()->toolTip(), APP_TITLE + QStringLiteral(" 内線：3001"));
}

void tst_MainWindow::digitsAndKeys()
{
    BarFixture bar;
    MainWindow *w = bar.window();
    QLabel *hint = bar.label("numberInputMessage");
    QTest::keyClicks(w, QStringLiteral("0a3*#9"));
    QCOMPARE(bar.number(), QStringLiteral("03*#9"));
    QVERIFY(!bar.button("deleteButton")->isHidden());
    QVERIFY(hint->isHidden());
    // Modifier keys alone change nothing, not even the hint.
    QTest::keyClick(w, Qt::Key_Shift);
    QTest::keyClick(w, Qt::Key_Control);
    QCOMPARE(bar.number(), QStringLiteral("03*#9"));
    QTest::keyClick(w, Qt::Key_Backspace);
    QTest::keyClick(w, Qt::Key_Delete);
    QCOMPARE(bar.number(), QStringLiteral("03*"));
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(w, Qt::Key_Backspace);
    QCOMPARE(bar.number(), QString());
    QVERIFY(bar.button("deleteButton")->isHidden());
    QVERIFY(!hint->isHidden());
}

void tst_MainWindow::paste()
{
    BarFixture bar;
    MainWindow *w = bar.window();
    QApplication::clipboard()->setText(QStringLiteral("no digits here"));
    QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(bar.number(), QString());
    QVERIFY(bar.button("deleteButton")->isHidden());
    QVERIFY(!bar.label("numberInputMessage")->isHidden());

    QApplication::clipboard()->setText(QStringLiteral("03-1234-5678"));
    QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(bar.number(), QString());
    QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(bar.number(), QStringLiteral("0312345678"));
    QVERIFY(!bar.button("deleteButton")->isHidden());
    QVERIFY(bar.label("numberInputMessage")->isHidden());
    QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(bar.number(), QStringLiteral("03123456780312345678"));

    // Copied from a Japanese page: full-width digits and dashes.
    bar.window()->slot_clear_phone_number();
    QApplication::clipboard()->setText(QStringLiteral("０３－１２３４－５６７８"));
    QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(bar.number(), QStringLiteral("0312345678"));
}

void tst_MainWindow::backspaceOnlyEditsTypedNumbers()
{
    BarFixture bar;
    bar.window()->slot_set_phone_number(QStringLiteral("0501234"));
    QTest::keyClick(bar.window(), Qt::Key_Backspace);
    QCOMPARE(bar.number(), QStringLiteral("0501234"));
    QVERIFY(bar.label("numberInputMessage")->isHidden());
    bar.window()->slot_clear_phone_number();
    QCOMPARE(bar.number(), QString());
}

void tst_MainWindow::enterWithEmptyDisplay()
{
    BarFixture bar;
    QTest::keyClick(bar.window(), Qt::Key_Return);
    QTest::keyClick(bar.window(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(bar.number(), QString());
    QVERIFY(bar.button("deleteButton")->isHidden());
    QVERIFY(!bar.label("numberInputMessage")->isHidden());
    QCOMPARE(bar.phone()->get_last_dialled_number(), QString());
}

void tst_MainWindow::clearButtonShortAndLongPress()
{
    BarFixture bar;
    bar.window()->show();
    QPushButton *clear = bar.button("deleteButton");
    QTest::keyClicks(bar.window(), QStringLiteral("123"));
    clear->setDown(true);
    emit clear->pressed();
    QCOMPARE(clear->styleSheet(), STYLE_DELETE_BUTTON_CLICKED);
    emit clear->released();
    QCOMPARE(clear->styleSheet(), STYLE_DELETE_BUTTON);
    QCOMPARE(bar.number(), QStringLiteral("12"));
    QVERIFY(!clear->isHidden());

    // Held for a second: the display empties while still held; the release then finds it empty.
    QElapsedTimer held;
    held.start();
    emit clear->pressed();
    QTRY_COMPARE_WITH_TIMEOUT(bar.number(), QString(), 3000);
    QVERIFY(held.elapsed() >= 900);
    emit clear->released();
    QVERIFY(clear->isHidden());
    QVERIFY(!bar.label("numberInputMessage")->isHidden());

    // A short press on the last digit empties the display and brings the hint back.
    QTest::keyClick(bar.window(), Qt::Key_7);
    emit clear->pressed();
    emit clear->released();
    QCOMPARE(bar.number(), QString());
    QVERIFY(clear->isHidden());
    QVERIFY(!bar.label("numberInputMessage")->isHidden());
    QTest::qWait(1200); // the hold timer was stopped: nothing happens after the release
    QVERIFY(clear->isHidden());
}

void tst_MainWindow::callButtonRecallsNothingWhenNeverDialled()
{
    BarFixture bar;
    QTest::mouseClick(bar.button("dialogButton"), Qt::LeftButton);
    QCOMPARE(bar.number(), QString());
    QVERIFY(bar.button("deleteButton")->isHidden());
}

void tst_MainWindow::callTimer()
{
    BarFixture bar;
    QLabel *time = bar.label("dialogTime");
    bar.window()->slot_start_count_dialog_time();
    QCOMPARE(time->text(), QStringLiteral("00:00:01"));
    QTRY_COMPARE_WITH_TIMEOUT(time->text(), QStringLiteral("00:00:02"), 2500);
    // A second start while running keeps the start time.
    bar.window()->slot_start_count_dialog_time();
    QCOMPARE(time->text(), QStringLiteral("00:00:02"));
    QTRY_COMPARE_WITH_TIMEOUT(time->text(), QStringLiteral("00:00:03"), 2500);
}

void tst_MainWindow::endOfCallResetsDisplay()
{
    BarFixture bar;
    bar.window()->slot_start_count_dialog_time();
    QTest::keyClicks(bar.window(), QStringLiteral("55"));
    bar.window()->slot_dialog_end(HISTORY_OUTGOING_UNANSWERED, QStringLiteral("55"));
    QCOMPARE(bar.number(), QString());
    QCOMPARE(bar.label("dialogTime")->text(), QString());
    QVERIFY(bar.button("deleteButton")->isHidden());
    QVERIFY(!bar.label("numberInputMessage")->isHidden());
    QTest::qWait(1300); // the call timer was stopped
    QCOMPARE(bar.label("dialogTime")->text(), QString());
    QVERIFY(bar.logText().contains(QStringLiteral("] 00:00:0")));
}

void tst_MainWindow::transferResultShowsTwoSeconds()
{
    BarFixture bar;
    QElapsedTimer shown;
    shown.start();
    bar.window()->slot_show_transfer_call_result(MSG_TRANSFER_DONE);
    QCOMPARE(bar.number(), MSG_TRANSFER_DONE);
    QVERIFY(bar.label("numberInputMessage")->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(bar.number(), QString(), 4000);
    QVERIFY(shown.elapsed() >= 1900);
    QVERIFY(!bar.label("numberInputMessage")->isHidden());
}

void tst_MainWindow::menusShareActionsInOrder()
{
    BarFixture bar;
    MainWindow *w = bar.window();
    w->show();
    QList<QAction *> rightActions;
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(QApplication::activePopupWidget());
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        rightActions = menu->actions();
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), w->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(w, &event);
    const QStringList rightOrder = { TEXT_SETTING, TEXT_HISTORY, TEXT_VERSION_INFO, "|", TEXT_CALL, TEXT_HOLD,
        TEXT_TRANSFER, TEXT_HANGUP, "|", TEXT_MINIMIZE, TEXT_EXIT };
    QCOMPARE(actionTexts(rightActions), rightOrder);

    // The tray menu: same objects, "open" instead of "minimise".
    QMenu *trayMenu = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        auto *menu = qobject_cast<QMenu *>(top);
        if (menu && menu->actions().size() == 11 && menu->actions().at(9)->text() == TEXT_OPEN)
            trayMenu = menu;
    }
    QVERIFY(trayMenu);
    QStringList trayOrder = rightOrder;
    trayOrder[9] = TEXT_OPEN;
    QCOMPARE(actionTexts(trayMenu->actions()), trayOrder);
    for (int i : { 0, 1, 2, 4, 5, 6, 7, 10 })
        QCOMPARE(trayMenu->actions().at(i), rightActions.at(i));

    // The version action opens one about window, the open action shows the hidden bar.
    trayMenu->actions().at(2)->trigger();
    trayMenu->actions().at(2)->trigger();
    QCOMPARE(w->findChildren<AboutWindow *>().size(), 1);
    QVERIFY(w->findChild<AboutWindow *>()->isVisible());
    w->hide();
    trayMenu->actions().at(9)->trigger();
    QVERIFY(w->isVisible());
}

void tst_MainWindow::aboutWindow()
{
    QWidget parent;
    AboutWindow about(&parent);
    QCOMPARE(about.size(), QSize(362, 97));
    QCOMPARE(about.windowTitle(), APP_TITLE);
    QVERIFY(about.isWindow());
    const QString year = QString::number(QDate::currentDate().year());
    QCOMPARE(
        about.findChild<QLabel *>("versionLabel")->text(), QStringLiteral("Orvane Softphone Tarsel 1.2.0"));
    const QString copyright = about.findChild<QLabel *>("copyrightLabel")->text();
    QVERIFY2(copyright.contains(year) && !copyright.contains("%1"), qPrintable(copyright));
}

void tst_MainWindow::everyTextFitsItsLabel_data()
{
    // The desktop's font size: Qt's own default, and what desktops commonly set.
    QTest::addColumn<int>("pointSize");
    for (int size : { 9, 10, 11, 12 })
        QTest::addRow("%d pt", size) << size;
}

void tst_MainWindow::everyTextFitsItsLabel()
{
    QFETCH(int, pointSize);
    const QFont oldFont = QApplication::font();
    QFont desktop = oldFont;
    desktop.setPointSize(pointSize);
    QApplication::setFont(desktop);
    const auto restore = qScopeGuard([&] { QApplication::setFont(oldFont); });

    const auto fits = [](const QLabel *label, const QString &text) {
        const int needed = QFontMetrics(label->font()).horizontalAdvance(text);
        return needed <= label->contentsRect().width() ? QString()
                                                       : QStringLiteral("%1: \"%2\" needs %3 px, has %4 px")
                                                             .arg(label->objectName(), text)
                                                             .arg(needed)
                                                             .arg(label->contentsRect().width());
    };
    QStringList clipped;
    {
        BarFixture bar;
        const QStringList statuses = { MSG_AUTHENTICATING, MSG_AUTH_FAILED, MSG_NOT_AUTHENTICATED,
            MSG_READY_TO_DIAL, MSG_CALLING, MSG_INCOMING, MSG_IN_CALL, MSG_ONLINE, MSG_ON_HOLD,
            MSG_REMOTE_HOLD, MSG_ENTER_TRANSFER_NUMBER, MSG_TRANSFER_CALLING, MSG_TRANSFER_IN_CALL,
            MSG_TRANSFER_ON_HOLD, MSG_TRANSFER_REMOTE_HOLD, MSG_NO_TRANSFER_SOURCE };
        for (const QString &status : statuses)
            clipped << fits(bar.label("dialogStatus"), status);
        clipped << fits(bar.label("numberInputMessage"), TEXT_NUMBER_INPUT_HINT);
        clipped << fits(bar.label("phoneNumberLabel"), MSG_TRANSFER_DONE);
        clipped << fits(bar.label("phoneNumberLabel"), MSG_TRANSFER_UNKNOWN);
        clipped << fits(bar.label("versionLabel"), APP_VERSION);
        // The form's geometry stays.
        QCOMPARE(bar.label("dialogStatus")->geometry(), QRect(36, 23, 151, 21));
        QCOMPARE(bar.label("numberInputMessage")->geometry(), QRect(360, 15, 151, 20));
    }
    QWidget parent;
    AboutWindow about(&parent);
    for (const char *name : { "versionLabel", "copyrightLabel" }) {
        const QLabel *label = about.findChild<QLabel *>(name);
        clipped << fits(label, label->text());
    }
    QCOMPARE(about.size(), QSize(362, 97));
    clipped.removeAll(QString());
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
}

void tst_MainWindow::phoneMessage()
{
    BarFixture bar;
    QString title, text;
    answerMessageBox(QStringLiteral("&Yes"), &title, &text);
    bar.window()->slot_show_phone_message(MSG_NO_TRANSFER_SOURCE);
    QCOMPARE(title, TITLE_CONFIRM_MESSAGE);
    QCOMPARE(text, MSG_NO_TRANSFER_SOURCE);
}

void tst_MainWindow::exitAnsweredNo()
{
    BarFixture bar;
    bar.window()->show();
    QString title, text;
    answerMessageBox(TEXT_NO, &title, &text);
    bar.window()->slot_right_menu_exit_clicked();
    QCOMPARE(title, TITLE_EXIT_CONFIRM);
    QCOMPARE(text, MSG_EXIT_CONFIRM);
    QVERIFY(bar.window()->isVisible());
    QVERIFY(bar.phone()->isRunning());
    QVERIFY(!QApplication::quitOnLastWindowClosed());
}

void tst_MainWindow::exitAnsweredYes()
{
    BarFixture bar;
    bar.window()->show();
    QString title, text;
    answerMessageBox(TEXT_YES, &title, &text);
    bar.window()->slot_right_menu_exit_clicked();
    QVERIFY(bar.phone()->isFinished());
    QVERIFY(!bar.window()->isVisible());
    QVERIFY(QApplication::quitOnLastWindowClosed());
    QApplication::setQuitOnLastWindowClosed(false);
}

void tst_MainWindow::closeOnlyHides()
{
    BarFixture bar;
    MainWindow *w = bar.window();
    w->show();
    QVERIFY(!w->close());
    QVERIFY(!w->isVisible());
    QVERIFY(bar.phone()->isRunning());
    // Without a system tray the close button must not hide the bar for good.
    w->show();
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    QTest::mouseClick(bar.button("closeButton"), Qt::LeftButton);
    QVERIFY(w->isVisible());
}

void tst_MainWindow::closingAnotherWindowWhileHiddenKeepsRunning()
{
    // A fresh process quits on its last window by default; the bar must change that itself.
    QApplication::setQuitOnLastWindowClosed(true);
    BarFixture bar;
    MainWindow *w = bar.window();
    w->show();
    w->hide(); // into the tray
    // Quitting is decided inside the event loop: run it, close the version window there and
    // end the loop with a code of our own a little later.
    QTimer::singleShot(0, w, [w] {
        w->slot_about_menu_clicked();
        auto *about = w->findChild<AboutWindow *>();
        QVERIFY(about && about->isVisible());
        about->close();
        QTimer::singleShot(500, [] { QCoreApplication::exit(42); });
    });
    QCOMPARE(QApplication::exec(), 42);
    QVERIFY(!w->findChild<AboutWindow *>()->isVisible());
    QVERIFY(bar.phone()->isRunning());
}

void tst_MainWindow::dragWithLeftButtonOnly()
{
    BarFixture bar;
    MainWindow *w = bar.window();
    w->move(100, 100);
    w->show();
    const QPoint start = w->pos();
    auto drag = [w](Qt::MouseButton button, QPoint by) {
        const QPoint local(20, 20);
        QMouseEvent press(
            QEvent::MouseButtonPress, local, w->mapToGlobal(local), button, button, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        const QPoint to = local + by;
        QMouseEvent move(
            QEvent::MouseMove, to, w->mapToGlobal(local) + by, Qt::NoButton, button, Qt::NoModifier);
        QApplication::sendEvent(w, &move);
    };
    drag(Qt::RightButton, QPoint(50, 30));
    QCOMPARE(w->pos(), start);
    drag(Qt::LeftButton, QPoint(50, 30));
    QCOMPARE(w->pos(), start + QPoint(50, 30));
}

void tst_MainWindow::trayDoubleClickShows()
{
    BarFixture bar;
    MainWindow *w = bar.window();
    w->hide();
    w->slot_system_tray_icon_clicked(QSystemTrayIcon::Trigger);
    w->slot_system_tray_icon_clicked(QSystemTrayIcon::Context);
    QVERIFY(!w->isVisible());
    w->slot_system_tray_icon_clicked(QSystemTrayIcon::DoubleClick);
    QVERIFY(w->isVisible());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
