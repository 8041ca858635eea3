// libimgforge's control entry and dispatcher, loaded from the staged tree as
// the backends load it. Two seams stand in for what is not the control
// layer's own: this program defines fsip_ImageProcess (recording what
// fsip_control asks of the dispatcher, and answering for the engines and
// judges) and the crop engines' entries (recording how the dispatcher calls
// them); the library binds both through the program's exports.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "fsip_records.h"
#include "fsipctl_test_util.h"

using namespace fsipctl_test;

namespace {

using ImageProcessFn = int (*)(FSIP_S_IP_MODE*, FSIP_S_IMAGEINFO_EX*, void*, FSIP_S_IMAGEINFO_EX*, void*, void*);
using ControlFn = int (*)(fsipctl_request*, fsipctl_image*, fsipctl_image*, unsigned char*);

ImageProcessFn g_dispatcher;  // the library's own
ControlFn g_control;
void (*g_freeSinCos)();

// What fsip_control handed the dispatcher, and what the seam answers.
struct DispatchSeam {
  bool active = false;  // else the call goes on to the library's dispatcher
  int answer = 0;
  int verdict = 0;  // written into a decision's output record
  int calls = 0;
  FSIP_S_IP_MODE mode{};
  FSIP_S_IMAGEINFO_EX inputs[2]{};
  std::vector<unsigned char> inParam;
  bool outputsGiven = false, outParamGiven = false;
  void* user = nullptr;
  int userValue = -1;  // what it points to, during the call
  FSIP_NOTIFY_OUT_IMG_INFO notify = nullptr;
  unsigned char* toneBlock = nullptr;
};
DispatchSeam g_seam;

constexpr int kOutWidth = 21, kOutHeight = 5;

size_t InParamSize(const FSIP_S_IP_MODE& m) {
  if (m.nFunction == 1) return sizeof(FSIP_DCM_S_INPARAM);
  if (m.nFunction == 3) return sizeof(FSIP_BPD_S_INPARAM);
  const std::map<int, size_t> sizes = {{1, 88}, {2, 84}, {4, 180}, {5, 172}, {7, 100}, {9, 98}};
  return sizes.count(m.nType) ? sizes.at(m.nType) : 0;
}

// A crop engine's part: the geometry, the output allocator, the pixels.
int MakeOutput(const FSIP_S_IMAGEINFO_EX& in, FSIP_S_IMAGEINFO_EX* out, void* user) {
  out->cbSize = 76;
  out->nPixelType = in.nPixelType, out->nDepth = in.nDepth, out->nColorSeq = in.nColorSeq;
  out->nWidth = kOutWidth, out->nHeight = kOutHeight;
  out->nBytesPerLine = (kOutWidth * in.nDepth + 7) / 8;
  out->nImageSize = out->nBytesPerLine * kOutHeight;
  out->nXResolution = in.nXResolution, out->nYResolution = in.nYResolution;
  const int rc = g_seam.notify(out, user);
  if (rc == 0) memset(out->pImageData, 0x5A, static_cast<size_t>(out->nImageSize));
  return rc;
}

// Engine entries as the dispatcher calls them.
struct EngineCall {
  int type;
  std::vector<void*> args;
};
std::vector<EngineCall> g_engineCalls;
int g_engineAnswer = 0;

}  // namespace

#define SEAM extern "C" __attribute__((visibility("default")))

SEAM int fsip_ImageProcess(FSIP_S_IP_MODE* mode, FSIP_S_IMAGEINFO_EX* inputs, void* inParam,
                           FSIP_S_IMAGEINFO_EX* outputs, void* outParam, void* user) {
  if (!g_seam.active) return g_dispatcher(mode, inputs, inParam, outputs, outParam, user);
  DispatchSeam& s = g_seam;
  ++s.calls;
  s.mode = *mode;
  memcpy(s.inputs, inputs, sizeof s.inputs);
  const auto* bytes = static_cast<const unsigned char*>(inParam);
  s.inParam.assign(bytes, bytes + InParamSize(*mode));
  s.outputsGiven = outputs != nullptr, s.outParamGiven = outParam != nullptr;
  s.user = user;
  s.userValue = user ? *static_cast<int*>(user) : -1;
  s.notify = nullptr, s.toneBlock = nullptr;
  const int type = mode->nType;
  if (mode->nFunction == 2) {
    if (type == 1 || type == 4) s.notify = static_cast<FSIP_CRP_S_CRPALL*>(inParam)->NotifyOutImgInfo;
    if (type == 7) s.notify = static_cast<FSIP_CRP_S_CRPALL2*>(inParam)->crpAll.NotifyOutImgInfo;
    if (type == 9) s.notify = static_cast<FSIP_CRPWB_S_CRPALL*>(inParam)->NotifyOutImgInfo;
    if (type == 1 || type == 4) s.toneBlock = static_cast<FSIP_CRP_S_CRPALL*>(inParam)->pbySendData;
    if (type == 7) s.toneBlock = static_cast<FSIP_CRP_S_CRPALL2*>(inParam)->crpAll.pbySendData;
    if (type == 9) s.toneBlock = static_cast<FSIP_CRPWB_S_CRPALL*>(inParam)->pbySendData;
    if (type == 2 || type == 5) s.toneBlock = static_cast<FSIP_CRP_S_PHRMV*>(inParam)->pbySendData;
    // A crop allocates its outputs first, also when it fails afterwards.
    if (s.notify && outputs)
      for (int i = 0; i < (type == 4 ? 2 : 1); ++i)
        if (MakeOutput(inputs[i], &outputs[i], user) != 0) return -1;
    if (s.answer == 0 && (type == 2 || type == 5))
      for (int i = 0; i < (type == 5 ? 2 : 1); ++i) inputs[i].pImageData[0] = 0xEE;
  }
  if (s.answer == 0 && mode->nFunction == 3) static_cast<FSIP_BPD_S_OUTPARAM*>(outParam)->nResult = s.verdict;
  if (s.answer == 0 && mode->nFunction == 1) static_cast<FSIP_DCM_S_OUTPARAM*>(outParam)->nResult = s.verdict;
  return s.answer;
}

