#include "mainwindow.h"
#include "singleinstance.h"
#include "supervisor.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {
// Qt aborts with a long message when no display can be opened; say it in one line instead.
bool displayAvailable()
{
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const char *x11 = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}
} // namespace

int main(int argc, char *argv[])
{
    if (!displayAvailable()) {
        std::fprintf(stderr, "tarsel: no display found (DISPLAY is not set); to try it without a desktop: "
                             "xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }
    // The web engine's helper processes refuse to start as root inside their sandbox.
    if (::geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    // A supervising parent starts the program again if it dies by a signal (see supervisor.h).
    return Supervisor::run(argv,
        [&](bool /*restarted*/) { return SingleInstance::run(argc, argv, [] { return new MainWindow; }); });
}
