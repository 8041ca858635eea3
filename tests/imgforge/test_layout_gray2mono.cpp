// Grey-to-mono for text through the staged libimgforge, bit for bit against
// a slow reference that follows the rules one pixel at a time.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "layout_lib.h"

using layout_pages::Page;
using layout_pages::Rect;

namespace {

// ---- the reference ------------------------------------------------------

struct Grey {
  int w, h;
  std::vector<uint8_t> v;
  int At(int x, int y) const { return v[static_cast<size_t>(y) * w + x]; }
};

struct Mono {
  int w, h;
  std::vector<uint8_t> black;  // one byte per pixel
  uint8_t& At(int x, int y) { return black[static_cast<size_t>(y) * w + x]; }
};

// First level of the strictly highest between-class score.
int RefOtsu(std::vector<long> const& hist) {
  long n = 0;
  double total = 0;
  for (int i = 0; i < 256; ++i) n += hist[i], total += double(i) * hist[i];
  if (!n) return 0;
  int lo = 0, hi = 255;
  while (!hist[lo]) ++lo;
  while (!hist[hi]) --hi;
  const double mean = total / n;
  double w = 0, mu = 0, best = -1;
  int t = 0;
  for (int i = lo; i <= hi - 1; ++i) {
    w += double(hist[i]) / n;
    mu += double(i) * hist[i] / n;
    if (w * (1 - w) > 0.00001) {
      double sc = (w * mean - mu) * (w * mean - mu) / (w * (1 - w));
      if (sc > best) best = sc, t = i;
    }
  }
  return t;
}

int Clip(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

struct RefBox {
  int l, t, r, b;
};

Mono Reference(Grey const& g, int dpi, int method, int sens) {
  const int s = Clip(sens, -5, 5), ppm = dpi / 25;
  const int k = ppm / 8 + ((ppm / 8) & 1) + 1;
  std::vector<long> hist(256, 0);
  for (int y = 0; y < g.h; y += k)
    for (int x = 0; x < g.w; x += k) ++hist[g.At(x, y)];
  int sLo = 0, sHi = 255;
  while (!hist[sLo]) ++sLo;
  while (!hist[sHi]) --sHi;
  const int T = Clip(RefOtsu(hist) + 8 * s + 8, 55, 225);
  Mono m{g.w, g.h, std::vector<uint8_t>(static_cast<size_t>(g.w) * g.h)};
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x) m.At(x, y) = g.At(x, y) <= T;
  if (method == -1) return m;

  // Components of the global image in raster order of their first pixel.
  std::vector<RefBox> comps;
  std::vector<uint8_t> seen(m.black.size(), 0);
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x) {
      if (!m.At(x, y) || seen[static_cast<size_t>(y) * g.w + x]) continue;
      RefBox b{x, y, x, y};
      std::vector<std::pair<int, int>> st{{x, y}};
      seen[static_cast<size_t>(y) * g.w + x] = 1;
      while (!st.empty()) {
        auto [cx, cy] = st.back();
        st.pop_back();
        b = {std::min(b.l, cx), std::min(b.t, cy), std::max(b.r, cx), std::max(b.b, cy)};
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            int nx = cx + dx, ny = cy + dy;
            if (nx < 0 || ny < 0 || nx >= g.w || ny >= g.h) continue;
            size_t i = static_cast<size_t>(ny) * g.w + nx;
            if (m.black[i] && !seen[i]) seen[i] = 1, st.push_back({nx, ny});
          }
      }
      comps.push_back(b);
    }
  const int ag = static_cast<int>(ppm * 0.8 + 1);
  auto Lof = [](RefBox const& b) { return std::max(b.r - b.l + 1, b.b - b.t + 1); };
  auto Sof = [](RefBox const& b) { return std::min(b.r - b.l + 1, b.b - b.t + 1); };
  std::vector<RefBox> kept;
  for (auto const& b : comps)
    if (Lof(b) > ag) kept.push_back(b);
  std::stable_sort(kept.begin(), kept.end(), [&](RefBox const& a, RefBox const& b) { return Lof(a) > Lof(b); });

  std::vector<RefBox> treated;
  auto within = [](RefBox const& a, RefBox const& o) { return a.l >= o.l && a.r <= o.r && a.t >= o.t && a.b <= o.b; };
  auto threshold = [&](RefBox const& b, int th) {
    for (int y = b.t; y <= b.b; ++y)
      for (int x = b.l; x <= b.r; ++x) m.At(x, y) = g.At(x, y) <= th;
  };
  for (auto const& c : kept) {
    const int L = Lof(c), S = Sof(c);
    const int small = std::max(ppm, ag);
    enum { OTSU, MID, NB, HIST } kind;
    if (L > 25 * ppm)
      kind = S >= 8 * ppm ? HIST : OTSU;
    else if (method != 0)
      kind = L > 4 * ppm ? OTSU : L <= small ? MID : NB;
    else
      kind = (L <= 4 * ppm && L <= small) ? MID : OTSU;
    if (kind == MID && L <= ag) break;
    if (L * 100 / S > 1500) continue;
    bool inside = false;
    for (auto const& t : treated) inside = inside || within(c, t);
    if (inside) continue;

    if (kind == OTSU) {
      RefBox gb{std::max(c.l - 1, 0), std::max(c.t - 1, 0), std::min(c.r + 1, g.w - 1), std::min(c.b + 1, g.h - 1)};
      std::vector<long> hh(256, 0);
      int lo = 255, hi = 0;
      for (int y = gb.t; y <= gb.b; ++y)
        for (int x = gb.l; x <= gb.r; ++x) ++hh[g.At(x, y)], lo = std::min(lo, g.At(x, y)), hi = std::max(hi, g.At(x, y));
      const int o = RefOtsu(hh) + 1;
      const int th = s < 1 ? o + s * (o - lo) / 16 : o + s * (hi - o) / 16;
      threshold(gb, Clip(th, 1, 255));
      treated.push_back(gb);
    } else if (kind == MID) {
      RefBox gb{c.l - 1, c.t - 1, c.r + 1, c.b + 1};
      if (gb.l < 0 || gb.t < 0 || gb.r >= g.w || gb.b >= g.h) continue;
      int lo = 255, hi = 0;
      for (int y = gb.t; y <= gb.b; ++y)
        for (int x = gb.l; x <= gb.r; ++x) lo = std::min(lo, g.At(x, y)), hi = std::max(hi, g.At(x, y));
      const int mid = (hi + lo) / 2;
      const int th = s <= 0 ? mid + s * (mid - lo) / 16 : mid + s * (hi - mid) / 16;
      threshold(gb, Clip(th, 1, 255));
    } else if (kind == NB) {
      const int dx = (c.r - c.l + 1) / 14, dy = (c.b - c.t + 1) / 14;
      RefBox sb{c.l + dx, c.t + dy, c.r - dx, c.b - dy};
      const int rad = std::min(sb.r - sb.l + 1, sb.b - sb.t + 1) >= 30 ? 3 : 2;
      const int limit = rad == 3 ? 32 : 30;
      if (sb.l - rad < 0 || sb.t - rad < 0 || sb.r + rad >= g.w || sb.b + rad >= g.h) continue;
      int cur = 0;
      for (int y = sb.t; y <= sb.b; ++y)
        for (int x = sb.l; x <= sb.r; ++x) {
          const int v = g.At(x, y);
          if (v < std::min(sLo + 4, cur) || v > std::max(sHi - 4, cur)) continue;
          std::vector<int> win;
          for (int yy = y - rad; yy <= y + rad; ++yy)
            for (int xx = x - rad; xx <= x + rad; ++xx) win.push_back(g.At(xx, yy));
          const int mx = *std::max_element(win.begin(), win.end()), mn = *std::min_element(win.begin(), win.end());
          if (mx - mn > limit) {
            double mean = 0, var = 0;
            for (int q : win) mean += q;
            mean /= win.size();
            for (int q : win) var += (q - mean) * (q - mean);
            int t = static_cast<int>(mean + 0.05 * std::sqrt(var / win.size()));
            if (t >= mx) t = mx - 1;
            std::vector<int> levels(win);
            std::sort(levels.begin(), levels.end());
            levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
            const int nb = m.At(x - 1, y) + m.At(x, y - 1);
            std::vector<int> above, below;
            for (int l : levels) {
              if (l > t && l <= 254) above.push_back(l);
              if (l < t) below.push_back(l);
            }
            if (nb >= 1 && static_cast<int>(above.size()) >= nb) t = above[nb - 1];
            if (nb == 0 && !below.empty()) t = below.back();
            cur = t;
          }
          m.At(x, y) = v <= cur;
        }
      treated.push_back(c);
    } else {
      std::vector<long> hh(256, 0);
      long blacks = 0;
      int lo = 255, hi = 0;
      for (int y = c.t; y <= c.b; ++y)
        for (int x = c.l; x <= c.r; ++x)
          if (m.At(x, y)) ++hh[g.At(x, y)], ++blacks, lo = std::min(lo, g.At(x, y)), hi = std::max(hi, g.At(x, y));
      const long p = blacks * 100 / (long(c.r - c.l + 1) * (c.b - c.t + 1));
      if (p <= 15 || hi - lo < 40) continue;
      const int o = RefOtsu(hh);
      const int th = Clip(p > 40 ? o + 4 * s + 8 : o + static_cast<int>((hi - o) * 0.54) + 4 * s, 1, 255);
      for (int y = c.t; y <= c.b; ++y)
        for (int x = c.l; x <= c.r; ++x)
          if (m.At(x, y) && g.At(x, y) > th) m.At(x, y) = 0;
    }
  }
  return m;
}

