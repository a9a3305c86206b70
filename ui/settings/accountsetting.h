#pragma once

#include <QWidget>

namespace Ui {
class AccountSetting;
}
class VelData;
class VelPhone;

// The SIP account and the operator's CTI login on two tabs. Saving is refused during a call;
// a stored account is registered again at once.
class AccountSetting : public QWidget
{
    Q_OBJECT
public:
    AccountSetting(QWidget *parent, VelData *data, VelPhone *phone);
    ~AccountSetting() override;

public slots:
    void slot_save_button_clicked();
    void slot_cancel_button_clicked();
    void slot_sip_password_checkbox_toggled();
    void slot_operator_password_checkbox_toggled();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::AccountSetting *ui;
    VelData *data;
    VelPhone *phone;
};
