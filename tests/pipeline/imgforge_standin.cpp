// A libimgforge for whole-program runs of the Selko2 pipeline. The staged
// library has no control entry (blank-page test) yet and the entry-point
// tests' stand-in refuses every call; this one does a small, exactly
// predictable version of each job the pipeline asks for:
//   fsip_DropoutColorEx  grey = (299 R + 587 G + 114 B + 500) / 1000; line
//                        art: bit 1 (white) where that grey >= threshold
//   fsip_ImageFilter     leaves the page as it is
//   fsip_control         blank-page test: blank when fewer than 1 in 1000
//                        samples are below 128; automatic crop: not offered,
//                        unless PIPELINE_STANDIN_CROP_LOG names a file: then
//                        each crop request is written to it ("flags side")
//                        and the crop with margins (0x2000) cuts the page to
//                        the samples above 64, the white-background crop
//                        hands the page back whole
//   MergeImage           the two faces side by side or one above the other,
//                        the back turned 180 degrees on request, white fill
// With IMGFORGE_STANDIN_RECORD naming a file, each control, filter and
// dropout request is appended to it as one line of its fields.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "I3ipImageInfo.h"
#include "fsip_records.h"

namespace {

int Grey(const unsigned char* p) { return (299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000; }

bool Bit(const unsigned char* row, int x) { return row[x / 8] & (0x80 >> (x % 8)); }

void SetBit(unsigned char* row, int x, bool on) {
  if (on)
    row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
  else
    row[x / 8] &= static_cast<unsigned char>(~(0x80 >> (x % 8)));
}

int BytesPerLine(int width, int bpp) { return bpp == 1 ? (width + 7) / 8 : width * (bpp / 8); }

// Copies a face into the merged page at (left, top), turned 180 degrees
// when asked.
void Place(const I3ipImageInfo& face, bool turn, I3ipImageInfo* out, int left, int top) {
  const int w = static_cast<int>(face.Width), h = static_cast<int>(face.Height);
  const int bytes = face.Bpp / 8;
  for (int y = 0; y < h; ++y) {
    unsigned char* to = out->Data + static_cast<size_t>(top + y) * out->Bpl;
    for (int x = 0; x < w; ++x) {
      const int sx = turn ? w - 1 - x : x, sy = turn ? h - 1 - y : y;
      const unsigned char* from = face.Data + static_cast<size_t>(sy) * face.Bpl;
      if (face.Bpp == 1)
        SetBit(to, left + x, Bit(from, sx));
      else
        memcpy(to + (left + x) * bytes, from + sx * bytes, bytes);
    }
  }
}

// ---- request record ----
void Record(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Record(const char* format, ...) {
  const char* path = getenv("IMGFORGE_STANDIN_RECORD");
  if (!path || !*path) return;
  FILE* f = fopen(path, "a");
  if (!f) return;
  va_list args;
  va_start(args, format);
  vfprintf(f, format, args);
  va_end(args);
  fputc('\n', f);
  fclose(f);
}

void RecordEmphasis(const char* what, const FSIP_S_IMAGEEMPHASIS* e) {
  if (e) Record("%s %d,%d,%d,%d,%d", what, e->nKind, e->nLevel, e->nEmphasisLevel, e->nDescreenLevel, e->nLast);
}
// ---- end of the request record ----

}  // namespace

extern "C" {

int P2iJugWhitePaper(void*, int*, void*, void*) { return FSIP_C_ERR_NOTSUPPORT; }

void fsip_FreeSinCos() {}

int fsip_ImageFilter(FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEFILTER* filter, void*, const void*) {
  if (filter) Record("fsip_ImageFilter option=%u", filter->dwOption);
  if (filter) RecordEmphasis("  emphasis", filter->pEmphasis);
  return in && in->pImageData && filter ? FSIP_C_ERR_NOERROR : FSIP_C_ERR_PARAMETER;
}

// The crops a Brenna test asks for (see the top of the file).
int Crop(const fsipctl_request* request, const fsipctl_image* input, fsipctl_image* result) {
  const char* log = getenv("PIPELINE_STANDIN_CROP_LOG");
  const int flags = request->dwFlags;
  if (!log || (flags != 0x2000 && flags != FSIPCTL_FUNC_WHITE_BG_CROP) || input->nDepth != 24)
    return FSIP_C_ERR_NOTSUPPORT;
  if (FILE* f = fopen(log, "a")) {
    fprintf(f, "%#x %d\n", flags, request->nSide);
    fclose(f);
  }
  const int w = input->nWidth, h = input->nHeight, bpl = 3 * w;
  int left = 0, top = 0, right = w - 1, bottom = h - 1;
  if (flags == 0x2000) {
    left = w, top = h, right = -1, bottom = -1;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const unsigned char* p = input->pImageData + static_cast<size_t>(y) * bpl + 3 * x;
        if (p[0] > 64 || p[1] > 64 || p[2] > 64) {
          if (x < left) left = x;
          if (x > right) right = x;
          if (y < top) top = y;
          if (y > bottom) bottom = y;
        }
      }
    if (right < left) return FSIP_C_ERR_UNEXPECTED_ERROR;
  }
  const int cw = right - left + 1, ch = bottom - top + 1;
  unsigned char* pixels = static_cast<unsigned char*>(malloc(static_cast<size_t>(cw) * ch * 3));
  if (!pixels) return FSIP_C_ERR_OUTOFMEMORY;
  for (int y = 0; y < ch; ++y)
    memcpy(pixels + static_cast<size_t>(y) * cw * 3, input->pImageData + static_cast<size_t>(y + top) * bpl + 3 * left,
           static_cast<size_t>(cw) * 3);
  *result = *input;
  result->pImageData = pixels;
  result->nWidth = cw;
  result->nHeight = ch;
  result->nImageSize = cw * ch * 3;
  return FSIP_C_ERR_NOERROR;
}

int fsip_control(fsipctl_request* request, fsipctl_image* input, fsipctl_image* result, unsigned char* lut) {
  if (request && input)
    Record(
        "fsip_control flags=%#x fill=%d adf=%d side=%d level=%d white=%d black=%d scanner=%.32s width=%d height=%d "
        "depth=%d size=%d",
        request->dwFlags, request->nHoleFill, request->bADF, request->nSide, request->nDetectLevel, request->nWLevel,
        request->nBLevel, request->szScanner, input->nWidth, input->nHeight, input->nDepth, input->nImageSize);
  if (!request || !input || !result || !lut || !input->pImageData || input->nWidth <= 0 || input->nHeight <= 0)
    return FSIP_C_ERR_PARAMETER;
  if (request->dwFlags != FSIPCTL_FUNC_BLANK_PAGE) return Crop(request, input, result);
  const size_t size = static_cast<size_t>(input->nImageSize);
  size_t dark = 0;
  for (size_t i = 0; i < size; ++i) dark += input->pImageData[i] < 128;
  result->nResult = dark * 1000 < size ? 1 : 0;
  return FSIP_C_ERR_NOERROR;
}

int fsip_DropoutColorEx(FSIP_S_IMAGEINFO* in, FSIP_S_DROPOUTCOLOREX* params, FSIP_S_IMAGEINFO* out, const void*) {
  if (params) {
    Record("fsip_DropoutColorEx type=%u white=%d output=%u", params->wDropoutType, params->sWhiteMode,
           params->dwOutput);
    if (const FSIP_S_BINARIZATIONEX* b = params->pBinarization) {
      const unsigned char* dither = static_cast<const unsigned char*>(b->pDither);
      Record("  binarization method=%#x threshold=%d dither=%dx%d", b->dwMethod, b->nThreshold, dither ? dither[0] : 0,
             dither ? dither[1] : 0);
      if (b->pSdtc)
        Record("  sdtc %d,%d,%d,%d,%d,%d,%d", b->pSdtc->values[0], b->pSdtc->values[1], b->pSdtc->values[2],
               b->pSdtc->values[3], b->pSdtc->values[4], b->pSdtc->values[5], b->pSdtc->values[6]);
      if (b->pErrorDiffusion)
        Record("  device %d,%d,%d,%d,%d", b->pErrorDiffusion->cbSize, b->pErrorDiffusion->nKernel,
               b->pErrorDiffusion->nLevelMode, b->pErrorDiffusion->nHigh, b->pErrorDiffusion->nLow);
      if (b->pPreFilter) RecordEmphasis("  emphasis", b->pPreFilter->pEmphasis);
    }
  }
  if (!in || !params || !out || !in->pImageData || in->nDepth != 24 || in->nWidth <= 0 || in->nHeight <= 0)
    return FSIP_C_ERR_PARAMETER;
  const bool grey = params->dwOutput == 1;
  if (!grey && !params->pBinarization) return FSIP_C_ERR_PARAMETER;
  const int w = in->nWidth, h = in->nHeight, depth = grey ? 8 : 1;
  const int bpl = BytesPerLine(w, depth);
  unsigned char* pixels = static_cast<unsigned char*>(calloc(static_cast<size_t>(bpl) * h, 1));
  if (!pixels) return FSIP_C_ERR_OUTOFMEMORY;
  for (int y = 0; y < h; ++y) {
    const unsigned char* from = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* to = pixels + static_cast<size_t>(y) * bpl;
    for (int x = 0; x < w; ++x) {
      const int v = Grey(from + 3 * x);
      if (grey)
        to[x] = static_cast<unsigned char>(v);
      else
        SetBit(to, x, v >= params->pBinarization->nThreshold);
    }
  }
  *out = *in;
  out->pImageData = pixels;
  out->nPixelType = 1;
  out->nDepth = depth;
  out->nBytesPerLine = bpl;
  out->nImageSize = bpl * h;
  return FSIP_C_ERR_NOERROR;
}

// layout: 0 front above back, 1 back above front, 2 front left of back, 3
// back left of front.
int MergeImage(I3ipImageInfo* front, I3ipImageInfo* back, int layout, int flip, int fill, I3ipImageInfo* out) {
  if (!front || !back || !out || !front->Data || !back->Data || front->Bpp != back->Bpp || layout < 0 || layout > 3 ||
      (front->Bpp != 1 && front->Bpp != 8 && front->Bpp != 24))
    return I3IP_ERR_ARGUMENT;
  const bool vertical = layout < 2;
  const int fw = static_cast<int>(front->Width), fh = static_cast<int>(front->Height);
  const int bw = static_cast<int>(back->Width), bh = static_cast<int>(back->Height);
  *out = *front;
  out->Width = static_cast<uint32_t>(vertical ? (fw > bw ? fw : bw) : fw + bw);
  out->Height = static_cast<uint32_t>(vertical ? fh + bh : (fh > bh ? fh : bh));
  out->Bpl = static_cast<uint32_t>(BytesPerLine(static_cast<int>(out->Width), front->Bpp));
  out->DataSize = out->Bpl * out->Height;
  out->Data = static_cast<unsigned char*>(malloc(out->DataSize));
  if (!out->Data) return I3IP_ERR_MEMORY;
  memset(out->Data, fill ? 0xFF : 0x00, out->DataSize);
  const bool backFirst = layout == 1 || layout == 3;
  const I3ipImageInfo& first = backFirst ? *back : *front;
  const I3ipImageInfo& second = backFirst ? *front : *back;
  Place(first, backFirst && flip, out, 0, 0);
  Place(second, !backFirst && flip, out, vertical ? 0 : static_cast<int>(first.Width),
        vertical ? static_cast<int>(first.Height) : 0);
  return I3IP_OK;
}
}
