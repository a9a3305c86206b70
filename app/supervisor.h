// Keeps the program up when it dies by a signal: a crash inside the SIP library (which a
// hostile datagram can cause) must not leave the operator without a phone.
#pragma once

#include <functional>

namespace Supervisor {
// Crashes within this window count towards the back-off.
constexpr int CRASH_WINDOW_SECONDS = 60;
// After this many crashes within the window the next start waits BACK_OFF_SECONDS.
constexpr int CRASHES_BEFORE_BACK_OFF = 5;
constexpr int BACK_OFF_SECONDS = 60;

// Runs `program` in a child process (this executable started again with the same arguments,
// `argv` as main() got it) and returns its result there. The calling process stays
// behind as a small supervisor holding nothing of the program's (no window, no single-instance
// marker, no socket): when the child dies by a signal it logs the signal and starts the
// program again at once, `restarted` then being true; after CRASHES_BEFORE_BACK_OFF crashes
// within CRASH_WINDOW_SECONDS it waits BACK_OFF_SECONDS first. A child that exits returns its
// status from the supervisor as well; SIGTERM, SIGINT, SIGHUP and SIGQUIT sent to the
// supervisor are passed on to the child, and the supervisor then ends the way the child did.
// If the child cannot be forked, `program` runs unsupervised in this process.
int run(char **argv, const std::function<int(bool restarted)> &program);
} // namespace Supervisor
