// Drives the history tables as a user would: a double-click, and answers to the modal pop-ups
// from inside their event loops (the context menu that the delegate runs with QMenu::exec, the
// delete-all question box).
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>

// Polls until a pop-up of type T is up, then hands it to `answer`. `answered` tells the
// caller afterwards whether the pop-up ever appeared.
template<typename T>
void answerWhenShown(std::function<T *()> find, std::function<void(T *)> answer, bool *answered)
{
    *answered = false;
    auto *timer = new QTimer;
    timer->setInterval(10);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (T *popup = find()) {
            timer->stop();
            timer->deleteLater();
            *answered = true;
            answer(popup);
        } else if (++*tries > 500) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

// What the context menu offered and where it stood when it was answered.
struct MenuSeen
{
    bool shown = false;
    QStringList actions;
    QPoint pos;
};

// Clicks the action with text `choice` of the next context menu; an empty choice dismisses the
// menu with Escape. `beforeChoice` runs while the menu is up, before the choice is made.
inline void answerNextMenu(const QString &choice, MenuSeen *seen, std::function<void()> beforeChoice = {})
{
    answerWhenShown<QMenu>([] { return qobject_cast<QMenu *>(QApplication::activePopupWidget()); },
        [=](QMenu *menu) {
            for (QAction *action : menu->actions())
                seen->actions << action->text();
            seen->pos = menu->pos();
            if (beforeChoice)
                beforeChoice();
            QAction *chosen = nullptr;
            for (QAction *action : menu->actions())
                if (action->text() == choice)
                    chosen = action;
            if (chosen)
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
            else
                QTest::keyClick(menu, Qt::Key_Escape);
        },
        &seen->shown);
}

// A real double-click: press and release, then the double-click event and its release.
inline void doubleClick(QAbstractItemView *view, const QModelIndex &index)
{
    const QPoint at = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
}
