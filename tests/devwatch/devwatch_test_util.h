// Helpers of the device watch tests: the staged library loaded as its
// callers load it, scenario and dravn.conf fixtures, and the exclusive-access
// segment seen as raw bytes.
#ifndef DRAVN_TESTS_DEVWATCH_TEST_UTIL_H
#define DRAVN_TESTS_DEVWATCH_TEST_UTIL_H

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "test_support.h"

namespace devwatch_test {

// The entries bound by name from the staged libdevwatch.
struct Dvwc {
  void* handle = nullptr;
  int (*ListupScanner)() = nullptr;
  int (*GetDeviceTotalNum)() = nullptr;
  char* (*GetDeviceName)(int) = nullptr;
  char* (*GetCurrentDeviceName)() = nullptr;
  int (*OpenFirstDevice)() = nullptr;
  int (*Open)(const char*) = nullptr;
  int (*Close)() = nullptr;
  unsigned (*GetErrorInfo)() = nullptr;
  int (*IsErrorStatus)() = nullptr;
  unsigned (*GetLastErrorInfo)() = nullptr;
  int (*InitSystemToolPath)() = nullptr;
  int (*StartExcusive)(const char*) = nullptr;
  int (*EndExcusive)(const char*) = nullptr;
  int (*UnlockScanner)(const char*) = nullptr;
};

constexpr const char* kLibrary = DRAVN_LIB_DIR "/libdevwatch.so";

template <typename F>
void Bind(void* handle, F*& fn, const char* name) {
  fn = reinterpret_cast<F*>(dlsym(handle, name));
  EXPECT_NE(fn, nullptr) << name;
}

// Loads the library (its device list is built at load, from the
// environment as it is now); the caller unloads it with Unload.
inline Dvwc Load() {
  // The stand-in libusb goes first, so that the library's libusb-1.0.so.0
  // is it, as LD_LIBRARY_PATH makes it for a program.
  static void* sim = dlopen(DRAVN_SIM_LIB_DIR "/libusb-1.0.so.0", RTLD_NOW | RTLD_GLOBAL);
  EXPECT_NE(sim, nullptr) << dlerror();
  Dvwc d;
  d.handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(d.handle, nullptr) << dlerror();
  if (!d.handle) return d;
  Bind(d.handle, d.ListupScanner, "dvwc_ListupScanner");
  Bind(d.handle, d.GetDeviceTotalNum, "dvwc_GetDeviceTotalNum");
  Bind(d.handle, d.GetDeviceName, "dvwc_GetDeviceName");
  Bind(d.handle, d.GetCurrentDeviceName, "dvwc_GetCurrentDeviceName");
  Bind(d.handle, d.OpenFirstDevice, "dvwc_OpenFirstDevice");
  Bind(d.handle, d.Open, "dvwc_Open");
  Bind(d.handle, d.Close, "dvwc_Close");
  Bind(d.handle, d.GetErrorInfo, "dvwc_GetErrorInfo");
  Bind(d.handle, d.IsErrorStatus, "dvwc_IsErrorStatus");
  Bind(d.handle, d.GetLastErrorInfo, "dvwc_GetLastErrorInfo");
  Bind(d.handle, d.InitSystemToolPath, "dvwc_InitSystemToolPath");
  Bind(d.handle, d.StartExcusive, "dvwc_StartExcusive");
  Bind(d.handle, d.EndExcusive, "dvwc_EndExcusive");
  Bind(d.handle, d.UnlockScanner, "dvwc_UnlockScanner");
  return d;
}

// The EEPROM and diagnostic entries the maintenance back-ends answer.
struct MaintenanceEntries {
  int (*GetEEPROM)(const char*, unsigned char*, unsigned short) = nullptr;
  int (*WriteEEPROM)(const char*, const unsigned char*, unsigned short, unsigned short) = nullptr;
  int (*GetFirmVersion)(const char*, unsigned char*, unsigned short) = nullptr;
  int (*SendDiagnostic)(const char*, const unsigned char*, unsigned short) = nullptr;
  int (*ReceiveDiagnosticResult)(const char*, unsigned char*, unsigned short) = nullptr;
  int (*Inquiry)(const char*, unsigned char*) = nullptr;
  int (*InquiryVPD)(const char*, unsigned char*, unsigned short, int) = nullptr;
};

inline void BindMaintenance(void* handle, MaintenanceEntries& e) {
  Bind(handle, e.GetEEPROM, "dvwc_GetEEPROM");
  Bind(handle, e.WriteEEPROM, "dvwc_WriteEEPROM");
  Bind(handle, e.GetFirmVersion, "dvwc_GetFirmVersion");
  Bind(handle, e.SendDiagnostic, "dvwc_SendDiagnostic");
  Bind(handle, e.ReceiveDiagnosticResult, "dvwc_ReceiveDiagnosticResult");
  Bind(handle, e.Inquiry, "dvwc_Inquiry");
  Bind(handle, e.InquiryVPD, "dvwc_InquiryVPD");
}

// Unloading ends the library's use of libusb, so that the next load reads
// the scenario afresh.
inline void Unload(Dvwc& d) {
  if (d.handle) dlclose(d.handle);
  d.handle = nullptr;
  EXPECT_EQ(dlopen(kLibrary, RTLD_NOW | RTLD_NOLOAD), nullptr) << "the library stayed loaded";
}

// A folder with dravn.conf, a scenario and a transcript, named to the
// library through the environment.
class Bench {
 public:
  Bench() : m_dir(dravn_test::MakeTempDir("devwatch")) {
    dravn_test::Run({"mkdir", "-p", Conf(), Pwd()});
    setenv("DRAVN_CONFIG_DIR", Conf().c_str(), 1);
    setenv("PWD", Pwd().c_str(), 1);
    setenv("DRAVN_SIM", (m_dir + "/scenario").c_str(), 1);
    setenv("DRAVN_SIM_TRANSCRIPT", Transcript().c_str(), 1);
  }
  ~Bench() {
    for (const char* v : {"DRAVN_CONFIG_DIR", "DRAVN_SIM", "DRAVN_SIM_TRANSCRIPT"}) unsetenv(v);
    dravn_test::Run({"rm", "-rf", m_dir});
  }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  std::string Conf() const { return m_dir + "/conf"; }
  std::string Pwd() const { return m_dir + "/pwd"; }
  std::string Transcript() const { return m_dir + "/transcript"; }
  const std::string& Dir() const { return m_dir; }
  void Config(const std::string& text) const { dravn_test::WriteFile(Conf() + "/dravn.conf", text); }
  void Scenario(const std::string& text) const { dravn_test::WriteFile(m_dir + "/scenario", text); }
  std::string ReadTranscript() const { return dravn_test::ReadFile(Transcript()); }
  void ClearTranscript() const { dravn_test::WriteFile(Transcript(), ""); }
  // The transcript so far, which then starts afresh.
  std::string TakeTranscript() const {
    std::string t = ReadTranscript();
    ClearTranscript();
    return t;
  }

