// Renders a page turned on a dark backing, crops it through the staged
// libimgforge as the control layer would, and writes both as PNM files.
// With "white", the page lies on a white backing, its edge only a faint
// shadow, and the white-background crop cuts it out (files wb-crop-*).
// With HOLES (2 or 3) the page is punched 11 mm from its left side and the
// crop covers the holes (files holes-*).
//   crop_page OUTDIR [ANGLE] [DPI] [white | HOLES]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "crop_test_util.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s OUTDIR [ANGLE] [DPI] [white | HOLES]\n", argv[0]);
    return 2;
  }
  dravn_pages::BackedPageSpec spec;
  spec.angleDeg = argc > 2 ? atof(argv[2]) : 4.0;
  spec.dpi = argc > 3 ? atoi(argv[3]) : 150;
  const bool white = argc > 4 && std::string(argv[4]) == "white";
  if (white) spec = dravn_pages::WhiteBackedSpec(spec.dpi, spec.angleDeg, 3);
  spec.offsetXMm = 6;
  if (!white) spec.tabs = {{2, 60, 40, 6}};
  const int holes = !white && argc > 4 ? atoi(argv[4]) : 0;
  for (int k = 0; k < holes; ++k) spec.holes.push_back({11, 297 / 2.0 + (k - (holes - 1) / 2.0) * (holes == 2 ? 80 : 108), 6});
  if (holes) spec.backing = 3;  // a hole reads as the backing: black
  crop_test::Library lib;
  if (!lib.Ok()) {
    fprintf(stderr, "%s: libimgforge: %s\n", argv[0], dlerror());
    return 1;
  }
  crop_test::Input in = crop_test::MakeInput(spec);
  auto tone = crop_test::ToneBlock();
  alignas(8) auto rec = crop_test::CropRecord(tone);
  rec.dwFuncFlag = holes ? 3 : 1;  // keep tabs; cover holes
  crop_test::Notify notify;
  crop_test::Output out;
  alignas(8) FSIP_CRP_S_DUAL_LAYOUT layout{};
  int tab = 0;
  int rc;
  if (white) {
    using WBCropAll = int(const FSIP_S_IMAGEINFO_EX*, FSIP_CRPWB_S_CRPALL*, FSIP_S_IMAGEINFO_EX*,
                          FSIP_CRP_S_DUAL_LAYOUT*, void*, void*);
    auto* wb = lib.Get<WBCropAll>("FsipCrpWB_CropAll");
    alignas(8) FSIP_CRPWB_S_CRPALL wrec{};
    wrec.cbSize = 98;
    wrec.bADF = 1;
    wrec.NotifyOutImgInfo = crop_test::NotifyOutImgInfo;
    wrec.bySide = 1;
    wrec.sOVS = crop_test::LeadingEdgeOvs(in, 8.0);  // an unlisted scanner's front face
    rc = wb ? wb(&in.info, &wrec, &out.info, &layout, &notify, nullptr) : -1;
  } else {
    rc = lib.cropAll(&in.info, &rec, &out.info, &layout, &notify, &tab);
  }
  const std::string dir = argv[1];
  const std::string prefix = dir + (white ? "/wb-crop-" : holes ? "/holes-" : "/crop-");
  std::ofstream(prefix + "input.pnm", std::ios::binary) << dravn_pages::EncodePnm(in.page.image);
  if (rc != 0) {
    fprintf(stderr, white ? "FsipCrpWB_CropAll: %d\n" : "FsipCrp_CropAll: %d\n", rc);
    return 1;
  }
  dravn_pages::Image img;
  img.width = out.info.nWidth;
  img.height = out.info.nHeight;
  img.channels = 3;
  for (int y = 0; y < img.height; ++y)
    img.pixels.insert(img.pixels.end(), out.info.pImageData + static_cast<size_t>(y) * out.info.nBytesPerLine,
                      out.info.pImageData + static_cast<size_t>(y) * out.info.nBytesPerLine + img.width * 3);
  std::ofstream(prefix + "output.pnm", std::ios::binary) << dravn_pages::EncodePnm(img);
  const double skew = layout.layoutCrop.dSkew;
  printf("turned %.2f deg at %d dpi: found skew %.3f deg, tab %d, page %dx%d px (body %dx%d)\n", spec.angleDeg,
         spec.dpi, skew, tab, img.width, img.height, static_cast<int>(layout.layoutHoleRemove.sizeRectangle.x),
         static_cast<int>(layout.layoutHoleRemove.sizeRectangle.y));
  return 0;
}