SEAM int FsipCrp_CropAll(void* a, void* b, void* c, void* d, void* e, void* f) {
  g_engineCalls.push_back({1, {a, b, c, d, e, f}});
  return g_engineAnswer;
}
SEAM int FsipCrp_PunchHoleRemove(void* a, void* b, void* c, void* d, void* e, void* f) {
  g_engineCalls.push_back({2, {a, b, c, d, e, f}});
  return g_engineAnswer;
}
SEAM int FsipCrp_SpecifiedAreaCrop(void* a, void* b, void* c, void* d, void* e) {
  g_engineCalls.push_back({3, {a, b, c, d, e}});
  return g_engineAnswer;
}
SEAM int FsipCrp_DupCropAll(void* a, void* b, void* c, void* d, void* e, void* f) {
  g_engineCalls.push_back({4, {a, b, c, d, e, f}});
  return g_engineAnswer;
}
SEAM int FsipCrp_DupPunchHoleRemove(void* a, void* b, void* c, void* d) {
  g_engineCalls.push_back({5, {a, b, c, d}});
  return g_engineAnswer;
}
SEAM int FsipCrp_AIQC(void* a, void* b, void* c, void* d) {
  g_engineCalls.push_back({6, {a, b, c, d}});
  return g_engineAnswer;
}
SEAM int FsipCrp_CropAll2(void* a, void* b, void* c, void* d, void* e, void* f) {
  g_engineCalls.push_back({7, {a, b, c, d, e, f}});
  return g_engineAnswer;
}
SEAM int FsipCrp_DupCropAll2(void* a, void* b, void* c, void* d, void* e, void* f, void* g) {
  g_engineCalls.push_back({8, {a, b, c, d, e, f, g}});
  return g_engineAnswer;
}
SEAM int FsipCrpWB_CropAll(void* a, void* b, void* c, void* d, void* e, void* f) {
  g_engineCalls.push_back({9, {a, b, c, d, e, f}});
  return g_engineAnswer;
}
SEAM int FsipCrpWB_SpecifiedAreaCrop(void* a, void* b, void* c, void* d, void* e) {
  g_engineCalls.push_back({10, {a, b, c, d, e}});
  return g_engineAnswer;
}

namespace {

class Library : public ::testing::Environment {
 public:
  void SetUp() override {
    m_handle = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_LAZY);
    ASSERT_NE(m_handle, nullptr) << dlerror();
    g_dispatcher = reinterpret_cast<ImageProcessFn>(dlsym(m_handle, "fsip_ImageProcess"));
    g_control = reinterpret_cast<ControlFn>(dlsym(m_handle, "fsip_control"));
    g_freeSinCos = reinterpret_cast<void (*)()>(dlsym(m_handle, "fsip_FreeSinCos"));
    ASSERT_TRUE(g_dispatcher && g_control && g_freeSinCos);
    ASSERT_NE(g_dispatcher, &fsip_ImageProcess);
  }
  void TearDown() override {
    if (m_handle) dlclose(m_handle);
  }

 private:
  void* m_handle = nullptr;
};

const auto* const kDirs = ::testing::AddGlobalTestEnvironment(new PrivateDirs);
const auto* const kLibrary = ::testing::AddGlobalTestEnvironment(new Library);

// Two faces of a small page and the result records, filled with a pattern
// so that what the entry writes shows.
struct Pages {
  explicit Pages(int depth = 24, int width = 16, int height = 4) {
    for (int i = 0; i < 2; ++i) {
      pixels[i].assign(static_cast<size_t>((depth * width + 7) / 8 * height), static_cast<uint8_t>(0x10 + i));
      images[i] = {pixels[i].data(), 300 + i, width, height, depth, 0, 0};
    }
    memset(results, 0xAB, sizeof results);
    for (int i = 0; i < 256; ++i) lut[i] = static_cast<unsigned char>(255 - i);
  }
  std::vector<uint8_t> pixels[2];
  fsipctl_image images[2];
  fsipctl_image results[2];
  unsigned char lut[256];
};

fsipctl_request Request(int32_t flags, int32_t fill = 0) {
  fsipctl_request r;
  memset(&r, 0, sizeof r);
  r.dwFlags = flags;
  r.nHoleFill = fill;
  r.bADF = 1;
  r.nSide = 0x302;  // low byte 2
  r.nDetectLevel = -1, r.nWLevel = 3, r.nBLevel = 12;
  strcpy(r.szScanner, "Selko2S420");
  r.szScanner[30] = 'x';   // the 32 bytes go as they stand
  r.nMargin = 0x7FFF0032;  // low 16 bits: 50
  return r;
}

class ControlEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    SetConf("");
    ClearLogDir();
    g_seam = DispatchSeam();
    g_seam.active = true;
  }
  void TearDown() override { g_seam.active = false; }
};

// The parameter record each operation must be built as.
std::vector<unsigned char> ExpectedRecord(const fsipctl_request& q, int type, int function) {
  auto cropAll = [&](int32_t size, uint32_t funcFlag, int32_t adf, uint32_t hole) {
    FSIP_CRP_S_CRPALL r{};
    r.cbSize = size, r.dwFuncFlag = funcFlag, r.dwHoleRemoveType = hole, r.bADF = adf;
    r.wFBCropSearchWidth = r.wFBCropIgnoreLength = 0xFFFF, r.wBlackBkThreshold = 64;
    r.NotifyOutImgInfo = g_seam.notify, r.byTransferDataType = 0x83, r.pbySendData = g_seam.toneBlock;
    return r;
  };
  auto phRmv = [&](int32_t size, uint32_t hole, int32_t adf) {
    FSIP_CRP_S_PHRMV r{};
    r.cbSize = size, r.bOVS = 1, r.dwHoleRemoveType = hole, r.bADF = adf;
    r.wFBCropSearchWidth = r.wFBCropIgnoreLength = 0xFFFF, r.wBlackBkThreshold = 64;
    r.byTransferDataType = 0x83, r.pbySendData = g_seam.toneBlock;
    return r;
  };
  auto bytes = [](const auto& r) {
    const auto* p = reinterpret_cast<const unsigned char*>(&r);
    return std::vector<unsigned char>(p, p + sizeof r);
  };
  const int32_t f = q.dwFlags;
  const uint32_t hole = q.nHoleFill == 1 ? 0x00FFFFFF : q.nHoleFill == 2 ? 0x80000000 : 0;
  const uint32_t funcFlag = ((f & 2) ? 1 : 0) + ((f & 0x10) ? 2 : 0);
  if (function == 1) return bytes(FSIP_DCM_S_INPARAM{});
  if (function == 3) {
    FSIP_BPD_S_INPARAM r{};
    r.cbSize = 80, r.nWLevel = q.nWLevel, r.nBLevel = q.nBLevel, r.nDetectLevel = q.nDetectLevel;
    return bytes(r);
  }
  switch (type) {
    case 1:
      return bytes(cropAll(88, funcFlag, q.bADF, (f & 0x10) ? hole : 0));
    case 4: {
      _FSIP_CRP_S_DUPCRPALL r{};
      r.crpAll[0] = r.crpAll[1] = cropAll(180, funcFlag, 1, (f & 0x10) ? hole : 0);
      r.nReqSide = 2;
      return bytes(r);
    }
    case 7: {
      FSIP_CRP_S_CRPALL2 r{};
      r.crpAll = cropAll(88, (f & 0x10) ? 2 : 0, q.bADF, (f & 0x10) ? hole : 0);
      const int16_t m = static_cast<int16_t>(q.nMargin & 0xFFFF);
      r.offset = {m, m, m, m};
      return bytes(r);
    }
    case 2:
      return bytes(phRmv(84, hole, q.bADF));
    case 5: {
      _FSIP_CRP_S_DUPPHRMV r{};
      r.phRmv[0] = r.phRmv[1] = phRmv(172, hole, 1);
      r.nReqSide = 2;
      return bytes(r);
    }
    case 9: {
      FSIP_CRPWB_S_CRPALL r{};
      r.cbSize = 98, r.bADF = 1, r.wFBCropSearchWidth = r.wFBCropIgnoreLength = 0xFFFF, r.wBlackBkThreshold = 64;
      memcpy(r.szScanner, q.szScanner, 32);
      r.NotifyOutImgInfo = g_seam.notify, r.byTransferDataType = 0x83;
      r.bySide = static_cast<uint8_t>(q.nSide), r.sOVS = -1, r.pbySendData = g_seam.toneBlock;
      return bytes(r);
    }
  }
  return {};
}

