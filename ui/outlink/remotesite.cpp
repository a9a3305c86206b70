#include "remotesite.h"
#include "ui_remotesite.h"

#include "constants.h"
#include "dialrequest.h"
#include "outlinkrequest.h"
#include "settingskeys.h"
#include "veldata.h"
#include "velphone.h"

#include <QDebug>
#include <QDesktopServices>
#include <QShowEvent>
#include <QWebEngineCertificateError>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <functional>

namespace {
const QByteArray CONTENT_TYPE = QByteArrayLiteral("Content-Type");
const QByteArray FORM_CONTENT = QByteArrayLiteral("application/x-www-form-urlencoded");

// A page that accepts every certificate error of the page and of its resources, and keeps phone
// links for this phone: the web engine would hand them to the desktop's handler otherwise.
class TrustingPage : public QWebEnginePage
{
public:
    TrustingPage(QWebEngineProfile *profile, std::function<void(const QUrl &)> dial)
        : QWebEnginePage(profile)
        , m_dial(std::move(dial))
    { }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (!DialRequest::is_dial_scheme(url.scheme()))
            return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
        m_dial(url);
        return false;
    }

    bool certificateError(const QWebEngineCertificateError &error) override
    {
        qDebug() << "RemoteSite: certificate error accepted:" << error.url().host()
                 << error.errorDescription();
        return true;
    }

private:
    std::function<void(const QUrl &)> m_dial;
};
} // namespace

RemoteSite::RemoteSite(QWidget *parent, VelPhone *phone, VelData *data)
    : QWidget(parent)
    , ui(new Ui::RemoteSite)
    , phone(phone)
    , data(data)
    , profile(new QWebEngineProfile)
    , page(nullptr)
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

    page = new_page();
    // The page starts empty; loading "about:blank" here would only add a finished signal
    // that could arrive after the first call's page has begun to load.
    ui->webView->setPage(page);
    connect(ui->webView, &QWebEngineView::loadFinished, this, &RemoteSite::slot_load_finished);
}

QWebEnginePage *RemoteSite::new_page()
{
    // Phone links on the caller's page dial through the bar.
    return new TrustingPage(
        profile, [this](const QUrl &url) { emit signal_dial_link(url.toString(QUrl::FullyEncoded)); });
}

RemoteSite::~RemoteSite()
{
    // The web engine requires the view and its page gone before their profile.
    delete ui->webView;
    delete page;
    delete ui;
    delete profile;
}

void RemoteSite::set_webview_params(QMap<QString, QString> params)
{
    qDebug() << "set_webview_params: ";

    const QMap<QString, QString> outlink = data->get_outlink_settings();
    const QMap<QString, QString> values
        = OutlinkRequest::placeholder_values(params, data->get_account_settings());
    const OutlinkRequest::SimpleRequest simple = OutlinkRequest::simple_request(outlink, values);

    // Each call gets a page of its own, with a history of its own: the previous caller's page
    // is then reachable neither by Back (menu, Alt+Left, the mouse's back button) nor by a
    // script of the new page.
    if (page->history()->count() > 0 || !page->url().isEmpty()) {
        QWebEnginePage *previous = page;
        page = new_page();
        ui->webView->setPage(page);
        delete previous;
    }
    if (simple.post) {
        QWebEngineHttpRequest request(simple.url, QWebEngineHttpRequest::Post);
        request.setPostData(simple.body);
        // The web engine sends a POST body without any content type unless told.
        if (!simple.body.isEmpty())
            request.setHeader(CONTENT_TYPE, FORM_CONTENT);
        ui->webView->load(request);
    } else {
        ui->webView->load(QWebEngineHttpRequest(simple.url));
    }

    ui->webView->hide();
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
    ui->webView->show();
}