// ---- pages --------------------------------------------------------------

// Grey page at 300 dpi (12 pixels per millimetre by the rule) where every
// size class occurs: small marks (mid-range), text glyphs (neighbourhood, or
// one-character Otsu for method 0), large glyphs and a bar (one-character
// Otsu), a dark picture (black histogram), a long thin rule (kept as is), a
// frame with marks inside it (treated once).
Grey ClassPage(unsigned seed) {
  const int dpi = 300;
  Page p(1200, 900, dpi);
  layout_pages::DrawTextRow(p, 40, 40, 12, seed, 42);      // 42-pixel glyphs
  layout_pages::DrawTextRow(p, 40, 120, 6, seed + 1, 70);  // 70-pixel glyphs
  for (int i = 0; i < 15; ++i) p.Fill({40 + i * 30, 220, 40 + i * 30 + 11, 220 + 5 + i % 2});  // 12 x 6 and 7 marks
  p.Fill({40, 260, 439, 299});                   // bar 400 x 40
  p.Fill({40, 330, 459, 349});                   // rule 420 x 20: ratio 2100 %
  layout_pages::DrawFrame(p, {600, 300, 1000, 500}, 4);  // one-character Otsu over the frame
  layout_pages::DrawTextRow(p, 650, 350, 5, seed + 2, 42);
  Grey g{p.width, p.height, layout_pages::ToGrey(p, 215, 70, 25, seed)};
  // A picture: a dark ramp with lighter specks, 420 x 300.
  std::mt19937 rng(seed);
  for (int y = 560; y < 860; ++y)
    for (int x = 40; x < 460; ++x) g.v[static_cast<size_t>(y) * g.w + x] = static_cast<uint8_t>(20 + (x - 40) / 4 + (rng() % 7 == 0 ? 90 : 0));
  // Text in a lighter ink on a shaded band, where per-glyph thresholds differ.
  for (int y = 700; y < 800; ++y)
    for (int x = 600; x < 1150; ++x) g.v[static_cast<size_t>(y) * g.w + x] = static_cast<uint8_t>(std::min(255, g.v[static_cast<size_t>(y) * g.w + x] / 2 + 60));
  return g;
}

