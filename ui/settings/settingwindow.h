#pragma once

#include <QWidget>

namespace Ui {
class SettingWindow;
}
class VelData;
class VelPhone;

// The setting window opened from the bar: the SIP account on one tab, sound devices,
// microphone sensitivity, always-on-top and debug mode on the other. Fields are reloaded from
// the store every time it is shown; closing only hides it.
class SettingWindow : public QWidget
{
    Q_OBJECT
public:
    SettingWindow(QWidget *parent, VelData *store, VelPhone *phone);
    ~SettingWindow() override;

signals:
    void signal_reset_operator_status(QString operaterAddress);
    void signal_reset_remote_site();

public slots:
    void slot_save_button_clicked();
    void slot_cancel_button_clicked();
    void slot_change_password_checkbok_clicked();
    void slot_sip_address_changed();
    void slot_capture_gain_changed(int value);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool save_account();
    bool save_media_and_options();

    Ui::SettingWindow *ui;
    VelData *m_store;
    VelPhone *m_phone;
};