struct FlagCase {
  int32_t flags;
  int32_t fill;
  int function, type;  // 0: the call goes no further than the entry
  int result;
};

TEST_F(ControlEntry, EachRequestBuildsItsOperationAndRecord) {
  const FlagCase cases[] = {
      {0x0001, 0, 2, 1, 0},  {0x0003, 0, 2, 1, 0},  {0x0013, 1, 2, 1, 0},  {0x0013, 2, 2, 1, 0},
      {0x0011, 0, 0, 0, -2}, {0x0010, 1, 2, 2, 0},  {0x0018, 2, 2, 2, 0},  {0x0004, 0, 2, 4, 0},
      {0x0016, 1, 2, 4, 0},  {0x0008, 1, 2, 5, 0},  {0x0008, 3, 0, 0, -2}, {0x1000, 0, 2, 9, 0},
      {0x4000, 0, 2, 9, 0},  {0x8000, 0, 2, 9, 0},  {0x1010, 0, 2, 9, 0},  {0x4010, 2, 2, 2, 0},
      {0x8010, 1, 2, 2, 0},  {0x2000, 0, 2, 7, 0},  {0x2012, 2, 2, 7, 0},  {0x0020, 0, 1, 1, 0},
      {0x0040, 0, 3, 1, 0},  {0x0060, 0, 1, 1, 0},  {0x4040, 0, 3, 1, 0},  {0x8020, 0, 1, 1, 0},
      {0x0000, 0, 0, 0, -4}, {0x0002, 0, 0, 0, -2}, {0x0080, 0, 0, 0, -2}, {0x10000, 0, 0, 0, -2},
      {0x0021, 0, 0, 0, -2}, {0x0041, 0, 0, 0, -2}, {0x2040, 0, 0, 0, -2}, {0x1020, 0, 0, 0, -2},
      {0x0048, 1, 0, 0, -2},
  };
  for (const FlagCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "dwFlags 0x" << std::hex << c.flags << std::dec << " fill " << c.fill);
    Pages p;
    const fsipctl_image before[2] = {p.results[0], p.results[1]};
    fsipctl_request q = Request(c.flags, c.fill);
    g_seam.calls = 0;
    g_seam.verdict = 1;
    ASSERT_EQ(g_control(&q, p.images, p.results, p.lut), c.result);
    if (c.function == 0) {
      EXPECT_EQ(g_seam.calls, 0);
      EXPECT_EQ(memcmp(before, p.results, sizeof before), 0);
      continue;
    }
    ASSERT_EQ(g_seam.calls, 1);
    EXPECT_EQ(g_seam.mode.cbSize, 12);
    EXPECT_EQ(g_seam.mode.nFunction, c.function);
    EXPECT_EQ(g_seam.mode.nType, c.type);
    EXPECT_EQ(g_seam.inParam, ExpectedRecord(q, c.type, c.function));
    const bool crop = c.function == 2 && (c.type == 1 || c.type == 4 || c.type == 7 || c.type == 9);
    const bool holes = c.function == 2 && (c.type == 2 || c.type == 5);
    EXPECT_EQ(g_seam.outputsGiven, crop);
    EXPECT_EQ(g_seam.outParamGiven, c.function != 2);
    ASSERT_EQ(g_seam.user != nullptr, crop);
    if (crop) {
      EXPECT_EQ(g_seam.userValue, 0);
    }
    if (c.function == 2) {
      // The tone block: its header, then the caller's table.
      ASSERT_NE(g_seam.toneBlock, nullptr);
      const unsigned char header[10] = {0, 0, 0x10, 0, 1, 0, 1, 0, 0, 0};
      EXPECT_EQ(memcmp(g_seam.toneBlock, header, 10), 0);
      EXPECT_EQ(memcmp(g_seam.toneBlock + 10, p.lut, 256), 0);
    }
    const int faces = c.type == 4 || c.type == 5 ? 2 : 1;
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(i);
      fsipctl_image expected = before[i];
      if (i < faces && (crop || holes)) {
        const bool out = crop;
        expected.pImageData = out ? p.results[i].pImageData : p.images[i].pImageData;
        expected.nResolution = p.images[i].nResolution;
        expected.nWidth = out ? kOutWidth : p.images[i].nWidth;
        expected.nHeight = out ? kOutHeight : p.images[i].nHeight;
        expected.nDepth = 24;
        expected.nImageSize = out ? kOutWidth * 3 * kOutHeight : 16 * 3 * 4;
        if (holes) {
          EXPECT_EQ(p.pixels[i][0], 0xEE);  // worked on in place
        }
      }
      if (i == 0 && c.function != 2) expected.nResult = 1;
      EXPECT_EQ(memcmp(&expected, &p.results[i], sizeof expected), 0);
      if (crop && i < faces) {
        EXPECT_EQ(p.results[i].pImageData[0], 0x5A);
        free(p.results[i].pImageData);
      }
    }
  }
}

TEST_F(ControlEntry, FailuresBelowLeaveTheResultsAndHandOutNothing) {
  for (int32_t flags : {0x0001, 0x0004, 0x1000, 0x2000, 0x0010, 0x0040, 0x0020}) {
    for (int answer : {-1, -2, -3, -5, 7}) {
      SCOPED_TRACE(testing::Message() << std::hex << flags << std::dec << " answer " << answer);
      Pages p;
      const fsipctl_image before[2] = {p.results[0], p.results[1]};
      fsipctl_request q = Request(flags, 1);
      g_seam.answer = answer;
      EXPECT_EQ(g_control(&q, p.images, p.results, p.lut), answer);
      EXPECT_EQ(memcmp(before, p.results, sizeof before), 0);  // and no leak (sanitizer build)
    }
  }
}

