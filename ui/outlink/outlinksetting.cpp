#include "ui/outlink/outlinksetting.h"
#include "ui_outlinksetting.h"

#include "app/constants.h"
#include "app/messagebox.h"
#include "store/settingskeys.h"
#include "store/veldata.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QShowEvent>
#include <QVector>

// The widgets of one tab, in the order of their stored keys.
struct OutlinkSetting::Tab
{
    QLineEdit *url;
    QRadioButton *get;
    QRadioButton *post;
    QVector<QCheckBox *> boxes; // stored under their object names
    QTextEdit *params;
    QString urlKey;
    QString methodKey;
    QString paramsKey;
};

namespace {
const QString FLAG_ON = QStringLiteral("1");
const QString FLAG_OFF = QStringLiteral("0");

// A question not attached to any window, with No as the default answer.
int ask_yes_no(const QString &title, const QString &text)
{
    QApplication::setQuitOnLastWindowClosed(false);
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, nullptr,
        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.setDefaultButton(QMessageBox::No);
    return box.exec();
}
} // namespace

OutlinkSetting::OutlinkSetting(QWidget *parent, VelData *data)
    : QWidget(parent)
    , ui(new Ui::OutlinkSetting)
    , data(data)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(TITLE_OUTLINK_SETTING);
}

OutlinkSetting::~OutlinkSetting()
{
    delete ui;
}

QVector<OutlinkSetting::Tab> OutlinkSetting::tabs() const
{
    return {
        { ui->simpleUrl, ui->simpleRadioGetButton, ui->simpleRadioPostButton,
            { ui->simpleCallerName, ui->simpleCallerId, ui->simpleMyId, ui->simpleCallId,
                ui->simpleOperatorId, ui->simpleOperatorPW },
            ui->simpleParams, KEY_SIMPLE_URL, KEY_SIMPLE_METHOD, KEY_SIMPLE_PARAMS },
        { ui->detailUrl, ui->detailRadioGetButton, ui->detailRadioPostButton,
            { ui->detailCallerName, ui->detailCallerId, ui->detailMyId, ui->detailCallId,
                ui->detailOperatorId, ui->detailOperatorPW },
            ui->detailParams, KEY_DETAIL_URL, KEY_DETAIL_METHOD, KEY_DETAIL_PARAMS },
    };
}

void OutlinkSetting::showEvent(QShowEvent *event)
{
    const QMap<QString, QString> settings = data->get_outlink_settings();
    for (const Tab &tab : tabs()) {
        tab.url->setText(settings.value(tab.urlKey));
        if (settings.value(tab.methodKey) == METHOD_GET)
            tab.get->setChecked(true);
        else
            tab.post->setChecked(true);
        // Each change fires the box's placeholder toggle; the text set afterwards is the stored one.
        for (QCheckBox *box : tab.boxes)
            box->setChecked(settings.value(box->objectName()).toInt() == 1);
        // Plain text: the stored parameter text is shown exactly, never read as markup.
        tab.params->setPlainText(settings.value(tab.paramsKey));
    }
    event->accept();
}

void OutlinkSetting::closeEvent(QCloseEvent *event)
{
    hide();
    event->ignore();
}

void OutlinkSetting::slot_save_button_clicked()
{
    QMap<QString, QString> settings;
    for (const Tab &tab : tabs()) {
        settings.insert(tab.urlKey, tab.url->text());
        settings.insert(tab.methodKey, tab.get->isChecked() ? METHOD_GET : METHOD_POST);
        for (QCheckBox *box : tab.boxes)
            settings.insert(box->objectName(), box->isChecked() ? FLAG_ON : FLAG_OFF);
        settings.insert(tab.paramsKey, tab.params->toPlainText());
    }
    if (!data->save_outlink_settings(settings)) {
        // The window stays open with what was typed, so the operator can try again.
        MessageBox::show(QMessageBox::Warning, TITLE_SAVE_FAILED, MSG_SAVE_FAILED);
        return;
    }
    hide();
}

void OutlinkSetting::slot_cancel_button_clicked()
{
    hide();
}

void OutlinkSetting::toggle_placeholder(QCheckBox *box, const QString &placeholder, QTextEdit *edit)
{
    if (box->isChecked()) {
        edit->insertPlainText(placeholder);
        return;
    }
    QString text = edit->toPlainText();
    text.remove(placeholder, Qt::CaseSensitive);
    edit->setPlainText(text);
}

void OutlinkSetting::slot_simple_caller_name_toggle()
{
    toggle_placeholder(ui->simpleCallerName, PH_CALLER_NAME, ui->simpleParams);
}

void OutlinkSetting::slot_simple_caller_id_toggle()
{
    toggle_placeholder(ui->simpleCallerId, PH_CALLER_ID, ui->simpleParams);
}

void OutlinkSetting::slot_simple_my_id_toggle()
{
    toggle_placeholder(ui->simpleMyId, PH_MY_ID, ui->simpleParams);
}

void OutlinkSetting::slot_simple_call_id_toggle()
{
    toggle_placeholder(ui->simpleCallId, PH_CALL_ID, ui->simpleParams);
}

void OutlinkSetting::slot_simple_operator_id_toggle()
{
    toggle_placeholder(ui->simpleOperatorId, PH_OPE_ID, ui->simpleParams);
}

void OutlinkSetting::slot_simple_operator_pw_toggle()
{
    toggle_placeholder(ui->simpleOperatorPW, PH_OPE_PW, ui->simpleParams);
}

void OutlinkSetting::slot_detail_caller_name_toggle()
{
    toggle_placeholder(ui->detailCallerName, PH_CALLER_NAME, ui->detailParams);
}

void OutlinkSetting::slot_detail_caller_id_toggle()
{
    toggle_placeholder(ui->detailCallerId, PH_CALLER_ID, ui->detailParams);
}

void OutlinkSetting::slot_detail_my_id_toggle()
{
    toggle_placeholder(ui->detailMyId, PH_MY_ID, ui->detailParams);
}

void OutlinkSetting::slot_detail_call_id_toggle()
{
    toggle_placeholder(ui->detailCallId, PH_CALL_ID, ui->detailParams);
}

void OutlinkSetting::slot_detail_operator_id_toggle()
{
    toggle_placeholder(ui->detailOperatorId, PH_OPE_ID, ui->detailParams);
}

void OutlinkSetting::slot_detail_operator_pw_toggle()
{
    // The detail link is opened in the system browser, where the password would stand in the
    // address bar: the operator confirms it first. Only a click by the user gets here.
    if (ui->detailOperatorPW->isChecked()) {
        const int answer = ask_yes_no(TITLE_OPERATOR_PW_QUESTION, MSG_OPERATOR_PW_IN_URL);
        if (answer == QMessageBox::Yes)
            ui->detailParams->insertPlainText(PH_OPE_PW);
        else
            ui->detailOperatorPW->setChecked(false);
        return;
    }
    toggle_placeholder(ui->detailOperatorPW, PH_OPE_PW, ui->detailParams);
}
