#include "ui/mainwindow/mainwindow.h"
#include "store/settingskeys.h"
#include "ui_mainwindow.h"

#include "app/appdir.h"
#include "app/constants.h"
#include "app/dialrequest.h"
#include "app/messagebox.h"
#include "app/vellogger.h"
#include "phone/velphone.h"
#include "store/veldata.h"
#include "ui/history/historywindow.h"
#include "ui/mainwindow/aboutwindow.h"
#include "ui/mainwindow/barsounds.h"
#include "ui/mainwindow/calltime.h"
#include "ui/mainwindow/labelfit.h"
#include "ui/operator/operatorstatus.h"
#include "ui/outlink/dialogincommingwindow.h"
#include "ui/outlink/outlinksetting.h"
#include "ui/outlink/popupslide.h"
#include "ui/outlink/remotesite.h"
#include "ui/settings/accountsetting.h"
#include "ui/settings/othersetting.h"
#include "ui/settings/settingwindow.h"

#include <QApplication>
#include <QAudioOutput>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDebug>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegExp>
#include <QScreen>
#include <QThread>
#include <QTime>
#include <QTimer>

namespace {

const QString DATE_FORMAT = QStringLiteral("yyyy-MM-dd hh:mm:ss");
const QString ZERO_DURATION = QStringLiteral("00:00:00");
const QString FIRST_SECOND = QStringLiteral("00:00:01");

constexpr int CLEAR_HOLD_MS = 1000;
constexpr int CALL_TICK_MS = 1000;
constexpr int DIAL_WAIT_FOR_REGISTRATION_MS = 30000;

QString call_time_since(const QDateTime &start)
{
    return call_time_between(start, QDateTime::currentDateTime());
}
} // namespace

