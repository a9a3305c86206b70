#include "ui/outlink/remotesite.h"
#include "ui_remotesite.h"

#include "app/constants.h"
#include "app/dialrequest.h"
#include "phone/velphone.h"
#include "store/settingskeys.h"
#include "store/veldata.h"
#include "ui/outlink/callerpage.h"
#include "ui/outlink/outlinkrequest.h"

#include <QDebug>
#include <QDesktopServices>
#include <QShowEvent>

namespace {
// The web view's place in "frame", as the form had it.
const QRect WEB_VIEW_GEOMETRY(10, 10, 381, 181);
const QString WEB_VIEW_NAME = QStringLiteral("webView");
} // namespace

RemoteSite::RemoteSite(QWidget *parent, VelPhone *phone, VelData *data)
    : QWidget(parent)
    , ui(new Ui::RemoteSite)
    , phone(phone)
    , data(data)
    , web(nullptr)
{
    ui->setupUi(this);

    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);

    ui->siteFrame->setStyleSheet(STYLE_SITE_FRAME);
    ui->siteDialogButton->setStyleSheet(STYLE_SITE_DIAL_BUTTON);
    ui->siteDetailButton->setStyleSheet(STYLE_SITE_DETAIL_BUTTON);
    ui->siteTerminateButton->setStyleSheet(STYLE_SITE_TERMINATE_BUTTON);

    for (QWidget *button : { static_cast<QWidget *>(ui->logoButton),
             static_cast<QWidget *>(ui->siteCloseButton), static_cast<QWidget *>(ui->siteDetailButton),
             static_cast<QWidget *>(ui->siteDialogButton), static_cast<QWidget *>(ui->siteTerminateButton) })
        button->setCursor(Qt::PointingHandCursor);

    if (CallerPageFactory *factory = CallerPage::factory()) {
        // Phone links on the caller's page dial through the bar.
        web = factory->create(
            ui->frame,
            [this](const QUrl &url) {
                if (!DialRequest::is_dial_scheme(url.scheme()))
                    return false;
                emit signal_dial_link(url.toString(QUrl::FullyEncoded));
                return true;
            },
            [this] { slot_load_finished(); });
        web->widget()->setObjectName(WEB_VIEW_NAME);
        web->widget()->setGeometry(WEB_VIEW_GEOMETRY);
        web->widget()->stackUnder(ui->progressBar);
    }
}

RemoteSite::~RemoteSite()
{
    delete web;
    delete ui;
}

void RemoteSite::set_webview_params(QMap<QString, QString> params)
{
    qDebug() << "set_webview_params: ";

    const QMap<QString, QString> outlink = data->get_outlink_settings();
    const QMap<QString, QString> values
        = OutlinkRequest::placeholder_values(params, data->get_account_settings());
    const OutlinkRequest::SimpleRequest simple = OutlinkRequest::simple_request(outlink, values);

    if (web)
        web->load(simple.url, simple.post, simple.body);

    if (web)
        web->widget()->hide();
    ui->progressBar->show();

    detail_url = OutlinkRequest::detail_url(detail_url, outlink, values);
}

void RemoteSite::showEvent(QShowEvent *event)
{
    ui->siteDetailButton->setVisible(!data->get_outlink_settings().value(KEY_DETAIL_URL).isEmpty());
    event->accept();
}

void RemoteSite::slot_close_site_button_clicked()
{
    hide();
}

void RemoteSite::slot_logo_clicked()
{
    QDesktopServices::openUrl(PRODUCT_URL);
}

void RemoteSite::slot_dialog_button_clicked()
{
    emit signal_show_main_window();
    if (phone)
        phone->request_answer();
}

void RemoteSite::slot_dialog_end_button_clicked()
{
    emit signal_set_not_delay_hidden_reomote_window();
    if (phone)
        phone->request_hangup();
}

void RemoteSite::slot_dialog_detail_button_clicked()
{
    QDesktopServices::openUrl(QUrl(detail_url, QUrl::TolerantMode));
}

void RemoteSite::slot_load_finished()
{
    ui->progressBar->hide();
    if (web)
        web->widget()->show();
}
