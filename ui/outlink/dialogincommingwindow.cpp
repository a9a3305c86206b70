#include "ui/outlink/dialogincommingwindow.h"
#include "ui_dialogincommingwindow.h"

#include "app/constants.h"
#include "phone/velphone.h"

#include <QDesktopServices>
#include <QShowEvent>

DialogIncommingWindow::DialogIncommingWindow(QWidget *parent, VelPhone *phone)
    : QWidget(parent)
    , ui(new Ui::DialogIncommingWindow)
    , phone(phone)
{
    ui->setupUi(this);

    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);

    ui->siteFrame->setStyleSheet(STYLE_SITE_FRAME_SIMPLE);
    ui->siteDialogButton->setStyleSheet(STYLE_SITE_DIAL_BUTTON);
    ui->siteTerminateButton->setStyleSheet(STYLE_SITE_TERMINATE_BUTTON);

    for (QWidget *button :
        { static_cast<QWidget *>(ui->logoButton), static_cast<QWidget *>(ui->siteDialogButton),
            static_cast<QWidget *>(ui->siteTerminateButton), static_cast<QWidget *>(ui->closeButton) })
        button->setCursor(Qt::PointingHandCursor);

    ui->versionLabel->setText(APP_VERSION);
}

DialogIncommingWindow::~DialogIncommingWindow()
{
    delete ui;
}

void DialogIncommingWindow::showEvent(QShowEvent *event)
{
    ui->phoneNumber->setText((phone ? phone->get_remote_number() : QString()) + TEXT_INCOMING_SUFFIX);
    event->accept();
}

void DialogIncommingWindow::slot_close_site_button_clicked()
{
    hide();
}

void DialogIncommingWindow::slot_logo_clicked()
{
    QDesktopServices::openUrl(PRODUCT_URL);
}

void DialogIncommingWindow::slot_dialog_button_clicked()
{
    // Unlike the remote site window, the engine is asked first and the main window told after.
    if (phone)
        phone->request_answer();
    emit signal_dialog_accept();
}

void DialogIncommingWindow::slot_dialog_end_button_clicked()
{
    if (phone)
        phone->request_hangup();
}
