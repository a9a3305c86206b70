#pragma once

#include <QMainWindow>

class VelData;
class VelLogger;

// The bar: root object of the process, owner of the logger and the store.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private:
    VelLogger *m_logger = nullptr;
    VelData *m_store = nullptr;
};
