// Small two-level pages made of filled boxes, labelled into components as
// the driver labels the decimated page.
#ifndef DRAVN_TESTS_ORIENTATION_SCENE_H
#define DRAVN_TESTS_ORIENTATION_SCENE_H

#include <cstring>
#include <vector>

#include "line_chain.h"
#include "text_lines.h"

struct Scene {
  int w, h;
  std::vector<uint8_t> px;
  line_chain::Labelled lab;
  std::vector<turnsense::CC> ccs;
  std::vector<int32_t*> label_rows;
  std::vector<uint8_t*> rows;

  Scene(int width, int height) : w(width), h(height), px(size_t(width) * height, 255) {}
  Scene& Box(int x, int y, int bw, int bh, uint8_t v = 0) {
    for (int yy = y; yy < y + bh; ++yy)
      for (int xx = x; xx < x + bw; ++xx) px[size_t(yy) * w + xx] = v;
    return *this;
  }
  // `n` glyphs of gw x gh, `gap` apart, along x (or down y).
  Scene& Glyphs(int x, int y, int n, int gw, int gh, int gap, bool down = false) {
    for (int i = 0; i < n; ++i) Box(down ? x : x + i * (gw + gap), down ? y + i * (gh + gap) : y, gw, gh);
    return *this;
  }
  Scene& Label() {
    line_chain::Label(px.data(), w, h, lab);
    ccs = line_chain::Components(lab.cc);
    label_rows.resize(size_t(h));
    rows.resize(size_t(h));
    for (int y = 0; y < h; ++y) {
      label_rows[size_t(y)] = lab.map.data() + size_t(y) * w;
      rows[size_t(y)] = px.data() + size_t(y) * w;
    }
    return *this;
  }
};

struct Lines {
  turnsense::TEXTLINE* h = nullptr;
  turnsense::TEXTLINE* v = nullptr;
  int nh = 0, nv = 0, hint = -7, rc = 0;
  ~Lines() {
    delete[] h;
    delete[] v;
  }
};

inline void Build(Scene& s, Lines& out) {
  out.rc = turnsense::cc2textline(s.ccs.data(), int(s.ccs.size()), &out.h, &out.nh, &out.v, &out.nv,
                                  s.label_rows.data(), s.px.data(), s.w, s.h, 0, &out.hint, nullptr, nullptr, false);
}

#endif
