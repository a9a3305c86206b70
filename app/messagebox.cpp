#include "app/messagebox.h"

#include <QApplication>

void MessageBox::show(QMessageBox::Icon icon, const QString &title, const QString &text, Layer layer)
{
    QApplication::setQuitOnLastWindowClosed(false);
    QMessageBox box(icon, title, text, QMessageBox::Yes);
    box.setDefaultButton(QMessageBox::Yes);
    box.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    if (layer == Layer::StayOnTop)
        box.setWindowFlags(Qt::WindowStaysOnTopHint);
    box.exec();
}
