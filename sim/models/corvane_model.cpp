// A simulated scanner of the Corvane family (the Docuvane line): SCSI-style
// commands in 31-byte command blocks with 13-byte status blocks. It keeps the
// windows and mode pages it is sent, applies the sent tone table to its
// samples, feeds sheets from its feeder (or scans its flatbed), and sends
// each face in the window's form: raw colour as B, G, R with every byte
// inverted, grey inverted, 1-bit line art and halftone (1 = black), or JPEG.
// Reads are exact: a piece is always the length asked for, and a face's last
// piece is padded and answered with a check condition whose sense carries
// end of medium, incorrect length and the residue. Diagnostic sub-commands
// reach a 512-byte EEPROM (counters, first-read date) kept in a state file:
// the backend's short counter write and the maintenance tools' write with
// 16-bit offset and length both go to a working copy that "DEBUG,E2P,WRT   "
// commits.
//
// Parameters ("set key=value"):
//   state=<path>        EEPROM kept in this file (default: memory)
//   eeprom_byte=<off>:<val>,...  bytes of a new device's EEPROM
//   first_date=<yy>-<mm>-<dd>   first-read date of a new device (default unset)
//   vendor=<text>       inquiry vendor field (default "MORANTI ")
//   inquiry_product=<text> product field (default the catalogue's product text)
//   revision=<text>     revision field (default "0100")
//   sheets=<n>          sheets in the feeder (default 0)
//   pages=<pattern>     PNM pages, one %d: sheet k's front is page 2k-1, its
//                       back 2k; the flatbed scans page 1. No file: white.
//   page_dpi=<n>        resolution of the page files (default 300); with
//                       page-auto left to the host a sheet is over-scanned
//                       on the white backing, centred, its edges shadowed
//   skew=<degrees>      such sheets go in turned by this angle (counter-
//                       clockwise as seen, decimals allowed)
//   back_lag=<n>        a duplex sheet's back is "not yet there" until the
//                       front has sent n pieces (default 0)
//   page_ms=<n>         time the mechanism takes to bring each sheet
//   busy=<n>            the first n TEST UNIT READY and the first n
//                       readiness tests of every sheet answer busy
//   cover=open          the feeder's cover is open: the hardware status
//                       shows it, and the feeder's sense and paper load
//                       answer cover open (the flatbed still scans)
//   auto_color=mono     the colour detection names the line-art windows
//   jam_at=<k>, cover_open_at=<k>, double_feed_at=<k>, stop_at=<k>
//                       sheet k fails after its first piece with that sense
//   gone_at=<k>         the device leaves the bus after sheet k's first piece
//   oversize_at=<k>     sheet k's face size answers 65535 pixels by 10000
//                       lines, whatever window it was sent
//   endless_at=<k>      sheet k's faces never end: past their data every
//                       piece is filler, and no piece ends the face
// A Corvane5 scanner (a catalogue id of that class) also takes batch mode
// (mode page 0x2C), keeps its power-off pair behind the "GET POWOFF TIME "
// and "SET POWOFF TIME " diagnostics in the state file, detects colour on
// its colour windows (each face marked binary when its page has no colour),
// and sends a page-auto page at the page's own width:
//   powoff=<code>:<second>  power-off pair of a new device (default 4:30)
//   colour_verdict=colour|binary  overrides the detection of every face
//   refuse=batch|powoff  that command answers a check condition
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

#include "command_block_core.h"
#include "model_catalog.h"
#include "sheet_face.h"
#include "state_file.h"
#include "test_pages.h"

