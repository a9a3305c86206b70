#pragma once

#include <QStringList>

class QLabel;

// The forms give the labels a fixed width; the desktop decides the font size. Makes the label's
// font smaller, where needed, until every one of the texts it can show fits that width.
void fit_label_font(QLabel *label, const QStringList &texts);
