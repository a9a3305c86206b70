#pragma once

#include <QWidget>

namespace Ui {
class OtherSetting;
}
class VelData;
class VelPhone;

// Speaker, ring device and microphone, chosen from the devices the engine finds when the
// window is shown; saving applies them at once, also during a call.
class OtherSetting : public QWidget
{
    Q_OBJECT
public:
    OtherSetting(QWidget *parent, VelData *store, VelPhone *phone);
    ~OtherSetting() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void slot_save_button_clicked();
    void slot_cancel_button_clicked();

private:
    Ui::OtherSetting *ui;
    VelData *store;
    VelPhone *phone;
};