namespace dravn_sim {
namespace {

constexpr size_t kEepromSize = 512;
constexpr size_t kDateOffset = 0x20;       // year, month, day
constexpr size_t kPowerOffOffset = 0x1F0;  // time code, second byte
constexpr size_t kTextSize = 16;
constexpr long kMaxPixels = 20000;
// Sense keys and qualifiers of the family.
constexpr uint8_t kMediumError = 0x03;
constexpr uint8_t kJam = 0x01, kCoverOpen = 0x02, kNoPaper = 0x03, kDoubleFeed = 0x07, kNotYet = 0x13, kStop = 0x20;

using Bytes = CommandBlockModel::Bytes;

uint32_t Be(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}
void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

std::string Field(const std::string& text, size_t size) {
  std::string f = text.substr(0, size);
  f.resize(size, ' ');
  return f;
}

std::string DefaultProduct(const SimDeviceSpec& spec) {
  for (const dravn::CatalogModel& m : dravn::kAllModels)
    if (m.vendorId == spec.vendorId && m.productId == spec.productId) return m.deviceName;
  return spec.product;
}

bool IsCorvane5(const SimDeviceSpec& spec) {
  for (const dravn::CatalogModel& m : dravn::kAllModels)
    if (m.vendorId == spec.vendorId && m.productId == spec.productId) return (m.tables & dravn::kCorvane5Table) != 0;
  return false;
}

int Grey(const uint8_t* rgb) { return (299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2] + 500) / 1000; }

class CorvaneModel : public CommandBlockModel {
 public:
  explicit CorvaneModel(const SimDeviceSpec& spec)
      : CommandBlockModel(spec), m_state(Param("state")), m_corvane5(IsCorvane5(spec)) {
    m_sheetsLeft = ParamInt("sheets", 0);
    m_busyOpen = ParamInt("busy", 0);
    for (const char* key : {"page_dpi", "back_lag", "jam_at", "cover_open_at", "double_feed_at", "stop_at", "gone_at",
                            "page_ms", "oversize_at", "endless_at"})
      ParamInt(key, 0);
    m_lut.resize(256);
    for (int i = 0; i < 256; ++i) m_lut[i] = static_cast<uint8_t>(i);
    Eeprom();  // a new device's memory exists from power-on
  }

 protected:
  DataOut OnCommand(const uint8_t* cdb) override {
    PendSense(0, 0, 0);  // sense belongs to the command that made it
    if (m_goneNext) {
      LeaveTheBus();
      return {};
    }
    switch (cdb[0]) {
      case 0x00:
        if (m_busyOpen > 0) {
          --m_busyOpen;
          Busy();
        }
        return {};
      case 0x12:
        ReplyIn(Inquiry(), cdb[4]);
        return {};
      case 0x15:
      case 0x1B:
        return {cdb[4]};
      case 0x1D:
        return {Be(cdb + 3, 2)};  // the parameter list length is 16-bit
      case 0x24:
      case 0x2A:
        return {Be(cdb + 6, 3)};
      case 0x28:
        OnRead(cdb);
        return {};
      case 0x1C:
        OnReceiveDiagnostic(Be(cdb + 3, 2));
        return {};
      case 0x31:
        OnPaperControl(cdb[1] == 1);
        return {};
      case 0xC2:
        ReplyIn(HardwareStatus(), cdb[8]);
        return {};
      case 0xF1:
        OnControl(cdb);
        return {};
      default:
        CheckCondition(kIllegalRequest, 0x20);
        return {};
    }
  }

  void OnDataOut(const uint8_t* cdb, const Bytes& data, bool complete) override {
    if (!complete) {
      CheckCondition(kIllegalRequest, 0x1A);
      return;
    }
    switch (cdb[0]) {
      case 0x15:
        if (data.size() >= 7 && data[4] == 0x2C) {
          if (!m_corvane5 || Param("refuse") == "batch") return CheckCondition(kIllegalRequest, 0x26);
          m_batch = data[6] == 0x00;
        }
        if (data.size() >= 6) m_pages[data[4]] = Bytes(data.begin() + 4, data.end());
        break;
      case 0x24:
        for (size_t at = 8; at + 64 <= data.size(); at += 64)
          m_windows[data[at]] = Bytes(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at) + 64);
        break;
      case 0x2A:
        if (data.size() == 266 && (cdb[2] == 0x83 || cdb[2] == 0x03))
          (cdb[2] == 0x83 ? m_lut : m_gamma).assign(data.begin() + 10, data.end());
        else
          CheckCondition(kIllegalRequest, 0x26);
        break;
      case 0x1B:
        OnScan(data);
        break;
      case 0x1D:
        OnSendDiagnostic(data);
        break;
      default:
        break;
    }
  }