// The images are compiled into a static library, where nothing refers to them: naming their
// registration here makes the linker keep them in every program that has the bar.
static void register_images()
{
    Q_INIT_RESOURCE(images);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    register_images();
    // The bar lives on in the tray: closing the last visible window (a dialog, the version
    // window) must not end the program; only the exit confirmation does.
    QApplication::setQuitOnLastWindowClosed(false);
    ui->setupUi(this);

    AppDir::makeDataDirectories();
    qRegisterMetaType<QMap<QString, QString>>("QMap<QString, QString>");

    m_clearHoldTimer = new QTimer(this);
    m_logger = new VelLogger(this);
    m_store = new VelData(this);
    m_callTimer = new QTimer(this);
    m_delayHiddenTimer = new QTimer(this);

    m_phone = new VelPhone(this, m_store, m_logger);
    // Connected before the engine runs: a registrar that answers at once would otherwise
    // report the registration before anyone listens, and the lamp would stay off. The slots
    // run from the event loop, after this constructor has built what they use.
    connect(m_phone, &VelPhone::signal_registration_state, this,
        &MainWindow::slot_phone_registration_state_change);
    connect(m_phone, &VelPhone::signal_received_dialog, this, &MainWindow::slot_received_dialog);
    connect(m_phone, &VelPhone::signal_update_dialog_status, this, &MainWindow::slot_update_dialog_status);
    connect(m_phone, &VelPhone::signal_dialog_end, this, &MainWindow::slot_dialog_end);
    connect(m_phone, &VelPhone::signal_media_encryption, this, &MainWindow::slot_media_encryption);
    connect(
        m_phone, &VelPhone::signal_start_count_dialog_time, this, &MainWindow::slot_start_count_dialog_time);
    connect(m_phone, &VelPhone::signal_show_operator_login, this, &MainWindow::slot_show_operator_login);
    connect(m_phone, &VelPhone::signal_clear_phone_number, this, &MainWindow::slot_clear_phone_number);
    connect(m_phone, &VelPhone::signal_show_phone_message, this, &MainWindow::slot_show_phone_message);
    connect(m_phone, &VelPhone::signal_set_phone_number, this, &MainWindow::slot_set_phone_number);
    connect(m_phone, &VelPhone::signal_show_transfer_call_result, this,
        &MainWindow::slot_show_transfer_call_result);
    connect(m_phone, &VelPhone::signal_play_hold_music, this, &MainWindow::slot_play_hold_music);
    connect(m_phone, &VelPhone::signal_stop_hold_music, this, &MainWindow::slot_stop_hold_music);
    connect(m_phone, &VelPhone::signal_play_terminated_audio, this, &MainWindow::slot_play_terminated_audio);
    set_up_click_to_dial();
    m_phone->start(QThread::InheritPriority);

    m_lastCallDuration = ZERO_DURATION;
    m_operatorStatus = new OperatorStatus(m_store, m_phone, m_logger, this);
    m_network = m_operatorStatus->network_manager();
    m_historyWindow = new HistoryWindow(this, m_store);
    m_transferResultTimer = new QTimer(this);
    ui->userId->setText(m_store->get_account_settings().value(KEY_USER_ID));
    m_sounds = new BarSounds(m_store, m_logger, this);

    const bool alwaysTop = m_store->get_general_settings().value(KEY_ALWAYS_TOP) == QLatin1String("1");
    setWindowFlags(alwaysTop ? Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint : Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(APP_TITLE);
    ui->mainFrame->setStyleSheet(STYLE_MAIN_FRAME);
    ui->screenGroupBox->setStyleSheet(STYLE_SCREEN_GROUP);
    ui->onlineStatus->setStyleSheet(STYLE_STATUS_OFFLINE);
    ui->dialogButton->setStyleSheet(STYLE_DIAL_BUTTON);
    ui->pauseButton->setStyleSheet(STYLE_PAUSE_BUTTON);
    ui->transferButton->setStyleSheet(STYLE_TRANSFER_BUTTON);
    ui->terminateButton->setStyleSheet(STYLE_TERMINATE_BUTTON);
    for (QWidget *button : { static_cast<QWidget *>(ui->dialogButton),
             static_cast<QWidget *>(ui->pauseButton), static_cast<QWidget *>(ui->transferButton),
             static_cast<QWidget *>(ui->terminateButton), static_cast<QWidget *>(ui->deleteButton),
             static_cast<QWidget *>(ui->settingButton), static_cast<QWidget *>(ui->historyButton),
             static_cast<QWidget *>(ui->logoButton), static_cast<QWidget *>(ui->closeButton) })
        button->setCursor(Qt::PointingHandCursor);
    ui->deleteButton->hide();
    ui->versionLabel->setText(APP_VERSION);
    // Every text these labels can show is whole at the form's width.
    fit_label_font(ui->dialogStatus,
        { MSG_AUTHENTICATING, MSG_AUTH_FAILED, MSG_NOT_AUTHENTICATED, MSG_READY_TO_DIAL, MSG_CALLING,
            MSG_INCOMING, MSG_IN_CALL, MSG_ONLINE, MSG_ON_HOLD, MSG_REMOTE_HOLD, MSG_ENTER_TRANSFER_NUMBER,
            MSG_TRANSFER_CALLING, MSG_TRANSFER_IN_CALL, MSG_TRANSFER_ON_HOLD, MSG_TRANSFER_REMOTE_HOLD,
            MSG_NO_TRANSFER_SOURCE });
    fit_label_font(ui->numberInputMessage, { TEXT_NUMBER_INPUT_HINT });
    fit_label_font(ui->phoneNumberLabel, { MSG_TRANSFER_DONE, MSG_TRANSFER_UNKNOWN });
    fit_label_font(ui->versionLabel, { APP_VERSION });
    ui->phoneNumberLabel->setStyleSheet(STYLE_PHONE_NUMBER_LABEL);
    ui->buttonGroup->setStyleSheet(STYLE_BUTTON_GROUP);
    ui->historyButton->setStyleSheet(STYLE_HISTORY_BUTTON);
    ui->settingButton->setStyleSheet(STYLE_SETTING_BUTTON);

    build_menus();

    const QMap<QString, QString> account = m_store->get_account_settings();
    if (account.value(KEY_ADDRESS).isEmpty() && account.value(KEY_PORT).isEmpty()
        && account.value(KEY_USER_ID).isEmpty() && account.value(KEY_PASSWORD).isEmpty())
        slot_setting_button_clicked();

    connect(m_clearHoldTimer, &QTimer::timeout, this, &MainWindow::slot_clear_button_long_pressed);
    connect(m_callTimer, &QTimer::timeout, this, &MainWindow::slot_update_count_dialog_time);
    connect(m_network, &QNetworkAccessManager::finished, this, &MainWindow::slot_set_op_status_finished);
    connect(m_network, &QNetworkAccessManager::sslErrors, this, &MainWindow::slot_ssl_error_handler);
    connect(m_historyWindow, &HistoryWindow::signal_send_call, this,
        &MainWindow::slot_send_call_from_history_window);
    connect(m_delayHiddenTimer, &QTimer::timeout, this, &MainWindow::slot_dalay_hidden_remote_window_timer);
    connect(m_transferResultTimer, &QTimer::timeout, this, &MainWindow::slot_clear_transfer_result_message);
    connect(m_sounds->tone_trigger(), &QThread::started, this, &MainWindow::slot_started_play_audio);
    connect(m_sounds->tone_trigger(), &QThread::finished, this, &MainWindow::slot_finished_play_audio);
}

MainWindow::~MainWindow()
{
    // Normally the exit confirmation has stopped the engine already; a window destroyed
    // otherwise must not leave the engine thread running on a deleted store.
    m_phone->stop();
    m_phone->wait();
    // The web view goes before its profile and before the application object.
    delete m_incomingWindow;
    delete m_remoteSite;
    // The sounds' outputs go while the window is whole (see BarSounds' destructor).
    delete m_sounds;
    delete m_rightMenu;
    delete m_trayIcon;
    delete m_trayMenu;
    delete m_phone;
    delete m_store;
    delete m_logger;
    delete ui;
}

void MainWindow::build_menus()
{
    m_rightMenu = new QMenu;
    m_settingAction = new QAction(TEXT_SETTING, this);
    m_historyAction = new QAction(TEXT_HISTORY, this);
    m_versionAction = new QAction(TEXT_VERSION_INFO, this);
    m_callAction = new QAction(TEXT_CALL, this);
    m_holdAction = new QAction(TEXT_HOLD, this);
    m_transferAction = new QAction(TEXT_TRANSFER, this);
    m_hangupAction = new QAction(TEXT_HANGUP, this);
    m_minimizeAction = new QAction(TEXT_MINIMIZE, this);
    m_exitAction = new QAction(TEXT_EXIT, this);
    m_separator1 = new QAction(this);
    m_separator1->setSeparator(true);
    m_separator2 = new QAction(this);
    m_separator2->setSeparator(true);
    connect(m_settingAction, &QAction::triggered, this, &MainWindow::slot_setting_button_clicked);
    connect(m_historyAction, &QAction::triggered, this, &MainWindow::slot_history_button_clicked);
    connect(m_versionAction, &QAction::triggered, this, &MainWindow::slot_about_menu_clicked);
    connect(m_callAction, &QAction::triggered, this, &MainWindow::slot_dialog_button_clicked);
    connect(m_holdAction, &QAction::triggered, this, &MainWindow::slot_pause_button_clicked);
    connect(m_transferAction, &QAction::triggered, this, &MainWindow::slot_transfer_button_clicked);
    connect(m_hangupAction, &QAction::triggered, this, &MainWindow::slot_terminate_button_clicked);
    connect(m_minimizeAction, &QAction::triggered, this, &MainWindow::slot_close_button_clicked);
    connect(m_exitAction, &QAction::triggered, this, &MainWindow::slot_right_menu_exit_clicked);

    m_trayIcon = new QSystemTrayIcon(QIcon(APP_ICON), this);
    m_trayMenu = new QMenu;
    m_openAction = new QAction(TEXT_OPEN, this);
    m_trayMenu->addActions({ m_settingAction, m_historyAction, m_versionAction, m_separator1, m_callAction,
        m_holdAction, m_transferAction, m_hangupAction, m_separator2, m_openAction, m_exitAction });
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_openAction, &QAction::triggered, this, &QWidget::showNormal);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::slot_system_tray_icon_clicked);
    m_trayIcon->setToolTip(APP_TITLE);
    m_trayIcon->setVisible(true);
    setWindowIcon(QIcon(APP_ICON));
}

