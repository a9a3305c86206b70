#include "mainwindow.h"
#include "singleinstance.h"

#include <cstdlib>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // The web engine's helper processes refuse to start as root inside their sandbox.
    if (::geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    return SingleInstance::run(argc, argv, [] { return new MainWindow; });
}