struct Result {
  int rc;
  _P2IIMG out;
};

Result Convert(LayoutLib& L, Grey& g, int dpi, int method, int sens) {
  _P2IIMG in = layout_pages::GreyRecord(g.v.data(), g.w, g.h, dpi);
  int options[2] = {method, sens};
  Result r{};
  r.rc = L.P2i_gray2mono(&in, options, &r.out, nullptr);
  return r;
}

std::vector<uint8_t> Unpack(_P2IIMG const& o) {
  std::vector<uint8_t> v(static_cast<size_t>(o.nWidth) * o.nHeight);
  for (int y = 0; y < o.nHeight; ++y)
    for (int x = 0; x < o.nWidth; ++x)
      v[static_cast<size_t>(y) * o.nWidth + x] = (o.pImageData[static_cast<size_t>(y) * o.nBytesPerLine + (x >> 3)] >> (7 - (x & 7))) & 1;
  return v;
}

TEST_F(LayoutTest, EveryMethodBitExactAgainstTheReference) {
  for (int method : {-1, 1, 0})
    for (int sens : {-5, -2, 0, 3, 5}) {
      Grey g = ClassPage(11 + sens);
      Result r = Convert(L, g, 300, method, sens);
      ASSERT_EQ(r.rc, 0);
      EXPECT_EQ(r.out.nBitsPerPixel, 1);
      EXPECT_EQ(r.out.nBytesPerLine, (g.w + 7) / 8);
      EXPECT_EQ(r.out.nImageSize, r.out.nBytesPerLine * g.h);
      EXPECT_EQ(r.out.nRight, g.w - 1);
      EXPECT_EQ(r.out.nBottom, g.h - 1);
      EXPECT_EQ(r.out.nXResolution, 300);
      Mono want = Reference(g, 300, method, sens);
      std::vector<uint8_t> got = Unpack(r.out);
      size_t diff = 0;
      for (size_t i = 0; i < got.size(); ++i) diff += got[i] != want.black[i];
      EXPECT_EQ(diff, 0u) << "method " << method << " sensitivity " << sens;
      if (method == 1 && sens == 0) {
        // The per-component pass changed something, or the page would not
        // show the methods at work.
        Mono global = Reference(g, 300, -1, 0);
        EXPECT_NE(global.black, want.black);
        // The long thin rule keeps its global result.
        for (int y = 329; y <= 350; ++y)
          for (int x = 39; x <= 460; ++x)
            ASSERT_EQ(got[static_cast<size_t>(y) * g.w + x], global.black[static_cast<size_t>(y) * g.w + x]) << x << "," << y;
      }
      void* px = r.out.pImageData;
      EXPECT_EQ(L.P2i_gray2mono_free(&r.out, nullptr, &px, nullptr), 0);
      EXPECT_EQ(px, nullptr);
    }
}