// ---- Window behaviour -------------------------------------------------------------------

void MainWindow::slot_close_button_clicked()
{
    // Without a system tray the bar could never be brought back, so it stays.
    if (m_trayIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable())
        hide();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_exitConfirmed) {
        event->accept();
        return;
    }
    event->ignore();
    hide();
}

void MainWindow::contextMenuEvent(QContextMenuEvent *event)
{
    m_rightMenu->clear();
    m_rightMenu->addActions({ m_settingAction, m_historyAction, m_versionAction, m_separator1, m_callAction,
        m_holdAction, m_transferAction, m_hangupAction, m_separator2, m_minimizeAction, m_exitAction });
    m_rightMenu->exec(QCursor::pos());
    event->accept();
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint offset = event->globalPos() - frameGeometry().topLeft();
    m_dragX = offset.x();
    m_dragY = offset.y();
    event->accept();
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() != Qt::LeftButton)
        return;
    move(event->globalPos() - QPoint(m_dragX, m_dragY));
    event->accept();
}

void MainWindow::slot_system_tray_icon_clicked(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick)
        show();
}

void MainWindow::slot_right_menu_exit_clicked()
{
    QApplication::setQuitOnLastWindowClosed(false);
    QMessageBox box(QMessageBox::Question, TITLE_EXIT_CONFIRM, MSG_EXIT_CONFIRM,
        QMessageBox::Ok | QMessageBox::No, nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.setWindowFlags(Qt::WindowStaysOnTopHint);
    box.button(QMessageBox::Ok)->setText(TEXT_YES);
    box.button(QMessageBox::No)->setText(TEXT_NO);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Ok)
        return;
    m_phone->stop();
    m_phone->wait();
    QApplication::setQuitOnLastWindowClosed(true);
    m_exitConfirmed = true;
    close();
}

