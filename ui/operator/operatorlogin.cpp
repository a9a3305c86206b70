#include "ui/operator/operatorlogin.h"
#include "ui_operatorlogin.h"

#include "app/constants.h"
#include "app/messagebox.h"

OperatorLogin::OperatorLogin(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::OperatorLogin)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(TITLE_OPERATOR_LOGIN);
    connect(ui->pushButton, &QPushButton::clicked, this, &OperatorLogin::slot_login_button_clicked);
    connect(ui->pushButton_2, &QPushButton::clicked, this, &OperatorLogin::slot_after_button_clicked);
}

OperatorLogin::~OperatorLogin()
{
    delete ui;
}

void OperatorLogin::slot_login_button_clicked()
{
    const QString username = ui->username->text();
    const QString password = ui->password->text();
    if (username.isEmpty() || password.isEmpty()) {
        MessageBox::show(QMessageBox::Warning, TITLE_OPERATOR_LOGIN, MSG_ENTER_OPERATOR_CREDENTIALS);
        return;
    }
    // Stays open: the main window hides it once the server accepts the status.
    emit signal_set_op_status(username, password);
}

void OperatorLogin::slot_after_button_clicked()
{
    hide();
    emit signal_reset_user_status_combox();
}

void OperatorLogin::slot_hide_window()
{
    hide();
}
