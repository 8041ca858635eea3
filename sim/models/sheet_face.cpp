#include "sheet_face.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace dravn_sim {

namespace {

// Reads exactly `length` bytes at `offset`; false on a short file or error.
bool ReadAt(int fd, uint8_t* to, size_t length, off_t offset) {
  while (length > 0) {
    const ssize_t n = pread(fd, to, length, offset);
    if (n <= 0) return false;
    to += n, length -= static_cast<size_t>(n), offset += n;
  }
  return true;
}

// The PNM header's kind, size and where the samples start.
struct PnmHeader {
  char kind = 0;
  long width = 0, height = 0;
  size_t dataAt = 0;
};

bool ParseHeader(const uint8_t* bytes, size_t size, PnmHeader* h) {
  if (size < 2 || bytes[0] != 'P' || (bytes[1] != '4' && bytes[1] != '5' && bytes[1] != '6')) return false;
  h->kind = static_cast<char>(bytes[1]);
  size_t pos = 2;
  auto token = [&](long* value) {
    while (pos < size) {
      if (bytes[pos] == '#') {
        while (pos < size && bytes[pos] != '\n') ++pos;
      } else if (isspace(bytes[pos])) {
        ++pos;
      } else {
        break;
      }
    }
    const size_t start = pos;
    long v = 0;
    while (pos < size && isdigit(bytes[pos]) && pos - start < 9) v = v * 10 + (bytes[pos++] - '0');
    if (pos == start || pos >= size || isdigit(bytes[pos])) return false;
    *value = v;
    return true;
  };
  long maxval = 255;
  if (!token(&h->width) || !token(&h->height) || h->width <= 0 || h->height <= 0) return false;
  if (h->kind != '4' && (!token(&maxval) || maxval != 255)) return false;
  h->dataAt = pos + 1;  // the one blank before the samples
  return true;
}

}  // namespace

bool SheetFace::Load(const std::string& path) {
  m_havePage = false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  uint8_t head[512];
  PnmHeader h;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const ssize_t got = ok ? pread(fd, head, sizeof head, 0) : -1;
  ok = got > 0 && ParseHeader(head, static_cast<size_t>(got), &h) && h.width <= kMaxPagePixels &&
       h.height <= kMaxPagePixels;
  if (ok) {
    const size_t rowBytes =
        h.kind == '4' ? static_cast<size_t>((h.width + 7) / 8) : static_cast<size_t>(h.width) * (h.kind == '6' ? 3 : 1);
    const size_t bytes = rowBytes * static_cast<size_t>(h.height);
    ok = static_cast<size_t>(st.st_size) >= h.dataAt && static_cast<size_t>(st.st_size) - h.dataAt >= bytes;
    if (ok) {
      m_page.width = static_cast<int>(h.width);
      m_page.height = static_cast<int>(h.height);
      m_page.channels = h.kind == '6' ? 3 : 1;
      m_page.pixels.resize(m_page.BytesPerLine() * m_page.height);
      if (h.kind != '4') {
        ok = ReadAt(fd, m_page.pixels.data(), bytes, static_cast<off_t>(h.dataAt));
      } else {  // 1 bit, black = 1
        std::vector<uint8_t> packed(bytes);
        ok = ReadAt(fd, packed.data(), bytes, static_cast<off_t>(h.dataAt));
        for (long y = 0; ok && y < h.height; ++y)
          for (long x = 0; x < h.width; ++x)
            m_page.Row(static_cast<int>(y))[x] = (packed[y * rowBytes + x / 8] & (0x80 >> (x % 8))) ? 0 : 255;
      }
    }
  }
  close(fd);
  m_havePage = ok;
  return ok;
}

void SheetFace::Columns(const Layout& l) {
  m_column.assign(static_cast<size_t>(l.width), -1);
  if (!m_havePage) return;
  for (long x = std::max(0L, l.left); x < l.width; ++x) {
    const long px = (x - l.left) * l.dpi / l.resX;
    if (px >= m_page.width) break;
    m_column[static_cast<size_t>(x)] = static_cast<int>(px);
  }
}

const uint8_t* SheetFace::PageRow(const Layout& l, long y) const {
  if (!m_havePage || y < l.top) return nullptr;
  const long py = (y - l.top) * l.dpi / l.resY;
  return py < m_page.height ? m_page.Row(static_cast<int>(py)) : nullptr;
}