 private:
  std::string m_dir;
};

// The exclusive-access segment as another program of the package sees it:
// magic at 0, record k at 14 + 55k with name, pid and state at +0, +30, +40.
constexpr key_t kFirstKey = 0x43A0D0;
constexpr int kSegmentSize = 454;

class RawTable {
 public:
  // Makes the segment and its semaphore when they are not there yet.
  RawTable() {
    int id = shmget(kFirstKey, kSegmentSize, 0);
    bool fresh = id < 0;
    if (fresh) id = shmget(kFirstKey, kSegmentSize, IPC_CREAT | 0777);
    void* addr = id < 0 ? reinterpret_cast<void*>(-1) : shmat(id, nullptr, 0);
    m_base = addr == reinterpret_cast<void*>(-1) ? nullptr : static_cast<char*>(addr);
    if (m_base && fresh) {
      memset(m_base, 0, kSegmentSize);
      memcpy(m_base, "DravnExcusive", 14);
      int sem = semget(kFirstKey, 1, IPC_CREAT | 0777);
      semctl(sem, 0, SETVAL, 1);
    }
  }
  ~RawTable() {
    if (m_base) shmdt(m_base);
  }
  RawTable(const RawTable&) = delete;
  RawTable& operator=(const RawTable&) = delete;
  bool Ok() const { return m_base != nullptr; }
  std::string Name(int k) const { return Text(k, 0, 30); }
  std::string Pid(int k) const { return Text(k, 30, 10); }
  std::string State(int k) const { return Text(k, 40, 15); }
  void Set(int k, const std::string& name, const std::string& pid, const std::string& state) {
    char* r = m_base + 14 + 55 * k;
    memset(r, 0, 55);
    memcpy(r, name.data(), name.size());
    memcpy(r + 30, pid.data(), pid.size());
    memcpy(r + 40, state.data(), state.size());
  }
  void SetState(int k, const std::string& state) {
    char* f = m_base + 14 + 55 * k + 40;
    memset(f, 0, 15);
    memcpy(f, state.data(), state.size());
  }
  int Find(const std::string& name) const {
    for (int k = 0; k < 8; ++k)
      if (Name(k) == name) return k;
    return -1;
  }

 private:
  std::string Text(int k, int offset, int size) const {
    const char* f = m_base + 14 + 55 * k + offset;
    return std::string(f, strnlen(f, static_cast<size_t>(size)));
  }
  char* m_base = nullptr;
};

// Transcript helpers: bytes in the transcript's lower-case hex, the count
// of a text, and the data phases going out (all but command blocks) as
// "len:hex" with the first 64 bytes.
inline std::string Hex(const std::vector<unsigned char>& bytes) {
  std::string out;
  char two[3];
  for (unsigned char b : bytes) {
    snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}
inline std::string HexText(const std::string& text) { return Hex(std::vector<unsigned char>(text.begin(), text.end())); }

inline size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

inline std::vector<std::string> DataOut(const std::string& transcript) {
  static const std::string kLead = "bulk out ep=0x02 len=";
  std::vector<std::string> out;
  size_t at = 0;
  while ((at = transcript.find(kLead, at)) != std::string::npos) {
    size_t end = transcript.find('\n', at);
    std::string line = transcript.substr(at, end - at);
    at = end;
    int len = atoi(line.c_str() + kLead.size());
    if (len == 31) continue;
    out.push_back(std::to_string(len) + ":" + line.substr(line.rfind(' ') + 1));
  }
  return out;
}

inline bool SegmentExists() { return shmget(kFirstKey, kSegmentSize, 0) >= 0; }
inline bool SemaphoreExists() { return semget(kFirstKey, 1, 0) >= 0; }

// Semaphore down and up, as every user of the table brackets its access.
inline bool TableLock(int delta) {
  int sem = semget(kFirstKey, 1, 0);
  struct sembuf op = {0, static_cast<short>(delta), SEM_UNDO};
  return sem >= 0 && semop(sem, &op, 1) == 0;
}

}  // namespace devwatch_test

#endif
