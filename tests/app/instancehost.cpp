// Runs the program's real start-up with a plain window instead of the bar. It prints
// "ready <pid>" once the event loop runs, "shown" each time the window is shown and
// "dial <link>" for each link it is handed, so that a test in another process sees what a
// person would see. Options:
//   --hide          the window hides itself after start, as the bar does when sent to the tray
//   --supervised    the start-up runs under the supervisor, as the program's does
//   --appdir DIR    the application directory (its log receives the supervisor's lines)
//   --exit N        the event loop ends with status N right after "ready"
#include "app/appdir.h"
#include "app/constants.h"
#include "app/singleinstance.h"
#include "app/supervisor.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {
class HostWindow : public QWidget
{
    Q_OBJECT

public slots:
    void slot_dial_link(QString link)
    {
        std::printf("dial %s\n", link.toUtf8().toPercentEncoding(":+;=@?/*#-.() ").constData());
        std::fflush(stdout);
    }

protected:
    void showEvent(QShowEvent *event) override
    {
        std::printf("shown\n");
        std::fflush(stdout);
        QWidget::showEvent(event);
    }
};
} // namespace

int main(int argc, char *argv[])
{
    bool hide = false;
    bool supervised = false;
    int exitCode = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hide") == 0)
            hide = true;
        else if (std::strcmp(argv[i], "--supervised") == 0)
            supervised = true;
        else if (std::strcmp(argv[i], "--appdir") == 0 && i + 1 < argc) {
            AppDir::setPathForTesting(QString::fromLocal8Bit(argv[++i]));
            AppDir::makeDataDirectories();
        } else if (std::strcmp(argv[i], "--exit") == 0 && i + 1 < argc)
            exitCode = std::atoi(argv[++i]);
    }

    const auto startUp = [&](bool restarted) {
        return SingleInstance::run(argc, argv, [hide, exitCode, restarted] {
            auto *window = new HostWindow;
            window->setWindowTitle(QStringLiteral("instancehost"));
            QTimer::singleShot(0, window, [window, hide, exitCode, restarted] {
                if (hide)
                    window->hide();
                std::printf(
                    "ready %lld%s\n", static_cast<long long>(::getpid()), restarted ? " restarted" : "");
                std::fflush(stdout);
                if (exitCode >= 0)
                    QCoreApplication::exit(exitCode);
            });
            return window;
        });
    };
    return supervised
        ? Supervisor::run(argv, QFile::encodeName(AppDir::file(LOG_FILE_BASE)).toStdString(), startUp)
        : startUp(false);
}

#include "instancehost.moc"