TEST_F(LayoutTest, GlobalThresholdStaysWithinItsBounds) {
  struct Case {
    int a, b;      // two grey levels, half the page each
    bool aBlack, bBlack;
  };
  // Otsu between close dark levels, close light levels, and a uniform page.
  const Case cases[] = {{30, 40, true, true}, {230, 250, false, false}, {255, 255, false, false}, {0, 0, true, true}};
  for (auto const& c : cases)
    for (int sens = -9; sens <= 9; ++sens) {
      Grey g{64, 40, std::vector<uint8_t>(64 * 40)};
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 64; ++x) g.v[y * 64 + x] = static_cast<uint8_t>(x < 32 ? c.a : c.b);
      Result r = Convert(L, g, 300, -1, sens);
      ASSERT_EQ(r.rc, 0);
      auto bits = Unpack(r.out);
      EXPECT_EQ(bits[0], c.aBlack) << c.a << " s " << sens;
      EXPECT_EQ(bits[63], c.bBlack) << c.b << " s " << sens;
      void* px = r.out.pImageData;
      L.P2i_gray2mono_free(&r.out, nullptr, &px, nullptr);
    }
  // Out-of-range sensitivities act as the nearest bound.
  for (auto [wild, bound] : {std::pair{-9, -5}, std::pair{7, 5}})
    for (int method : {-1, 1}) {
      Grey g = ClassPage(3);
      Result a = Convert(L, g, 300, method, wild), b = Convert(L, g, 300, method, bound);
      ASSERT_EQ(a.rc, 0);
      ASSERT_EQ(b.rc, 0);
      EXPECT_EQ(std::memcmp(a.out.pImageData, b.out.pImageData, a.out.nImageSize), 0) << wild;
      void* pa = a.out.pImageData;
      void* pb = b.out.pImageData;
      L.img_img2mono_free(&pa);
      L.img_img2mono_free(&pb);
      EXPECT_EQ(pa, nullptr);
    }
}

