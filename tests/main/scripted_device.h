// A device object of the main backend that plays a script instead of
// talking to a scanner: each step answers the next scripted code (0 when
// none is left), sheets come from a list, and a chosen sheet can block the
// way a device read does (until cancel, or until the test releases it).
#ifndef DRAVN_TESTS_MAIN_SCRIPTED_DEVICE_H
#define DRAVN_TESTS_MAIN_SCRIPTED_DEVICE_H

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "devctl_codes.h"
#include "kelo_devctl.h"
#include "main_globals.h"

namespace dravn_test {

// One sheet: each face is `lines` lines of `bytesPerLine` bytes filled with
// its fill byte; a face with 0 lines is absent.
struct ScriptedSheet {
  int bytesPerLine = 16;
  int frontLines = 4;
  int backLines = 0;
  unsigned char frontFill = 0x11;
  unsigned char backFill = 0x22;
  bool blank = false;  // ImageProcess drops both faces
};

constexpr unsigned char kBlankMark = 0xBB;

class ScriptedDevice : public dravnmain::KeloDevCtl {
 public:
  enum class Block { None, UntilCancel, UntilRelease };

  std::vector<ScriptedSheet> sheets;
  uint32_t endOfStack = dravnmain::QV_ERR_CTL_NO_PAPER;  // DoLoadPaper once the sheets are used up
  int blockSheet = -1;                                   // index of the sheet whose read blocks
  Block blockMode = Block::None;
  std::atomic<bool> blocked{false};
  std::atomic<bool> release{false};

  ~ScriptedDevice() override = default;

