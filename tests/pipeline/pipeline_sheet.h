// One scanned sheet as the Selko2 scan flow hands it to the pipeline: each
// face buffer sized for the decoded page, white, with the compressed stream
// at its start; source and destination geometry; the JPEG frame sizes.
#ifndef DRAVN_TESTS_PIPELINE_PIPELINE_SHEET_H
#define DRAVN_TESTS_PIPELINE_PIPELINE_SHEET_H

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "jpeg_decode.h"
#include "prop_info.h"
#include "test_support.h"

namespace sheet {

struct Rgb {
  int r, g, b;
};

// A JPEG of w x h whose upper `split` lines are one colour and the rest
// another (block-aligned, so the decoded colours are near exact).
inline std::vector<unsigned char> Jpeg(int w, int h, Rgb upper, Rgb lower, int split) {
  cv::Mat page(h, w, CV_8UC3);
  for (int y = 0; y < h; ++y) {
    const Rgb& c = y < split ? upper : lower;
    page.row(y).setTo(cv::Scalar(c.b, c.g, c.r));
  }
  std::vector<unsigned char> out;
  cv::imencode(".jpg", page, out, {cv::IMWRITE_JPEG_QUALITY, 100});
  return out;
}

// Binds libjpeg the way the backend's init does, from a directory whose
// libjpeg.so leads to the system library.
inline void LoadJpeg() {
  if (g_pLibjpeg) return;
  const std::string dir = dravn_test::MakeTempDir("libjpeg");
  if (symlink(DRAVN_SYSTEM_LIBJPEG, (dir + "/libjpeg.so").c_str()) != 0) return;
  LoadLibjpeg8(dir.c_str());
}

// The read and requested geometry of a face of w x h read pixels.
inline KELO_IMAGEDATA_PARAMETERS Geometry(int w, int h, int mode) {
  return {mode == 2 ? 1 : 0, 1, w, h, 3 * w, mode == 0 ? 1 : 8};
}

struct Sheet {
  unsigned char* face[2] = {nullptr, nullptr};
  KELO_IMAGEDATA_PARAMETERS src[2] = {}, dst[2] = {};
  JPEGINFO jpeg[2] = {};

  // srcW x srcH at the read resolution; dstW x dstH as requested.
  void SetFace(int f, const std::vector<unsigned char>& stream, int frameW, int frameH, int srcW, int srcH, int dstW,
               int dstH, int mode) {
    src[f] = Geometry(srcW, srcH, mode);
    dst[f] = Geometry(dstW, dstH, mode);
    jpeg[f] = {static_cast<unsigned>(stream.size()), static_cast<unsigned short>(frameW),
               static_cast<unsigned short>(frameH)};
    const size_t size = std::max(static_cast<size_t>(std::max(frameH, srcH)) * src[f].iBytesPerLine, stream.size());
    face[f] = static_cast<unsigned char*>(malloc(size));
    memset(face[f], 0xFF, size);
    memcpy(face[f], stream.data(), stream.size());
  }
  ~Sheet() {
    free(face[0]);
    free(face[1]);
  }
};

}  // namespace sheet

#endif