 private:
  struct Face {
    Bytes data;
    size_t sent = 0;
    size_t pieces = 0;
    uint32_t pixels = 0, lines = 0;
    bool colour = false;  // the page has colour
  };

  Bytes Inquiry() const {
    Bytes r(96, 0);
    r[0] = 0x06;
    r[4] = 91;
    const std::string text = Field(Param("vendor", "MORANTI "), 8) +
                             Field(Param("inquiry_product", DefaultProduct(Spec())), 16) +
                             Field(Param("revision", "0100"), 4);
    memcpy(r.data() + 8, text.data(), text.size());
    return r;
  }

  // The feeder's cover: a device whose cover is open feeds nothing.
  bool CoverOpen() const { return Param("cover") == "open" || m_coverOpen; }

  Bytes HardwareStatus() {
    Bytes s(12, 0);
    if (CoverOpen()) s[3] |= 0x20;
    if (m_doubleFeed) s[6] |= 0x01;
    // The feeder's state waits in the sense data for the host to ask.
    if (!m_flatbed && CoverOpen())
      PendSense(kMediumError, 0, kCoverOpen);
    else if (!m_flatbed && m_sheetsLeft <= 0 && !m_loaded)
      PendSense(kMediumError, 0, kNoPaper);
    return s;
  }

  void OnControl(const uint8_t* cdb) {
    switch (cdb[1]) {
      case 0x00:
      case 0x01:
        m_flatbed = cdb[1] == 1;
        break;
      case 0x03:
      case 0x05:
        break;
      case 0x04:
        m_faces.clear();
        m_loaded = false;
        break;
      case 0x09:
        EndSheet();
        break;
      case 0x10:
        OnReady(cdb[2]);
        break;
      default:
        CheckCondition(kIllegalRequest, 0x24);
        break;
    }
  }

  void OnPaperControl(bool load) {
    if (!load) {
      m_loaded = false;
      return;
    }
    if (m_loaded) return;
    if (CoverOpen()) return CheckCondition(kMediumError, 0, kCoverOpen);
    if (m_sheetsLeft <= 0) return CheckCondition(kMediumError, 0, kNoPaper);
    --m_sheetsLeft;
    ++m_sheetNo;
    m_loaded = true;
    m_sheetPieces = 0;
    m_busyLeft = ParamInt("busy", 0);
  }

  bool SheetFault(const char* key) const { return !m_flatbed && ParamInt(key, 0) == m_sheetNo; }

  void OnScan(const Bytes& ids) {
    if (!m_flatbed && !m_loaded) return CheckCondition(kMediumError, 0, kNoPaper);
    if (m_flatbed) {
      m_sheetPieces = 0;
      m_busyLeft = ParamInt("busy", 0);
    }
    m_faces.clear();
    const long pageMs = ParamInt("page_ms", 0);
    if (pageMs > 0) Wait(std::chrono::milliseconds(pageMs));
    for (uint8_t id : ids) {
      auto w = m_windows.find(id);
      if (w == m_windows.end()) return CheckCondition(kIllegalRequest, 0x2C, 0x02);
      m_faces[id] = MakeFace(w->second, id & 0x80 ? 2 : 1);
    }
    if (SheetFault("cover_open_at")) m_coverOpen = true;
  }

  void OnReady(uint8_t id) {
    if (m_busyLeft > 0) {
      --m_busyLeft;
      return Busy();
    }
    if (!m_faces.count(id)) return CheckCondition(kIllegalRequest, 0x2C, 0);
    if (BackLags(id)) return CheckCondition(kMediumError, 0, kNotYet);
  }

  bool BackLags(uint8_t id) const {
    if (!(id & 0x80) || !m_faces.count(0x00)) return false;
    const Face& front = m_faces.at(0x00);
    const size_t lag = static_cast<size_t>(std::max(0L, ParamInt("back_lag", 0)));
    return front.pieces < lag && front.sent < front.data.size();
  }

