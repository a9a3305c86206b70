#include "mainwindow.h"

#include "appdir.h"
#include "constants.h"
#include "veldata.h"
#include "vellogger.h"

#include <QDir>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(APP_TITLE);
    resize(947, 58);
    AppDir::makeDataDirectories();
    m_logger = new VelLogger(this);
    m_store = new VelData(this);
}

MainWindow::~MainWindow() = default;
