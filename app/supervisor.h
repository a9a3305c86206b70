// Keeps the program up when it dies by a signal: a crash inside the SIP library (which a
// hostile datagram can cause) must not leave the operator without a phone. Plain C++ without
// Qt: the launcher that supervises the program is a small process of its own.
#pragma once

#include <functional>
#include <string>

namespace Supervisor {
// Crashes within this window count towards the back-off.
constexpr int CRASH_WINDOW_SECONDS = 60;
// After this many crashes within the window the next start waits BACK_OFF_SECONDS.
constexpr int CRASHES_BEFORE_BACK_OFF = 5;
constexpr int BACK_OFF_SECONDS = 60;

// How this process was started.
enum class Start {
    Unsupervised, // directly, not by supervise()
    First, // by supervise(), the first time
    Restarted, // by supervise(), again after a crash, with the arguments of the first start
};

// Which start this process is; the supervisor's mark is then taken out of the environment, so
// that nothing this process starts mistakes itself for the supervised program.
Start take_start();

// Runs `executable` with `argv` (as main() got it) in a child process and stays behind as its
// supervisor, holding nothing of the program's (no window, no single-instance marker, no
// socket): when the child dies by a signal it logs the signal to `logFile` and starts the
// program again at once, which then finds Start::Restarted; after CRASHES_BEFORE_BACK_OFF
// crashes within CRASH_WINDOW_SECONDS it waits BACK_OFF_SECONDS first. A child that exits
// ends the supervisor with its status; SIGTERM, SIGINT, SIGHUP and SIGQUIT sent to the
// supervisor are passed on to the child, and the supervisor then ends the way the child did.
// If no child can be made, this process becomes the program, unsupervised.
[[noreturn]] void supervise(const std::string &executable, char **argv, const std::string &logFile);

// For a program that supervises itself (this same executable as the child): in the child it
// returns `program(restarted)`; otherwise it supervises (see supervise()).
int run(char **argv, const std::string &logFile, const std::function<int(bool restarted)> &program);
} // namespace Supervisor
