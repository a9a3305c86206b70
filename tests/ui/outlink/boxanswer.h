// Answers the next modal message box from the test: waits for it, records its title, text,
// buttons and default button, and presses the wanted standard button.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

class BoxAnswer : public QObject
{
public:
    explicit BoxAnswer(QMessageBox::StandardButton press)
        : m_press(press)
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswer::poll);
        m_timer.start();
    }

    int count = 0;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QWidget *parent = nullptr;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        ++count;
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        defaultButton
            = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
        parent = box->parentWidget();
        box->button(m_press)->click();
    }

    QMessageBox::StandardButton m_press;
    QTimer m_timer;
};
