// Files of the shared log directory: opened without following links, their
// mode set on the descriptor.
#ifndef DRAVN_IMGFORGE_FSIPCTL_LOG_FILE_H
#define DRAVN_IMGFORGE_FSIPCTL_LOG_FILE_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fsipctl {

struct Stamp {
  int month, day, year, hour, minute, second;
  uint16_t fraction;  // low 16 bits of the microseconds
};
Stamp Now();

// A descriptor for writing (appending or emptied), mode 0777; -1 when the
// file cannot be opened or is a link.
int OpenShared(const std::string& path, bool truncate);
bool WriteAll(int fd, const void* data, size_t size);
// Appends the text, first emptying a log grown past its limit.
void WriteLogFile(const std::string& path, const std::string& text);

}  // namespace fsipctl

#endif
