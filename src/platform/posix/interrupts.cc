// Interruptions on POSIX: SIGINT, SIGTERM, SIGHUP and SIGQUIT.
//
// Needs Linux with glibc 2.34 or later (as every file of posix/): signal
// masks, sigtimedwait, sigpending, and SI_KERNEL for what a terminal sends.
//
// No handler is ever installed. Holding the interruptions blocks them (and
// SIGCHLD) in the main thread, and every thread started afterwards
// inherits the mask, so a signal stays pending on the process until the
// main thread looks: between two copies (sigpending, from any thread), or
// in the wait for a child, which takes the interruptions and the child's
// end with one sigtimedwait, so that neither can slip in between a test
// and the wait. Several threads may wait for children of their own at
// once (trelvik-git's parallel checks): what one of them takes, each
// passes on to its own child, and none sleeps long on a SIGCHLD that
// another one took. Children start with an empty mask and the signal
// dispositions the program was given (process.cc), so a checker reacts to
// signals as it would without the gate.
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/platform.h"
#include "platform/posix/interrupts.h"

namespace platform {
namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

sigset_t g_held; // written once, before any thread reads it
std::atomic<bool> g_holding{false};
std::atomic<int> g_interruption{0}; // the first one seen
// Every interruption taken by a wait, for the other waits to pass on too:
// how many, the last one, and whether a terminal sent it to the whole
// process group (children included).
std::atomic<unsigned> g_taken{0};
std::atomic<int> g_last{0};
std::atomic<bool> g_last_from_terminal{false};

int record(int signal) {
  int first = 0;
  return g_interruption.compare_exchange_strong(first, signal) ? signal : first;
}

// A wait sleeps at most this long, so that one that another wait's
// sigwaitinfo robbed of its child's SIGCHLD, or of an interruption to pass
// on, looks again soon.
constexpr long kWaitSlice = 50 * 1000 * 1000; // ns

} // namespace

void hold_interrupts() {
  sigemptyset(&g_held);
  for (int signal : kInterrupts) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
      sigaddset(&g_held, signal);
  }
  // SIGCHLD's default action drops it when it is not blocked; blocked, it
  // stays pending until the wait for the checker takes it.
  sigset_t blocked = g_held;
  sigaddset(&blocked, SIGCHLD);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
  g_holding = true;
}

int interruption() {
  if (!g_holding)
    return 0;
  if (int first = g_interruption.load())
    return first;
  sigset_t pending;
  if (sigpending(&pending) != 0)
    return 0;
  for (int signal : kInterrupts) {
    if (sigismember(&g_held, signal) && sigismember(&pending, signal))
      return record(signal);
  }
  return 0;
}

void end_interrupted(int signal) {
  std::fflush(stdout);
  std::fflush(stderr);
  // No handler was installed and an ignored signal is never held, so the
  // signal's action is the default one. The wait may have taken it off the
  // pending set: raise it again, then let it through.
  raise(signal);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  _exit(128 + signal);
}

bool wait_for_child(pid_t pid, int *status) {
  if (!g_holding) {
    pid_t waited;
    do {
      waited = waitpid(pid, status, 0);
    } while (waited < 0 && errno == EINTR);
    return waited == pid;
  }
  sigset_t awaited = g_held;
  sigaddset(&awaited, SIGCHLD);
  unsigned passed_on = g_taken.load();
  for (;;) {
    pid_t waited = waitpid(pid, status, WNOHANG);
    if (waited == pid)
      return true;
    if (waited < 0 && errno != EINTR)
      return false;
    // A terminal sends Ctrl-C, Ctrl-\ and its hang-up to the whole
    // foreground process group, the child included; anything else (kill,
    // a supervisor) reached this program alone, and goes on to the child.
    if (unsigned taken = g_taken.load(); taken != passed_on) {
      passed_on = taken;
      if (!g_last_from_terminal)
        kill(pid, g_last.load());
    }
    siginfo_t info{};
    timespec slice{0, kWaitSlice};
    int signal = sigtimedwait(&awaited, &info, &slice);
    if (signal <= 0 || signal == SIGCHLD)
      continue;
    record(signal);
    g_last = signal;
    g_last_from_terminal = info.si_code == SI_KERNEL;
    ++g_taken;
  }
}

} // namespace platform
