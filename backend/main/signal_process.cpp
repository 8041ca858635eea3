#include "signal_process.h"

#include <fcntl.h>
#include <pthread.h>
#include <sane/sane.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "kelo_devctl.h"
#include "log.h"
#include "main_globals.h"
#include "usb_manager.h"

namespace dravnmain {

namespace {

constexpr int kSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

std::atomic<int> g_iWakeFd{-1};  // write end, read by the handler
int g_iWatchFd = -1;             // read end, the watcher's
pthread_t g_tWatcher;
bool g_bWatcherRunning = false;
// A signal has cancelled a scan of this process: a later signal that ends
// the process reports the cancel, never a success.
std::atomic<bool> g_bCancelledBySignal{false};

void* SignalWatcher(void*) {
  char byte;
  for (;;) {
    ssize_t n = read(g_iWatchFd, &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) return nullptr;  // closed at exit
    WriteLog(LOG_LEVEL_DEBUG, "SignalProcess", "ending the process");
    if (kelo_usb_manager) kelo_usb_manager->EndExcusive(nullptr);
    _exit(g_bCancelledBySignal.load() ? SANE_STATUS_CANCELLED : 0);
  }
}

}  // namespace

void SignalProcess(int signal) {
  int savedErrno = errno;
  KeloDevCtl* dev = velmorak.load();
  if (dev && dev->IsScanning()) {
    if (signal == SIGHUP) g_bSigHup.store(true);
    dev->RequestCancel();
    g_bCancelledBySignal.store(true);
    errno = savedErrno;
    return;
  }
  int fd = g_iWakeFd.load();
  if (fd >= 0 && write(fd, "x", 1) == 1) {
    errno = savedErrno;
    return;  // the watcher releases the record and ends the process
  }
  _exit(g_bCancelledBySignal.load() ? SANE_STATUS_CANCELLED : 0);
}

void InstallSignalProcess() {
  struct sigaction action = {};
  action.sa_handler = SignalProcess;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : kSignals) sigaction(s, &action, nullptr);
}

void StartSignalWatcher() {
  if (g_bWatcherRunning) return;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  g_iWatchFd = fds[0];
  if (pthread_create(&g_tWatcher, nullptr, SignalWatcher, nullptr) != 0) {
    close(fds[0]);
    close(fds[1]);
    g_iWatchFd = -1;
    return;
  }
  g_bWatcherRunning = true;
  g_iWakeFd.store(fds[1]);
}

void StopSignalWatcher() {
  for (int s : kSignals) {
    struct sigaction current = {};
    if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SignalProcess) signal(s, SIG_DFL);
  }
  if (!g_bWatcherRunning) return;
  int fd = g_iWakeFd.exchange(-1);
  close(fd);
  pthread_join(g_tWatcher, nullptr);
  close(g_iWatchFd);
  g_iWatchFd = -1;
  g_bWatcherRunning = false;
}

}  // namespace dravnmain
