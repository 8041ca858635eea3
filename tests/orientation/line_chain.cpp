#include "line_chain.h"

#include <algorithm>
#include <cstring>

#include "labelling.h"
#include "line_checks.h"
#include "line_crops.h"
#include "line_selection.h"
#include "local_binarise.h"
#include "text_lines.h"

namespace line_chain {
using namespace turnsense;

void Label(uint8_t* binary, int width, int height, Labelled& out) {
  const size_t n = size_t(width) * height;
  out.map.assign(n, 0);
  out.counts.assign(n / 2 + 2, 0);
  CLbl lbl;
  const int k = lbl.LabelingScan8(width, height, binary, out.map.data(), out.counts.data());
  out.boxes.assign(size_t(k) + 1, rect{0, 0, 0, 0});
  lbl.GetBound(width, height, out.map.data(), k, out.boxes.data());
  out.status.assign(size_t(k) + 1, 0);
  out.cc = CC_IMG{out.counts.data(), out.boxes.data(), out.map.data(), out.status.data(), k, width, height};
}

std::vector<CC> Components(const CC_IMG& cc) {
  std::vector<CC> ccs(size_t(cc.label_count));
  for (int k = 1; k <= cc.label_count; ++k) {
    const rect& b = cc.boxes[k];
    ccs[size_t(k - 1)] = CC{k,
                            tagRECT{b.left, b.top, b.right, b.bottom},
                            b.right - b.left + 1,
                            b.bottom - b.top + 1,
                            0,
                            uint8_t(cc.status[k] != 0)};
  }
  return ccs;
}

namespace {

std::vector<uint8_t*> Rows(std::vector<uint8_t>& img, int width, int height) {
  std::vector<uint8_t*> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) rows[size_t(y)] = img.data() + size_t(y) * width;
  return rows;
}

}  // namespace

Result Run(const uint8_t* grey_in, int width, int height, int dpi, bool invert) {
  Result res;
  // The second pass works on the inverted page; the first reads the
  // caller's page in place.
  std::vector<uint8_t> inverted;
  if (invert) {
    inverted.assign(grey_in, grey_in + size_t(width) * height);
    for (uint8_t& p : inverted) p = uint8_t(255 - p);
  }
  uint8_t* page = invert ? inverted.data() : const_cast<uint8_t*>(grey_in);
  const int f = dpi > 300 ? 6 : std::min(3, (std::min(width, height) + 749) / 750);
  res.f = f;
  const int w = width / f, h = height / f;
  std::vector<uint8_t> grey(size_t(w) * h), raw(grey.size()), clean;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) grey[size_t(y) * w + x] = page[size_t(y) * f * width + size_t(x) * f];
  AdaptiveSauvola_parallel(w, h, grey.data(), raw.data(), 15, 0.1, 64);
  clean = raw;
  Labelled lab;
  Label(clean.data(), w, h, lab);
  noise_cc_removal_v1(clean.data(), w, h, lab.cc, 0);
  std::vector<CC> ccs = Components(lab.cc);
  std::vector<int32_t*> label_rows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) label_rows[size_t(y)] = lab.map.data() + size_t(y) * w;
  TEXTLINE* lines[2] = {nullptr, nullptr};
  int n[2] = {0, 0};
  int hint = -2;
  if (cc2textline(ccs.data(), int(ccs.size()), &lines[0], &n[0], &lines[1], &n[1], label_rows.data(), clean.data(), w,
                  h, 0, &hint, nullptr, nullptr, false) != 0)
    return res;
  res.hint = hint;
  std::vector<uint8_t*> clean_rows = Rows(clean, w, h), raw_rows = Rows(raw, w, h), grey_rows = Rows(grey, w, h);
  std::vector<uint8_t*> full_rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) full_rows[size_t(y)] = page + size_t(y) * width;
  std::vector<TEXTLINE> verified[2];
  for (int o = 0; o < 2; ++o) {
    res.built[o] = n[o];
    verified[o].resize(size_t(n[o]));
    for (TEXTLINE& t : verified[o]) {
      std::memset(&t, 0, sizeof t);
      init_textline(&t);
    }
    int kept = 0;
    textline_verification(clean_rows.data(), w, h, lines[o], n[o], verified[o].data(), &kept, o);
    verified[o].resize(size_t(kept));
    res.verified[o] = kept;
    delete[] lines[o];
  }
  std::vector<TEXTLINE*> picked[2] = {std::vector<TEXTLINE*>(verified[0].size() + 1),
                                      std::vector<TEXTLINE*>(verified[1].size() + 1)};
  int np[2] = {0, 0};
  textline_selection_v3(page, width, height, grey_rows.data(), clean_rows.data(), w, h, lab.cc, f, verified[0].data(),
                        int(verified[0].size()), verified[1].data(), int(verified[1].size()), hint, picked[0].data(),
                        &np[0], picked[1].data(), &np[1]);
  for (int o = 0; o < 2; ++o)
    for (int i = 0; i < np[o]; ++i) {
      TEXTLINE& line = *picked[o][size_t(i)];
      TEXT_IMAGE crop{};
      const int rc = original_text_line_extraction_Pavix_nline_v1(
          nullptr, full_rows.data(), nullptr, nullptr, width, height, clean_rows.data(), raw_rows.data(),
          grey_rows.data(), w, h, f, line, &crop, 0, nullptr, nullptr, 0);
      if (crop.validity != 0.0f && is_multi_line_v2(clean_rows.data(), w, h, line.box)) crop.validity = 0.0f;
      float size = 0;
      if (crop.binary) likelyhood_size(crop.binary, crop.width, crop.height, crop.factor, &size);
      const tagRECT b = line.box;
      res.selected.push_back(Selected{tagRECT{b.left * f, b.top * f, (b.right + 1) * f - 1, (b.bottom + 1) * f - 1}, o,
                                      rc, crop.validity, size});
      release_text_image(&crop);
    }
  return res;
}

}  // namespace line_chain
