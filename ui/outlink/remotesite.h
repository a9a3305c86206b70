#pragma once

#include <QMap>
#include <QString>
#include <QWidget>

namespace Ui {
class RemoteSite;
}

class CallerPageView;
class VelData;
class VelPhone;

// The popup at the lower right of the screen that shows the caller's page of the call
// centre's web application during an incoming call, with the answer, detail and hang-up
// buttons. The main window creates it, hidden, once the phone is registered (or on the first
// call that has an outlink page), places, shows and slides it out; the window itself only loads
// the page and serves its buttons.
//
// The embedded web engine (a plugin, see callerpage.h) runs in its own helper processes, which
// start when this window is constructed (not before). The window keeps its own off-the-record
// profile, so nothing of the pages (cookies, cache) is written to disk, and accepts every
// certificate error: the call centres' servers commonly use self-signed certificates.
class RemoteSite : public QWidget
{
    Q_OBJECT

public:
    RemoteSite(QWidget *parent, VelPhone *phone, VelData *data);
    ~RemoteSite() override;

    // Loads the simple page for this call, puts the window into its loading state and
    // composes the detail link.
    void set_webview_params(QMap<QString, QString> params);

    // The detail link of the last call; empty until a call with a detail URL came.
    QString get_detail_url() const { return detail_url; }

signals:
    void signal_show_main_window();
    void signal_set_not_delay_hidden_reomote_window();
    // A tel:, sip:, sips: or callto: link clicked in the caller's page; the page does not follow it.
    void signal_dial_link(const QString &link);

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void slot_close_site_button_clicked();
    void slot_logo_clicked();
    void slot_dialog_button_clicked();
    void slot_dialog_end_button_clicked();
    void slot_dialog_detail_button_clicked();
    void slot_load_finished();

private:
    Ui::RemoteSite *ui;
    VelPhone *phone;
    VelData *data;
    QString detail_url;
    // The web view "webView" in "frame"; null when the web engine plugin is missing.
    CallerPageView *web;
};
