#include "ui/outlink/popupslide.h"

#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>
#include <QWidget>

namespace {
constexpr int SLIDE_OUT_MS = 1000;
// The slide ends this far below the screen's available area, so no edge stays in sight.
constexpr int HIDDEN_BELOW_SCREEN = 20;
} // namespace

QPoint popup_corner(const QWidget *popup)
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    return QPoint(available.width() - popup->width(), available.height() - popup->height());
}

PopupSlide::PopupSlide(QWidget *popup)
    : QObject(popup)
    , m_popup(popup)
    , m_animation(new QPropertyAnimation(popup, "pos", this))
    , m_shown(popup_corner(popup))
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    m_hidden = QPoint(m_shown.x(), available.height() + HIDDEN_BELOW_SCREEN);
    m_popup->move(m_shown);
    connect(m_animation, &QPropertyAnimation::finished, this, &PopupSlide::finished);
}

void PopupSlide::show_in_corner()
{
    m_animation->stop();
    m_popup->move(m_shown);
}

void PopupSlide::slide_out()
{
    m_animation->setDuration(SLIDE_OUT_MS);
    m_animation->setStartValue(m_shown);
    m_animation->setEndValue(m_hidden);
    m_animation->start();
}
