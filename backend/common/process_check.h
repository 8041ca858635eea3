// Who runs us: the front end (scanimage, xsane, simple-scan) or the scan
// manager started for the scanner's button, found through /proc along the
// parent chain.
#ifndef DRAVN_COMMON_PROCESS_CHECK_H
#define DRAVN_COMMON_PROCESS_CHECK_H

// Set once the scan manager has been found among our ancestors.
extern int g_bScanButtonProcess;

// Parent of a process, or 0 when it cannot be read.
int GetPpid(int pid);
// The process's executable name equals the program name or is a prefix of it.
bool IsSpecifyProcess(int pid, const char* program);
// This process or one of its ancestors is the program.
bool CheckSpecifyProcess(const char* program);
bool IsScanButtonProcess(int pid);
bool CheckProcess();

#endif