void MainWindow::slot_setting_button_clicked()
{
    if (!m_settingWindow) {
        m_settingWindow = new SettingWindow(this, m_store, m_phone);
        connect(m_settingWindow, &SettingWindow::signal_reset_operator_status, this,
            &MainWindow::slot_reset_operator_status);
        connect(m_settingWindow, &SettingWindow::signal_reset_remote_site, this,
            &MainWindow::slot_reset_remote_site);
    }
    m_settingWindow->activateWindow();
    if (m_settingWindow->isHidden())
        m_settingWindow->show();
}

void MainWindow::slot_history_button_clicked()
{
    m_historyWindow->activateWindow();
    if (m_historyWindow->isHidden())
        m_historyWindow->show();
}

void MainWindow::slot_logo_clicked()
{
    QDesktopServices::openUrl(PRODUCT_URL);
}

void MainWindow::slot_account_menu_clicked()
{
    if (!m_accountSetting)
        m_accountSetting = new AccountSetting(this, m_store, m_phone);
    if (m_accountSetting->isHidden())
        m_accountSetting->show();
}

void MainWindow::slot_outlink_menu_clicked()
{
    if (!m_outlinkSetting)
        m_outlinkSetting = new OutlinkSetting(this, m_store);
    if (m_outlinkSetting->isHidden())
        m_outlinkSetting->show();
}

void MainWindow::slot_other_menu_clicked()
{
    if (!m_otherSetting)
        m_otherSetting = new OtherSetting(this, m_store, m_phone);
    if (m_otherSetting->isHidden())
        m_otherSetting->show();
}

void MainWindow::slot_about_menu_clicked()
{
    if (!m_aboutWindow)
        m_aboutWindow = new AboutWindow(this);
    if (m_aboutWindow->isHidden())
        m_aboutWindow->show();
}

// ---- State display and call timer -------------------------------------------------------

void MainWindow::slot_phone_registration_state_change(QString state, QString userId)
{
    ui->onlineStatus->setStyleSheet(
        state == REG_STATUS_SUCCESSFUL ? STYLE_STATUS_ONLINE : STYLE_STATUS_OFFLINE);
    if (state == REG_STATUS_PROGRESS)
        ui->dialogStatus->setText(MSG_AUTHENTICATING);
    else if (state == REG_STATUS_FAILED)
        ui->dialogStatus->setText(MSG_AUTH_FAILED);
    else if (state == REG_STATUS_UNREGISTER)
        ui->dialogStatus->setText(MSG_NOT_AUTHENTICATED);
    ui->userId->setText(userId);
    // With a caller's page configured, the web engine starts once the bar is up and registered,
    // when nothing else waits: the popup is built hidden, so the first caller's page comes as
    // fast as later ones. Without one, the web engine never enters the process.
    if (state == REG_STATUS_SUCCESSFUL && !m_remoteSite)
        QTimer::singleShot(0, this, [this] {
            if (!m_remoteSite && !m_store->get_outlink_settings().value(KEY_SIMPLE_URL).isEmpty())
                create_remote_site();
        });
    if (m_trayIcon)
        m_trayIcon->setToolTip(APP_TITLE + TEXT_TRAY_EXTENSION + userId);
}