TEST_F(ControlEntry, TheTableIsCopiedBeforeAFillIsRefused) {
  Pages p;
  fsipctl_request q = Request(0x0001);
  ASSERT_EQ(g_control(&q, p.images, p.results, p.lut), 0);
  free(p.results[0].pImageData);
  unsigned char* block = g_seam.toneBlock;
  for (int i = 0; i < 256; ++i) p.lut[i] = static_cast<unsigned char>(i * 7);
  q = Request(0x0011, 0);
  EXPECT_EQ(g_control(&q, p.images, p.results, p.lut), -2);
  EXPECT_EQ(memcmp(block + 10, p.lut, 256), 0);
  // A request refused before its images are looked at leaves the table.
  unsigned char other[256] = {};
  q = Request(0x0080);
  EXPECT_EQ(g_control(&q, p.images, p.results, other), -2);
  EXPECT_EQ(memcmp(block + 10, p.lut, 256), 0);
}

TEST_F(ControlEntry, MissingRecordsAndPixelsAreRefused) {
  Pages p;
  fsipctl_request q = Request(0x0001);
  EXPECT_EQ(g_control(nullptr, p.images, p.results, p.lut), -2);
  EXPECT_EQ(g_control(&q, p.images, p.results, nullptr), -2);
  EXPECT_EQ(g_control(&q, nullptr, p.results, p.lut), -2);
  EXPECT_EQ(g_control(&q, p.images, nullptr, p.lut), -2);
  for (int32_t flags : {0x0004, 0x0008, 0x0018}) {
    Pages pair;
    pair.images[1].pImageData = nullptr;
    q = Request(flags, 1);
    EXPECT_EQ(g_control(&q, pair.images, pair.results, pair.lut), -2) << flags;
  }
  Pages one;
  one.images[0].pImageData = nullptr;
  q = Request(0x0040);
  EXPECT_EQ(g_control(&q, one.images, one.results, one.lut), -2);
  EXPECT_EQ(g_seam.calls, 0);
}

TEST_F(ControlEntry, ImagesBecomeImageRecordsByDepth) {
  struct DepthCase {
    int depth, width, height;
    int result;
    int pixelType, colorSeq, bytesPerLine;
  } cases[] = {
      {1, 16, 3, 0, 0, 0, 2},
      {1, 13, 3, 0, 0, 0, 2},  // a part byte still ends the row
      {8, 13, 3, 0, 1, 0, 13},
      {24, 13, 3, 0, 2, 1, 39},
      {16, 13, 3, -2, 0, 0, 0},
      {32, 13, 3, -2, 0, 0, 0},
      {0, 13, 3, -2, 0, 0, 0},
      {24, 0x7FFFFFFF, 1, -2, 0, 0, 0},    // row size beyond 32 bits
      {8, 0x10000, 0x10000, -2, 0, 0, 0},  // image size beyond 32 bits
      {8, -4, 3, -2, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.depth << " bits, " << c.width << " x " << c.height);
    Pages p(8, 16, 3);
    p.images[0].nDepth = c.depth, p.images[0].nWidth = c.width, p.images[0].nHeight = c.height;
    p.images[0].nResolution = -7;  // copied unchecked
    fsipctl_request q = Request(0x0040);
    g_seam.calls = 0;
    ASSERT_EQ(g_control(&q, p.images, p.results, p.lut), c.result);
    if (c.result) {
      EXPECT_EQ(g_seam.calls, 0);
      continue;
    }
    FSIP_S_IMAGEINFO_EX expected{};
    expected.cbSize = 76, expected.pImageData = p.pixels[0].data();
    expected.nPixelType = c.pixelType, expected.nDepth = c.depth, expected.nColorSeq = c.colorSeq;
    expected.nWidth = c.width, expected.nHeight = c.height;
    expected.nBytesPerLine = c.bytesPerLine, expected.nImageSize = c.bytesPerLine * c.height;
    expected.nXResolution = expected.nYResolution = -7;
    EXPECT_EQ(memcmp(&expected, &g_seam.inputs[0], sizeof expected), 0);
  }
}

// The converter is an entry of its own: it fills the whole record (reserved
// bytes and region cleared) and refuses what it cannot describe.
TEST_F(ControlEntry, ImageConverterIsExportedAndFillsTheWholeRecord) {
  using InitFn = int (*)(const fsipctl_image*, FSIP_S_IMAGEINFO_EX*);
  void* lib = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_LAZY | RTLD_NOLOAD);
  ASSERT_NE(lib, nullptr);
  auto init = reinterpret_cast<InitFn>(dlsym(lib, "InitImageinfo"));
  dlclose(lib);
  ASSERT_NE(init, nullptr);
  Pages p(24, 5, 2);
  p.images[0].nResolution = 150;
  FSIP_S_IMAGEINFO_EX info;
  memset(&info, 0xEE, sizeof info);
  ASSERT_EQ(init(&p.images[0], &info), 0);
  FSIP_S_IMAGEINFO_EX expected;
  memset(&expected, 0, sizeof expected);
  expected.cbSize = 76, expected.pImageData = p.pixels[0].data();
  expected.nPixelType = 2, expected.nDepth = 24, expected.nColorSeq = 1;
  expected.nWidth = 5, expected.nHeight = 2, expected.nBytesPerLine = 15, expected.nImageSize = 30;
  expected.nXResolution = expected.nYResolution = 150;
  EXPECT_EQ(memcmp(&expected, &info, sizeof info), 0);

  memset(&info, 0xEE, sizeof info);
  const FSIP_S_IMAGEINFO_EX untouched = info;
  EXPECT_EQ(init(nullptr, &info), -2);
  EXPECT_EQ(init(&p.images[0], nullptr), -2);
  p.images[0].pImageData = nullptr;
  EXPECT_EQ(init(&p.images[0], &info), -2);
  p.images[0].pImageData = p.pixels[0].data();
  p.images[0].nDepth = 16;
  EXPECT_EQ(init(&p.images[0], &info), -2);
  EXPECT_EQ(memcmp(&untouched, &info, sizeof info), 0);
}

