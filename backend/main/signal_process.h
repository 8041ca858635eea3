// The backend's handler of SIGHUP, SIGINT, SIGQUIT and SIGTERM. During a
// scan it only asks the device object to cancel; otherwise the process
// releases its exclusive-access record and ends with code 0. The handler
// itself does only async-signal-safe work: the release runs in a watcher
// thread that the handler wakes through a pipe.
#ifndef DRAVN_MAIN_SIGNAL_PROCESS_H
#define DRAVN_MAIN_SIGNAL_PROCESS_H

namespace dravnmain {

void SignalProcess(int signal);
void InstallSignalProcess();
// Starts the watcher (at init); stops it and gives the four signals back
// their default action where ours is still installed (at exit, before the
// library may be unloaded).
void StartSignalWatcher();
void StopSignalWatcher();

}  // namespace dravnmain

#endif
