#pragma once

#include <QVector>
#include <QWidget>

namespace Ui {
class OutlinkSetting;
}

class QCheckBox;
class QTextEdit;
class VelData;

// The outlink settings window: URL, method and parameter text of the simple page and of the
// detail page, with check boxes that insert or remove the placeholders in the parameter text.
// The widgets are reloaded from the store at every show, so unsaved edits never survive a hide.
class OutlinkSetting : public QWidget
{
    Q_OBJECT

public:
    OutlinkSetting(QWidget *parent, VelData *data);
    ~OutlinkSetting() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void slot_save_button_clicked();
    void slot_cancel_button_clicked();
    void slot_simple_caller_name_toggle();
    void slot_simple_caller_id_toggle();
    void slot_simple_my_id_toggle();
    void slot_simple_call_id_toggle();
    void slot_simple_operator_id_toggle();
    void slot_simple_operator_pw_toggle();
    void slot_detail_caller_name_toggle();
    void slot_detail_caller_id_toggle();
    void slot_detail_my_id_toggle();
    void slot_detail_call_id_toggle();
    void slot_detail_operator_id_toggle();
    void slot_detail_operator_pw_toggle();

private:
    struct Tab;
    QVector<Tab> tabs() const;
    void toggle_placeholder(QCheckBox *box, const QString &placeholder, QTextEdit *edit);

    Ui::OutlinkSetting *ui;
    VelData *data;
};