TEST_F(ControlEntry, OutputAllocatorRowRules) {
  Pages p;
  fsipctl_request q = Request(0x0001);
  ASSERT_EQ(g_control(&q, p.images, p.results, p.lut), 0);
  free(p.results[0].pImageData);
  ASSERT_NE(g_seam.notify, nullptr);
  struct ModeCase {
    intptr_t mode;
    int depth, width, bytesPerLine, size;
    int wantWidth, wantBytesPerLine, wantSize;
  } cases[] = {
      {1, 24, 5, 15, 0, 5, 16, 16 * 3}, {1, 8, 8, 8, 100, 8, 8, 100},  // a larger size is kept
      {2, 24, 5, 15, 0, 4, 12, 12 * 3}, {2, 1, 40, 5, 0, 32, 4, 4 * 3}, {3, 8, 5, 5, 0, 8, 8, 8 * 3},
      {3, 24, 5, 15, 0, 8, 24, 24 * 3}, {3, 1, 5, 1, 0, 32, 4, 4 * 3},  {0, 1, 13, 4, 0, 13, 2, 2 * 3},
      {7, 24, 5, 99, 0, 5, 15, 15 * 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", depth " << c.depth << ", width " << c.width);
    FSIP_S_IMAGEINFO_EX out{};
    out.nDepth = c.depth, out.nWidth = c.width, out.nHeight = 3, out.nBytesPerLine = c.bytesPerLine;
    out.nImageSize = c.size;
    ASSERT_EQ(g_seam.notify(&out, reinterpret_cast<void*>(c.mode)), 0);
    EXPECT_EQ(out.nWidth, c.wantWidth);
    EXPECT_EQ(out.nBytesPerLine, c.wantBytesPerLine);
    EXPECT_EQ(out.nImageSize, c.wantSize);
    unsigned char* block = out.pImageData;  // a packed member: read it out
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(block, block + out.nImageSize),
              std::vector<uint8_t>(static_cast<size_t>(out.nImageSize), 0));
    free(block);
  }
  FSIP_S_IMAGEINFO_EX huge{};
  huge.nDepth = 24, huge.nWidth = 0x10000, huge.nHeight = 0x10000;
  EXPECT_EQ(g_seam.notify(&huge, nullptr), -1);
  const unsigned char* none = huge.pImageData;
  EXPECT_EQ(none, nullptr);
}

TEST_F(ControlEntry, SinCosTablesMayBeFreedTwice) {
  g_freeSinCos();
  g_freeSinCos();
}

// ---- the dispatcher --------------------------------------------------------

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    SetConf("");
    ClearLogDir();
    g_engineCalls.clear();
    g_engineAnswer = 0;
    memset(param, 0, sizeof param);
  }
  std::string Log() { return Normalised(dravn_test::ReadFile(LogPath("FSIPCTL.log"))); }

  FSIP_S_IMAGEINFO_EX inputs[2] = {}, outputs[2] = {};
  alignas(8) unsigned char param[256];
  FSIP_CRP_S_DUAL_LAYOUT layout{};
};

TEST_F(Dispatcher, CropTypesReachTheirEnginesWithTheirArguments) {
  SetConf("ProcLog 1\n");
  void* user = reinterpret_cast<void*>(0x55);
  const char* names[] = {"",
                         "FsipCrp_CropAll",
                         "FsipCrp_PunchHoleRemove",
                         "FsipCrp_SpecifiedAreaCrop",
                         "FsipCrp_DupCropAll",
                         "FsipCrp_DupPunchHoleRemove",
                         "FsipCrp_AIQC",
                         "FsipCrp_CropAll2",
                         "FsipCrp_DupCropAll2",
                         "FsipCrpWB_CropAll",
                         "FsipCrpWB_SpecifiedAreaCrop"};
  const int lines[][2] = {{0, 0},     {341, 347}, {367, 373}, {394, 400}, {422, 428}, {448, 454},
                          {475, 481}, {495, 506}, {526, 532}, {547, 558}, {579, 585}};
  void* in = inputs;
  void* out = outputs;
  void* lay = &layout;
  const std::vector<std::vector<void*>> args = {
      {},
      {in, param, out, lay, user, nullptr},
      {in, param, nullptr, nullptr, user, nullptr},
      {in, param, out, nullptr, user},
      {in, param, out, lay, user, nullptr},
      {in, param, nullptr, nullptr},
      {in, param, nullptr, nullptr},
      {in, param, out, lay, user, nullptr},
      {in, param, out, lay, user, nullptr, nullptr},
      {in, param, out, lay, user, nullptr},
      {in, param, out, nullptr, user},
  };
  for (int type = 1; type <= 10; ++type) {
    SCOPED_TRACE(type);
    ClearLogDir();
    g_engineCalls.clear();
    g_engineAnswer = 100 + type;  // handed back unchanged
    FSIP_S_IP_MODE mode{12, 2, type};
    EXPECT_EQ(g_dispatcher(&mode, inputs, param, outputs, &layout, user), 100 + type);
    ASSERT_EQ(g_engineCalls.size(), 1u);
    EXPECT_EQ(g_engineCalls[0].type, type);
    EXPECT_EQ(g_engineCalls[0].args, args[type]);
    char start[128], end[128];
    snprintf(start, sizeof start, "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_Crp(%05d):\tStart %s()\n", lines[type][0],
             names[type]);
    snprintf(end, sizeof end, "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_Crp(%05d):\tEnd %s()\n", lines[type][1],
             names[type]);
    const std::string log = Log();
    EXPECT_NE(log.find(start), std::string::npos) << log;
    EXPECT_NE(log.find(end), std::string::npos);
    EXPECT_LT(log.find(start), log.find(end));
  }
}

TEST_F(Dispatcher, AvailabilityUnknownTypesAndFunctions) {
  SetConf("ProcLog 1\n");
  for (int function : {1, 2, 3}) {
    ClearLogDir();
    FSIP_S_IP_MODE mode{12, function, -1};
    EXPECT_EQ(g_dispatcher(&mode, nullptr, nullptr, nullptr, nullptr, nullptr), 0) << function;
    EXPECT_EQ(Log().find("Start"), std::string::npos) << Log();
    EXPECT_NE(Log().find("Exit fsip_ImageProcess()"), std::string::npos);
  }
  for (int type : {0, 11, -2}) {
    ClearLogDir();
    FSIP_S_IP_MODE mode{12, 2, type};
    EXPECT_EQ(g_dispatcher(&mode, inputs, param, outputs, nullptr, nullptr), -4) << type;
    EXPECT_NE(Log().find("FsipCtl_Crp(00591):\tError CRPExec() NOTSUPPORT\n"), std::string::npos);
    EXPECT_TRUE(g_engineCalls.empty());
  }
  ClearLogDir();
  FSIP_S_IP_MODE mode{12, 4, 1};
  EXPECT_EQ(g_dispatcher(&mode, inputs, param, outputs, nullptr, nullptr), -4);
  EXPECT_EQ(Log(),
            "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00261):\tEnter fsip_ImageProcess()\n"
            "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00521):\t\n---------- UserParam : U ----------\n\n"
            "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00389):\tError fsip_ImageProcess() NOTSUPPORT\n"
            "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00394):\tExit fsip_ImageProcess()\n");
}

TEST_F(Dispatcher, MissingModeIsRefusedAfterTheFirstInputIsDumped) {
  SetConf("SaveBitmap 1\nProcLog 1\n");
  std::vector<uint8_t> pixels(8 * 2, 0x80);
  inputs[0] = {76, pixels.data(), 1, 8, 0, 8, 2, 8, 16, 300, 300, {0, 0, 0, 0}, 0, {}};
  EXPECT_EQ(g_dispatcher(nullptr, inputs, param, outputs, nullptr, nullptr), -2);
  EXPECT_EQ(Log(),
            "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00261):\tEnter fsip_ImageProcess()\n"
            "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00276):\tError fsip_ImageProcess() PARAMETER\n");
  EXPECT_EQ(Named("FSIPCTL_", ".bmp").size(), 1u);
}

