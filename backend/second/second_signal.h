// SIGHUP, SIGINT, SIGQUIT and SIGTERM in the second backend: during a scan
// they cancel it; otherwise the scanner's lock and the exclusive-access
// entry are given back and the process ends with status 0.
#ifndef DRAVN_SECOND_SECOND_SIGNAL_H
#define DRAVN_SECOND_SECOND_SIGNAL_H

// Installs SignalProcess for the four signals.
void InstallSignalProcess();
// Puts back the handlers found at the first install (where ours are still
// in place) and ends the release thread: the library may be unloaded next.
void RemoveSignalProcess();

// The handler itself.
void SignalProcess(int signal);

#endif
