// The image units' optional text log, switched on by "LogMode" in section
// "COMMON" of the unit's profile.
#ifndef DRAVN_UNIT_LOG_H
#define DRAVN_UNIT_LOG_H

enum { I3LOG_ERROR = 1, I3LOG_INFO = 4, I3LOG_TRACE = 64 };

// The binarization unit's profile and log.
void I3LogInit();
// Any unit: the profile file read, and the log directory and file name used
// once the mode is not 0.
void I3LogInitFrom(const char* profilePath, const char* logDir, const char* logName);
void I3Log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

int I3LogMode();
const char* I3LogDirectory();

#endif
