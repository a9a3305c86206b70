#include "ui/settings/accountsetting.h"
#include "store/settingskeys.h"
#include "ui_accountsetting.h"

#include "app/constants.h"
#include "app/messagebox.h"
#include "phone/velphone.h"
#include "store/veldata.h"

#include <QCloseEvent>
#include <QShowEvent>

AccountSetting::AccountSetting(QWidget *parent, VelData *data, VelPhone *phone)
    : QWidget(parent)
    , ui(new Ui::AccountSetting)
    , data(data)
    , phone(phone)
{
    ui->setupUi(this);
    connect(
        ui->showSIPPasswrod, &QCheckBox::toggled, this, &AccountSetting::slot_sip_password_checkbox_toggled);
    connect(ui->showOperatorPassword, &QCheckBox::toggled, this,
        &AccountSetting::slot_operator_password_checkbox_toggled);
    connect(ui->pushButton, &QPushButton::clicked, this, &AccountSetting::slot_save_button_clicked);
    connect(ui->pushButton_2, &QPushButton::clicked, this, &AccountSetting::slot_cancel_button_clicked);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(TITLE_ACCOUNT_SETTING);
}

AccountSetting::~AccountSetting()
{
    delete ui;
}

void AccountSetting::showEvent(QShowEvent *event)
{
    const QMap<QString, QString> account = data->get_account_settings();
    if (!account.isEmpty()) {
        ui->address->setText(account.value(KEY_ADDRESS));
        ui->port->setText(account.value(KEY_PORT));
        ui->userid->setText(account.value(KEY_USER_ID));
        ui->password->setText(account.value(KEY_PASSWORD));
        ui->operatorId->setText(account.value(KEY_OPERATOR_ID));
        ui->operatorPW->setText(account.value(KEY_OPERATOR_PW));
        if (account.value(KEY_OPERATOR_AUTO).toInt() == 1)
            ui->operatorAuto->setChecked(true);
    }
    event->accept();
}

void AccountSetting::closeEvent(QCloseEvent *event)
{
    hide();
    event->ignore();
}

void AccountSetting::slot_sip_password_checkbox_toggled()
{
    ui->password->setEchoMode(ui->showSIPPasswrod->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
}

void AccountSetting::slot_operator_password_checkbox_toggled()
{
    ui->operatorPW->setEchoMode(
        ui->showOperatorPassword->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
}

void AccountSetting::slot_save_button_clicked()
{
    const QMap<QString, QString> account { { KEY_ADDRESS, ui->address->text() },
        { KEY_PORT, ui->port->text() }, { KEY_USER_ID, ui->userid->text() },
        { KEY_PASSWORD, ui->password->text() }, { KEY_OPERATOR_ID, ui->operatorId->text() },
        { KEY_OPERATOR_PW, ui->operatorPW->text() },
        { KEY_OPERATOR_AUTO, ui->operatorAuto->isChecked() ? QStringLiteral("1") : QStringLiteral("0") } };
    if (!phone->is_idle()) {
        MessageBox::show(QMessageBox::Warning, MSG_CANNOT_SET, MSG_CANNOT_SET_IN_CALL);
        return;
    }
    if (data->save_account_settings(account))
        phone->request_re_register();
    else
        MessageBox::show(QMessageBox::Warning, TITLE_SAVE_FAILED, MSG_SAVE_FAILED);
    // The window stays open with the entries either way.
}

void AccountSetting::slot_cancel_button_clicked()
{
    hide();
}
