// The control layer's text logs: FSIPCTL.log with its event lines and
// record dumps, and the judges' own logs. Each write opens the file anew, so
// that processes share it line by line. A writer that cannot build its text
// or open its file gives up silently: logging never fails a request.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "dravn_paths.h"
#include "fsipctl_internal.h"
#include "fsipctl_log_file.h"

bool g_bLogSaveBitmap = false;
bool g_bLogProc = false;
const char* const g_szSavePath = DRAVN_LOG_DIR;

namespace fsipctl {

const char kSrcCtl[] = "../Imgforge/KeloFsipCtl/FSIPCTL";
const char kSrcCrp[] = "../Imgforge/KeloFsipCtl/FsipCtl_Crp";
const char kSrcBPD[] = "../Imgforge/KeloFsipCtl/FsipCtl_BPD";
const char kSrcDCM[] = "../Imgforge/KeloFsipCtl/FsipCtl_DCM";

namespace {

constexpr off_t kLogLimit = 10240000;  // a longer log starts again empty

const char kCloser[] = "------------------------------\n";

void Append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& out, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof buffer) {
    out.append(buffer, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  vsnprintf(&big[0], big.size(), format, args);
  va_end(args);
  big.resize(static_cast<size_t>(n));
  out += big;
}

// Pointers are logged by their low 32 bits, as the format has it.
unsigned Low32(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

std::string StampPrefix() {
  const Stamp s = Now();
  std::string out;
  Append(out, "[%02d/%02d/%04d %02d:%02d:%02d:%03d]", s.month, s.day, s.year, s.hour, s.minute, s.second,
         static_cast<int>(s.fraction));
  return out;
}

std::string CtlLogPath() { return std::string(g_szSavePath) + "/FSIPCTL.log"; }

// A record dump: its time-stamp line, then the blocks.
void WriteDump(const std::string& blocks) { WriteLogFile(CtlLogPath(), StampPrefix() + "\n" + blocks); }

void WriteImageParam(std::string& out, const FSIP_S_IMAGEINFO_EX* im) {
  if (!im) {
    out += "NULL\n";
    return;
  }
  Append(out, "%-19s=%d\n", "cbSize", im->cbSize);
  Append(out, "%-19s=0x%x\n", "pImageData", Low32(im->pImageData));
  const struct {
    const char* name;
    int32_t value;
  } fields[] = {{"nPixelType", im->nPixelType},
                {"nDepth", im->nDepth},
                {"nColorSeq", im->nColorSeq},
                {"nWidth", im->nWidth},
                {"nHeight", im->nHeight},
                {"nBytesPerLine", im->nBytesPerLine},
                {"nImageSize", im->nImageSize},
                {"nXResolution", im->nXResolution},
                {"nYResolution", im->nYResolution},
                {"Rect.nXOffset", im->Rect.nXOffset},
                {"Rect.nYOffset", im->Rect.nYOffset},
                {"Rect.nWidth", im->Rect.nWidth},
                {"Rect.nHeight", im->Rect.nHeight},
                {"nPixelFlavor", im->nPixelFlavor}};
  for (const auto& f : fields) Append(out, "%-19s=%d\n", f.name, f.value);
}

void WriteImageBlock(std::string& out, const char* header, const FSIP_S_IMAGEINFO_EX* im,
                     const char* closer = kCloser) {
  out += header;
  WriteImageParam(out, im);
  out += closer;
}

void Field(std::string& out, const char* name, long value) { Append(out, "%-20s=%ld\n", name, value); }
void HexField(std::string& out, const char* name, unsigned long value) { Append(out, "%-20s=0x%lx\n", name, value); }
void TextField(std::string& out, const char* name, const char (&text)[32]) { Append(out, "%-20s=%.32s\n", name, text); }

void WriteTableData(std::string& out, const unsigned char* block) {
  out += "-----------TABLE DATA---------------\n";
  if (!block) {
    out += "No TableData!!\n";
    return;
  }
  for (int i = 0; i < 10; ++i) Append(out, "0x%02x,", block[i]);
  out += "\n";
  for (int row = 0; row < 16; ++row) {
    for (int i = 0; i < 16; ++i) Append(out, "0x%02x,", block[10 + row * 16 + i]);
    out += "\n";
  }
}

// The head that the single-page crop records share.
template <typename R>
void WriteCropHead(std::string& out, const R& r) {
  Field(out, "cbSize", r.cbSize);
  HexField(out, "dwFuncFlag", r.dwFuncFlag);
  Field(out, "wAccCrp", r.wAccCrp);
  Field(out, "wAccPH", r.wAccPH);
  HexField(out, "dwHoleRemoveType", r.dwHoleRemoveType);
  Field(out, "bADF", r.bADF);
  Field(out, "wFBCropSearchWidth", r.wFBCropSearchWidth);
  Field(out, "wFBCropIgnoreLength", r.wFBCropIgnoreLength);
  Field(out, "wBlackBkThreshold", r.wBlackBkThreshold);
  TextField(out, "szScanner", r.szScanner);
  HexField(out, "NotifyOutImgInfo", Low32(reinterpret_cast<const void*>(r.NotifyOutImgInfo)));
}

void WriteOffsets(std::string& out, const FSIP_CRP_S_OFFSET_VALUE& o) {
  Append(out, "offsetLeft   =%d\n", o.offsetLeft);
  Append(out, "offsetBottom =%d\n", o.offsetBottom);
  Append(out, "offsetRight  =%d\n", o.offsetRight);
  Append(out, "offsetTop    =%d\n", o.offsetTop);
}

void WriteFSIPCropParam(std::string& out, const FSIP_CRP_S_CRPALL* r,
                        const FSIP_CRP_S_OFFSET_VALUE* offsets = nullptr) {
  if (!r) {
    out += "NULL\n";
    return;
  }
  WriteCropHead(out, *r);
  HexField(out, "byTransferDataType", r->byTransferDataType);
  HexField(out, "pbySendData", Low32(r->pbySendData));
  if (offsets) WriteOffsets(out, *offsets);
  WriteTableData(out, r->pbySendData);
}

void WriteFSIPCropParam2(std::string& out, const FSIP_CRP_S_CRPALL2* r) {
  if (!r) {
    out += "NULL\n";
    return;
  }
  WriteFSIPCropParam(out, &r->crpAll, &r->offset);
}

void WriteFSIPPHRmvParam(std::string& out, const FSIP_CRP_S_PHRMV* r) {
  if (!r) {
    out += "NULL\n";
    return;
  }
  Field(out, "cbSize", r->cbSize);
  Field(out, "wAccPH", r->wAccPH);
  Field(out, "bOVS", r->bOVS);
  HexField(out, "dwHoleRemoveType", r->dwHoleRemoveType);
  Field(out, "bADF", r->bADF);
  Field(out, "wFBCropSearchWidth", r->wFBCropSearchWidth);
  Field(out, "wFBCropIgnoreLength", r->wFBCropIgnoreLength);
  Field(out, "wBlackBkThreshold", r->wBlackBkThreshold);
  TextField(out, "szScanner", r->szScanner);
  HexField(out, "byTransferDataType", r->byTransferDataType);
  HexField(out, "pbySendData", Low32(r->pbySendData));
  Field(out, "nPHMode", r->nPHMode);
  WriteTableData(out, r->pbySendData);
}

void WriteFSIPCropWBParam(std::string& out, const FSIP_CRPWB_S_CRPALL* r) {
  if (!r) {
    out += "NULL\n";
    return;
  }
  WriteCropHead(out, *r);
  HexField(out, "byTransferDataType", r->byTransferDataType);
  HexField(out, "bySide", r->bySide);
  Field(out, "sOVS", r->sOVS);
  HexField(out, "pbySendData", Low32(r->pbySendData));
  WriteTableData(out, r->pbySendData);
}

void WritePaperLayout(std::string& out, const char* name, const FSIP_CRP_S_PAPER_LAYOUT& l) {
  auto label = [name](const char* field) { return std::string(name) + "." + field; };
  Append(out, "%-29s=  %f\n", label("dSkew").c_str(), l.dSkew);
  const struct {
    const char* field;
    const FSIP_S_POINT& p;
  } corners[] = {{"cornerPts.ptLT", l.cornerPts.ptLT},
                 {"cornerPts.ptLB", l.cornerPts.ptLB},
                 {"cornerPts.ptRB", l.cornerPts.ptRB},
                 {"cornerPts.ptRT", l.cornerPts.ptRT}};
  for (const auto& c : corners)
    Append(out, "%-29s= ( x= %d, y= %d )\n", label(c.field).c_str(), static_cast<int>(c.p.x), static_cast<int>(c.p.y));
  Append(out, "%-29s= ( x= %d, y= %d )\n", label("sizeRectangle").c_str(), l.sizeRectangle.x, l.sizeRectangle.y);
}

void WriteFSIPCropLayoutParam(std::string& out, const FSIP_CRP_S_DUAL_LAYOUT* l) {
  if (!l) {
    out += "NULL\n";
    return;
  }
  WritePaperLayout(out, "layoutCrop", l->layoutCrop);
  WritePaperLayout(out, "layoutHoleRemove", l->layoutHoleRemove);
}

void WriteFSIPSPACrpParam(std::string& out, const FSIP_CRP_S_SPECIFIEDAREA_CRP* r) {
  if (!r) {
    out += "NULL\n";
    return;
  }
  WriteCropHead(out, r->crpAll);
  HexField(out, "byTransferDataType", r->crpAll.byTransferDataType);
  HexField(out, "pbySendData", Low32(r->crpAll.pbySendData));
  WriteFSIPCropLayoutParam(out, &r->layout);
  WriteTableData(out, r->crpAll.pbySendData);
}

void WriteFSIPSPACrpWBParam(std::string& out, const FSIP_CRPWB_S_SPECIFIEDAREA_CRP* r) {
  if (!r) {
    out += "NULL\n";
    return;
  }
  WriteCropHead(out, *r);
  HexField(out, "byTransferDataType", r->byTransferDataType);
  HexField(out, "bySide", r->bySide);
  Field(out, "sOVS", r->sOVS);
  HexField(out, "pbySendData", Low32(r->pbySendData));
  WriteFSIPCropLayoutParam(out, &r->layout);
  WriteTableData(out, r->pbySendData);
}

void WriteFSIPBPDInParam(std::string& out, const FSIP_BPD_S_INPARAM* r) {
  if (!r) {
    out += "NULL\n";
    return;
  }
  Field(out, "cbSize", r->cbSize);
  Field(out, "nWLevel", r->nWLevel);
  Field(out, "nBLevel", r->nBLevel);
  HexField(out, "nDetectLevel", static_cast<uint32_t>(r->nDetectLevel));
  Field(out, "bADF", r->bADF);
  Field(out, "nOVS", r->nOVS);
  TextField(out, "szScanner", r->szScanner);
  HexField(out, "byTransferDataType", r->byTransferDataType);
  HexField(out, "pbySendData", Low32(r->pbySendData));
  WriteTableData(out, r->pbySendData);
}

void WriteFSIPBPDOutParam(std::string& out, const FSIP_BPD_S_OUTPARAM* r) {
  if (!r) {
    out += "NULL\n";
    return;
  }
  const std::string slashes(48, '/');
  Field(out, "cbSize", r->cbSize);
  Append(out, "nResult             =%d\n", r->nResult);
  out += slashes + "\n";
  if (r->nResult == 1)
    out += "/// Blank Page Detect Result : Blank Page    ///\n";
  else if (r->nResult == 0)
    out += "/// Blank Page Detect Result : No Blank Page ///\n";
  else
    out += "nResult error!!\n";
  out += slashes + "\n";
}

// The input dump of a pair call: both images, both halves, the side.
template <typename Pair, typename Half, typename Writer>
void WritePair(std::string& out, const FSIP_S_IMAGEINFO_EX* inputs, const Pair* pair, const char* const (&headers)[4],
               Half half, Writer write) {
  WriteImageBlock(out, headers[0], inputs);
  WriteImageBlock(out, headers[1], inputs ? inputs + 1 : nullptr);
  for (int side = 0; side < 2; ++side) {
    out += headers[2 + side];
    write(out, pair ? half(pair, side) : nullptr);
    out += kCloser;
  }
  if (pair) Append(out, "nReqSide           =%d\n", static_cast<int>(pair->nReqSide));
}

}  // namespace

void OutputLog(const char* source, int number, const char* text) try {
  std::string line = StampPrefix();
  Append(line, "\t%s(%05d):\t%s\n", source, number, text);
  WriteLogFile(CtlLogPath(), line);
} catch (...) {
}

void OutputUserParamLog(void* userParam) try {
  std::string text;
  Append(text, "\n---------- UserParam : %ld ----------\n", static_cast<long>(reinterpret_cast<intptr_t>(userParam)));
  OutputLog(kSrcCtl, 521, text.c_str());
} catch (...) {
}

void OutputCropLog(const FSIP_S_IP_MODE* mode, const FSIP_S_IMAGEINFO_EX* inputs, const void* inParam) try {
  std::string out;
  switch (mode ? mode->nType : 0) {
    case 1:
      WriteImageBlock(out, "--------CropAll InImage-------\n", inputs);
      out += "--------CropAll InParam-------\n";
      WriteFSIPCropParam(out, static_cast<const FSIP_CRP_S_CRPALL*>(inParam));
      out += kCloser;
      break;
    case 7:
      WriteImageBlock(out, "--------CropAll InImage-------\n", inputs);
      out += "--------CropAll InParam-------\n";
      WriteFSIPCropParam2(out, static_cast<const FSIP_CRP_S_CRPALL2*>(inParam));
      out += kCloser;
      break;
    case 2:
      WriteImageBlock(out, "--------PHRmv  InImage-------\n", inputs);
      out += "--------PHRmv InParam---------\n";
      WriteFSIPPHRmvParam(out, static_cast<const FSIP_CRP_S_PHRMV*>(inParam));
      out += kCloser;
      break;
    case 3: {
      const char closer[] = "---------------------------------------\n";
      WriteImageBlock(out, "--------SPECIFIEDAREACRP InImage-------\n", inputs, closer);
      out += "--------SPECIFIEDAREA_CRP InParam-------\n";
      WriteFSIPSPACrpParam(out, static_cast<const FSIP_CRP_S_SPECIFIEDAREA_CRP*>(inParam));
      out += closer;
      break;
    }
    case 4: {
      static const char* const headers[4] = {"--------DupCropAll InImage1---\n", "--------DupCropAll InImage2---\n",
                                             "--------DupCropAll InParam1---\n", "--------DupCropAll InParam2---\n"};
      WritePair(
          out, inputs, static_cast<const _FSIP_CRP_S_DUPCRPALL*>(inParam), headers,
          [](const _FSIP_CRP_S_DUPCRPALL* p, int side) { return &p->crpAll[side]; },
          [](std::string& o, const FSIP_CRP_S_CRPALL* r) { WriteFSIPCropParam(o, r); });
      break;
    }
    case 8: {
      static const char* const headers[4] = {"--------DupCropAll InImage1---\n", "--------DupCropAll InImage2---\n",
                                             "--------DupCropAll InParam1---\n", "--------DupCropAll InParam2---\n"};
      WritePair(
          out, inputs, static_cast<const _FSIP_CRP_S_DUPCRPALL2*>(inParam), headers,
          [](const _FSIP_CRP_S_DUPCRPALL2* p, int side) { return &p->crpAll2[side]; },
          [](std::string& o, const FSIP_CRP_S_CRPALL2* r) { WriteFSIPCropParam2(o, r); });
      break;
    }
    case 5: {
      static const char* const headers[4] = {"--------DupPHRmv   InImage1---\n", "--------DupPHRmv   InImage2---\n",
                                             "--------DupPHRmv InParam1-----\n", "--------DupPHRmv InParam2-----\n"};
      WritePair(
          out, inputs, static_cast<const _FSIP_CRP_S_DUPPHRMV*>(inParam), headers,
          [](const _FSIP_CRP_S_DUPPHRMV* p, int side) { return &p->phRmv[side]; },
          [](std::string& o, const FSIP_CRP_S_PHRMV* r) { WriteFSIPPHRmvParam(o, r); });
      break;
    }
    case 9:
      WriteImageBlock(out, "-------CropWBAll InImage------\n", inputs);
      out += "-------CropWBAll InParam------\n";
      WriteFSIPCropWBParam(out, static_cast<const FSIP_CRPWB_S_CRPALL*>(inParam));
      out += kCloser;
      break;
    case 10: {
      const char closer[] = "---------------------------------------------\n";
      WriteImageBlock(out, "--------CRPWB_SPECIFIEDAREACRP InImage-------\n", inputs, closer);
      out += "--------CRPWB_SPECIFIEDAREACRP InParam-------\n";
      WriteFSIPSPACrpWBParam(out, static_cast<const FSIP_CRPWB_S_SPECIFIEDAREA_CRP*>(inParam));
      out += closer;
      break;
    }
    default:  // the position analysis and unknown types: the time stamp only
      break;
  }
  WriteDump(out);
} catch (...) {
}

void OutputCropOutParamLog(const FSIP_S_IP_MODE* mode, const FSIP_S_IMAGEINFO_EX* outputs, const void* outParam) try {
  const int type = mode ? mode->nType : 0;
  if (type != 1 && type != 7 && type != 9) return;
  std::string out;
  WriteImageBlock(out, "-------CRP OutImage------\n", outputs);
  out += "--------CRP OutParam----------\n";
  WriteFSIPCropLayoutParam(out, static_cast<const FSIP_CRP_S_DUAL_LAYOUT*>(outParam));
  out += kCloser;
  WriteDump(out);
} catch (...) {
}

void OutputBPDLog(const FSIP_S_IMAGEINFO_EX* input, const FSIP_BPD_S_INPARAM* inParam) try {
  std::string out;
  WriteImageBlock(out, "--------BPD InImage-----------\n", input);
  out += "--------BPD InParam-----------\n";
  WriteFSIPBPDInParam(out, inParam);
  out += kCloser;
  WriteDump(out);
} catch (...) {
}

void OutputBPDResultLog(const FSIP_S_IP_MODE* mode, const FSIP_BPD_S_OUTPARAM* outParam) try {
  std::string out;
  if (mode && mode->nType == 1) {
    out += "--------BPD OutParam----------\n";
    WriteFSIPBPDOutParam(out, outParam);
    out += kCloser;
  }
  WriteDump(out);
} catch (...) {
}

void OutputResultLog(int result) try {
  static const char* const names[] = {"FSIP_C_ERR_NOERROR",   "FSIP_C_ERR_OUTOFMEMORY", "FSIP_C_ERR_PARAMETER",
                                      "FSIP_C_ERR_PIXELTYPE", "FSIP_C_ERR_NOTSUPPORT",  "FSIP_C_ERR_UNEXPECTED_ERROR"};
  std::string out = "---------FSIP_Result----------\n";
  if (result <= 0 && result >= -5)
    Append(out, "Result     %s\n", names[-result]);
  else
    Append(out, "UnknownResult    %d\n", result);
  out += kCloser;
  WriteDump(out);
} catch (...) {
}

void OutputJudgeLog(const char* fileName, const char* text) try {
  if (!g_bLogProc) return;
  std::string line = StampPrefix();
  Append(line, "\t:\t%s\n", text);
  WriteLogFile(std::string(g_szSavePath) + "/" + fileName, line);
} catch (...) {
}

Stamp Now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  const time_t seconds = tv.tv_sec;
  tm local{};
  localtime_r(&seconds, &local);
  return {local.tm_mon + 1,
          local.tm_mday,
          local.tm_year + 1900,
          local.tm_hour,
          local.tm_min,
          local.tm_sec,
          static_cast<uint16_t>(tv.tv_usec)};
}

int OpenShared(const std::string& path, bool truncate) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND), 0777);
  if (fd >= 0) fchmod(fd, 0777);
  return fd;
}

void WriteLogFile(const std::string& path, const std::string& text) try {
  const int fd = OpenShared(path, false);
  if (fd < 0) return;
  struct stat st {};
  if (fstat(fd, &st) == 0 && st.st_size > kLogLimit && ftruncate(fd, 0) != 0) {
    close(fd);
    return;
  }
  WriteAll(fd, text.data(), text.size());
  close(fd);
} catch (...) {
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace fsipctl

void OutputDebugString(const char* text) { fsipctl::OutputJudgeLog("P2IDEPTH.log", text ? text : ""); }
