// The Corvane page pipeline: JPEG decoding, the device's sample order, the
// automatic crop, punch-hole, colour and blank-page steps of libimgforge,
// the tone table, the mode conversion and the reverse-image setting.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "devctl_codes.h"
#include "fsip_records.h"
#include "jpeg_decode.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"
#include "main_options.h"

namespace dravnmain {

namespace {

void Log(int level, const char* tag, const char* text) { WriteLog(level, tag, text); }


// Eight 8x8 threshold matrices: four patterns on a white background, the
// same four for a black one (thresholds mirrored).
struct DitherMatrix {
  unsigned char width, height;
  unsigned char thresholds[64];
};

const DitherMatrix* DitherMatrices() {
  static DitherMatrix matrices[8];
  static const bool built = [] {
    static const int kBayer[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
                                     {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
                                     {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
                                     {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
    for (int m = 0; m < 8; ++m) {
      DitherMatrix& d = matrices[m];
      d.width = d.height = 8;
      const int pattern = m % 4;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
          // Pattern 0 ordered dither; 1 clustered (spiral) dots; 2 and 3
          // coarser and finer variants of the ordered one.
          int rank = kBayer[y][x];
          if (pattern == 1) rank = kBayer[(y % 4) * 2][(x % 4) * 2] / 4 + 16 * ((y / 4) * 2 + x / 4);
          if (pattern == 2) rank = kBayer[y / 2 * 2][x / 2 * 2];
          if (pattern == 3) rank = kBayer[x][y];
          int threshold = rank * 4 + 2;
          if (m >= 4) threshold = 255 - threshold;
          d.thresholds[y * 8 + x] = static_cast<unsigned char>(threshold);
        }
    }
    return true;
  }();
  (void)built;
  return matrices;
}

const int32_t kSdtcTavrin4[3][9] = {
    {36, 7, 4, 128, 28, 28, 2, 0, 0}, {36, 7, 4, 128, 16, 16, 2, 0, 0}, {36, 7, 4, 128, 10, 10, 2, 0, 0}};
const int32_t kSdtcOlder[3][9] = {
    {36, 64, 6, 128, 21, 21, 1, 0, 0}, {36, 32, 7, 160, 16, 48, 1, 0, 0}, {36, 32, 7, 128, 21, 21, 1, 0, 0}};

// Emphasis low, mid and high (0x20, 0x40, 0x60) of the colour emphasis and
// the line-art edge byte alike; false for any other byte.
bool SetEmphasisLevel(FSIP_S_IMAGEEMPHASIS& emphasis, uint8_t value) {
  if (value != 0x20 && value != 0x40 && value != 0x60) return false;
  emphasis.nKind = 2;
  emphasis.nEmphasisLevel = value / 0x20 - 1;
  return true;
}

bool NewerQvType(int t) { return (t >= 8 && t <= 24) || t == 35; }
// The types whose pages the library treats as the newer qv series'.
bool NewerQvProcessing(int t) { return NewerQvType(t) || Corvane5ModelText(t) != nullptr; }

// Bytes of a face as its record describes it, or -1 when the record is not
// a page.
int64_t FaceBytes(const QV_IMAGEDATA_PARAMETERS& face) {
  if (face.iBytesPerLine < 0 || face.iLines < 0) return -1;
  return static_cast<int64_t>(face.iBytesPerLine) * face.iLines;
}

// The colour-profile step runs only where libimgforge offers it and the
// device row names a profile; otherwise the page goes on as it is. A
// failure the caller does not treat as its own leaves the page as well.
int32_t ConvertToSrgb(const char* tag, const fsipctl_image& face, int32_t bytesPerLine) {
  if (!g_SRGBFunction || !g_tpDevCtlInfo || !g_tpDevCtlInfo->szColorProfile) {
    Log(LOG_LEVEL_TRACE, tag, "Can not do sRGB");
    return 0;
  }
  _P2IIMG image;
  memset(&image, 0, sizeof image);
  image.pImageData = face.pImageData;
  image.nBitsPerPixel = face.nDepth;
  image.nWidth = face.nWidth;
  image.nHeight = face.nHeight;
  image.nBytesPerLine = bytesPerLine;
  image.nImageSize = face.nImageSize;
  const int result = g_SRGBFunction(&image);
  Log(LOG_LEVEL_TRACE, tag, "Do sRGB");
  if (result == 0) return 0;
  Log(LOG_LEVEL_ERROR, tag, "unknow error");
  return result == FSIP_C_ERR_OUTOFMEMORY || result == FSIP_C_ERR_PARAMETER ? result : FSIP_C_ERR_UNEXPECTED_ERROR;
}

}  // namespace

// --- the page ----------------------------------------------------------------

uint8_t KeloDevCtlCorvane::FaceMode(int index) const {
  if (m_PropInfo.AUTO_COLOR_DETECT == 1 || m_PropInfo.AUTO_COLOR_DETECT == 2)
    return index == 0 ? m_AutoColorInfo.ucFMode : m_AutoColorInfo.ucBMode;
  return m_PropInfo.IMAGE_MODE;
}

// Phase 1 for one face: decode or reorder the device's data. The face's
// byte count is trusted only as far as data arrived: what is missing is
// filled white, never read past.
uint32_t KeloDevCtlCorvane::ProcessFaceData(unsigned char** buffer, uint32_t size, QV_IMAGEDATA_PARAMETERS* face,
                                            int index) {
  static const char* const kTag = "KeloDevCtlCorvane::ImageProcess";
  const SCAN_PROP_INFO& p = m_PropInfo;
  const int64_t n = FaceBytes(*face);
  if (n < 0 || n > INT32_MAX) return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
  if (p.JPEG_TRANSFER) {
    if (p.PAPER_SIZE == 10) {
      if (!UpdateJPEGParam(*buffer, size, *face)) {
        Log(LOG_LEVEL_ERROR, kTag, "UpdateJPEGParam() Error");
        return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
      }
      Log(LOG_LEVEL_TRACE, kTag, "UpdateJPEGParam() OK");
    }
    unsigned char* decoded = ReadDataFromJpeg(*buffer, size, *face);
    if (!decoded) {
      Log(LOG_LEVEL_ERROR, kTag, "ReadDataFromJpeg() == NULL");
      return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
    }
    free(*buffer);
    *buffer = decoded;
    return VK_OK;
  }
  const uint8_t mode = p.AUTO_COLOR_DETECT == 2 ? 0 : FaceMode(index);
  const bool colour = !p.HARDWARE_PROC || mode == 3;
  if (size < static_cast<uint64_t>(n)) {
    // Device data is inverted: 0 is white.
    auto* whole = static_cast<unsigned char*>(realloc(*buffer, static_cast<size_t>(n ? n : 1)));
    if (!whole) {
      Log(LOG_LEVEL_ERROR, kTag, "QV_ERR_CTL_NO_MEMORY");
      return QV_ERR_CTL_NO_MEMORY;
    }
    memset(whole + size, 0, static_cast<size_t>(n - size));
    *buffer = whole;
  }
  unsigned char* data = *buffer;
  // B, G, R inverted becomes R, G, B in one pass over each row.
  const int pixels = face->iPixelsPerLine;
  const int bpl = face->iBytesPerLine;
  if (colour && pixels > 0 && static_cast<int64_t>(pixels) * 3 <= bpl) {
    for (int y = 0; y < face->iLines; ++y) {
      unsigned char* row = data + static_cast<size_t>(y) * bpl;
      for (int x = 0; x < pixels; ++x) {
        unsigned char* p = row + 3 * x;
        const unsigned char b = p[0];
        p[0] = static_cast<unsigned char>(~p[2]);
        p[1] = static_cast<unsigned char>(~p[1]);
        p[2] = static_cast<unsigned char>(~b);
      }
      for (int i = 3 * pixels; i < bpl; ++i) row[i] = static_cast<unsigned char>(~row[i]);
    }
    return VK_OK;
  }
  for (int64_t i = 0; i < n; ++i) data[i] = static_cast<unsigned char>(~data[i]);
  return VK_OK;
}

int32_t KeloDevCtlCorvane::DoSelectFunc(uint32_t code, unsigned char** buffers[2], int face) {
  const char* model = NewerQvType(m_iDevType) ? CorvaneModelText(m_iDevType) : nullptr;
  return RunSelectFunc("KeloDevCtlCorvane::DoSelectFunc", 0xFFu | FUNC_WHITE_CROP, model, code, buffers, face);
}

int32_t KeloDevCtlCorvane::RunSelectFunc(const char* kTag, uint32_t accepted, const char* model, uint32_t code,
                                         unsigned char** buffers[2], int face) {
  const SCAN_PROP_INFO& p = m_PropInfo;
  if (p.HARDWARE_PROC) return 0;
  if (!buffers) {
    Log(LOG_LEVEL_ERROR, kTag, "cpImageData == NULL");
    return FSIP_C_ERR_PARAMETER;
  }
  if (code & ~accepted) {
    Log(LOG_LEVEL_ERROR, kTag, "FSIP_C_ERR_PARAMETER1");
    return FSIP_C_ERR_PARAMETER;
  }
  if (code == 2) return FSIP_C_ERR_PARAMETER;
  const bool twoFaces = (code & (FUNC_DUPCROP | FUNC_DUPPHR | FUNC_TWO_FACE_CROP)) != 0;
  if (twoFaces) {
    if (!buffers[0] || !buffers[1] || !*buffers[0] || !*buffers[1]) {
      Log(LOG_LEVEL_ERROR, kTag, "FSIP_C_ERR_PARAMETER2");
      return FSIP_C_ERR_PARAMETER;
    }
  } else {
    if (face > 1 || face < 0) {
      Log(LOG_LEVEL_ERROR, kTag, "FSIP_C_ERR_PARAMETER3");
      return FSIP_C_ERR_PARAMETER;
    }
    if (!buffers[face] || !*buffers[face]) {
      Log(LOG_LEVEL_ERROR, kTag, "FSIP_C_ERR_PARAMETER4");
      return FSIP_C_ERR_PARAMETER;
    }
  }
  QV_IMAGEDATA_PARAMETERS* records[2] = {&m_pImgDataInfo->tFront, &m_pImgDataInfo->tBack};
  fsipctl_image input[2] = {}, output[2] = {};
  for (int i = 0; i < 2; ++i) {
    if (!(twoFaces || i == face)) continue;
    const QV_IMAGEDATA_PARAMETERS& r = *records[i];
    // A face without width has no bits per pixel.
    if (r.iPixelsPerLine <= 0) return FSIP_C_ERR_PARAMETER;
    input[i].pImageData = *buffers[i];
    input[i].nResolution = p.SCAN_RES_X;
    input[i].nWidth = r.iPixelsPerLine;
    input[i].nHeight = r.iLines;
    input[i].nDepth = r.iBytesPerLine * 8 / r.iPixelsPerLine;
    input[i].nImageSize = r.iLines * r.iBytesPerLine;
  }
  const uint32_t function = code & ~FUNC_SRGB;
  if (code == FUNC_SRGB) return ConvertToSrgb(kTag, input[face], records[face]->iBytesPerLine);
  fsipctl_request request;
  memset(&request, 0, sizeof request);
  switch (function) {
    case 0x01:
    case 0x03:
    case 0x11:
    case 0x13:
    case 0x04:
    case 0x06:
    case 0x14:
    case 0x16:
    case 0x08:
    case 0x10:
    case 0x20:
    case 0x40:
    case 0x1000:
      break;
    case 0x2000:
    case 0x2002:
    case 0x2010:
    case 0x2012:
    case 0x4000:
      if (function & accepted) break;
      Log(LOG_LEVEL_ERROR, kTag, "unsupported function");
      return FSIP_C_ERR_NOTSUPPORT;
    default:
      Log(LOG_LEVEL_ERROR, kTag, "unsupported function");
      return FSIP_C_ERR_NOTSUPPORT;
  }
  request.dwFlags = static_cast<int32_t>(function);
  if (function & (FUNC_PHR | FUNC_DUPPHR)) request.nHoleFill = p.HOLE_PUNCH_REMOVE == 1 ? 1 : 2;
  if (function & (FUNC_CROP | FUNC_PHR | FUNC_OTHER_CROP)) request.bADF = p.SCAN_SOURCE != 0 ? 1 : 0;
  if (function == FUNC_WHITE_CROP || function == FUNC_TWO_FACE_CROP) request.nSide = face + 1;
  // Only the classes that know the further crops hand over the margin.
  if ((accepted & FUNC_OTHER_CROP) && !twoFaces) request.nMargin = p.CROPPING_MARGIN;
  if (function == FUNC_BPD) {
    request.nDetectLevel = p.BLANK_PAGE_SENSITIVITY;
    request.nWLevel = p.BLANK_PAGE_WHITE_RATIO;
    request.nBLevel = p.BLANK_PAGE_BLACK_RATIO;
  }
  if (model) {
    // The model text without its padding.
    size_t len = strnlen(model, 16);
    while (len > 0 && model[len - 1] == ' ') --len;
    memcpy(request.szScanner, model, len);
  }
  if (!g_FSIPCTLFucntion) {
    Log(LOG_LEVEL_ERROR, kTag, "g_FSIPCTLFucntion == NULL");
    return 0;
  }
  int32_t result;
  if (twoFaces) {
    result = g_FSIPCTLFucntion(&request, input, output, m_szLUTTable);
  } else {
    result = g_FSIPCTLFucntion(&request, &input[face], &output[face], m_szLUTTable);
  }
  if (result != 0) {
    const char* word = "unknow error";
    if (function & (FUNC_CROP | FUNC_OTHER_CROP))
      word = "crop error";
    else if (function & (FUNC_DUPCROP | FUNC_TWO_FACE_CROP))
      word = "dupcrop error";
    else if (function == FUNC_WHITE_CROP)
      word = "bgcolor white crop error";
    else if (function == FUNC_PHR)
      word = "phr error";
    else if (function == FUNC_DUPPHR)
      word = "dupphr error";
    else if (function == FUNC_DCM)
      word = "dcm error";
    else if (function == FUNC_BPD)
      word = "bpd error";
    Log(LOG_LEVEL_ERROR, kTag, word);
    return result;
  }
  auto adopt = [&](int i) {
    QV_IMAGEDATA_PARAMETERS& r = *records[i];
    const int depth = input[i].nDepth;
    if (output[i].pImageData) {
      free(*buffers[i]);
      *buffers[i] = output[i].pImageData;
      r.iPixelsPerLine = output[i].nWidth;
      r.iLines = output[i].nHeight;
      r.iBytesPerLine = (output[i].nWidth * (output[i].nDepth ? output[i].nDepth : depth) + 7) / 8;
    }
  };
  auto resize = [&](int i) {
    QV_IMAGEDATA_PARAMETERS& r = *records[i];
    if (output[i].nWidth > 0 && output[i].nHeight > 0) {
      r.iPixelsPerLine = output[i].nWidth;
      r.iLines = output[i].nHeight;
      r.iBytesPerLine = (output[i].nWidth * input[i].nDepth + 7) / 8;
    }
  };
  if ((function & (FUNC_CROP | FUNC_OTHER_CROP)) || function == FUNC_WHITE_CROP) {
    adopt(face);
  } else if (function & (FUNC_DUPCROP | FUNC_TWO_FACE_CROP)) {
    adopt(0);
    adopt(1);
  } else if (function == FUNC_PHR) {
    resize(face);
  } else if (function == FUNC_DUPPHR) {
    resize(0);
    resize(1);
  } else if (function == FUNC_DCM) {
    AUTO_COLOR_DETECT_INFO& a = m_AutoColorInfo;
    const bool colourPage = output[face].nResult == 0;
    (face == 0 ? a.ucFMode : a.ucBMode) = colourPage ? 3 : 0;
    records[face]->iFormat = colourPage ? 1 : 0;
    records[face]->iDepth = colourPage ? 8 : 1;
  } else if (function == FUNC_BPD) {
    if (output[face].nResult == 1) {
      free(*buffers[face]);
      *buffers[face] = nullptr;
    }
  }
  return 0;
}

int32_t KeloDevCtlCorvane::DoImageProc(unsigned char** buffer, QV_IMAGEDATA_PARAMETERS* face, uint8_t mode) {
  static const char* const kTag = "KeloDevCtlCorvane::DoImageProc";
  const SCAN_PROP_INFO& p = m_PropInfo;
  if (p.HARDWARE_PROC || !g_FSIP_DROPOUTCOLOREXFunction || !g_FSIPIMAGEFILTERFunction) return 0;
  if (!buffer || !*buffer || !face) {
    Log(LOG_LEVEL_ERROR, kTag, "FSIP_C_ERR_PARAMETER");
    return FSIP_C_ERR_PARAMETER;
  }
  FSIP_S_IMAGEINFO in;
  memset(&in, 0, sizeof in);
  in.cbSize = sizeof in;
  in.pImageData = *buffer;
  in.nPixelType = 2;
  in.nDepth = 24;
  in.nColorSeq = 1;
  in.nWidth = face->iPixelsPerLine;
  in.nHeight = face->iLines;
  in.nBytesPerLine = face->iBytesPerLine;
  in.nImageSize = face->iBytesPerLine * face->iLines;
  in.nXResolution = p.SCAN_RES_X;
  in.nYResolution = p.SCAN_RES_Y;

  if (mode == 3) {
    if (p.IMAGE_EMPHASIS == 0) return 0;
    FSIP_S_IMAGEEMPHASIS emphasis = {sizeof(FSIP_S_IMAGEEMPHASIS), 0, 7, 0, 0, 1};
    const uint8_t e = p.IMAGE_EMPHASIS;
    if (!SetEmphasisLevel(emphasis, e) && e >= 0x80 && (e & 0x1F) == 0) {
      emphasis.nKind = 4;  // descreen
      emphasis.nDescreenLevel = (e - 0x80) / 0x20;
    }
    FSIP_S_IMAGEFILTER filter;
    memset(&filter, 0, sizeof filter);
    filter.cbSize = sizeof filter;
    filter.dwOption = 1;
    filter.pEmphasis = &emphasis;
    int32_t result = g_FSIPIMAGEFILTERFunction(&in, &filter, nullptr, nullptr);
    if (result != 0) Log(LOG_LEVEL_ERROR, kTag, "fsip_ImageFilter Error");
    return result;
  }

  FSIP_S_DROPOUTCOLOREX dropout;
  memset(&dropout, 0, sizeof dropout);
  dropout.cbSize = sizeof dropout;
  FSIP_S_BINARIZATIONEX binarization;
  memset(&binarization, 0, sizeof binarization);
  FSIP_S_SDTCEX sdtc;
  memset(&sdtc, 0, sizeof sdtc);
  FSIP_S_IMAGEEMPHASIS emphasis = {sizeof(FSIP_S_IMAGEEMPHASIS), 0, 0, 0, 0, 1};
  FSIP_S_IMAGEFILTER preFilter;
  memset(&preFilter, 0, sizeof preFilter);
  FSIP_S_ERROR_DIFFUSION deviceParams;
  memset(&deviceParams, 0, sizeof deviceParams);
  const char* failure = "fsip_DropoutColorEx Error";
  if (mode == 2) {
    dropout.wDropoutType = p.DROPOUT_COLOR;
    dropout.sWhiteMode = 1;
    dropout.dwOutput = 1;
    failure = "fsip_DropoutColorEx(\u30b0\u30ec\u30fc\u5834\u5408) Error";
  } else {
    const int t = m_iDevType;
    if (NewerQvProcessing(t)) {
      deviceParams = {20, 2, 2, 200, 40};
    } else if (t >= 0 && t <= 7) {
      deviceParams = {20, 1, 1, 255, 0};
    } else {
      Log(LOG_LEVEL_ERROR, kTag, "g_iDevType FSIP_C_ERR_NOTSUPPORT");
      return FSIP_C_ERR_NOTSUPPORT;
    }
    dropout.wDropoutType = p.DROPOUT_COLOR ? p.DROPOUT_COLOR : 3;
    dropout.sWhiteMode = 1;
    dropout.dwOutput = 0;
    binarization.cbSize = sizeof binarization;
    if (mode == 1)
      binarization.dwMethod = p.HALFTONE_TYPE == 0 ? 1 : 2;
    else
      binarization.dwMethod = p.SDTC_MODE ? 0x1003 : 0x1000;
    binarization.nThreshold = m_WindowInfo.usThreshold;
    const int pattern = (p.HALFTONE_PATTERN & 3) + (p.BG_COLOR == 1 ? 4 : 0);
    binarization.pDither = const_cast<DitherMatrix*>(&DitherMatrices()[pattern]);
    if (mode == 0 && p.SDTC_MODE) {
      const int set = p.SDTC_VARIANCE == 1 ? 0 : (p.SDTC_VARIANCE == 96 ? 1 : 2);
      const int32_t* values = NewerQvProcessing(t) ? kSdtcTavrin4[set] : kSdtcOlder[set];
      memcpy(sdtc.values, values, sizeof sdtc.values);
      binarization.pSdtc = &sdtc;
    }
    binarization.pErrorDiffusion = &deviceParams;
    if (mode == 1) {
      emphasis.nKind = 0;
      emphasis.nLevel = p.HALFTONE_TYPE == 1 ? 3 : 2;
    } else {
      if (p.EDGE_PROCESSING == 0)
        emphasis.nKind = 1;
      else if (p.EDGE_PROCESSING == 0xA0)
        emphasis.nKind = 4;  // smoothing
      else
        SetEmphasisLevel(emphasis, p.EDGE_PROCESSING);
      if (p.SDTC_MODE) emphasis.nLevel = 1;
    }
    preFilter.cbSize = sizeof preFilter;
    preFilter.dwOption = 1;
    preFilter.pEmphasis = &emphasis;
    binarization.pPreFilter = &preFilter;
    dropout.pBinarization = &binarization;
  }
  FSIP_S_IMAGEINFO out;
  memset(&out, 0, sizeof out);
  int32_t result = g_FSIP_DROPOUTCOLOREXFunction(&in, &dropout, &out, nullptr);
  if (result != 0) {
    if (out.pImageData && out.pImageData != in.pImageData) free(out.pImageData);
    Log(LOG_LEVEL_ERROR, kTag, failure);
    return result;
  }
  if (!out.pImageData || out.nBytesPerLine <= 0 || out.nHeight < 0) return FSIP_C_ERR_UNEXPECTED_ERROR;
  // The library pads its lines to four bytes; the face is read out as tight
  // rows, the form the parameters announce, so the padding is squeezed out.
  const int64_t tight = (static_cast<int64_t>(out.nWidth) * (out.nDepth > 0 ? out.nDepth : 1) + 7) / 8;
  if (tight > 0 && tight < out.nBytesPerLine) {
    for (int32_t y = 1; y < out.nHeight; ++y)
      memmove(out.pImageData + y * tight, out.pImageData + static_cast<int64_t>(y) * out.nBytesPerLine, tight);
    out.nBytesPerLine = static_cast<int32_t>(tight);
  }
  if (out.pImageData != *buffer) free(*buffer);
  *buffer = out.pImageData;
  face->iPixelsPerLine = out.nWidth;
  face->iLines = out.nHeight;
  face->iBytesPerLine = out.nBytesPerLine;
  return 0;
}

namespace {

uint32_t LibraryFailure(int32_t result, const char* tag, const char* word) {
  Log(LOG_LEVEL_ERROR, tag, word);
  return result == FSIP_C_ERR_PARAMETER ? QV_ERR_CTL_ILLEGAL_PARAM : QV_ERR_CTL_NO_MEMORY;
}

}  // namespace

uint32_t KeloDevCtlCorvane::CropAndHoles(unsigned char** buffers[2]) {
  static const char* const kTag = "KeloDevCtlCorvane::ImageProcess";
  const SCAN_PROP_INFO& p = m_PropInfo;
  if (!g_FSIPCTLFucntion) return VK_OK;
  const bool duplex = p.SCAN_SOURCE == 3;
  const int oneFace = p.SCAN_SOURCE == 2 ? 1 : 0;
  const bool holes = p.HOLE_PUNCH_REMOVE != 0;
  uint32_t code = 0;
  bool eachFace = false;
  if (p.PAPER_SIZE == 10 && !p.PAGE_AUTO_PRIORITY && m_bSoftCrpRetry) {
    Log(LOG_LEVEL_TRACE, kTag, "m_bSoftCrpRetry == true");
    code = holes ? 0x11 : 0x01;
    eachFace = true;
  } else if (p.PAPER_SIZE == 10 && p.PAGE_AUTO_PRIORITY) {
    const int t = m_iDevType;
    if ((t >= 22 && t <= 24) || t == 35 || (t >= 8 && t <= 21 && p.BG_COLOR == 0)) {
      code = 0x1000;
      eachFace = true;
    } else if (!duplex) {
      code = 0x01 | (p.IMAGE_INDEX_TAB ? 0 : 0x02) | (holes ? 0x10 : 0);
    } else {
      code = 0x04 | (p.IMAGE_INDEX_TAB ? 0 : 0x02) | (holes ? 0x10 : 0);
    }
  } else if (holes) {
    code = duplex ? 0x08 : 0x10;
  }
  if (code == 0) return VK_OK;
  int32_t result = 0;
  if (eachFace && duplex) {
    for (int face = 0; face < 2 && result == 0; ++face)
      if (*buffers[face]) result = DoSelectFunc(code, buffers, face);
  } else if (code & (0x04 | 0x08)) {
    result = DoSelectFunc(code, buffers, 0);
  } else {
    result = DoSelectFunc(code, buffers, oneFace);
  }
  if (result == FSIP_C_ERR_PARAMETER || result == FSIP_C_ERR_OUTOFMEMORY)
    return LibraryFailure(result, kTag,
                          "DoSelectFunc FUNC_PHR/FUNC_DUPPHR/FUNC_CROP/FUNC_DUPCROP/FUNC_CROP_Ostrel2/FUNC_TAB Error");
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::ReduceFace(unsigned char**, QV_IMAGEDATA_PARAMETERS*, int) { return VK_OK; }

// Phase 3 for one face: colour management, blank page, tone and mode, RIF.
uint32_t KeloDevCtlCorvane::FinishFace(unsigned char** buffer, QV_IMAGEDATA_PARAMETERS* face, int index,
                                       bool* dropped) {
  static const char* const kTag = "KeloDevCtlCorvane::ImageProcess";
  const SCAN_PROP_INFO& p = m_PropInfo;
  unsigned char** buffers[2] = {nullptr, nullptr};
  buffers[index] = buffer;
  int32_t result;
  if (p.SRGB && FaceMode(index) == 3) {
    result = DoSelectFunc(FUNC_SRGB, buffers, index);
    if (result == FSIP_C_ERR_PARAMETER || result == FSIP_C_ERR_OUTOFMEMORY)
      return LibraryFailure(result, kTag, "DoSelectFunc FUNC_SRGB Error");
  }
  if (p.BLANK_PAGE_SKIP) {
    result = DoSelectFunc(FUNC_BPD, buffers, index);
    if (result == FSIP_C_ERR_PARAMETER || result == FSIP_C_ERR_OUTOFMEMORY)
      return LibraryFailure(result, kTag, "DoSelectFunc FUNC_BPD Error");
    if (result == 0 && !*buffer) {
      if (p.SCAN_SOURCE == 0) {
        Log(LOG_LEVEL_TRACE, kTag, "Flatbed and the set page is a blank paper");
        return QV_ERR_CTL_NO_PAPER;
      }
      *dropped = true;
      return VK_OK;
    }
  }
  const uint8_t mode = FaceMode(index);
  const int64_t n = FaceBytes(*face);
  if (!p.HARDWARE_PROC) {
    if (mode >= 2)
      ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, 230, 10, 16, m_szLUTTable);
    else if (mode == 1)
      ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, 255, 0, 16, m_szLUTTable);
    else
      ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, 255, 0, 10, m_szLUTTable);
    unsigned char* data = *buffer;
    for (int64_t i = 0; i < n; ++i) data[i] = m_szLUTTable[data[i]];
    if (DoImageProc(buffer, face, mode) != 0) {
      Log(LOG_LEVEL_ERROR, kTag, "DoImageProc Error");
      return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
    }
  } else if ((p.AUTO_COLOR_DETECT == 2 ||
              (p.AUTO_COLOR_DETECT == 1 && (index == 0 ? m_AutoColorInfo.iFFail : m_AutoColorInfo.iBFail))) &&
             mode != 3) {
    if (DoImageProc(buffer, face, mode) != 0) {
      Log(LOG_LEVEL_ERROR, kTag, "DoImageProc Error");
      return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
    }
  }
  const uint8_t after = FaceMode(index);
  const bool invert = after <= 1 ? !p.RIF : p.RIF != 0;
  if (invert) {
    unsigned char* data = *buffer;
    const int64_t bytes = FaceBytes(*face);
    for (int64_t i = 0; i < bytes; ++i) data[i] = static_cast<unsigned char>(~data[i]);
  }
  return VK_OK;
}

uint32_t KeloDevCtlCorvane::ImageProcess(unsigned char** front, uint32_t* frontSize, unsigned char** back,
                                         uint32_t* backSize) {
  static const char* const kTag = "KeloDevCtlCorvane::ImageProcess";
  Log(LOG_LEVEL_TRACE, kTag, "start");
  if (!front || !back || !frontSize || !backSize) return QV_ERR_CTL_ILLEGAL_PARAM;
  const SCAN_PROP_INFO& p = m_PropInfo;
  unsigned char** buffers[2] = {front, back};
  uint32_t* sizes[2] = {frontSize, backSize};
  QV_IMAGEDATA_PARAMETERS* records[2] = {&m_pImgDataInfo->tFront, &m_pImgDataInfo->tBack};

  for (int i = 0; i < 2; ++i) {
    if (!*buffers[i]) continue;
    if (p.HARDWARE_PROC && !p.JPEG_TRANSFER && FaceBytes(*records[i]) == 0 && FaceMode(i) != 3) continue;
    uint32_t result = ProcessFaceData(buffers[i], *sizes[i], records[i], i);
    if (result != VK_OK) return result;
    *sizes[i] = static_cast<uint32_t>(FaceBytes(*records[i]));
    const bool soft =
        p.AUTO_COLOR_DETECT == 2 ||
        (p.AUTO_COLOR_DETECT == 1 && (i == 0 ? m_AutoColorInfo.iFFail : m_AutoColorInfo.iBFail) && !p.HARDWARE_PROC);
    if (soft) {
      Log(LOG_LEVEL_TRACE, kTag, "m_ColorDetect.bSoft == true");
      int32_t r = DoSelectFunc(FUNC_DCM, buffers, i);
      if (r == FSIP_C_ERR_PARAMETER || r == FSIP_C_ERR_OUTOFMEMORY) return LibraryFailure(r, kTag, "FUNC_DCM Error");
    }
  }

  uint32_t result = CropAndHoles(buffers);
  if (result != VK_OK) return result;

  for (int i = 0; i < 2; ++i) {
    if (!*buffers[i]) continue;
    bool dropped = false;
    result = FinishFace(buffers[i], records[i], i, &dropped);
    if (result != VK_OK) return result;
    if (!dropped && (result = ReduceFace(buffers[i], records[i], i)) != VK_OK) return result;
    *sizes[i] = dropped ? 0 : static_cast<uint32_t>(FaceBytes(*records[i]));
  }
  Log(LOG_LEVEL_TRACE, kTag, "end");
  return VK_OK;
}

}  // namespace dravnmain