void MainWindow::slot_received_dialog(QMap<QString, QString> params)
{
    if (params.value(KEY_CALLER_ID) == m_store->get_account_settings().value(KEY_USER_ID)) {
        slot_dialog_button_clicked();
        return;
    }
    if (!m_store->get_outlink_settings().value(KEY_SIMPLE_URL).isEmpty())
        show_remote_site(params);
    else
        show_incoming_window();
    ui->numberInputMessage->hide();
    ui->phoneNumberLabel->setText(m_phone->get_remote_number());
    ui->deleteButton->hide();
}

void MainWindow::show_remote_site(const QMap<QString, QString> &params)
{
    // A new call while the previous caller's page is still up (or sliding out) takes the
    // window back at once, without hiding it first (that would flicker).
    m_delayHiddenTimer->stop();
    create_remote_site();
    m_remoteSiteSlide->show_in_corner();
    m_remoteSite->set_webview_params(params);
    if (!m_remoteSite->isVisible())
        m_remoteSite->show();
}

void MainWindow::create_remote_site()
{
    if (!m_remoteSite) {
        m_remoteSite = new RemoteSite(this, m_phone, m_store);
        m_remoteSiteSlide = new PopupSlide(m_remoteSite);
        connect(m_remoteSiteSlide, &PopupSlide::finished, this, &MainWindow::slot_animation_finished);
        connect(m_remoteSite, &RemoteSite::signal_show_main_window, this, &MainWindow::slot_show_main_window);
        connect(m_remoteSite, &RemoteSite::signal_set_not_delay_hidden_reomote_window, this,
            &MainWindow::slot_set_not_delay_hidden_remote_window);
        connect(m_remoteSite, &RemoteSite::signal_dial_link, this, &MainWindow::slot_dial_link);
    }
}

void MainWindow::show_incoming_window()
{
    if (!m_incomingWindow) {
        m_incomingWindow = new DialogIncommingWindow(this, m_phone);
        connect(m_incomingWindow, &DialogIncommingWindow::signal_dialog_accept, this,
            &MainWindow::slot_accept_dialog_from_incomming_window);
        m_incomingWindow->move(popup_corner(m_incomingWindow));
    }
    if (!m_incomingWindow->isVisible())
        m_incomingWindow->show();
}

void MainWindow::slide_out_remote_site()
{
    m_remoteSiteSlide->slide_out();
}

void MainWindow::slot_update_dialog_status(QString status)
{
    ui->dialogStatus->setText(status);
}

void MainWindow::slot_media_encryption(bool encrypted)
{
    // A tooltip rather than more text: the bar's status keeps its texts and its size.
    ui->dialogStatus->setToolTip(encrypted ? TEXT_MEDIA_ENCRYPTED : QString());
}

void MainWindow::slot_dialog_end(int callResult, const QString &remoteNumber)
{
    ui->dialogStatus->setToolTip(QString());
    if (m_remoteSite && m_remoteSite->isVisible()) {
        if (m_hideRemoteSiteWithoutDelay)
            slide_out_remote_site();
        else
            m_delayHiddenTimer->start(m_store->get_delay_hidden_remote_window() * 1000);
    }
    if (m_incomingWindow && m_incomingWindow->isVisible())
        m_incomingWindow->hide();
    ui->phoneNumberLabel->clear();
    ui->deleteButton->hide();
    ui->dialogTime->clear();
    m_callTimer->stop();
    slot_stop_hold_music();

    m_lastCallDuration = call_time_since(m_callStartTime);
    // The ended call's own values: the engine may already be presenting the next call.
    const int result = callResult;
    QMap<QString, QString> row;
    row[HISTORY_ROW_STATUS] = QString::number(result);
    row[HISTORY_ROW_PHONE_NUMBER] = remoteNumber;
    row[HISTORY_ROW_DIALOG_TIME] = result == HISTORY_INCOMING_MISSED || result == HISTORY_OUTGOING_UNANSWERED
        ? ZERO_DURATION
        : m_lastCallDuration;
    row[HISTORY_ROW_DIALOG_DATE] = QDateTime::currentDateTime().toString(DATE_FORMAT);
    row[HISTORY_ROW_DELETE_FLG] = QStringLiteral("0");
    m_historyWindow->add_history(row);

    ui->numberInputMessage->show();
    m_logger->log(m_lastCallDuration, LEVEL_INFO);
}

