// Drives the history tables as a user would: a double-click, and an answer to the context
// menu that the delegate runs modally with QMenu::exec, given from inside its event loop.
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QMenu>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

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
    auto *timer = new QTimer;
    timer->setInterval(10);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu && ++*tries < 500)
            return;
        timer->stop();
        timer->deleteLater();
        if (!menu)
            return;
        seen->shown = true;
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions()) {
            seen->actions << action->text();
            if (action->text() == choice)
                chosen = action;
        }
        seen->pos = menu->pos();
        if (beforeChoice)
            beforeChoice();
        if (chosen)
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
        else
            QTest::keyClick(menu, Qt::Key_Escape);
    });
    timer->start();
}

// A real double-click: press and release, then the double-click event and its release.
inline void doubleClick(QAbstractItemView *view, const QModelIndex &index)
{
    const QPoint at = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
}