TEST_F(Dispatcher, ConfigurationIsReadOnEveryCall) {
  struct ConfCase {
    const char* conf;  // nullptr: no file
    bool logged;
  } cases[] = {
      {nullptr, false},
      {"", false},
      {"SaveBitmap 1\n", false},
      {"ProcLog 1\n", true},
      {"proclog 1\n", true},  // keys ignore case
      {"PROCLOG 7\n", true},
      {"ProcLog 1\nProcLog 0\n", true},  // the first line counts
      {"ProcLog 0\nProcLog 1\n", false},
      {"ProcLog abc\nProcLog 1\n", false},  // not a number: 0
      {"ProcLog -1\n", true},
      {"  ProcLog\t1  \n", true},
      {"DoCrop 0\nSaveBitmap 0\n  ProcLog 1\n", true},
      {"ProcLogX 1\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.conf ? c.conf : "(no file)");
    ClearLogDir();
    if (c.conf)
      SetConf(c.conf);
    else
      unlink(ConfPath().c_str());
    FSIP_S_IP_MODE mode{12, 2, -1};
    EXPECT_EQ(g_dispatcher(&mode, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(access(LogPath("FSIPCTL.log").c_str(), F_OK) == 0, c.logged);
  }
  // A word longer than 255 characters never matches, and reading goes on
  // behind it; nor does a key with such a word's tail.
  for (const auto& c : {std::make_pair(std::string(300, 'x') + " 0\nProcLog 1\n", true),
                        std::make_pair(std::string(300, 'x') + "ProcLog 1\n", false),
                        std::make_pair(std::string("ProcLog") + std::string(300, 'x') + " 1\n", false)}) {
    ClearLogDir();
    SetConf(c.first);
    FSIP_S_IP_MODE mode{12, 2, -1};
    g_dispatcher(&mode, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(access(LogPath("FSIPCTL.log").c_str(), F_OK) == 0, c.second);
  }
}

// The white-background crop as the Selko2 road asks for it, logged.
TEST_F(Dispatcher, CropLogMatchesItsGoldenText) {
  SetConf("ProcLog 1\n");
  std::vector<uint8_t> pixels(4 * 3 * 2, 0x40);
  inputs[0] = {76, pixels.data(), 2, 24, 1, 4, 2, 12, 24, 300, 300, {0, 0, 0, 0}, 0, {}};
  unsigned char block[266] = {0, 0, 0x10, 0, 1, 0, 1, 0, 0, 0};
  for (int i = 0; i < 256; ++i) block[10 + i] = static_cast<unsigned char>(i);
  FSIP_CRPWB_S_CRPALL wb{};
  wb.cbSize = 98, wb.bADF = 1, wb.wFBCropSearchWidth = wb.wFBCropIgnoreLength = 0xFFFF, wb.wBlackBkThreshold = 64;
  strcpy(wb.szScanner, "Selko2S420");
  wb.NotifyOutImgInfo = [](FSIP_S_IMAGEINFO_EX*, void*) { return 0; };
  wb.byTransferDataType = 0x83, wb.bySide = 2, wb.sOVS = -1, wb.pbySendData = block;
  FSIP_S_IP_MODE mode{12, 2, 9};
  g_engineAnswer = -4;
  EXPECT_EQ(g_dispatcher(&mode, inputs, &wb, outputs, nullptr, reinterpret_cast<void*>(5)), -4);
  std::string table;
  for (int row = 0; row < 16; ++row) {
    for (int i = 0; i < 16; ++i) {
      char hex[8];
      snprintf(hex, sizeof hex, "0x%02x,", row * 16 + i);
      table += hex;
    }
    table += "\n";
  }
  const std::string image =
      "cbSize             =76\n"
      "pImageData         =P\n"
      "nPixelType         =2\n"
      "nDepth             =24\n"
      "nColorSeq          =1\n"
      "nWidth             =4\n"
      "nHeight            =2\n"
      "nBytesPerLine      =12\n"
      "nImageSize         =24\n"
      "nXResolution       =300\n"
      "nYResolution       =300\n"
      "Rect.nXOffset      =0\n"
      "Rect.nYOffset      =0\n"
      "Rect.nWidth        =0\n"
      "Rect.nHeight       =0\n"
      "nPixelFlavor       =0\n";
  const std::string expected =
      "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00261):\tEnter fsip_ImageProcess()\n"
      "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00521):\t\n---------- UserParam : U ----------\n\n"
      "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00317):\tStart CRPExec()\n"
      "[T]\n"
      "-------CropWBAll InImage------\n" +
      image +
      "------------------------------\n"
      "-------CropWBAll InParam------\n"
      "cbSize              =98\n"
      "dwFuncFlag          =0x0\n"
      "wAccCrp             =0\n"
      "wAccPH              =0\n"
      "dwHoleRemoveType    =0x0\n"
      "bADF                =1\n"
      "wFBCropSearchWidth  =65535\n"
      "wFBCropIgnoreLength =65535\n"
      "wBlackBkThreshold   =64\n"
      "szScanner           =Selko2S420\n"
      "NotifyOutImgInfo    =P\n"
      "byTransferDataType  =0x83\n"
      "bySide              =0x2\n"
      "sOVS                =-1\n"
      "pbySendData         =P\n"
      "-----------TABLE DATA---------------\n"
      "0x00,0x00,0x10,0x00,0x01,0x00,0x01,0x00,0x00,0x00,\n" +
      table +
      "------------------------------\n"
      "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_Crp(00547):\tStart FsipCrpWB_CropAll()\n"
      "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_Crp(00558):\tEnd FsipCrpWB_CropAll()\n"
      "[T]\n"
      "---------FSIP_Result----------\n"
      "Result     FSIP_C_ERR_NOTSUPPORT\n"
      "------------------------------\n"
      "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00355):\tEnd CRPExec()\n"
      "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00394):\tExit fsip_ImageProcess()\n";
  EXPECT_EQ(Log(), expected);

  // On success, the output and its layout; a missing layout is "NULL".
  ClearLogDir();
  g_engineAnswer = 0;
  outputs[0] = inputs[0];
  layout.layoutCrop.dSkew = 1.5;
  layout.layoutCrop.cornerPts.ptLT = {1, 2};
  layout.layoutCrop.cornerPts.ptLB = {3, 4};
  layout.layoutCrop.cornerPts.ptRB = {5, 6};
  layout.layoutCrop.cornerPts.ptRT = {7, 8};
  layout.layoutCrop.sizeRectangle = {9, 10};
  EXPECT_EQ(g_dispatcher(&mode, inputs, &wb, outputs, &layout, nullptr), 0);
  const std::string out =
      "[T]\n"
      "-------CRP OutImage------\n" +
      image +
      "------------------------------\n"
      "--------CRP OutParam----------\n"
      "layoutCrop.dSkew             =  1.500000\n"
      "layoutCrop.cornerPts.ptLT    = ( x= 1, y= 2 )\n"
      "layoutCrop.cornerPts.ptLB    = ( x= 3, y= 4 )\n"
      "layoutCrop.cornerPts.ptRB    = ( x= 5, y= 6 )\n"
      "layoutCrop.cornerPts.ptRT    = ( x= 7, y= 8 )\n"
      "layoutCrop.sizeRectangle     = ( x= 9, y= 10 )\n"
      "layoutHoleRemove.dSkew       =  0.000000\n"
      "layoutHoleRemove.cornerPts.ptLT= ( x= 0, y= 0 )\n"
      "layoutHoleRemove.cornerPts.ptLB= ( x= 0, y= 0 )\n"
      "layoutHoleRemove.cornerPts.ptRB= ( x= 0, y= 0 )\n"
      "layoutHoleRemove.cornerPts.ptRT= ( x= 0, y= 0 )\n"
      "layoutHoleRemove.sizeRectangle= ( x= 0, y= 0 )\n"
      "------------------------------\n"
      "[T]\n"
      "---------FSIP_Result----------\n"
      "Result     FSIP_C_ERR_NOERROR\n"
      "------------------------------\n";
  EXPECT_NE(Log().find(out), std::string::npos) << Log();
}

TEST_F(Dispatcher, BlankPageLogMatchesItsGoldenText) {
  SetConf("ProcLog 1\n");
  std::vector<uint8_t> pixels(4 * 2, 0xFF);
  inputs[0] = {76, pixels.data(), 1, 8, 0, 4, 2, 4, 8, 200, 200, {0, 0, 0, 0}, 0, {}};
  FSIP_BPD_S_INPARAM in{};
  in.cbSize = 80, in.nWLevel = 3, in.nBLevel = 12, in.nDetectLevel = -1;
  FSIP_BPD_S_OUTPARAM out{};
  out.nResult = 1;
  FSIP_S_IP_MODE mode{12, 3, 1};
  // A page smaller than the judge's margins is not blank.
  EXPECT_EQ(g_dispatcher(&mode, inputs, &in, nullptr, &out, nullptr), 0);
  EXPECT_EQ(out.nResult, 0);
  const std::string log = Log();
  const std::string expected =
      "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00368):\tStart BPDExec()\n"
      "[T]\n"
      "--------BPD InImage-----------\n"
      "cbSize             =76\n"
      "pImageData         =P\n"
      "nPixelType         =1\n"
      "nDepth             =8\n"
      "nColorSeq          =0\n"
      "nWidth             =4\n"
      "nHeight            =2\n"
      "nBytesPerLine      =4\n"
      "nImageSize         =8\n"
      "nXResolution       =200\n"
      "nYResolution       =200\n"
      "Rect.nXOffset      =0\n"
      "Rect.nYOffset      =0\n"
      "Rect.nWidth        =0\n"
      "Rect.nHeight       =0\n"
      "nPixelFlavor       =0\n"
      "------------------------------\n"
      "--------BPD InParam-----------\n"
      "cbSize              =80\n"
      "nWLevel             =3\n"
      "nBLevel             =12\n"
      "nDetectLevel        =0xffffffff\n"
      "bADF                =0\n"
      "nOVS                =0\n"
      "szScanner           =\n"
      "byTransferDataType  =0x0\n"
      "pbySendData         =P\n"
      "-----------TABLE DATA---------------\n"
      "No TableData!!\n"
      "------------------------------\n"
      "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_BPD(00188):\tStart JugBlankPage()\n"
      "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_BPD(00192):\tEnd JugBlankPage()\n"
      "[T]\n"
      "--------BPD OutParam----------\n"
      "cbSize              =0\n"
      "nResult             =0\n"
      "////////////////////////////////////////////////\n"
      "/// Blank Page Detect Result : No Blank Page ///\n"
      "////////////////////////////////////////////////\n"
      "------------------------------\n"
      "[T]\n"
      "---------FSIP_Result----------\n"
      "Result     FSIP_C_ERR_NOERROR\n"
      "------------------------------\n"
      "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00378):\tEnd BPDExec()\n";
  EXPECT_NE(log.find(expected), std::string::npos) << log;
  ClearLogDir();
  mode = {12, 1, 1};
  // The colour-or-mono judge takes colour pages only.
  EXPECT_EQ(g_dispatcher(&mode, inputs, param, nullptr, param, nullptr), -3);
  EXPECT_NE(Log().find("[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00297):\tStart DCMExec()\n"
                       "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_DCM(00196):\tStart GetDocBestDepth()\n"
                       "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_DCM(00250):\tError GetDocBestDepth() PIXELTYPE\n"
                       "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_DCM(00200):\tEnd GetDocBestDepth()\n"
                       "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00303):\tEnd DCMExec()\n"),
            std::string::npos)
      << Log();
  for (int function : {1, 3}) {
    ClearLogDir();
    mode = {12, function, 2};
    EXPECT_EQ(g_dispatcher(&mode, inputs, param, nullptr, param, nullptr), -4);
    EXPECT_NE(Log().find(function == 1 ? "FsipCtl_DCM(00203):\tError DCMExec() NOTSUPPORT\n"
                                       : "FsipCtl_BPD(00195):\tError BPDExec() NOTSUPPORT\n"),
              std::string::npos);
  }
}

TEST_F(Dispatcher, LogsAreEmptiedPastTheirLimitAndNeverFollowLinks) {
  SetConf("ProcLog 1\n");
  FSIP_S_IP_MODE mode{12, 2, -1};
  const std::string path = LogPath("FSIPCTL.log");
  const auto oneCall = [&] {
    g_dispatcher(&mode, nullptr, nullptr, nullptr, nullptr, nullptr);
    return Normalised(dravn_test::ReadFile(path));
  }();
  for (off_t size : {off_t{10240000}, off_t{10240001}}) {
    SCOPED_TRACE(size);
    ClearLogDir();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
    g_dispatcher(&mode, nullptr, nullptr, nullptr, nullptr, nullptr);
    // Each line applies the rule: at the limit the first line is appended,
    // which takes the log past it, so the second line starts it again.
    const std::string log = Normalised(dravn_test::ReadFile(path));
    const std::string expected = size == 10240000 ? oneCall.substr(oneCall.find("[T]", 1)) : oneCall;
    EXPECT_EQ(log, expected);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0777u);
  }
  // A link planted in the log directory is left as it is, and so is its target.
  ClearLogDir();
  const std::string target = LogPath("target");
  dravn_test::WriteFile(target, "kept");
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
  SetConf("ProcLog 1\nSaveBitmap 1\n");
  std::vector<uint8_t> pixels(16, 1);
  inputs[0] = {76, pixels.data(), 1, 8, 0, 4, 4, 4, 16, 300, 300, {0, 0, 0, 0}, 0, {}};
  g_dispatcher(nullptr, inputs, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(dravn_test::ReadFile(target), "kept");
  struct stat st {};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 07777, 0777u);
}

// Dumps of each depth read back pixel for pixel.
TEST_F(Dispatcher, BitmapDumpsReadBackAsTheImage) {
  SetConf("SaveBitmap 1\n");
  for (int depth : {1, 8, 24, 32}) {
    for (int width : {10, 13}) {
      SCOPED_TRACE(testing::Message() << depth << " bits, " << width << " wide");
      ClearLogDir();
      const int height = 3;
      const int bytesPerLine = (depth * width + 7) / 8;
      // Exactly the image's bytes: a read past them shows in the sanitizer build.
      std::vector<uint8_t> pixels(static_cast<size_t>(bytesPerLine * height));
      for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37 + 11);
      const int type = depth == 1 ? 0 : depth == 8 ? 1 : 2;
      inputs[0] = {76,           pixels.data(),         type, depth, depth >= 24 ? 1 : 0, width, height,
                   bytesPerLine, bytesPerLine * height, 300,  200,   {0, 0, 0, 0},        0,     {}};
      FSIP_S_IP_MODE mode{12, 2, -1};
      g_dispatcher(&mode, inputs, nullptr, nullptr, nullptr, nullptr);
      const auto files = Named("FSIPCTL_", ".bmp");
      ASSERT_EQ(files.size(), 1u);
      EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(FSIPCTL_\d{8}_\d{6}_\d{3,5}\.bmp)"))) << files[0];
      Bmp bmp;
      ASSERT_TRUE(ReadBmp(dravn_test::ReadFile(LogPath(files[0])), &bmp));
      EXPECT_EQ(bmp.width, width);
      EXPECT_EQ(bmp.height, height);
      EXPECT_EQ(bmp.bitCount, depth == 32 ? 24 : depth);
      EXPECT_EQ(bmp.offset, depth == 1 ? 62u : depth == 8 ? 1078u : 54u);
      EXPECT_EQ(bmp.coloursUsed, depth == 1 ? 2u : depth == 8 ? 256u : 0u);
      EXPECT_EQ(bmp.ppmX, 11811u);  // 300 dpi
      EXPECT_EQ(bmp.ppmY, 7874u);   // 200 dpi
      if (depth == 1) {
        EXPECT_EQ(bmp.imageSize, 4u * height);  // 4-byte rows
        EXPECT_EQ(bmp.palette, std::vector<uint8_t>({0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0}));
      }
      if (depth == 8) {
        ASSERT_EQ(bmp.palette.size(), 1024u);
        for (int i = 0; i < 256; ++i) EXPECT_EQ(bmp.palette[4 * i + 1], i);
      }
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          const uint8_t* row = pixels.data() + y * bytesPerLine;
          std::vector<uint8_t> want;
          if (depth == 1) want = {static_cast<uint8_t>(row[x / 8] >> (7 - x % 8) & 1)};
          if (depth == 8) want = {row[x]};
          if (depth == 24) want = {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
          if (depth == 32) want = {row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]};
          const size_t at = (static_cast<size_t>(y) * width + x) * bmp.channels;
          ASSERT_EQ(std::vector<uint8_t>(bmp.pixels.begin() + at, bmp.pixels.begin() + at + want.size()), want)
              << x << ", " << y;
        }
      }
    }
  }
  // Other depths leave an empty file.
  ClearLogDir();
  std::vector<uint8_t> pixels(64, 0);
  inputs[0] = {76, pixels.data(), 1, 16, 0, 4, 4, 8, 32, 300, 300, {0, 0, 0, 0}, 0, {}};
  FSIP_S_IP_MODE mode{12, 2, -1};
  g_dispatcher(&mode, inputs, nullptr, nullptr, nullptr, nullptr);
  const auto files = Named("FSIPCTL_", ".bmp");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(dravn_test::ReadFile(LogPath(files[0])), "");
}

