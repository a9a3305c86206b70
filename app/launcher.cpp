// `tarsel`, the command the operator starts: a small supervisor without Qt or the SIP library
// that runs the program (TARSEL_PROGRAM, beside it) as its child and starts it again when it
// dies by a signal (see supervisor.h). Kept small since it stays for the whole session.
#include "app/logfile.h"
#include "app/supervisor.h"

#include <climits>
#include <string>

#include <unistd.h>

namespace {
// The directory holding this executable: the application directory, the program's as well.
std::string own_directory()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string exe(path, std::size_t(length));
    return exe.substr(0, exe.rfind('/'));
}
} // namespace

int main(int, char *argv[])
{
    const std::string dir = own_directory();
    Supervisor::supervise(dir + "/" TARSEL_PROGRAM, argv, dir + LogFile::PATH_IN_APP_DIR);
}