void MainWindow::slot_start_count_dialog_time()
{
    if (m_incomingWindow && m_incomingWindow->isVisible())
        m_incomingWindow->hide();
    if (m_callTimer->isActive())
        return;
    ui->dialogTime->setText(FIRST_SECOND);
    m_callTimer->start(CALL_TICK_MS);
    m_callStartTime = QDateTime::currentDateTime();
}

void MainWindow::slot_update_count_dialog_time()
{
    ui->dialogTime->setText(call_time_since(m_callStartTime));
}

void MainWindow::slot_clear_phone_number()
{
    ui->phoneNumberLabel->clear();
    ui->deleteButton->hide();
}

void MainWindow::slot_set_phone_number(QString phoneNumber)
{
    ui->phoneNumberLabel->setText(phoneNumber);
}

void MainWindow::slot_show_phone_message(QString message)
{
    MessageBox::show(QMessageBox::Information, TITLE_CONFIRM_MESSAGE, message);
}

void MainWindow::slot_show_transfer_call_result(QString text)
{
    ui->numberInputMessage->hide();
    ui->phoneNumberLabel->setText(text);
    if (!m_transferResultTimer->isActive())
        m_transferResultTimer->start(m_transferResultDisplayTime);
}

void MainWindow::slot_clear_transfer_result_message()
{
    ui->phoneNumberLabel->clear();
    m_transferResultTimer->stop();
    ui->numberInputMessage->show();
}

void MainWindow::slot_accept_dialog_from_incomming_window()
{
    show();
    if (m_incomingWindow)
        m_incomingWindow->hide();
}

void MainWindow::slot_show_main_window()
{
    show();
}

void MainWindow::slot_show_operator_login() { }

void MainWindow::slot_reset_remote_site() { }

// ---- Operator status ----------------------------------------------------------------------

void MainWindow::slot_operator_status_change(int index)
{
    m_operatorStatus->operator_status_change(index);
}

void MainWindow::slot_set_op_status_finished(QNetworkReply *reply)
{
    m_operatorStatus->set_op_status_finished(reply);
}

void MainWindow::slot_set_op_status(QString username, QString password)
{
    m_operatorStatus->set_op_status(username, password);
}

void MainWindow::slot_reset_user_status_combox()
{
    m_operatorStatus->reset_user_status_combox();
}

void MainWindow::slot_ssl_error_handler(QNetworkReply *reply, QList<QSslError> errlist)
{
    m_operatorStatus->ssl_error_handler(reply, errlist);
}

void MainWindow::slot_reset_operator_status(QString operatorAddress)
{
    m_operatorStatus->reset_operator_status(operatorAddress);
}

// ---- Remote site ------------------------------------------------------------------------

void MainWindow::slot_animation_finished()
{
    if (m_remoteSite)
        m_remoteSite->hide();
}

void MainWindow::slot_dalay_hidden_remote_window_timer()
{
    m_delayHiddenTimer->stop();
    slide_out_remote_site();
}

void MainWindow::slot_set_not_delay_hidden_remote_window()
{
    m_hideRemoteSiteWithoutDelay = true;
}

// ---- Number entry and call buttons ------------------------------------------------------

void MainWindow::apply_hint_rule()
{
    ui->numberInputMessage->setVisible(ui->phoneNumberLabel->text().isEmpty() && m_phone->is_idle());
}

void MainWindow::remove_last_digit()
{
    QString number = ui->phoneNumberLabel->text();
    number.chop(1);
    ui->phoneNumberLabel->setText(number);
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_unknown)
        return;
    if (event->modifiers() == Qt::ControlModifier && key == Qt::Key_V) {
        // Numbers copied from Japanese pages often come in full-width digits: compatibility
        // normalisation makes them ASCII before everything else is dropped.
        const QString digits = QApplication::clipboard()
                                   ->text()
                                   .normalized(QString::NormalizationForm_KC)
                                   .remove(QRegExp(QStringLiteral("[^0-9]")));
        if (!digits.isEmpty()) {
            ui->phoneNumberLabel->setText(ui->phoneNumberLabel->text() + digits);
            ui->deleteButton->show();
        }
    } else if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt) {
        return;
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (!ui->phoneNumberLabel->text().isEmpty())
            m_phone->request_dial(ui->phoneNumberLabel->text());
        ui->deleteButton->hide();
    } else if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
        if (ui->phoneNumberLabel->text().isEmpty()) {
            ui->deleteButton->hide();
        } else if (!ui->deleteButton->isHidden()) {
            remove_last_digit();
            if (ui->phoneNumberLabel->text().isEmpty())
                ui->deleteButton->hide();
        }
    } else if ((key >= Qt::Key_0 && key <= Qt::Key_9) || event->text() == QLatin1String("*")
        || event->text() == QLatin1String("#")) {
        if (!event->text().isEmpty())
            digit_entry(event->text());
    }
    apply_hint_rule();
}

