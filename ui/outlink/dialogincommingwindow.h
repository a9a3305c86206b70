#pragma once

#include <QWidget>

namespace Ui {
class DialogIncommingWindow;
}

class VelPhone;

// The small popup at the lower right of the screen that announces an incoming call when no
// outlink page is configured: the calling number, the version, answer and hang-up buttons.
// The main window creates, places and shows it; the number is read from the engine each time
// the window is shown.
class DialogIncommingWindow : public QWidget
{
    Q_OBJECT

public:
    DialogIncommingWindow(QWidget *parent, VelPhone *phone);
    ~DialogIncommingWindow() override;

signals:
    void signal_dialog_accept();

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void slot_close_site_button_clicked();
    void slot_logo_clicked();
    void slot_dialog_button_clicked();
    void slot_dialog_end_button_clicked();

private:
    Ui::DialogIncommingWindow *ui;
    VelPhone *phone;
};