TEST_F(LayoutTest, TwentyFourBitPagesAreJudgedOnTheirSecondByte) {
  Grey g = ClassPage(5);
  std::vector<uint8_t> rgb(static_cast<size_t>(g.w) * 3 * g.h + 3 * 4);
  std::mt19937 rng(2);
  const int bpl = g.w * 3 + 12;  // padded rows
  rgb.resize(static_cast<size_t>(bpl) * g.h);
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x) {
      uint8_t* px = &rgb[static_cast<size_t>(y) * bpl + 3 * x];
      px[0] = static_cast<uint8_t>(rng());
      px[1] = static_cast<uint8_t>(g.At(x, y));
      px[2] = static_cast<uint8_t>(rng());
    }
  for (int method : {-1, 1}) {
    uint8_t* out24 = nullptr;
    int obpl = 0, ow = 0, oh = 0, osize = 0;
    ASSERT_EQ(L.img_img2mono(rgb.data(), bpl, g.w, g.h, static_cast<int>(rgb.size()), 24, method, 0, 300, 300, 0, 0,
                             g.w - 1, g.h - 1, &out24, &obpl, &ow, &oh, &osize),
              0);
    Result r = Convert(L, g, 300, method, 0);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(osize, r.out.nImageSize);
    EXPECT_EQ(std::memcmp(out24, r.out.pImageData, osize), 0);
    void* a = out24;
    void* b = r.out.pImageData;
    L.img_img2mono_free(&a);
    L.img_img2mono_free(&b);
  }
  // Other depths.
  for (int bits : {1, 4, 16, 32}) {
    uint8_t* out = nullptr;
    EXPECT_EQ(L.img_img2mono(rgb.data(), bpl, g.w, g.h, static_cast<int>(rgb.size()), bits, 1, 0, 300, 300, 0, 0,
                             g.w - 1, g.h - 1, &out, nullptr, nullptr, nullptr, nullptr),
              -3);
    EXPECT_EQ(out, nullptr);
  }
  _P2IIMG in{};
  in.pImageData = rgb.data();
  in.nBitsPerPixel = 24;
  in.nWidth = g.w;
  in.nHeight = g.h;
  in.nBytesPerLine = bpl;
  int options[2] = {1, 0};
  _P2IIMG out{};
  EXPECT_EQ(L.P2i_gray2mono(&in, options, &out, nullptr), -3);
  EXPECT_EQ(out.pImageData, nullptr);
}

TEST_F(LayoutTest, RegionAndRowOrderOfTheInput) {
  Grey g = ClassPage(8);
  // The region defaults to the whole page and is written back.
  _P2IIMG in = layout_pages::GreyRecord(g.v.data(), g.w, g.h, 300);
  int options[2] = {1, 0};
  _P2IIMG whole{};
  ASSERT_EQ(L.P2i_gray2mono(&in, options, &whole, nullptr), 0);
  EXPECT_EQ(in.nRight, g.w - 1);
  EXPECT_EQ(in.nBottom, g.h - 1);
  // A region is converted on its own.
  in.nLeft = 600, in.nTop = 300, in.nRight = 1000, in.nBottom = 500;
  _P2IIMG part{};
  ASSERT_EQ(L.P2i_gray2mono(&in, options, &part, nullptr), 0);
  EXPECT_EQ(part.nWidth, 401);
  EXPECT_EQ(part.nHeight, 201);
  Grey sub{401, 201, {}};
  for (int y = 300; y <= 500; ++y) sub.v.insert(sub.v.end(), g.v.begin() + y * g.w + 600, g.v.begin() + y * g.w + 1001);
  Mono want = Reference(sub, 300, 1, 0);
  EXPECT_EQ(Unpack(part), want.black);
  // Bottom-up rows give the same top-down result.
  std::vector<uint8_t> flipped(g.v.size());
  for (int y = 0; y < g.h; ++y) std::memcpy(&flipped[static_cast<size_t>(y) * g.w], &g.v[static_cast<size_t>(g.h - 1 - y) * g.w], g.w);
  in.pImageData = flipped.data();
  in.nColorOrder = 1;
  in.nLeft = in.nTop = in.nRight = in.nBottom = 0;
  _P2IIMG up{};
  ASSERT_EQ(L.P2i_gray2mono(&in, options, &up, nullptr), 0);
  EXPECT_EQ(std::memcmp(up.pImageData, whole.pImageData, whole.nImageSize), 0);
  for (_P2IIMG* o : {&whole, &part, &up}) {
    void* px = o->pImageData;
    L.P2i_gray2mono_free(o, nullptr, &px, nullptr);
  }
}

}  // namespace
