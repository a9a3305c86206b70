#include "ui/mainwindow/labelfit.h"

#include <QFontMetrics>
#include <QLabel>

namespace {
// Below this a text is no longer readable; a label that needs less shows its text clipped.
constexpr qreal SMALLEST_POINT_SIZE = 6;
constexpr qreal STEP = 0.5;

bool all_fit(const QFont &font, const QStringList &texts, int width)
{
    const QFontMetrics metrics(font);
    for (const QString &text : texts) {
        if (metrics.horizontalAdvance(text) > width)
            return false;
    }
    return true;
}
} // namespace

void fit_label_font(QLabel *label, const QStringList &texts)
{
    QFont font = label->font();
    const int width = label->contentsRect().width();
    if (font.pointSizeF() <= 0) // sized in pixels: take its point size as Qt sees it
        font.setPointSizeF(QFontInfo(font).pointSizeF());
    while (!all_fit(font, texts, width) && font.pointSizeF() - STEP >= SMALLEST_POINT_SIZE)
        font.setPointSizeF(font.pointSizeF() - STEP);
    if (font != label->font())
        label->setFont(font);
}