  void OnRead(const uint8_t* cdb) {
    const size_t length = Be(cdb + 6, 3);
    const uint8_t id = cdb[5];
    if (cdb[2] == 0x80) {
      Bytes r(24, 0);
      const Face* f = nullptr;
      if (m_faces.count(id))
        f = &m_faces.at(id);
      else if (m_lastFaces.count(id))
        f = &m_lastFaces.at(id);
      if (f) {
        const bool oversize = SheetFault("oversize_at");
        const uint32_t pixels = oversize ? 65535 : f->pixels, lines = oversize ? 10000 : f->lines;
        PutBe32(r.data(), pixels);
        PutBe32(r.data() + 4, lines);
        PutBe32(r.data() + 8, pixels);
        PutBe32(r.data() + 12, lines);
      }
      return ReplyIn(r, length);
    }
    if (cdb[2] == 0x82) {
      Bytes r(8, 0);
      r[0] = 0x88;
      r[5] = Param("auto_color") == "mono" ? 0x11 : 0x00;
      if (m_corvane5) {
        // The colour windows stay named; a face without colour is marked.
        const std::string verdict = Param("colour_verdict");
        for (auto [faceId, at] : {std::pair<uint8_t, int>{0x00, 2}, {0x80, 3}}) {
          const Face* f = m_faces.count(faceId) ? &m_faces.at(faceId) : nullptr;
          const bool colour = verdict.empty() ? (f && f->colour) : verdict == "colour";
          r[at] = colour ? 0 : 1;
        }
        r[5] = 0x00;
      }
      return ReplyIn(r, length);
    }
    auto f = m_faces.find(id);
    if (cdb[2] != 0x00 || f == m_faces.end()) {
      ReplyIn({}, length);
      return CheckCondition(kIllegalRequest, 0x2C, 0);
    }
    if (BackLags(id)) {
      ReplyIn({}, length);
      return CheckCondition(kMediumError, 0, kNotYet);
    }
    if (m_sheetPieces >= 1) {
      for (auto [key, ascq] : {std::pair{"jam_at", kJam},
                               {"cover_open_at", kCoverOpen},
                               {"double_feed_at", kDoubleFeed},
                               {"stop_at", kStop}}) {
        if (!SheetFault(key)) continue;
        if (ascq == kDoubleFeed) m_doubleFeed = true;
        ReplyIn({}, length);
        return CheckCondition(kMediumError, 0, ascq);
      }
    }
    Face& face = f->second;
    const bool endless = SheetFault("endless_at");
    const size_t n = std::min(length, face.data.size() - face.sent);
    Bytes piece(face.data.begin() + static_cast<long>(face.sent), face.data.begin() + static_cast<long>(face.sent + n));
    if (endless) piece.resize(length, 0xFF);
    ReplyIn(piece, length);
    face.sent += n;
    ++face.pieces;
    ++m_sheetPieces;
    if (SheetFault("gone_at")) m_goneNext = true;
    if (face.sent == face.data.size() && !endless) {
      CheckCondition(0x00, 0, 0);
      SetSenseBits(true, true, static_cast<uint32_t>(length - n));
    }
  }

  void EndSheet() {
    if (!m_faces.empty()) {
      Bytes e = Eeprom();
      // Total pages 500 x [46] + 10 x [38] + [294]; flatbed 500 x [44] +
      // 10 x [39] + [295].
      const size_t low = m_flatbed ? 295 : 294, mid = m_flatbed ? 39 : 38, high = m_flatbed ? 44 : 46;
      if (++e[low] >= 10) {
        e[low] = 0;
        if (++e[mid] >= 50) {
          e[mid] = 0;
          ++e[high];
        }
      }
      m_eeprom = e;
      m_state.Save(m_eeprom);
    }
    m_lastFaces = std::move(m_faces);
    m_faces.clear();
    m_loaded = false;
  }

  // --- the faces ---------------------------------------------------------

