// The Selko2 lock-owner record of a process of this host that has ended, as
// a run killed while it held the scanner leaves it.
#ifndef DRAVN_TESTS_SELKO2_OWNER_H
#define DRAVN_TESTS_SELKO2_OWNER_H

#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "selko2_command.h"

namespace dravn_test {

// The 36-character owner text (empty when the child could not report it).
inline std::string OwnerOfAnEndedProcess() {
  int fds[2];
  if (pipe(fds) != 0) return "";
  const pid_t child = fork();
  if (child == 0) {
    unsigned char owner[FCL_LOCK_OWNER_SIZE];
    BuildSelko2LockOwner(owner);
    _exit(write(fds[1], owner, 36) == 36 ? 0 : 1);
  }
  close(fds[1]);
  char text[36] = {};
  const bool whole = child > 0 && read(fds[0], text, sizeof text) == static_cast<ssize_t>(sizeof text);
  close(fds[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  return whole ? std::string(text, sizeof text) : "";
}

}  // namespace dravn_test

#endif
