#include "app/supervisor.h"

#include "app/logfile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
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
// A child that cannot start the program ends with the shell's status for "cannot execute".
constexpr int EXIT_CANNOT_START = 127;

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

// The program's own log, so that the operator's support sees the crash beside what led to it;
// on standard error as well, as the program's logger does.
std::string g_logFile;

void log_line(const std::string &text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
    LogFile::rotate(g_logFile);
    LogFile::append(g_logFile, text);
}

std::string error_text(int error)
{
    return std::strerror(error);
}

// Becomes the program, in this process: as the supervised child, or unsupervised when no child
// can be made. An executable that cannot be started ends the process.
[[noreturn]] void become_program(const std::string &executable, char **argv, bool restarted)
{
    ::setenv(CHILD_ENV, restarted ? CHILD_RESTARTED : CHILD_FIRST, 1);
    ::execv(executable.c_str(), argv);
    log_line("supervisor: cannot start " + executable + " (" + error_text(errno) + ")");
    ::_exit(EXIT_CANNOT_START);
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

Supervisor::Start Supervisor::take_start()
{
    const char *role = std::getenv(CHILD_ENV);
    if (!role)
        return Start::Unsupervised;
    const Start start = std::strcmp(role, CHILD_RESTARTED) == 0 ? Start::Restarted : Start::First;
    ::unsetenv(CHILD_ENV);
    return start;
}

int Supervisor::run(
    char **argv, const std::string &logFile, const std::function<int(bool restarted)> &program)
{
    const Start start = take_start();
    if (start != Start::Unsupervised)
        return program(start == Start::Restarted);
    supervise("/proc/self/exe", argv, logFile);
}

void Supervisor::supervise(const std::string &executable, char **argv, const std::string &logFile)
{
    g_logFile = logFile;
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
            // A fresh image for every start, also when the executable supervises itself: the
            // SIP library seeds its random generators when it is loaded, and a forked copy would
            // send the same REGISTER Call-ID (with a lower CSeq) as the process that crashed,
            // which a registrar refuses while the old binding lasts.
            become_program(executable, argv, restarted);
        }
        if (child < 0) {
            ::sigprocmask(SIG_SETMASK, &previous, nullptr);
            log_line(
                "supervisor: cannot start the program (" + error_text(errno) + "); running it unsupervised");
            become_program(executable, argv, restarted);
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
            log_line("supervisor: program started again, process " + std::to_string(child));

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
        log_line("supervisor: program (process " + std::to_string(child) + ") ended by signal "
            + std::to_string(sig) + " (" + ::strsignal(sig) + ")" + (WCOREDUMP(status) ? ", core dumped" : "")
            + "; crash " + std::to_string(crashes.size()) + " within " + std::to_string(CRASH_WINDOW_SECONDS)
            + " s");
        if (int(crashes.size()) >= CRASHES_BEFORE_BACK_OFF) {
            log_line("supervisor: " + std::to_string(crashes.size()) + " crashes within "
                + std::to_string(CRASH_WINDOW_SECONDS) + " s; next start in "
                + std::to_string(BACK_OFF_SECONDS) + " s");
            crashes.clear();
            back_off(BACK_OFF_SECONDS);
        }
        restarted = true;
    }
}
