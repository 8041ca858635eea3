// The dispatcher under the control entry: one operation of the crop,
// blank-page or colour-or-mono function per call, with fsip.conf reread on
// every call so that its log and dump switches take effect at once.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "dravn_export.h"
#include "dravn_paths.h"
#include "fsipctl_internal.h"

using namespace fsipctl;

namespace {

// Characters of a file through one buffer: the file is reread on every
// request, so the fewer system calls the better.
class FileChars {
 public:
  explicit FileChars(const char* path) : m_fd(open(path, O_RDONLY | O_CLOEXEC)) {}
  ~FileChars() {
    if (m_fd >= 0) close(m_fd);
  }
  FileChars(const FileChars&) = delete;
  FileChars& operator=(const FileChars&) = delete;
  bool IsOpen() const { return m_fd >= 0; }
  int Get() {
    if (m_pos == m_end) {
      ssize_t n;
      do {
        n = read(m_fd, m_buffer, sizeof m_buffer);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return EOF;
      m_pos = 0, m_end = static_cast<size_t>(n);
    }
    return static_cast<unsigned char>(m_buffer[m_pos++]);
  }
  void Unget() { --m_pos; }  // only right after a Get that was not EOF

 private:
  int m_fd;
  char m_buffer[4096];
  size_t m_pos = 0, m_end = 0;
};

// Reads "word integer" entries until each key has its first match; keys
// without one keep their defaults. One pass serves several keys.
void ReadProfileInts(const char* path, const char* const* keys, int* values, int count) {
  FileChars file(path);
  if (!file.IsOpen()) return;
  std::vector<bool> found(static_cast<size_t>(count), false);
  int left = count;
  while (left > 0) {
    // A word longer than the buffer is read to its end and never matches.
    char word[256];
    int length = 0, c;
    while ((c = file.Get()) != EOF && isspace(c)) {
    }
    if (c == EOF) break;
    bool tooLong = false;
    for (; c != EOF && !isspace(c); c = file.Get()) {
      if (length < 255)
        word[length++] = static_cast<char>(c);
      else
        tooLong = true;
    }
    word[length] = '\0';
    // The value: an optional sign and digits; anything else counts as 0.
    while (c == ' ' || c == '\t') c = file.Get();
    long value = 0;
    bool negative = false;
    if (c == '-' || c == '+') {
      negative = c == '-';
      c = file.Get();
    }
    while (c != EOF && isdigit(c)) {
      if (value < 100000000000L) value = value * 10 + (c - '0');
      c = file.Get();
    }
    if (negative) value = -value;
    if (c != EOF) file.Unget();
    if (tooLong) continue;
    for (int k = 0; k < count; ++k) {
      if (!found[static_cast<size_t>(k)] && strcasecmp(word, keys[k]) == 0) {
        values[k] = static_cast<int>(value);
        found[static_cast<size_t>(k)] = true;
        --left;
      }
    }
  }
}

}  // namespace

int CrpprGetPrivateProfileInt(const char* key, int def, const char* path) {
  int value = def;
  if (key && path) ReadProfileInts(path, &key, &value, 1);
  return value;
}

const char* FsipConfPath() {
  static const std::string path = std::string(DRAVN_ETC_DIR) + "/fsip.conf";
  return path.c_str();
}

int CRPEnable() { return 0; }
int BPDEnable() { return 0; }
int DCMEnable() { return 0; }
int CRPInit() { return 0; }
int CRPExit() { return 0; }
int BPDInit() { return 0; }
int BPDExit() { return 0; }
int DCMInit() { return 0; }
int DCMExit() { return 0; }

int CRPExec(FSIP_S_IP_MODE* mode, FSIP_S_IMAGEINFO_EX* inputs, void* inParam, FSIP_S_IMAGEINFO_EX* outputs,
            void* outParam, void* userParam) {
  const int type = mode->nType;
  // A type outside the table, or one whose engine is not in this library.
  const CropEngine* engine = type >= 1 && type <= 10 && kCropEngines[type].entry ? &kCropEngines[type] : nullptr;
  if (!engine) {
    if (g_bLogProc) OutputLog(kSrcCrp, 591, "Error CRPExec() NOTSUPPORT");
    return FSIP_C_ERR_NOTSUPPORT;
  }
  if (g_bLogProc) OutputLog(kSrcCrp, engine->startLine, (std::string("Start ") + engine->name + "()").c_str());
  ConnectEngines();
  const int result = engine->run({inputs, inParam, outputs, outParam, userParam});
  if (g_bLogProc) OutputLog(kSrcCrp, engine->endLine, (std::string("End ") + engine->name + "()").c_str());
  return result;
}

int BPDExec(FSIP_S_IP_MODE* mode, FSIP_S_IMAGEINFO_EX* inputs, void* inParam, FSIP_S_IMAGEINFO_EX* outputs,
            void* outParam, void*) {
  if (mode->nType != 1) {
    if (g_bLogProc) OutputLog(kSrcBPD, 195, "Error BPDExec() NOTSUPPORT");
    return FSIP_C_ERR_NOTSUPPORT;
  }
  if (g_bLogProc) OutputLog(kSrcBPD, 188, "Start JugBlankPage()");
  const int result = RunJugBlankPage(inputs, static_cast<FSIP_BPD_S_INPARAM*>(inParam), outputs,
                                     static_cast<FSIP_BPD_S_OUTPARAM*>(outParam));
  if (g_bLogProc) OutputLog(kSrcBPD, 192, "End JugBlankPage()");
  return result;
}

int DCMExec(FSIP_S_IP_MODE* mode, FSIP_S_IMAGEINFO_EX* inputs, void* inParam, FSIP_S_IMAGEINFO_EX* outputs,
            void* outParam, void*) {
  if (mode->nType != 1) {
    if (g_bLogProc) OutputLog(kSrcDCM, 203, "Error DCMExec() NOTSUPPORT");
    return FSIP_C_ERR_NOTSUPPORT;
  }
  if (g_bLogProc) OutputLog(kSrcDCM, 196, "Start GetDocBestDepth()");
  const int result = RunGetDocBestDepth(inputs, static_cast<FSIP_DCM_S_INPARAM*>(inParam), outputs,
                                        static_cast<FSIP_DCM_S_OUTPARAM*>(outParam));
  if (g_bLogProc) OutputLog(kSrcDCM, 200, "End GetDocBestDepth()");
  return result;
}

DRAVN_C_EXPORT int fsip_ImageProcess(FSIP_S_IP_MODE* mode, FSIP_S_IMAGEINFO_EX* inputs, void* inParam,
                                     FSIP_S_IMAGEINFO_EX* outputs, void* outParam, void* userParam) try {
  static const char* const keys[2] = {"SaveBitmap", "ProcLog"};
  int values[2] = {0, 0};
  ReadProfileInts(FsipConfPath(), keys, values, 2);
  g_bLogSaveBitmap = values[0] != 0;
  g_bLogProc = values[1] != 0;
  const bool log = g_bLogProc, dump = g_bLogSaveBitmap;
  if (log) OutputLog(kSrcCtl, 261, "Enter fsip_ImageProcess()");
  if (dump) SaveBitmap(inputs);
  if (!mode) {
    if (log) OutputLog(kSrcCtl, 276, "Error fsip_ImageProcess() PARAMETER");
    return FSIP_C_ERR_PARAMETER;
  }
  if (log) OutputUserParamLog(userParam);
  int result;
  switch (mode->nFunction) {
    case 2:
      if (mode->nType == -1) {
        result = CRPEnable();
        break;
      }
      if (log) OutputLog(kSrcCtl, 317, "Start CRPExec()");
      if (dump && (mode->nType == 4 || mode->nType == 5) && inputs) SaveBitmap(inputs + 1);
      if (log) OutputCropLog(mode, inputs, inParam);
      result = CRPExec(mode, inputs, inParam, outputs, outParam, userParam);
      if (dump) SaveCropOutputBitmap(mode, inputs, outputs);
      if (result == FSIP_C_ERR_NOERROR && log) OutputCropOutParamLog(mode, outputs, outParam);
      if (log) {
        OutputResultLog(result);
        OutputLog(kSrcCtl, 355, "End CRPExec()");
      }
      break;
    case 3:
      if (mode->nType == -1) {
        result = BPDEnable();
        break;
      }
      if (log) {
        OutputLog(kSrcCtl, 368, "Start BPDExec()");
        OutputBPDLog(inputs, static_cast<FSIP_BPD_S_INPARAM*>(inParam));
      }
      result = BPDExec(mode, inputs, inParam, outputs, outParam, userParam);
      if (log) {
        OutputBPDResultLog(mode, static_cast<FSIP_BPD_S_OUTPARAM*>(outParam));
        OutputResultLog(result);
        OutputLog(kSrcCtl, 378, "End BPDExec()");
      }
      break;
    case 1:
      if (mode->nType == -1) {
        result = DCMEnable();
        break;
      }
      if (log) OutputLog(kSrcCtl, 297, "Start DCMExec()");
      result = DCMExec(mode, inputs, inParam, outputs, outParam, userParam);
      if (log) OutputLog(kSrcCtl, 303, "End DCMExec()");
      break;
    default:
      if (log) OutputLog(kSrcCtl, 389, "Error fsip_ImageProcess() NOTSUPPORT");
      result = FSIP_C_ERR_NOTSUPPORT;
      break;
  }
  if (log) OutputLog(kSrcCtl, 394, "Exit fsip_ImageProcess()");
  return result;
} catch (const std::bad_alloc&) {
  return FSIP_C_ERR_OUTOFMEMORY;
} catch (...) {  // nothing may cross the C entry
  return FSIP_C_ERR_UNEXPECTED_ERROR;
}
