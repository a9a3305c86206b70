#pragma once

#include <QWidget>

namespace Ui {
class AboutWindow;
}

// The version information window: logo, product line with version, copyright of this year.
class AboutWindow : public QWidget
{
    Q_OBJECT
public:
    explicit AboutWindow(QWidget *parent = nullptr);
    ~AboutWindow() override;

private:
    Ui::AboutWindow *ui;
};