namespace {

// The paper as the optics see it beside the backing: white reads at the
// sheet's `white` level, every level scaled by it in 16-bit fixed point
// (plain arithmetic, which the compiler vectorises, rather than a table).
inline uint32_t PaperScale(uint8_t white) { return (white * 65536u + 127u) / 255u; }
inline uint8_t Paper(uint8_t v, uint32_t k) { return static_cast<uint8_t>((v * k + 32768u) >> 16); }
constexpr uint8_t kRim = 255;

// The page's samples of one face row into `out`, for the face columns
// `first`..`last`, whose page columns are known; `toned`: as paper beside
// the backing, else as they are.
void CopyRow(const dravn_pages::Image& page, const uint8_t* row, const std::vector<int>& column, long first, long last,
             bool contiguous, uint32_t tone, uint8_t* out) {
  const bool toned = tone != 0;
  if (first > last) return;
  if (page.channels == 3 && contiguous) {
    const uint8_t* p = row + 3 * column[static_cast<size_t>(first)];
    const size_t n = static_cast<size_t>(last - first + 1) * 3;
    uint8_t* o = out + 3 * first;
    if (!toned) {
      memcpy(o, p, n);
    } else {
      for (size_t i = 0; i < n; ++i) o[i] = Paper(p[i], tone);
    }
    return;
  }
  for (long x = first; x <= last; ++x) {
    const int px = column[static_cast<size_t>(x)];
    uint8_t* o = out + 3 * x;
    if (page.channels == 3) {
      const uint8_t* p = row + 3 * px;
      o[0] = toned ? Paper(p[0], tone) : p[0], o[1] = toned ? Paper(p[1], tone) : p[1], o[2] = toned ? Paper(p[2], tone) : p[2];
    } else {
      o[0] = o[1] = o[2] = toned ? Paper(row[px], tone) : row[px];
    }
  }
}

// The backing at face pixel (x, y), `d` pixels outside the paper (from 0).
inline uint8_t Backing(long x, long y, long d, long shadowPx, const SheetFace::Sheet& sheet) {
  const uint32_t hash = (static_cast<uint32_t>(x) * 0x9E3779B1u) ^ (static_cast<uint32_t>(y) * 0x85EBCA77u);
  const int v = sheet.backing - sheet.noise + static_cast<int>((hash >> 13) % (2u * sheet.noise + 1));
  return static_cast<uint8_t>(d < shadowPx ? v - sheet.shadowDepth : v);
}

}  // namespace

const dravn_pages::Image& SheetFace::Draw(const Layout& l, uint8_t fill) {
  m_face.width = static_cast<int>(l.width);
  m_face.height = static_cast<int>(l.height);
  m_face.channels = 3;
  m_face.pixels.resize(m_face.BytesPerLine() * m_face.height);
  Columns(l);
  long first = l.width, last = -1;
  for (long x = 0; x < l.width; ++x)
    if (m_column[static_cast<size_t>(x)] >= 0) first = std::min(first, x), last = x;
  const bool contiguous = l.dpi == l.resX;
  for (long y = 0; y < l.height; ++y) {
    uint8_t* out = m_face.Row(static_cast<int>(y));
    const uint8_t* row = PageRow(l, y);
    if (!row) {
      memset(out, fill, m_face.BytesPerLine());
      continue;
    }
    if (first > 0) memset(out, fill, static_cast<size_t>(std::min(first, l.width)) * 3);
    CopyRow(m_page, row, m_column, first, last, contiguous, 0, out);
    if (last + 1 < l.width) memset(out + 3 * (last + 1), fill, static_cast<size_t>(l.width - last - 1) * 3);
  }
  return m_face;
}

void SheetFace::Bounds(long pageW, long pageL, double skewDeg, long* width, long* length) {
  const double a = std::fabs(skewDeg) * M_PI / 180, c = std::cos(a), s = std::sin(a);
  *width = skewDeg == 0 ? pageW : static_cast<long>(std::ceil(pageW * c + pageL * s));
  *length = skewDeg == 0 ? pageL : static_cast<long>(std::ceil(pageW * s + pageL * c));
}

