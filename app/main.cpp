#include "app/singleinstance.h"
#include "app/supervisor.h"
#include "ui/mainwindow/mainwindow.h"

#include <cstdlib>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // The web engine's helper processes refuse to start as root inside their sandbox.
    if (::geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    // A supervising parent starts the program again if it dies by a signal (see supervisor.h).
    // A start again after a crash does not dial the link of the first start a second time.
    return Supervisor::run(argv, [&](bool restarted) {
        return SingleInstance::run(
            argc, argv, [] { return new MainWindow; }, restarted);
    });
}
