// The judges' common ground: which part of a page they may read, where the
// edge counts look, their switches and their log and dump files.
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "fsipctl_internal.h"
#include "fsipctl_log_file.h"
#include "judge_internal.h"

namespace judges {

int RegionOf(const _P2IIMG& page, int bytesPerPixel, WorkImage* out) {
  const int64_t width = page.nWidth, height = page.nHeight, bpl = page.nBytesPerLine;
  if (!page.pImageData || width <= 0 || height <= 0 || bpl < width * bytesPerPixel ||
      page.nImageSize < (height - 1) * bpl + width * bytesPerPixel)
    return P2I_ERR_PARAMETER;
  if (page.nLeft < 0 || page.nTop < 0 || page.nLeft > page.nRight || page.nTop > page.nBottom || page.nRight >= width ||
      page.nBottom >= height)
    return P2I_ERR_PARAMETER;
  if (page.nXResolution < 25 || page.nYResolution < 25) return P2I_ERR_PARAMETER;
  out->origin = page.pImageData + page.nTop * bpl + static_cast<int64_t>(page.nLeft) * bytesPerPixel;
  out->bpl = bpl;
  out->width = page.nRight - page.nLeft + 1;
  out->height = page.nBottom - page.nTop + 1;
  out->xres = page.nXResolution;
  out->yres = page.nYResolution;
  return 0;
}

int MarginOf(int pixels, int dotsPerMm) { return pixels / dotsPerMm < 158 ? 4 * dotsPerMm : 16 * dotsPerMm; }

Area ExaminedArea(const WorkImage& image, int reach) {
  Area a;
  a.mx = MarginOf(image.width, image.xres / 25);
  a.my = MarginOf(image.height, image.yres / 25);
  // The neighbours of every sample point lie inside the page.
  const int x = std::max(a.mx, reach), y = std::max(a.my, reach);
  a.sx = x, a.ex = image.width - 1 - x;
  a.sy = y, a.ey = image.height - 1 - y;
  return a;
}

int NeighbourDistance(int xres, double factor) {
  const int base = xres >= 600 ? 6 : xres >= 300 ? 4 : 2;
  return static_cast<int>(factor * base);
}

Switches ReadSwitches(bool withDoCrop) {
  Switches s;
  const char* conf = FsipConfPath();
  s.saveBitmap = CrpprGetPrivateProfileInt("SaveBitmap", 0, conf) != 0;
  s.procLog = CrpprGetPrivateProfileInt("ProcLog", 0, conf) != 0;
  if (withDoCrop) s.doCrop = CrpprGetPrivateProfileInt("DoCrop", 1, conf);
  g_bLogProc = s.procLog;
  return s;
}

void JudgeLog(const char* fileName, const char* format, ...) {
  if (!g_bLogProc) return;
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  fsipctl::OutputJudgeLog(fileName, text);
}

bool WriteDumpFile(const std::string& name, const std::string& header, const uint8_t* data, size_t size) {
  const int fd = fsipctl::OpenShared(std::string(g_szSavePath) + "/" + name, true);
  if (fd < 0) return false;
  const bool ok = fsipctl::WriteAll(fd, header.data(), header.size()) && fsipctl::WriteAll(fd, data, size);
  close(fd);
  return ok;
}

}  // namespace judges
