#pragma once

#include <QAudio>
#include <QDateTime>
#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QSslError>
#include <QString>
#include <QSystemTrayIcon>

class AboutWindow;
class AccountSetting;
class BarSounds;
class DialogIncommingWindow;
class OutlinkSetting;
class PopupSlide;
class RemoteSite;
class HistoryWindow;
class OperatorStatus;
class OtherSetting;
class SettingWindow;
class QAction;
class QMenu;
class QNetworkAccessManager;
class QNetworkReply;
class QThread;
class QTimer;
class VelData;
class VelLogger;
class VelPhone;

namespace Ui {
class MainWindow;
}

// The bar: registration lamp, extension, call state, call timer and the number being dialled,
// beside the call buttons. Root object of the process: it owns the store, the logger, the
// telephony engine and every other window. The engine's signals all end in slots here (queued
// onto the GUI thread); what the buttons do is decided by the engine's queries at the click.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

public slots:
    void slot_close_button_clicked();
    void slot_clear_button_pressed();
    void slot_clear_button_released();
    void slot_clear_button_long_pressed();
    void slot_dialog_button_clicked();
    void slot_pause_button_clicked();
    void slot_transfer_button_clicked();
    void slot_terminate_button_clicked();
    void slot_right_menu_exit_clicked();
    void slot_setting_button_clicked();
    void slot_history_button_clicked();
    void slot_logo_clicked();
    void slot_phone_registration_state_change(QString state, QString userId);
    void slot_received_dialog(QMap<QString, QString> params);
    void slot_update_dialog_status(QString status);
    void slot_media_encryption(bool encrypted);
    void slot_dialog_end(int callResult, const QString &remoteNumber);
    void slot_start_count_dialog_time();
    void slot_update_count_dialog_time();
    void slot_show_operator_login();
    void slot_operator_status_change(int index);
    void slot_account_menu_clicked();
    void slot_outlink_menu_clicked();
    void slot_other_menu_clicked();
    void slot_about_menu_clicked();
    void slot_system_tray_icon_clicked(QSystemTrayIcon::ActivationReason reason);
    void slot_clear_phone_number();
    void slot_show_phone_message(QString message);
    void slot_set_op_status_finished(QNetworkReply *reply);
    void slot_set_op_status(QString username, QString password);
    void slot_reset_user_status_combox();
    void slot_send_call_from_history_window(QString phoneNumber);
    void slot_ssl_error_handler(QNetworkReply *reply, QList<QSslError> errlist);
    void slot_reset_operator_status(QString operatorAddress);
    void slot_accept_dialog_from_incomming_window();
    void slot_reset_remote_site();
    void slot_audio_play_state_change(QAudio::State newState);
    void slot_animation_finished();
    void slot_dalay_hidden_remote_window_timer();
    void slot_show_main_window();
    void slot_set_not_delay_hidden_remote_window();
    void slot_set_phone_number(QString phoneNumber);
    void slot_show_transfer_call_result(QString);
    void slot_clear_transfer_result_message();
    void slot_play_hold_music();
    void slot_stop_hold_music();
    void slot_hold_play_state_change(QAudio::State newState);
    void slot_started_play_audio();
    void slot_finished_play_audio();
    void slot_play_terminated_audio(QString file);
    // Click to dial: a tel:, sip:, sips: or callto: link (or a --dial number as a tel: link)
    // from the command line, a later start or the caller's page.
    void slot_dial_link(QString link);

protected:
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void build_menus();
    void digit_entry(const QString &key);
    void apply_hint_rule();
    void remove_last_digit();
    QString elapsed_call_time() const;
    void show_remote_site(const QMap<QString, QString> &params);
    // Builds the caller's page popup (hidden) and its slide-out, once.
    void create_remote_site();
    void show_incoming_window();
    void slide_out_remote_site();
    void set_up_click_to_dial();
    void dial_handed_over(const QString &number);
    void show_handed_over(const QString &number);
    bool transfer_to_handed_over_number();

    Ui::MainWindow *ui;
    QTimer *m_clearHoldTimer = nullptr;
    RemoteSite *m_remoteSite = nullptr;
    DialogIncommingWindow *m_incomingWindow = nullptr;
    AboutWindow *m_aboutWindow = nullptr;
    OutlinkSetting *m_outlinkSetting = nullptr;
    SettingWindow *m_settingWindow = nullptr;
    AccountSetting *m_accountSetting = nullptr;
    OtherSetting *m_otherSetting = nullptr;
    // The operator's CTI status: credentials, requested and confirmed status, the flags of the
    // status logic and the network manager of its request.
    OperatorStatus *m_operatorStatus = nullptr;
    HistoryWindow *m_historyWindow = nullptr;
    VelData *m_store = nullptr;
    VelLogger *m_logger = nullptr;
    VelPhone *m_phone = nullptr;
    QTimer *m_callTimer = nullptr;
    QDateTime m_callStartTime;
    QString m_lastCallDuration;
    QMenu *m_rightMenu = nullptr;
    QAction *m_settingAction = nullptr;
    QAction *m_callAction = nullptr;
    QAction *m_holdAction = nullptr;
    QAction *m_transferAction = nullptr;
    QAction *m_hangupAction = nullptr;
    QAction *m_exitAction = nullptr;
    QAction *m_historyAction = nullptr;
    QAction *m_minimizeAction = nullptr;
    QAction *m_separator1 = nullptr;
    QAction *m_separator2 = nullptr;
    QAction *m_versionAction = nullptr;
    QMenu *m_trayMenu = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QAction *m_openAction = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    // Key tones, hang-up and failure tones, hold music.
    BarSounds *m_sounds = nullptr;
    // The remote site window slides down out of the screen after a call (owned by the window).
    PopupSlide *m_remoteSiteSlide = nullptr;
    QTimer *m_delayHiddenTimer = nullptr;
    bool m_hideRemoteSiteWithoutDelay = false;
    QTimer *m_transferResultTimer = nullptr;
    qint32 m_transferResultDisplayTime = 2000;
    qint32 m_dragX = 0;
    qint32 m_dragY = 0;
    bool m_exitConfirmed = false;
    // Click to dial: a number handed over before the account registered waits (at most
    // DIAL_WAIT_FOR_REGISTRATION_MS); one handed over during a call waits in the display for
    // 転送, which first holds the call and then transfers to it.
    bool m_registered = false;
    QString m_pendingDial;
    QTimer *m_pendingDialTimer = nullptr;
    QString m_handedOverNumber;
    QString m_transferAfterHold;
};
