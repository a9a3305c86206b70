#include "ui/settings/settingwindow.h"
#include "store/settingskeys.h"
#include "ui_settingwindow.h"

#include "app/constants.h"
#include "app/messagebox.h"
#include "phone/velphone.h"
#include "store/veldata.h"
#include "ui/settings/devicechoice.h"
#include "ui/settings/portvalidator.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QShowEvent>

namespace {
const QString FLAG_ON = QStringLiteral("1");
const QString FLAG_OFF = QStringLiteral("0");
} // namespace

SettingWindow::SettingWindow(QWidget *parent, VelData *store, VelPhone *phone)
    : QWidget(parent)
    , ui(new Ui::SettingWindow)
    , m_store(store)
    , m_phone(phone)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(TITLE_SETTING);
    const QRect available = QApplication::primaryScreen()->availableGeometry();
    move((available.width() - width()) / 2, (available.height() - height()) / 2);

    ui->port->setValidator(new PortValidator(ui->port));
    ui->captureLabel->setToolTip(HINT_CAPTURE_DEVICE);
    ui->ringbackLabel->setToolTip(HINT_RINGBACK_DEVICE);
    ui->playbackLabel->setToolTip(HINT_PLAYBACK_DEVICE);
    ui->captureGainLabel->setToolTip(HINT_CAPTURE_GAIN);

    connect(ui->saveButton, &QPushButton::clicked, this, &SettingWindow::slot_save_button_clicked);
    connect(ui->cancelButton, &QPushButton::clicked, this, &SettingWindow::slot_cancel_button_clicked);
    connect(
        ui->showPassword, &QCheckBox::toggled, this, &SettingWindow::slot_change_password_checkbok_clicked);
    connect(ui->address, &QLineEdit::textChanged, this, &SettingWindow::slot_sip_address_changed);
    connect(ui->captureGainSlider, &QSlider::valueChanged, this, &SettingWindow::slot_capture_gain_changed);
}

SettingWindow::~SettingWindow()
{
    delete ui;
}

void SettingWindow::showEvent(QShowEvent *event)
{
    const QMap<QString, QString> account = m_store->get_account_settings();
    if (!account.isEmpty()) {
        ui->address->setText(account.value(KEY_ADDRESS));
        ui->port->setText(account.value(KEY_PORT));
        ui->userid->setText(account.value(KEY_USER_ID));
        ui->password->setText(account.value(KEY_PASSWORD));
    }

    const QMap<QString, QString> audio = m_store->get_audio_settings();
    DeviceChoice::fill(
        ui->playbackComboBox, ui->ringbackComboBox, ui->captureComboBox, m_phone->get_sound_devices(), audio);
    ui->captureGainSlider->setValue(audio.value(KEY_CAPTURE_GAIN).toInt());
    ui->gainValueLabel->setText(audio.value(KEY_CAPTURE_GAIN));

    const QMap<QString, QString> general = m_store->get_general_settings();
    ui->alwaysTop->setChecked(general.value(KEY_ALWAYS_TOP) == FLAG_ON);
    ui->debugModel->setChecked(general.value(KEY_DEBUG_MODEL) == FLAG_ON);
    event->accept();
}

void SettingWindow::closeEvent(QCloseEvent *event)
{
    hide();
    event->ignore();
}

bool SettingWindow::save_account()
{
    const QMap<QString, QString> account { { KEY_ADDRESS, ui->address->text() },
        { KEY_PORT, ui->port->text() }, { KEY_USER_ID, ui->userid->text() },
        { KEY_PASSWORD, ui->password->text() } };
    if (!m_phone->is_idle()) {
        MessageBox::show(
            QMessageBox::Warning, MSG_CANNOT_SET, MSG_CANNOT_SET_IN_CALL, MessageBox::Layer::StayOnTop);
        return true; // refused, not failed: the media options are still saved
    }
    // The main window reports status 0 to the CTI server before the account changes.
    emit signal_reset_operator_status(m_store->get_account_settings().value(KEY_OPERATOR_ADDRESS));
    if (!m_store->save_account_settings(account))
        return false; // an account that was not stored is not registered
    m_phone->request_re_register();
    return true;
}

bool SettingWindow::save_media_and_options()
{
    const bool generalSaved = m_store->save_general_settings(
        { { KEY_ALWAYS_TOP, ui->alwaysTop->isChecked() ? FLAG_ON : FLAG_OFF },
            { KEY_DEBUG_MODEL, ui->debugModel->isChecked() ? FLAG_ON : FLAG_OFF } });
    QMap<QString, QString> audio
        = DeviceChoice::chosen(ui->playbackComboBox, ui->ringbackComboBox, ui->captureComboBox);
    audio.insert(KEY_CAPTURE_GAIN, QString::number(ui->captureGainSlider->value()));
    const bool audioSaved = m_store->save_audio_settings(audio);
    if (audioSaved)
        m_phone->apply_sound_settings();
    return generalSaved && audioSaved;
}

void SettingWindow::slot_save_button_clicked()
{
    const bool accountSaved = save_account();
    const bool optionsSaved = save_media_and_options();
    if (!accountSaved || !optionsSaved) {
        // Nothing typed is lost: the window stays open with the entries as they are.
        MessageBox::show(QMessageBox::Warning, TITLE_SAVE_FAILED, MSG_SAVE_FAILED);
        return;
    }
    hide();
}

void SettingWindow::slot_cancel_button_clicked()
{
    hide();
}

void SettingWindow::slot_change_password_checkbok_clicked()
{
    ui->password->setEchoMode(ui->showPassword->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
}

void SettingWindow::slot_sip_address_changed() { }

void SettingWindow::slot_capture_gain_changed(int value)
{
    ui->gainValueLabel->setText(QString::number(value));
}