TEST_F(Dispatcher, CropOutputsAreDumpedWhateverTheResult) {
  SetConf("SaveBitmap 1\nProcLog 1\n");
  std::vector<uint8_t> a(16, 1), b(16, 2), c(16, 3);
  inputs[0] = {76, a.data(), 1, 8, 0, 4, 4, 4, 16, 300, 300, {0, 0, 0, 0}, 0, {}};
  inputs[1] = inputs[0];
  inputs[1].pImageData = b.data();
  struct DumpCase {
    int type;
    bool output;  // the engine left an output image
    std::vector<std::string> suffixes;
    std::vector<std::string> lines;
  } cases[] = {
      {1, true, {"", "_crp"}, {"FSIPCTL(00590):\tFSIP Crop SaveResultImage"}},
      {1, false, {""}, {"FSIPCTL(00593):\tFSIP Crop NotResultImage"}},
      {2, false, {"", "_phr"}, {"FSIPCTL(00603):\tFSIP PHRmv SaveResultImage"}},
      {4,
       true,
       {"", "", "_dupcrp1"},
       {"FSIPCTL(00617):\tFSIP DupCrop SaveResultImage_1st", "FSIPCTL(00632):\tFSIP DupCrop NotResultImage_2st"}},
      {5,
       false,
       {"", "", "_dupphr1", "_dupphr2"},
       {"FSIPCTL(00643):\tFSIP DupPHRmv SaveResultImage_1st", "FSIPCTL(00655):\tFSIP DupPHRmv SaveResultImage_2st"}},
      {9, false, {""}, {"FSIPCTL(00673):\tFSIP CropWB NotResultImage"}},
      {10, true, {"", "_crp"}, {"FSIPCTL(00670):\tFSIP CropWB SaveResultImage"}},
      {6, true, {""}, {}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.type);
    ClearLogDir();
    memset(outputs, 0, sizeof outputs);
    if (k.output) outputs[0] = {76, c.data(), 1, 8, 0, 4, 4, 4, 16, 300, 300, {0, 0, 0, 0}, 0, {}};
    g_engineAnswer = -5;
    FSIP_S_IP_MODE mode{12, 2, k.type};
    EXPECT_EQ(g_dispatcher(&mode, inputs, param, outputs, nullptr, nullptr), -5);
    std::vector<std::string> suffixes;
    for (const auto& name : Named("FSIPCTL_", ".bmp")) {
      const std::regex form(R"(FSIPCTL_\d{8}_\d{6}_\d{3,5}(_\w+)?\.bmp)");
      std::smatch m;
      ASSERT_TRUE(std::regex_match(name, m, form)) << name;
      suffixes.push_back(m[1]);
    }
    std::sort(suffixes.begin(), suffixes.end());
    EXPECT_EQ(suffixes, k.suffixes);
    for (const auto& line : k.lines) EXPECT_NE(Log().find(line), std::string::npos) << line;
  }
}

}  // namespace