const dravn_pages::Image& SheetFace::DrawOnBacking(const Layout& l, const Sheet& sheet) {
  m_face.width = static_cast<int>(l.width);
  m_face.height = static_cast<int>(l.height);
  m_face.channels = 3;
  m_face.pixels.resize(m_face.BytesPerLine() * m_face.height);
  const long shadowPx = sheet.shadow ? std::max(3L, 3 * l.resX / 300) : 0;
  const long rimPx = sheet.shadow ? std::max(1L, static_cast<long>(0.6 * l.resY / 25.4)) : 0;
  if (sheet.skewDeg != 0) {
    DrawTurned(l, sheet, shadowPx, rimPx);
    return m_face;
  }
  Columns(l);
  // The sheet's columns inside the face; every other pixel is backing.
  const long x0 = l.left, x1 = l.left + sheet.width;  // [x0, x1)
  const long y0 = l.top, y1 = l.top + sheet.length;
  const long first = std::max(0L, x0), last = std::min(l.width, x1) - 1;
  const long rimFrom = sheet.lampAtTop ? y0 : y1 - rimPx, rimTo = sheet.lampAtTop ? y0 + rimPx : y1;
  const bool contiguous = l.dpi == l.resX;
  auto backing = [&](uint8_t* out, long y, long from, long to, long dy) {
    for (long x = from; x < to; ++x) {
      const long dx = std::max(x0 - 1 - x, x - x1);
      out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = Backing(x, y, std::max(dx, dy), shadowPx, sheet);
    }
  };
  for (long y = 0; y < l.height; ++y) {
    uint8_t* out = m_face.Row(static_cast<int>(y));
    const long dy = std::max(y0 - 1 - y, y - y1);
    const uint8_t* row = y >= y0 && y < y1 ? PageRow(l, y) : nullptr;
    if (!row) {
      backing(out, y, 0, l.width, dy);
      continue;
    }
    backing(out, y, 0, std::min(first, l.width), dy);
    if (y >= rimFrom && y < rimTo) {
      if (first <= last) memset(out + 3 * first, kRim, static_cast<size_t>(last - first + 1) * 3);
    } else {
      CopyRow(m_page, row, m_column, first, last, contiguous, sheet.shadow ? PaperScale(sheet.white) : 0, out);
    }
    backing(out, y, std::max(0L, last + 1), l.width, dy);
  }
  return m_face;
}

// A skewed sheet: every face pixel is turned back into the sheet's frame
// (nearest sample), the rest is backing with the shadow round the turned
// edge.
void SheetFace::DrawTurned(const Layout& l, const Sheet& sheet, long shadowPx, long rimPx) {
  long boxW, boxL;
  Bounds(sheet.width, sheet.length, sheet.skewDeg, &boxW, &boxL);
  const double a = sheet.skewDeg * M_PI / 180, c = std::cos(a), s = std::sin(a);
  const double cx = l.left + boxW / 2.0, cy = l.top + boxL / 2.0;
  const double sx = static_cast<double>(l.dpi) / l.resX, sy = static_cast<double>(l.dpi) / l.resY;
  const double W = static_cast<double>(sheet.width), L = static_cast<double>(sheet.length);
  const uint32_t tone = PaperScale(sheet.white);
  for (long y = 0; y < l.height; ++y) {
    uint8_t* out = m_face.Row(static_cast<int>(y));
    const double dy = y + 0.5 - cy;
    // Counter-clockwise as seen with y down: a face offset (dx, dy) is the
    // sheet offset turned back by the angle.
    double u = c * (0.5 - cx) - s * dy + W / 2, v = s * (0.5 - cx) + c * dy + L / 2;
    for (long x = 0; x < l.width; ++x, u += c, v += s, out += 3) {
      if (m_havePage && u >= 0 && v >= 0 && u < W && v < L) {
        if (sheet.lampAtTop ? v < rimPx : v >= L - rimPx) {
          out[0] = out[1] = out[2] = kRim;
          continue;
        }
        const long px = std::min<long>(m_page.width - 1, static_cast<long>(u * sx));
        const long py = std::min<long>(m_page.height - 1, static_cast<long>(v * sy));
        const uint8_t* p = m_page.Row(static_cast<int>(py)) + px * m_page.channels;
        const uint8_t r = p[0], g = p[m_page.channels == 3 ? 1 : 0], b = p[m_page.channels == 3 ? 2 : 0];
        out[0] = sheet.shadow ? Paper(r, tone) : r, out[1] = sheet.shadow ? Paper(g, tone) : g,
        out[2] = sheet.shadow ? Paper(b, tone) : b;
        continue;
      }
      const double d = std::max(std::max(-u, u - W), std::max(-v, v - L));
      out[0] = out[1] = out[2] = Backing(x, y, static_cast<long>(d), shadowPx, sheet);
    }
  }
}

SheetFace::Layout SheetFace::Centred(long faceW, long maxLength, long pageW, long pageL, long marginY, double skewDeg) {
  Bounds(pageW, pageL, skewDeg, &pageW, &pageL);
  Layout l;
  l.width = std::max(16L, faceW);
  l.height = std::max(16L, std::min(maxLength, pageL + 2 * marginY));
  l.left = CentredLeft(l.width, pageW);
  l.top = marginY;
  return l;
}

long SheetFace::CentredLeft(long faceW, long pageW) {
  // Floor halving, so that a sheet wider than the face loses its odd pixel
  // on the right as a narrower one gains it there.
  const long spare = faceW - pageW;
  return spare >= 0 ? spare / 2 : -((-spare + 1) / 2);
}

}  // namespace dravn_sim
