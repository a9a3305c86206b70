#pragma once

#include <QWidget>

namespace Ui {
class OperatorLogin;
}

// Asks the operator for the CTI login before a status is sent, or lets the login wait.
class OperatorLogin : public QWidget
{
    Q_OBJECT
public:
    explicit OperatorLogin(QWidget *parent = nullptr);
    ~OperatorLogin() override;

signals:
    void signal_set_op_status(QString username, QString password);
    void signal_reset_user_status_combox();

public slots:
    void slot_login_button_clicked();
    void slot_after_button_clicked();
    void slot_hide_window();

private:
    Ui::OperatorLogin *ui;
};
