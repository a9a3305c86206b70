#include "app/supervisor.h"

#include "app/vellogger.h"

#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>

#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Tells the executable started by the supervisor that it is the supervised program.
const char CHILD_ENV[] = "TARSEL_SUPERVISED";
const char CHILD_FIRST[] = "first";
const char CHILD_RESTARTED[] = "restarted";
constexpr int PASSED_ON[] = { SIGTERM, SIGINT, SIGHUP, SIGQUIT };

volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_stopSignal = 0;

// Runs in the supervisor only: whoever ends the supervisor (the session, a terminal, a
// test harness) means the program, and the child must not be started again afterwards.
extern "C" void pass_on(int sig)
{
    g_stopSignal = sig;
    if (g_child > 0)
        ::kill(pid_t(g_child), sig);
}

double monotonic_seconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void log_line(const QString &text)
{
    // The program's own log, so that the operator's support sees the crash beside what led
    // to it; a logger is made per line since the supervisor logs only a handful of lines.
    VelLogger logger;
    logger.log(text, LEVEL_WARNING);
}

// Dies the way the child died, so that the exit status reaches whoever started the program.
[[noreturn]] void end_like_child(int status)
{
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        std::signal(sig, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, sig);
        ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
        ::raise(sig);
        ::_exit(128 + sig);
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

// Sleeps up to `seconds`, less when a stop signal comes meanwhile.
void back_off(int seconds)
{
    const double until = monotonic_seconds() + seconds;
    while (!g_stopSignal && monotonic_seconds() < until) {
        const timespec step { 0, 100 * 1000 * 1000 };
        ::nanosleep(&step, nullptr);
    }
}
} // namespace

int Supervisor::run(char **argv, const std::function<int(bool restarted)> &program)
{
    // The child: the same executable started afresh by the supervisor below.
    if (const char *role = std::getenv(CHILD_ENV)) {
        const bool restarted = std::strcmp(role, CHILD_RESTARTED) == 0;
        ::unsetenv(CHILD_ENV);
        return program(restarted);
    }

    sigset_t passed, previous;
    sigemptyset(&passed);
    for (int sig : PASSED_ON)
        sigaddset(&passed, sig);

    const pid_t supervisor = ::getpid();
    std::deque<double> crashes;
    bool restarted = false;
    for (;;) {
        if (g_stopSignal)
            end_like_child(W_EXITCODE(0, g_stopSignal));
        // Blocked across fork, so that a signal arriving meanwhile is neither lost by the
        // supervisor nor handled by the child with the supervisor's handler.
        ::sigprocmask(SIG_BLOCK, &passed, &previous);
        const pid_t child = ::fork();
        if (child == 0) {
            // The two are one program to whoever started it: a supervisor killed outright
            // takes the child with it.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != supervisor)
                ::_exit(1);
            for (int sig : PASSED_ON)
                std::signal(sig, SIG_DFL);
            ::sigprocmask(SIG_SETMASK, &previous, nullptr);
            // A fresh image rather than a copy of the supervisor: the SIP library seeds its
            // random generators when it is loaded, and a forked copy would send the same
            // REGISTER Call-ID (with a lower CSeq) as the process that crashed, which a
            // registrar refuses while the old binding lasts.
            ::setenv(CHILD_ENV, restarted ? CHILD_RESTARTED : CHILD_FIRST, 1);
            ::execv("/proc/self/exe", argv);
            ::unsetenv(CHILD_ENV);
            return program(restarted);
        }
        if (child < 0) {
            ::sigprocmask(SIG_SETMASK, &previous, nullptr);
            log_line(QStringLiteral("supervisor: cannot start the program (%1); running it unsupervised")
                         .arg(QString::fromLocal8Bit(std::strerror(errno))));
            return program(restarted);
        }
        g_child = child;
        if (!restarted) {
            struct sigaction action
            {
            };
            action.sa_handler = pass_on;
            sigemptyset(&action.sa_mask);
            for (int sig : PASSED_ON)
                ::sigaction(sig, &action, nullptr);
        }
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        if (restarted)
            log_line(QStringLiteral("supervisor: program started again, process %1").arg(child));

        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
        g_child = 0;
        if (!WIFSIGNALED(status) || g_stopSignal)
            end_like_child(status);

        const int sig = WTERMSIG(status);
        const double now = monotonic_seconds();
        crashes.push_back(now);
        while (!crashes.empty() && now - crashes.front() > CRASH_WINDOW_SECONDS)
            crashes.pop_front();
        log_line(QStringLiteral("supervisor: program (process %1) ended by signal %2 (%3)%4; crash %5 within "
                                "%6 s")
                     .arg(child)
                     .arg(sig)
                     .arg(QString::fromLocal8Bit(::strsignal(sig)))
                     .arg(WCOREDUMP(status) ? QStringLiteral(", core dumped") : QString())
                     .arg(crashes.size())
                     .arg(CRASH_WINDOW_SECONDS));
        if (int(crashes.size()) >= CRASHES_BEFORE_BACK_OFF) {
            log_line(QStringLiteral("supervisor: %1 crashes within %2 s; next start in %3 s")
                         .arg(crashes.size())
                         .arg(CRASH_WINDOW_SECONDS)
                         .arg(BACK_OFF_SECONDS));
            crashes.clear();
            back_off(BACK_OFF_SECONDS);
        }
        restarted = true;
    }
}
