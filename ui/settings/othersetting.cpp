#include "ui/settings/othersetting.h"
#include "ui_othersetting.h"

#include "app/constants.h"
#include "app/messagebox.h"
#include "phone/velphone.h"
#include "store/veldata.h"
#include "ui/settings/devicechoice.h"

#include <QCloseEvent>
#include <QShowEvent>

OtherSetting::OtherSetting(QWidget *parent, VelData *store, VelPhone *phone)
    : QWidget(parent)
    , ui(new Ui::OtherSetting)
    , store(store)
    , phone(phone)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(TITLE_OTHER_SETTING);
    connect(ui->pushButton, &QPushButton::clicked, this, &OtherSetting::slot_save_button_clicked);
    connect(ui->pushButton_2, &QPushButton::clicked, this, &OtherSetting::slot_cancel_button_clicked);
}

OtherSetting::~OtherSetting()
{
    delete ui;
}

void OtherSetting::showEvent(QShowEvent *event)
{
    DeviceChoice::fill(ui->playbackComboBox, ui->ringbackComboBox, ui->captureComboBox,
        phone->get_sound_devices(), store->get_audio_settings());
    event->accept();
}

void OtherSetting::closeEvent(QCloseEvent *event)
{
    hide();
    event->ignore();
}

void OtherSetting::slot_save_button_clicked()
{
    if (!store->save_audio_settings(
            DeviceChoice::chosen(ui->playbackComboBox, ui->ringbackComboBox, ui->captureComboBox))) {
        MessageBox::show(QMessageBox::Warning, TITLE_SAVE_FAILED, MSG_SAVE_FAILED);
        return;
    }
    phone->apply_sound_settings();
    hide();
}

void OtherSetting::slot_cancel_button_clicked()
{
    hide();
}
