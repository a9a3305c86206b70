// Runs the program's real start-up with a plain window instead of the bar. It prints
// "ready <pid>" once the event loop runs, "shown" each time the window is shown and
// "dial <link>" for each link it is handed, so that a test in another process sees what a
// person would see. With --hide the window hides itself
// after start, as the bar does when it is sent to the tray.
#include "singleinstance.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
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
    const bool hide = argc > 1 && std::strcmp(argv[1], "--hide") == 0;
    return SingleInstance::run(argc, argv, [hide] {
        auto *window = new HostWindow;
        window->setWindowTitle(QStringLiteral("instancehost"));
        QTimer::singleShot(0, window, [window, hide] {
            if (hide)
                window->hide();
            std::printf("ready %lld\n", static_cast<long long>(::getpid()));
            std::fflush(stdout);
        });
        return window;
    });
}

#include "instancehost.moc"
