#pragma once

#include <QMessageBox>
#include <QString>

// The program's one-button message boxes: a title, a text, a single Yes button, window flags
// dialog + fixed size, run modally. The application is first told not to quit when its last
// window closes, so closing the box while the bar is hidden in the tray never ends the program.
namespace MessageBox {
enum class Layer { Normal, StayOnTop };
void show(QMessageBox::Icon icon, const QString &title, const QString &text, Layer layer = Layer::Normal);
} // namespace MessageBox
