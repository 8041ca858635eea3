// The reply targets' simulated scanner: one "replay" device of sim/ (a
// family's model whose IN transfers the input changes), made afresh for
// every run, with the process's status files and logs kept to itself.
#ifndef DRAVN_FUZZ_REPLAY_DEVICE_H
#define DRAVN_FUZZ_REPLAY_DEVICE_H

#include <libusb.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "dravn_paths.h"
#include "fuzz_support.h"
#include "model_catalog.h"

namespace fuzz {

// Each of `dirs` (the system's own folders, staged) is replaced by a folder
// of this process, in a mount and IPC namespace of its own; false where the
// system does not let it have one. DRAVN_SIM names the scenario that
// ReplayDevice writes.
inline bool PrivateFolders(std::initializer_list<const char*> dirs = {DRAVN_SHM_DIR, DRAVN_LOG_DIR}) {
  // The program itself needs libusb, so that the stand-in (first on its
  // run path) is the one every library of the process binds.
  (void)libusb_get_version();
  setenv("DRAVN_SIM", (Dir() + "/scenario").c_str(), 1);
  if (unshare(CLONE_NEWNS | CLONE_NEWIPC) != 0) return false;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  int n = 0;
  for (const char* dir : dirs) {
    const std::string mine = Dir() + "/private" + std::to_string(n++);
    mkdir(mine.c_str(), 0777);
    if (mount(mine.c_str(), dir, nullptr, MS_BIND, nullptr) != 0) return false;
  }
  return true;
}

// A scanner `model` at bus 1 address 5, answered by `family`'s model with the
// changes `replies` holds; `extra` are more "set" lines. A new scenario text
// every run makes a new device: nothing of the last run stays in it. The
// device's name as the backends give it.
inline std::string ReplayDevice(const dravn::CatalogModel& model, const char* family, const uint8_t* replies,
                                size_t size, const std::string& extra = "") {
  static unsigned long run = 0;
  const std::string path = WriteFile("replies", replies, size);
  char head[256];
  std::snprintf(head, sizeof head, "# run %lu\ndevice replay %04x:%04x bus=1 address=5\nset family=%s\n", ++run,
                model.vendorId, model.productId, family);
  WriteFile("scenario", head + ("set replies=" + path + "\n") + extra);
  return std::string(model.model) + ":001:005";
}

// A scanner of a catalogue row, answered by a family's simulated model.
struct ReplayRow {
  const dravn::CatalogModel& model;
  const char* family;
};

// A dravn.conf listing these (vendor, product) ids, found through
// DRAVN_CONFIG_DIR as every deliverable finds it.
inline void ListInConfig(const std::vector<std::pair<unsigned, unsigned>>& ids) {
  std::string conf;
  for (const auto& [vendor, product] : ids) {
    char line[64];
    std::snprintf(line, sizeof line, "usb 0x%04x 0x%04x\n", vendor, product);
    conf += line;
  }
  WriteFile("dravn.conf", conf);
  setenv("DRAVN_CONFIG_DIR", Dir().c_str(), 1);
}

template <size_t N>
void ListInConfig(const ReplayRow (&rows)[N]) {
  std::vector<std::pair<unsigned, unsigned>> ids;
  for (const ReplayRow& r : rows) ids.emplace_back(r.model.vendorId, r.model.productId);
  ListInConfig(ids);
}

}  // namespace fuzz

#endif