  void Script(const std::string& step, std::initializer_list<uint32_t> codes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (uint32_t c : codes) m_results[step].push_back(c);
  }
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }
  void ClearCalls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
  }
  // A new stack in the feeder.
  void Restock(std::vector<ScriptedSheet> stack) {
    sheets = std::move(stack);
    m_nextSheet = 0;
  }
  size_t SheetsRead() const { return m_nextSheet.load(); }

  unsigned char* FrontPage() const { return m_pFrontImageData; }
  unsigned char* BackPage() const { return m_pBackImageData; }
  bool FirstScan() const { return m_bFirstScan; }
  bool CancelFlag() const { return m_bIsCancel.load(); }
  uint32_t ThreadError() const { return m_ulThreadError.load(); }
  const dravnmain::SCAN_PROP_INFO& Props() const { return m_PropInfo; }

  SANE_Status ReadImgBuf(SANE_Byte* buffer, SANE_Int maxLength, SANE_Int* length) override {
    if (!buffer || !length) return SANE_STATUS_INVAL;
    *length = 0;
    if (m_bIsCancel) {
      free(m_pFrontImageData);
      free(m_pBackImageData);
      m_pFrontImageData = m_pBackImageData = nullptr;
      return SANE_STATUS_CANCELLED;
    }
    const int source = m_PropInfo.SCAN_SOURCE;
    const bool back = source == 2 || (source == 3 && dravnmain::g_bIsReadDoubleBack);
    unsigned char*& page = back ? m_pBackImageData : m_pFrontImageData;
    const uint32_t size = back ? m_ulBackImageSize : m_ulFrontImageSize;
    if (!page) return SANE_STATUS_EOF;
    if (m_offset >= size) {
      free(page);
      page = nullptr;
      m_offset = 0;
      if (source == 3) dravnmain::g_bIsReadDoubleBack = !back;
      return SANE_STATUS_EOF;
    }
    uint32_t n = std::min<uint32_t>(size - m_offset, static_cast<uint32_t>(maxLength));
    memcpy(buffer, page + m_offset, n);
    m_offset += n;
    *length = static_cast<SANE_Int>(n);
    return SANE_STATUS_GOOD;
  }
  void SetReadImgBufSize() override { m_offset = 0; }

  uint32_t DoCheckDeviceCondition() override { return Step("DoCheckDeviceCondition"); }
  uint32_t DoCheckScanReady() override { return Step("DoCheckScanReady"); }
  uint32_t DoCreateDevice() override { return Step("DoCreateDevice"); }
  uint32_t DoCheckPropList() override { return Step("DoCheckPropList"); }
  uint32_t DoScanModeSetting() override { return Step("DoScanModeSetting"); }
  uint32_t DoSetWindowInfo() override { return Step("DoSetWindowInfo"); }
  uint32_t DoADFCheck() override { return Step("DoADFCheck"); }
  uint32_t DoCheckPaperJam() override { return Step("DoCheckPaperJam"); }
  uint32_t DoSendLUTTable() override { return Step("DoSendLUTTable"); }
  uint32_t DoTryLampOn() override { return Step("DoTryLampOn"); }
  uint32_t DoStartScan() override { return Step("DoStartScan"); }
  uint32_t SetPowerOffTime(uint16_t) override { return Step("SetPowerOffTime"); }
  uint32_t DoBatch(bool on) override { return Step(on ? "DoBatch(true)" : "DoBatch(false)"); }
  uint32_t DoClearDeviceDataBuf(bool) override { return Step("DoClearDeviceDataBuf"); }
  uint32_t DoClearCount(uint8_t counter) override { return Step("DoClearCount(" + std::to_string(counter) + ")"); }
  uint32_t DoGetCount(uint32_t* pages, uint32_t* pick, uint32_t* pad, uint32_t* flatbed) override {
    *pages = 101;
    *pick = 102;
    *pad = 103;
    *flatbed = 104;
    return Step("DoGetCount");
  }
  uint32_t DoScanButtonSend(unsigned char* data, uint32_t length) override {
    m_lastSent.assign(reinterpret_cast<char*>(data), length);
    return Step("DoScanButtonSend(" + std::to_string(length) + ")");
  }
  uint32_t DoScanButtonRecieve(unsigned char* data, uint32_t length) override {
    memset(data, 0xAB, length);
    return Step("DoScanButtonRecieve(" + std::to_string(length) + ")");
  }
  std::string LastSent() const { return m_lastSent; }
  uint32_t DoLoadPaper() override {
    uint32_t code = Step("DoLoadPaper");
    if (code == 0 && m_nextSheet.load() >= sheets.size()) return endOfStack;
    return code;
  }

  uint32_t DoGetImageData(unsigned char** front, uint32_t* frontSize, unsigned char** back,
                          uint32_t* backSize) override {
    uint32_t code = Step("DoGetImageData");
    const size_t index = m_nextSheet.load();
    if (static_cast<int>(index) == blockSheet) {
      blocked = true;
      if (blockMode == Block::UntilCancel) {
        while (!m_bIsCancel) usleep(100);
        Record("DoGetImageData returns");
        return SANE_STATUS_CANCELLED;
      }
      if (blockMode == Block::UntilRelease) {
        while (!release) usleep(100);
        Record("DoGetImageData returns");
      }
    }
    if (code != 0) return code;
    if (index >= sheets.size()) return endOfStack;
    const ScriptedSheet& s = sheets[index];
    m_nextSheet = index + 1;
    *front = MakeFace(s.frontLines, s, s.frontFill, frontSize);
    *back = MakeFace(s.backLines, s, s.backFill, backSize);
    dravnmain::QV_IMAGEDATA_PARAMETERS face{0, 1, s.bytesPerLine, s.frontLines, s.bytesPerLine, 8};
    m_ImgDataInfo.tFront = face;
    face.iLines = s.backLines;
    m_ImgDataInfo.tBack = face;
    if (!m_PropInfo.AUTOFEED) dravnmain::g_ImgDataInfo = m_ImgDataInfo;
    return 0;
  }

  uint32_t ImageProcess(unsigned char** front, uint32_t* frontSize, unsigned char** back, uint32_t* backSize) override {
    uint32_t code = Step("ImageProcess");
    if (code != 0) return code;
    if ((*front && (*front)[0] == kBlankMark) || (*back && (*back)[0] == kBlankMark)) {
      free(*front);
      free(*back);
      *front = *back = nullptr;
      *frontSize = *backSize = 0;
    }
    return 0;
  }

 private:
  uint32_t Step(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(name);
    auto it = m_results.find(name);
    if (it == m_results.end() || it->second.empty()) return 0;
    uint32_t code = it->second.front();
    it->second.pop_front();
    return code;
  }
  void Record(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(name);
  }
  static unsigned char* MakeFace(int lines, const ScriptedSheet& s, unsigned char fill, uint32_t* size) {
    if (lines <= 0) {
      *size = 0;
      return nullptr;
    }
    *size = static_cast<uint32_t>(lines) * static_cast<uint32_t>(s.bytesPerLine);
    unsigned char* face = static_cast<unsigned char*>(malloc(*size));
    memset(face, fill, *size);
    if (s.blank) face[0] = kBlankMark;
    return face;
  }

  std::mutex m_mutex;
  std::map<std::string, std::deque<uint32_t>> m_results;
  std::vector<std::string> m_calls;
  std::atomic<size_t> m_nextSheet{0};
  std::string m_lastSent;
  uint32_t m_offset = 0;
};

}  // namespace dravn_test

#endif