  Face MakeFace(const Bytes& w, int side) {
    const long resX = std::max<long>(1, Be(w.data() + 2, 2)), resY = std::max<long>(1, Be(w.data() + 4, 2));
    const long left = Be(w.data() + 6, 4), top = Be(w.data() + 10, 4);
    const long width = Be(w.data() + 14, 4), length = Be(w.data() + 18, 4);
    const uint8_t composition = w[25], threshold = w[23] ? w[23] : 128, compression = w[32];
    const long dpi = std::max(1L, ParamInt("page_dpi", 300));

    bool havePage = false;
    const std::string pattern = Param("pages");
    if (!pattern.empty()) {
      char path[4096];
      const int number = m_flatbed ? 1 : static_cast<int>(2 * m_sheetNo - (side == 1 ? 1 : 0));
      snprintf(path, sizeof path, pattern.c_str(), number);
      havePage = m_sheet.Load(path);
    }
    const dravn_pages::Image& page = m_sheet.Page();
    long pixels = std::min(width * resX / 1200, kMaxPixels);
    long lines = std::min(length * resY / 1200, 10 * kMaxPixels);
    const long x0 = left * resX / 1200, y0 = top * resY / 1200;
    // Page-auto left to the host: the whole window's width, the sheet
    // centred in it on the white backing, its edge a faint shadow, entering
    // 16 mm below the face's top, and the device reading on as far past its
    // trailing edge.
    const bool overscan = !m_flatbed && havePage && PageAutoByHost();
    const long pageW = havePage ? m_sheet.PageWidth(dpi, resX) : 0;
    const long pageL = havePage ? m_sheet.PageLength(dpi, resY) : 0;
    const long marginY = resY * 160 / 254;
    if (overscan) {
      long boxW, boxL;
      dravn_sim::SheetFace::Bounds(pageW, pageL, Skew(), &boxW, &boxL);
      lines = std::min(lines, boxL + 2 * marginY);
    } else if (!m_flatbed && havePage) {
      lines = std::min(lines, page.height * resY / dpi - y0);
    }
    // A Corvane5 page-auto window sends the page at its own width.
    if (m_corvane5 && PageAuto() && havePage) pixels = std::min(pixels, page.width * resX / dpi - x0);
    Face face;
    face.pixels = static_cast<uint32_t>(std::max(0L, pixels));
    face.lines = static_cast<uint32_t>(std::max(0L, lines));
    dravn_sim::SheetFace::Layout layout;
    layout.width = face.pixels, layout.height = face.lines;
    layout.dpi = dpi, layout.resX = resX, layout.resY = resY;
    if (overscan) {
      long boxW, boxL;
      dravn_sim::SheetFace::Bounds(pageW, pageL, Skew(), &boxW, &boxL);
      layout.left = dravn_sim::SheetFace::CentredLeft(layout.width, boxW);
      layout.top = marginY;
      // Both faces' lamps face the leading edge: its rim is at the top of
      // either face, the shadow at the trailing edge.
      m_sheet.DrawOnBacking(layout, {pageW, pageL, Skew(), true, true});
    } else {
      layout.left = -x0, layout.top = -y0;
      m_sheet.Draw(layout, 0xFF);
    }
    dravn_pages::Image& rgb = m_sheet.Face();
    for (size_t i = 0; i + 2 < rgb.pixels.size() && !face.colour; i += 3) {
      const uint8_t* c = &rgb.pixels[i];
      face.colour = std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}) > 48;
    }
    for (uint8_t& v : rgb.pixels) v = m_lut[v];
    const bool grey = composition == 2;
    // JPEG codes the face at the size scanned, whole blocks or not.
    if (compression >= 0x81 && compression <= 0x83 && (composition == 5 || grey)) {
      const int quality = std::min(95, 40 + 8 * std::max<int>(1, w[33]));
      face.data = dravn_pages::EncodeJpeg(rgb, grey, quality);
      return face;
    }
    const size_t n = static_cast<size_t>(face.pixels) * face.lines;
    if (composition == 5) {
      face.data.resize(3 * n);
      for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) face.data[3 * i + c] = static_cast<uint8_t>(~rgb.pixels[3 * i + 2 - c]);
    } else if (grey) {
      face.data.resize(n);
      for (size_t i = 0; i < n; ++i) face.data[i] = static_cast<uint8_t>(~Grey(&rgb.pixels[3 * i]));
    } else {
      static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
      const size_t bpl = (face.pixels + 7) / 8;
      face.data.assign(bpl * face.lines, 0);
      for (uint32_t y = 0; y < face.lines; ++y)
        for (uint32_t x = 0; x < face.pixels; ++x) {
          const int g = Grey(&rgb.pixels[(static_cast<size_t>(y) * face.pixels + x) * 3]);
          const int t = composition == 1 ? kBayer[y % 4][x % 4] * 16 + 8 : threshold;
          if (g < t) face.data[y * bpl + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
    }
    return face;
  }

  // The page length page with automatic size but the device's own cut off
  // (byte 2 clear): the host crops.
  bool PageAutoByHost() const {
    auto page = m_pages.find(0x3C);
    return page != m_pages.end() && page->second.size() > 3 && page->second[2] == 0 && (page->second[3] & 0x80);
  }

  double Skew() const { return strtod(Param("skew", "0").c_str(), nullptr); }

  bool PageAuto() const {
    auto page = m_pages.find(0x3C);
    return page != m_pages.end() && page->second.size() > 2 && page->second[2] != 0;
  }

  // --- the EEPROM and the diagnostic interpreter --------------------------

  Bytes& Eeprom() {
    if (!m_eeprom.empty()) return m_eeprom;
    m_eeprom = m_state.Load();
    if (m_eeprom.size() == kEepromSize) return m_eeprom;
    m_eeprom.assign(kEepromSize, 0);
    std::istringstream list(Param("eeprom_byte"));
    for (std::string item; std::getline(list, item, ',');) {
      unsigned off = 0, val = 0;
      if (sscanf(item.c_str(), "%i:%i", &off, &val) != 2 || off >= kEepromSize || val > 255)
        throw std::runtime_error("corvane: bad eeprom_byte item '" + item + "'");
      m_eeprom[off] = static_cast<uint8_t>(val);
    }
    unsigned code = 4, second = 30;
    if (sscanf(Param("powoff", "4:30").c_str(), "%u:%u", &code, &second) != 2 || code > 255 || second > 255)
      throw std::runtime_error("corvane: powoff= takes <code>:<second>");
    m_eeprom[kPowerOffOffset] = static_cast<uint8_t>(code);
    m_eeprom[kPowerOffOffset + 1] = static_cast<uint8_t>(second);
    const std::string date = Param("first_date");
    if (!date.empty()) {
      unsigned y = 0, m = 0, d = 0;
      if (sscanf(date.c_str(), "%u-%u-%u", &y, &m, &d) != 3 || y > 99 || m > 12 || d > 31)
        throw std::runtime_error("corvane: first_date= takes yy-mm-dd");
      m_eeprom[kDateOffset] = static_cast<uint8_t>(y);
      m_eeprom[kDateOffset + 1] = static_cast<uint8_t>(m);
      m_eeprom[kDateOffset + 2] = static_cast<uint8_t>(d);
    }
    m_state.Save(m_eeprom);
    return m_eeprom;
  }

  void OnSendDiagnostic(const Bytes& data) {
    if (data.size() < kTextSize) return CheckCondition(kIllegalRequest, 0x26);
    m_diagText.assign(data.begin(), data.begin() + kTextSize);
    m_diagParams.assign(data.begin() + kTextSize, data.end());
    Bytes& e = Eeprom();
    if (m_diagText == "DEBUG,E2T,WRT   ") {
      if (m_diagParams.size() != 4 || m_diagParams[0] + m_diagParams[1] > kEepromSize)
        return CheckCondition(kIllegalRequest, 0x26);
      if (m_working.empty()) m_working = e;
      std::fill_n(m_working.begin() + m_diagParams[0], m_diagParams[1], 0);
    } else if (m_diagText == "DEBUG,E2T,WRT  W") {
      // The maintenance tools' record: 16-bit offset and length, then the
      // bytes; the commit below makes them the EEPROM's.
      const size_t at = m_diagParams.size() >= 4 ? (m_diagParams[0] << 8 | m_diagParams[1]) : kEepromSize;
      const size_t n = m_diagParams.size() >= 4 ? (m_diagParams[2] << 8 | m_diagParams[3]) : 0;
      if (m_diagParams.size() != 4 + n || at + n > kEepromSize) return CheckCondition(kIllegalRequest, 0x26);
      if (m_working.empty()) m_working = e;
      std::copy(m_diagParams.begin() + 4, m_diagParams.end(), m_working.begin() + static_cast<long>(at));
    } else if (m_corvane5 && (m_diagText == "GET POWOFF TIME " || m_diagText == "SET POWOFF TIME ")) {
      if (Param("refuse") == "powoff") return CheckCondition(kIllegalRequest, 0x26);
      if (m_diagText[0] == 'S') {
        if (m_diagParams.size() != 2) return CheckCondition(kIllegalRequest, 0x26);
        e[kPowerOffOffset] = m_diagParams[0];
        e[kPowerOffOffset + 1] = m_diagParams[1];
        m_state.Save(e);
      }
    } else if (m_diagText == "DEBUG,E2P,WRT   ") {
      if (!m_working.empty()) {
        e = m_working;
        m_working.clear();
        m_state.Save(e);
      }
    } else if (m_diagText != "DEBUG,E2T,RED  W" && m_diagText != "DEBUG,E2P,RED  W" &&
               m_diagText != "FIRST READ DATE " && m_diagText != "GET FIRST DATE  " &&
               m_diagText != "GET PIXEL SIZE  ") {
      CheckCondition(kIllegalRequest, 0x26);
    }
  }

  void OnReceiveDiagnostic(size_t length) {
    Bytes& e = Eeprom();
    if (m_diagText == "DEBUG,E2T,RED  W" || m_diagText == "DEBUG,E2P,RED  W") return ReplyIn(e, length);
    if (m_diagText == "GET FIRST DATE  ")
      return ReplyIn({0, e[kDateOffset], e[kDateOffset + 1], e[kDateOffset + 2]}, length);
    if (m_diagText == "GET PIXEL SIZE  ") return ReplyIn(Bytes(20, 0), length);
    if (m_corvane5 && m_diagText == "GET POWOFF TIME ")
      return ReplyIn({e[kPowerOffOffset], e[kPowerOffOffset + 1]}, length);
    if (m_diagText == "FIRST READ DATE " && m_diagParams.size() == 4) {
      // The date is written once in a device's life.
      const bool set = e[kDateOffset] || e[kDateOffset + 1] || e[kDateOffset + 2];
      if (!set) {
        std::copy(m_diagParams.begin() + 1, m_diagParams.end(), e.begin() + kDateOffset);
        m_state.Save(e);
      }
      m_diagText.clear();
      return ReplyIn({static_cast<uint8_t>(set ? 1 : 0)}, length);
    }
    ReplyIn({}, length);
    CheckCondition(kIllegalRequest, 0x2C, 0);
  }

  SimStateFile m_state;
  const bool m_corvane5;
  bool m_batch = false;  // held in batch mode
  Bytes m_eeprom, m_working;
  std::string m_diagText;
  Bytes m_diagParams;
  std::map<uint8_t, Bytes> m_windows, m_pages;
  Bytes m_lut, m_gamma;
  std::map<uint8_t, Face> m_faces, m_lastFaces;
  dravn_sim::SheetFace m_sheet;  // the page buffer and face, kept from face to face
  bool m_flatbed = false;
  bool m_loaded = false;
  bool m_coverOpen = false;
  bool m_doubleFeed = false;
  bool m_goneNext = false;
  long m_sheetsLeft = 0;
  long m_sheetNo = 0;
  long m_sheetPieces = 0;
  long m_busyOpen = 0;
  long m_busyLeft = 0;
};

DRAVN_SIM_MODEL("corvane", CorvaneModel)

}  // namespace
}  // namespace dravn_sim
