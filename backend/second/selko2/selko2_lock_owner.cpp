// The Selko2 in-scanner lock owner: this process's record, and who holds a
// record the scanner answers.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "selko2_command.h"

namespace {

// The first three groups name this package's owners; the scanner compares
// the whole record, so only the two last groups differ between processes.
constexpr char kHead[] = "5d8e2c71-a3f4-4b09-";
constexpr size_t kHeadSize = sizeof kHead - 1;
constexpr size_t kTextSize = 36;

// A pid means something only on its host and in its pid namespace: the tag
// hashes the machine's identity (or, without one, the host name) with the
// namespace.
uint32_t HostTag() {
  std::string id;
  std::ifstream file("/etc/machine-id");
  std::getline(file, id);
  if (id.empty()) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) id = host;
  }
  struct stat ns {};
  if (stat("/proc/self/ns/pid", &ns) == 0) id.append(reinterpret_cast<const char*>(&ns.st_ino), sizeof ns.st_ino);
  uint32_t hash = 2166136261u;
  for (unsigned char c : id) hash = (hash ^ c) * 16777619u;
  return hash;
}

bool ParseHex(const unsigned char* text, size_t digits, uint32_t* value) {
  uint32_t v = 0;
  for (size_t i = 0; i < digits; ++i) {
    const unsigned char c = text[i];
    const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace

void BuildSelko2LockOwner(unsigned char owner[FCL_LOCK_OWNER_SIZE]) {
  const uint32_t host = HostTag();
  char text[kTextSize + 1];
  snprintf(text, sizeof text, "%s%04x-%04x%08x", kHead, static_cast<unsigned>(host >> 16),
           static_cast<unsigned>(host & 0xFFFF), static_cast<unsigned>(getpid()));
  memset(owner, 0, FCL_LOCK_OWNER_SIZE);
  memcpy(owner, text, kTextSize);
}

Selko2LockHolder WhoHoldsSelko2Lock(const unsigned char held[FCL_LOCK_OWNER_SIZE]) {
  if (memcmp(held, kHead, kHeadSize) != 0 || held[kHeadSize + 4] != '-') return Selko2LockHolder::Other;
  for (size_t i = kTextSize; i < FCL_LOCK_OWNER_SIZE; ++i)
    if (held[i] != 0) return Selko2LockHolder::Other;
  uint32_t high = 0, low = 0, pid = 0;
  if (!ParseHex(held + kHeadSize, 4, &high) || !ParseHex(held + kHeadSize + 5, 4, &low) ||
      !ParseHex(held + kHeadSize + 9, 8, &pid))
    return Selko2LockHolder::Other;
  if ((high << 16 | low) != HostTag() || pid == 0 || pid > static_cast<uint32_t>(INT_MAX))
    return Selko2LockHolder::Other;
  if (static_cast<pid_t>(pid) == getpid()) return Selko2LockHolder::Self;
  // Only a process that is certainly gone gives its lock up: one of another
  // user answers EPERM and still runs.
  if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) return Selko2LockHolder::Other;
  return Selko2LockHolder::Gone;
}
