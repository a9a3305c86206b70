#ifndef POPUPSLIDE_H
#define POPUPSLIDE_H

#include <QObject>
#include <QPoint>

class QPropertyAnimation;
class QWidget;

// Where the call popups stand: the primary screen's bottom-right corner, inside its available
// area.
QPoint popup_corner(const QWidget *popup);

// The caller's page in its corner and its slide down out of the screen after a call. The
// positions are taken once, when the popup is made; the animation belongs to the popup.
class PopupSlide : public QObject
{
    Q_OBJECT

public:
    explicit PopupSlide(QWidget *popup);

    // Back in the corner at once, a running slide stopped (a new call while the page goes).
    void show_in_corner();
    void slide_out();

signals:
    // The slide has ended with the popup below the screen.
    void finished();

private:
    QWidget *m_popup;
    QPropertyAnimation *m_animation;
    QPoint m_shown;
    QPoint m_hidden;
};

#endif // POPUPSLIDE_H
