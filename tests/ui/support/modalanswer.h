#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

// Answers the next modal message box the way a person would: it waits for the box to appear,
// records what it said, and presses the button with the given text (or the given standard
// button). Create it before the action that opens the box; check seen() afterwards. Each box is
// answered once and counted once.
//
//     ModalAnswer answer(QMessageBox::Yes);
//     window.slot_save_button_clicked();   // runs the box modally; the answer closes it
//     QVERIFY(answer.seen());
//     QCOMPARE(answer.text(), ...);
class ModalAnswer : public QObject
{
public:
    explicit ModalAnswer(QMessageBox::StandardButton button)
        : m_button(button)
    {
        start();
    }
    explicit ModalAnswer(const QString &buttonText)
        : m_buttonText(buttonText)
    {
        start();
    }

    bool seen() const { return m_seen; }
    int count() const { return m_count; }
    QString title() const { return m_title; }
    QString text() const { return m_text; }
    QStringList buttons() const { return m_buttons; }
    QMessageBox::StandardButtons standardButtons() const { return m_standardButtons; }
    QMessageBox::Icon icon() const { return m_icon; }
    Qt::WindowFlags flags() const { return m_flags; }
    QString defaultButton() const { return m_default; }
    QMessageBox::StandardButton defaultStandardButton() const { return m_defaultStandard; }
    QWidget *boxParent() const { return m_parent; }

private:
    void start()
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswer::poll);
        m_timer.start();
    }

    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == m_last)
            return;
        m_last = box;
        m_seen = true;
        ++m_count;
        m_title = box->windowTitle();
        m_text = box->text();
        m_icon = box->icon();
        m_flags = box->windowFlags();
        m_buttons.clear();
        for (QAbstractButton *b : box->buttons())
            m_buttons << b->text();
        m_standardButtons = box->standardButtons();
        m_default = box->defaultButton() ? box->defaultButton()->text() : QString();
        m_defaultStandard
            = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
        m_parent = box->parentWidget();
        QAbstractButton *target = nullptr;
        if (!m_buttonText.isEmpty()) {
            for (QAbstractButton *b : box->buttons())
                if (b->text() == m_buttonText)
                    target = b;
        } else {
            target = box->button(m_button);
        }
        if (target)
            target->click();
        else
            box->reject();
    }

    QMessageBox::StandardButton m_button = QMessageBox::NoButton;
    QString m_buttonText;
    QTimer m_timer;
    QPointer<QMessageBox> m_last;
    bool m_seen = false;
    int m_count = 0;
    QString m_title;
    QString m_text;
    QStringList m_buttons;
    QMessageBox::StandardButtons m_standardButtons;
    QMessageBox::Icon m_icon = QMessageBox::NoIcon;
    Qt::WindowFlags m_flags;
    QString m_default;
    QMessageBox::StandardButton m_defaultStandard = QMessageBox::NoButton;
    QWidget *m_parent = nullptr;
};