void MainWindow::digit_entry(const QString &key)
{
    m_sounds->play_key_tone(key);
    if (ui->phoneNumberLabel->text().isEmpty())
        ui->deleteButton->show();
    ui->phoneNumberLabel->setText(ui->phoneNumberLabel->text() + key);
    if (m_phone->is_in_call())
        m_phone->send_dtmf(key.at(0).toLatin1());
}

void MainWindow::slot_clear_button_pressed()
{
    ui->deleteButton->setStyleSheet(STYLE_DELETE_BUTTON_CLICKED);
    if (!m_clearHoldTimer->isActive())
        m_clearHoldTimer->start(CLEAR_HOLD_MS);
}

void MainWindow::slot_clear_button_long_pressed()
{
    ui->phoneNumberLabel->clear();
}

void MainWindow::slot_clear_button_released()
{
    ui->deleteButton->setStyleSheet(STYLE_DELETE_BUTTON);
    if (!ui->phoneNumberLabel->text().isEmpty()) {
        remove_last_digit();
        if (!ui->phoneNumberLabel->text().isEmpty()) {
            m_clearHoldTimer->stop();
            return;
        }
    }
    ui->deleteButton->hide();
    if (m_phone->is_idle())
        ui->numberInputMessage->show();
    m_clearHoldTimer->stop();
}

void MainWindow::slot_dialog_button_clicked()
{
    if (m_phone->is_incoming_ringing()) {
        m_phone->request_answer();
        ui->deleteButton->hide();
        return;
    }
    if (!ui->phoneNumberLabel->text().isEmpty()) {
        m_phone->request_dial(ui->phoneNumberLabel->text());
        ui->deleteButton->hide();
        return;
    }
    if (m_phone->get_phone_state() == PHONE_READY) {
        const QString last = m_phone->get_last_dialled_number();
        if (!last.isEmpty()) {
            ui->numberInputMessage->hide();
            ui->phoneNumberLabel->setText(last);
            ui->deleteButton->show();
        }
    }
}

void MainWindow::slot_pause_button_clicked()
{
    m_phone->request_hold();
}

void MainWindow::slot_transfer_button_clicked()
{
    if (m_phone->is_in_call() && transfer_to_handed_over_number())
        return;
    if (m_phone->is_in_call()) {
        ui->phoneNumberLabel->clear();
        ui->deleteButton->hide();
    }
    m_phone->request_transfer(ui->phoneNumberLabel->text());
}

void MainWindow::slot_terminate_button_clicked()
{
    m_hideRemoteSiteWithoutDelay = true;
    m_phone->request_hangup();
}

void MainWindow::slot_send_call_from_history_window(QString phoneNumber)
{
    if (phoneNumber.isEmpty() || m_phone->get_phone_state() != PHONE_READY)
        return;
    ui->numberInputMessage->hide();
    m_phone->request_dial(phoneNumber);
    ui->phoneNumberLabel->setText(phoneNumber);
    show();
    m_historyWindow->hide();
}

// ---- Click to dial ----------------------------------------------------------------------

void MainWindow::set_up_click_to_dial()
{
    m_pendingDialTimer = new QTimer(this);
    m_pendingDialTimer->setSingleShot(true);
    connect(m_pendingDialTimer, &QTimer::timeout, this, [this] {
        m_logger->log(QStringLiteral("click to dial: not registered within %1 s, %2 not dialled")
                          .arg(DIAL_WAIT_FOR_REGISTRATION_MS / 1000)
                          .arg(m_pendingDial),
            LEVEL_WARNING);
        m_pendingDial.clear();
    });
    connect(m_phone, &VelPhone::signal_registration_state, this, [this](const QString &state) {
        m_registered = state == REG_STATUS_SUCCESSFUL;
        if (!m_registered || m_pendingDial.isEmpty())
            return;
        m_pendingDialTimer->stop();
        const QString number = m_pendingDial;
        m_pendingDial.clear();
        dial_handed_over(number);
    });
    // The 転送 click on a handed-over number has held the call; once the engine waits for the
    // transfer target, it gets that number, unless the operator has changed the display since.
    connect(m_phone, &VelPhone::signal_update_dialog_status, this, [this](const QString &status) {
        if (m_transferAfterHold.isEmpty() || status != MSG_ENTER_TRANSFER_NUMBER
            || m_phone->get_phone_state() != PHONE_TRANSFER_WAIT)
            return;
        if (ui->phoneNumberLabel->text() != m_transferAfterHold) {
            m_transferAfterHold.clear();
            return;
        }
        m_phone->request_transfer(m_transferAfterHold);
        m_transferAfterHold.clear();
    });
    connect(m_phone, &VelPhone::signal_dialog_end, this, [this] {
        m_handedOverNumber.clear();
        m_transferAfterHold.clear();
    });
}

