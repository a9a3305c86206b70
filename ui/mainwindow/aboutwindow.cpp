#include "ui/mainwindow/aboutwindow.h"
#include "ui_aboutwindow.h"

#include "app/constants.h"
#include "ui/mainwindow/labelfit.h"

#include <QDate>

AboutWindow::AboutWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint)
    , ui(new Ui::AboutWindow)
{
    ui->setupUi(this);
    setFixedSize(size());
    setWindowTitle(APP_TITLE);
    ui->versionLabel->setText(ABOUT_TITLE_FORMAT.arg(APP_VERSION));
    ui->copyrightLabel->setText(COPYRIGHT_FORMAT.arg(QDate::currentDate().year()));
    fit_label_font(ui->versionLabel, { ui->versionLabel->text() });
    fit_label_font(ui->copyrightLabel, { ui->copyrightLabel->text() });
}

AboutWindow::~AboutWindow()
{
    delete ui;
}
