#include "app/singleinstance.h"
#include "app/supervisor.h"
#include "ui/mainwindow/mainwindow.h"

#include <cstdlib>
#include <unistd.h>

// The program itself. The operator starts the launcher (`tarsel`, app/launcher.cpp), which runs
// this executable as its child and starts it again after a crash; started directly, it runs
// unsupervised.
int main(int argc, char *argv[])
{
    // The web engine's helper processes refuse to start as root inside their sandbox.
    if (::geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    // A start again after a crash does not dial the link of the first start a second time.
    const bool restarted = Supervisor::take_start() == Supervisor::Start::Restarted;
    return SingleInstance::run(
        argc, argv, [] { return new MainWindow; }, restarted);
}
