// The second backend's signal handling during and outside a scan.
#include "second_signal.h"

#include <fcntl.h>
#include <pthread.h>
#include <sane/sane.h>
#include <signal.h>
#include <unistd.h>

#include "brenna_scan_func.h"
#include "selko_scan_func.h"
#include "second_backend.h"
#include "selko2_scan_func.h"
#include "usb_manager.h"

namespace {

constexpr int kSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

struct sigaction g_tOldAction[kSignalCount];
bool g_bInstalled = false;
// A signal has cancelled a batch of this process: a later signal that ends
// the process reports the cancel, never a success.
volatile sig_atomic_t g_bCancelledBySignal = 0;

// Releasing the scanner means USB transfers and semaphore operations, which
// a signal handler must not do: the handler passes the signal through this
// pipe to a thread that does the release in ordinary context.
int g_iReleasePipe[2] = {-1, -1};
pthread_t g_tReleaseThread;
bool g_bReleaseThread = false;

void ReleaseAndExit() {
  if (g_pCSelko2ScanFunc) {
    g_pCSelko2ScanFunc->UnLockScanner();
    g_pCSelko2ScanFunc->RemoveCleanStatusFile();
  }
  if (kelo_usb_manager) kelo_usb_manager->EndExcusive(nullptr);
  _exit(g_bCancelledBySignal ? SANE_STATUS_CANCELLED : 0);
}

void* ReleaseThread(void*) {
  for (;;) {
    unsigned char c = 0;
    ssize_t n = read(g_iReleasePipe[0], &c, 1);
    if (n < 0) continue;  // interrupted
    if (n == 0 || c == 0) return nullptr;
    ReleaseAndExit();
  }
}

void StartReleaseThread() {
  if (g_bReleaseThread) return;
  if (pipe2(g_iReleasePipe, O_CLOEXEC) != 0) {
    g_iReleasePipe[0] = g_iReleasePipe[1] = -1;
    return;
  }
  // The thread never takes the signals itself.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  g_bReleaseThread = pthread_create(&g_tReleaseThread, nullptr, ReleaseThread, nullptr) == 0;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (!g_bReleaseThread) {
    close(g_iReleasePipe[0]);
    close(g_iReleasePipe[1]);
    g_iReleasePipe[0] = g_iReleasePipe[1] = -1;
  }
}

void StopReleaseThread() {
  if (!g_bReleaseThread) return;
  unsigned char quit = 0;
  ssize_t ignored = write(g_iReleasePipe[1], &quit, 1);
  (void)ignored;
  pthread_join(g_tReleaseThread, nullptr);
  close(g_iReleasePipe[0]);
  close(g_iReleasePipe[1]);
  g_iReleasePipe[0] = g_iReleasePipe[1] = -1;
  g_bReleaseThread = false;
}

}  // namespace

void SignalProcess(int signal) {
  if (dravn2device && dravn2device->m_bScanning == 1) {
    dravn2device->m_bIsCancel = 1;
    g_bCancelledBySignal = 1;
    return;
  }
  if (dravnbrennadevice && dravnbrennadevice->m_bScanning == 1) {
    dravnbrennadevice->m_bIsCancel = 1;
    g_bCancelledBySignal = 1;
    return;
  }
  if (g_pCSelko2ScanFunc && g_pCSelko2ScanFunc->m_bScanning == 1) {
    g_pCSelko2ScanFunc->m_bIsCancel = 1;
    g_bCancelledBySignal = 1;
    return;
  }
  // The process ends: a read stuck on a silent scanner (while it holds the
  // device the release needs) gives up at its next time-out.
  if (g_pCSelko2ScanFunc) g_pCSelko2ScanFunc->m_bIsCancel = 1;
  unsigned char c = static_cast<unsigned char>(signal);
  if (g_iReleasePipe[1] >= 0 && write(g_iReleasePipe[1], &c, 1) == 1) return;
  ReleaseAndExit();  // no release thread: better released from here than left held
}

void InstallSignalProcess() {
  StartReleaseThread();
  struct sigaction action {};
  action.sa_handler = SignalProcess;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &action, g_bInstalled ? nullptr : &g_tOldAction[i]);
  g_bInstalled = true;
}

void RemoveSignalProcess() {
  if (g_bInstalled) {
    for (int i = 0; i < kSignalCount; ++i) {
      struct sigaction current {};
      sigaction(kSignals[i], nullptr, &current);
      if (current.sa_handler == SignalProcess) sigaction(kSignals[i], &g_tOldAction[i], nullptr);
    }
    g_bInstalled = false;
  }
  StopReleaseThread();
}