void MainWindow::slot_dial_link(QString link)
{
    const DialRequest::Number parsed = DialRequest::parse_link(link);
    if (!parsed.ok()) {
        m_logger->log(
            QStringLiteral("click to dial: refused %1: %2").arg(DialRequest::for_log(link), parsed.refusal),
            LEVEL_WARNING);
        return;
    }
    if (!parsed.dropped.isEmpty())
        m_logger->log(
            QStringLiteral("click to dial: %1 left out of %2")
                .arg(DialRequest::for_log(parsed.dropped.join(QLatin1Char(' '))), DialRequest::for_log(link)),
            LEVEL_INFO);
    show();
    dial_handed_over(parsed.number);
}

void MainWindow::dial_handed_over(const QString &number)
{
    const int state = m_phone->get_phone_state();
    if (state == PHONE_RINGING || m_phone->is_incoming_ringing()) {
        m_logger->log(QStringLiteral("click to dial: %1 ignored, a call is ringing").arg(number), LEVEL_INFO);
        return;
    }
    if (state == PHONE_READY && m_phone->is_idle()) {
        if (!m_registered) {
            m_logger->log(
                QStringLiteral("click to dial: %1 waits for the registration").arg(number), LEVEL_INFO);
            m_pendingDial = number;
            m_pendingDialTimer->start(DIAL_WAIT_FOR_REGISTRATION_MS);
            show_handed_over(number);
            return;
        }
        // As if typed and Enter pressed.
        m_logger->log(QStringLiteral("click to dial: dialling %1").arg(number), LEVEL_INFO);
        show_handed_over(number);
        ui->deleteButton->hide();
        m_phone->request_dial(number);
        return;
    }
    // During a call the number waits in the display as a transfer target.
    m_logger->log(QStringLiteral("click to dial: %1 shown for a transfer").arg(number), LEVEL_INFO);
    show_handed_over(number);
    m_handedOverNumber = number;
}

void MainWindow::show_handed_over(const QString &number)
{
    m_transferResultTimer->stop();
    ui->numberInputMessage->hide();
    ui->phoneNumberLabel->setText(number);
    ui->deleteButton->show();
}

bool MainWindow::transfer_to_handed_over_number()
{
    if (m_handedOverNumber.isEmpty() || ui->phoneNumberLabel->text() != m_handedOverNumber)
        return false;
    m_transferAfterHold = m_handedOverNumber;
    m_handedOverNumber.clear();
    // The engine holds the call first and takes the target on the next request.
    m_phone->request_transfer(QString());
    return true;
}

// ---- Sounds (played by BarSounds) -------------------------------------------------------

void MainWindow::slot_started_play_audio()
{
    m_sounds->start_tone();
}

void MainWindow::slot_audio_play_state_change(QAudio::State newState)
{
    m_sounds->tone_state_changed(qobject_cast<QAudioOutput *>(sender()), newState);
}

void MainWindow::slot_finished_play_audio()
{
    qDebug() << "slot_finished_play_audio";
}

void MainWindow::slot_play_terminated_audio(QString file)
{
    qDebug() << "slot_play_terminated_audio run";
    m_sounds->play_tone(file);
}

void MainWindow::slot_play_hold_music()
{
    m_sounds->play_hold_music(HOLD_SOUND);
}

void MainWindow::slot_hold_play_state_change(QAudio::State newState)
{
    m_sounds->hold_state_changed(qobject_cast<QAudioOutput *>(sender()), newState);
}

void MainWindow::slot_stop_hold_music()
{
    m_sounds->stop_hold_music();
}
