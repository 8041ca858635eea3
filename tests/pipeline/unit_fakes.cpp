#include "unit_fakes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "image_libs.h"

namespace fakes {

Script script;
std::vector<std::string> calls;
std::vector<ControlCall> control;
std::vector<FilterCall> filter;
std::vector<DropoutCall> dropout;
std::vector<UnitCall> smoothing, binarization, split;
std::vector<MergeCall> merge;
std::vector<TurnCall> turn;

namespace {

int Pop(std::deque<int>& q, int fallback) {
  if (q.empty()) return fallback;
  int v = q.front();
  q.pop_front();
  return v;
}

unsigned char* Alloc(size_t n) { return static_cast<unsigned char*>(calloc(n ? n : 1, 1)); }

int FsipControl(fsipctl_request* request, fsipctl_image* in, fsipctl_image* result, unsigned char* lut) {
  calls.push_back(request->dwFlags == FSIPCTL_FUNC_BLANK_PAGE ? "blank" : "crop");
  control.push_back({*request, in[0], std::vector<unsigned char>(lut, lut + 256)});
  const int code = Pop(script.controlCodes, 0);
  if (code != 0) return code;
  if (request->dwFlags == FSIPCTL_FUNC_BLANK_PAGE) {
    result[0].nResult = Pop(script.blankVerdicts, 0);
    return 0;
  }
  const int bytes = in[0].nDepth / 8;
  const int w = script.cropWidth ? script.cropWidth : in[0].nWidth;
  const int h = script.cropHeight ? script.cropHeight : in[0].nHeight;
  result[0].pImageData = Alloc(static_cast<size_t>(w) * h * bytes);
  for (int y = 0; y < h; ++y)
    memcpy(result[0].pImageData + static_cast<size_t>(y) * w * bytes,
           in[0].pImageData + static_cast<size_t>(y) * in[0].nWidth * bytes, static_cast<size_t>(w) * bytes);
  result[0].nWidth = w;
  result[0].nHeight = h;
  result[0].nDepth = in[0].nDepth;
  result[0].nResolution = in[0].nResolution;
  result[0].nImageSize = w * h * bytes;
  return 0;
}

int ImageFilter(FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEFILTER* f, FSIP_S_IMAGEINFO* out, const void*) {
  calls.push_back("filter");
  filter.push_back({*in, *f, f->pEmphasis ? *f->pEmphasis : FSIP_S_IMAGEEMPHASIS{}, out != nullptr});
  return script.filterCode;
}

int DropoutColorEx(FSIP_S_IMAGEINFO* in, FSIP_S_DROPOUTCOLOREX* params, FSIP_S_IMAGEINFO* out, const void*) {
  calls.push_back(params->dwOutput == 1 ? "dropout-gray" : "dropout-bw");
  DropoutCall call{};
  call.in = *in;
  call.params = *params;
  call.pixels.assign(in->pImageData, in->pImageData + in->nImageSize);
  if (params->pBinarization) {
    call.hasBinarization = true;
    call.binarization = *params->pBinarization;
    if (params->pBinarization->pSdtc) call.hasSdtc = true, call.sdtc = *params->pBinarization->pSdtc;
    if (params->pBinarization->pErrorDiffusion)
      call.hasErrorDiffusion = true, call.errorDiffusion = *params->pBinarization->pErrorDiffusion;
    if (params->pBinarization->pPreFilter) {
      call.hasPreFilter = true;
      call.preFilter = *params->pBinarization->pPreFilter;
      if (call.preFilter.pEmphasis) call.emphasis = *call.preFilter.pEmphasis;
    }
  }
  dropout.push_back(call);
  if (script.dropoutCode != 0) {
    if (script.dropoutLeavesOutput) out->pImageData = Alloc(16);
    return script.dropoutCode;
  }
  // Grey is the middle byte; line art a bit per pixel, 1 for light.
  const int w = in->nWidth, h = in->nHeight;
  const bool bits = params->dwOutput == 0;
  const int bpl = bits ? (w + 7) / 8 : w;
  unsigned char* data = Alloc(static_cast<size_t>(bpl) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const unsigned char g = in->pImageData[static_cast<size_t>(y) * in->nBytesPerLine + 3 * x + 1];
      if (!bits)
        data[static_cast<size_t>(y) * bpl + x] = g;
      else if (g >= 128)
        data[static_cast<size_t>(y) * bpl + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    }
  memset(out, 0, sizeof *out);
  out->cbSize = 56;
  out->pImageData = data;
  out->nPixelType = bits ? 0 : 1;
  out->nDepth = bits ? 1 : 8;
  out->nWidth = w;
  out->nHeight = h;
  out->nBytesPerLine = bpl;
  out->nImageSize = bpl * h;
  out->nXResolution = in->nXResolution;
  out->nYResolution = in->nYResolution;
  return 0;
}

int Merge(I3ipImageInfo* first, I3ipImageInfo* second, int layout, int flip, int fill, I3ipImageInfo* out) {
  calls.push_back("merge");
  merge.push_back({*first, *second, layout, flip, fill});
  if (script.mergeCode != 0) return script.mergeCode;
  const I3ipImageInfo& a = (layout == 0 || layout == 2) ? *first : *second;
  const I3ipImageInfo& b = (layout == 0 || layout == 2) ? *second : *first;
  const bool vertical = layout <= 1;
  const uint32_t bytes = first->Bpp / 8;  // byte pixels only
  *out = *first;
  out->Width = vertical ? std::max(a.Width, b.Width) : a.Width + b.Width;
  out->Height = vertical ? a.Height + b.Height : std::max(a.Height, b.Height);
  out->Bpl = (out->Width * first->Bpp + 7) / 8;
  out->DataSize = out->Bpl * out->Height;
  out->Data = Alloc(out->DataSize);
  memset(out->Data, fill ? 0xFF : 0, out->DataSize);
  auto put = [&](const I3ipImageInfo& img, uint32_t x0, uint32_t y0) {
    for (uint32_t y = 0; y < img.Height; ++y)
      memcpy(out->Data + (y0 + y) * out->Bpl + x0 * bytes, img.Data + y * img.Bpl,
             vertical ? img.Bpl : img.Width * bytes);
  };
  put(a, 0, 0);
  put(b, vertical ? 0 : a.Width, vertical ? a.Height : 0);
  return 0;
}

int BGSmoothing(I3ipImageInfo* in, int mode, int cleanness, I3ipImageInfo* out) {
  calls.push_back("smoothing");
  smoothing.push_back({*in, std::vector<unsigned char>(in->Data, in->Data + in->DataSize), mode, cleanness, 0});
  if (script.smoothingCode != 0) return script.smoothingCode;
  *out = *in;
  if (script.smoothingNoPixels) {
    out->Data = nullptr;
    return 0;
  }
  out->Data = Alloc(in->DataSize);
  for (uint32_t i = 0; i < in->DataSize; ++i) out->Data[i] = static_cast<unsigned char>(in->Data[i] / 2);
  return 0;
}

int Turnsense(_P2IIMG* page, int* results) {
  calls.push_back("turnsense");
  turn.push_back({*page});
  const int code = Pop(script.turnCodes, 0);
  results[0] = Pop(script.turnAnswers, 0);
  results[1] = 0;
  return code;
}

int BinAuto(I3ipImageInfo* in, I3ipImageInfo* out, int sensitivity, int background, int cropped) {
  calls.push_back("binauto");
  binarization.push_back(
      {*in, std::vector<unsigned char>(in->Data, in->Data + in->DataSize), sensitivity, background, cropped});
  const uint32_t bpl = (in->Width + 7) / 8;
  unsigned char* data = nullptr;
  if (script.binCode != 34 && !script.binNoPixels) {
    data = Alloc(static_cast<size_t>(bpl) * in->Height);
    for (uint32_t y = 0; y < in->Height; ++y)
      for (uint32_t x = 0; x < in->Width; ++x)
        if (in->Data[y * in->Bpl + x] >= 128) data[y * bpl + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
  }
  *out = I3ipImageInfo{40, 0, 1, 0, 0, in->Dpi, 0, in->Width, in->Height, bpl, bpl * in->Height, data};
  free(in->Data);  // the unit always takes the input
  in->Data = nullptr;
  return script.binCode;
}

int Split(I3ipImageInfo* in, I3ipImageInfo* upper, I3ipImageInfo* lower) {
  calls.push_back("split");
  split.push_back({*in, std::vector<unsigned char>(in->Data, in->Data + in->DataSize), 0, 0, 0});
  if (script.splitCode != 0) return script.splitCode;
  // Cut at a third, so that callers must take the heights given back.
  const uint32_t top = in->Height / 3;
  auto take = [&](I3ipImageInfo* out, uint32_t row, uint32_t rows) {
    *out = *in;
    out->Height = rows;
    out->DataSize = rows * in->Bpl;
    out->Data = Alloc(out->DataSize);
    memcpy(out->Data, in->Data + row * in->Bpl, out->DataSize);
  };
  take(upper, 0, top);
  take(lower, top, in->Height - top);
  return 0;
}

}  // namespace

void Install() {
  script = Script{};
  calls.clear();
  control.clear();
  filter.clear();
  dropout.clear();
  smoothing.clear();
  binarization.clear();
  split.clear();
  merge.clear();
  turn.clear();
  g_FSIPCTLFucntion = FsipControl;
  g_FSIPIMAGEFILTERFunction = ImageFilter;
  g_FSIP_DROPOUTCOLOREXFunction = DropoutColorEx;
  g_MergeImageFunction = Merge;
  g_BGSmoothingFunction = BGSmoothing;
  g_SplitFunction = Split;
  g_TurnsenseFunction = Turnsense;
  g_pTurnsense3Initialized = &script.turnReady;
  g_BinAutoFunction = BinAuto;
  g_pBinarizationInitialized = &script.binReady;
}

void Uninstall() {
  g_FSIPCTLFucntion = nullptr;
  g_FSIPIMAGEFILTERFunction = nullptr;
  g_FSIP_DROPOUTCOLOREXFunction = nullptr;
  g_MergeImageFunction = nullptr;
  g_BGSmoothingFunction = nullptr;
  g_SplitFunction = nullptr;
  g_TurnsenseFunction = nullptr;
  g_pTurnsense3Initialized = nullptr;
  g_BinAutoFunction = nullptr;
  g_pBinarizationInitialized = nullptr;
}

void KeepImgforge(const std::vector<std::string>& names) {
  auto keep = [&](const char* name) { return std::find(names.begin(), names.end(), name) != names.end(); };
  if (!keep("fsip_control")) g_FSIPCTLFucntion = nullptr;
  if (!keep("fsip_ImageFilter")) g_FSIPIMAGEFILTERFunction = nullptr;
  if (!keep("fsip_DropoutColorEx")) g_FSIP_DROPOUTCOLOREXFunction = nullptr;
  if (!keep("MergeImage")) g_MergeImageFunction = nullptr;
}

}  // namespace fakes
