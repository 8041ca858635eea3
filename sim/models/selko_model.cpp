// A simulated scanner of the Selko family: the two-byte handshake that
// opens each use (97 17, answered 0x82) and the command that ends it; 8-byte
// command headers with their data, 16-byte statuses with their reply data;
// the device name and state, the 64-byte scan-parameter record it keeps and
// obeys, and scanning: sheets fed from the hopper, each face sent as
// baseline JPEG in pieces that the host asks for one "read image" at a time.
//
// Parameters ("set key=value"):
//   handshake=<n>     the byte the handshake answers (default 0x82; any
//                     other refuses the connection)
//   name=<text>       the device name (default: the catalogue's name for the
//                     product id), space padded to 16 bytes
//   cover=open        the device state says cover open (1)
//   status_code=<n>   the device state of every status reply instead
//   not_ready=<n>     the next n commands answer "not ready"
//   not_ready_cmd=<c> only commands with this code and sub-code (0xCCSS)
//                     count towards not_ready
//   sheets=<n>        sheets in the hopper (default 0: state 3, paper empty)
//   pages=<pattern>   binary PNM files of the pages, one %d: the front of
//                     sheet k is page 2k-1, its back page 2k; a missing file
//                     is a white page
//   page_dpi=<n>      resolution the files were rendered at (default 300);
//                     with automatic size a page is over-scanned on a white
//                     backing, its edges shadowed
//   skew=<degrees>    with automatic size the sheets go in turned by this
//                     angle (counter-clockwise as seen, decimals allowed)
//   quality=<n>       JPEG quality (default 85)
//   piece=<n>         image bytes per read-image reply (default 65536)
//   face_pad=<n>      filler bytes after each face's JPEG data, as firmware
//                     that pads its pages sends them
//   page_ms=<n>       time the mechanism takes to bring each face
//   jam_at=<k>        sheet k jams: its first read answers device code 2
//   double_at=<k>     sheet k is a double feed: with multifeed detection on
//                     in the record its first read answers device code 4,
//                     without it the sheet is read as any other
//   code_at=<k>, code=<c>
//                     sheet k's first read answers device code c
//   cover_open_at=<k> the cover opens at sheet k: device code 1
//   stop_at=<k>       the first piece of sheet k asks the host to stop
//   gone_at=<k>       the device leaves the bus after the first piece of
//                     sheet k: every later transfer answers NO_DEVICE
//   param=<addr>:<hex>[,<addr>:<hex>...]
//                     maintenance parameters the device starts with (the
//                     others read as zeros); writes replace them
//   state=<path>      maintenance parameters kept in this file, shared by
//                     every process that simulates the device (default: in
//                     memory); param= seeds a new file
//   firmware=<b21>,<b22>
//                     the name reply grows to 32 bytes with these two
//                     firmware bytes at 21 and 22
//   connect_after=<n> the first n handshakes are refused
//   button=<path>     the scan button is held while this file exists; its
//                     presses and releases come as interrupt packets 0A 01
//                     and 0A 00
//
// A face as the firmware streams it: its frame header was written before
// the page's length was known and holds the window's size; it sits where
// the host writes the real size (height at byte 230, width at 232) from the
// status of the face's last piece.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <deque>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "interrupt_button.h"
#include "model_catalog.h"
#include "sheet_face.h"
#include "sim_model.h"
#include "state_file.h"
#include "test_pages.h"

namespace {

using dravn_sim::SimDeviceModel;
using dravn_sim::SimDeviceSpec;
using Bytes = std::vector<uint8_t>;
using dravn_sim::SheetFace;

constexpr uint8_t kMark = 0x82;
constexpr size_t kRecordSize = 64;
constexpr size_t kFrameSizeAt = 230;
constexpr long kMaxPixels = 60000;
// Read-image page flags.
constexpr uint8_t kPageEnd = 0x01, kStopRequested = 0x04, kNoFurtherPage = 0x08, kBackFace = 0x80;

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void SetLe16(uint8_t* p, uint32_t v) { p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8); }
void SetLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

class SelkoModel : public SimDeviceModel {
 public:
  explicit SelkoModel(const SimDeviceSpec& spec) : SimDeviceModel(spec), m_state(Param("state")) {
    for (const char* key :
         {"handshake", "status_code", "not_ready", "not_ready_cmd", "sheets", "page_dpi", "quality", "piece",
          "face_pad", "page_ms", "jam_at", "double_at", "code_at", "code", "cover_open_at", "stop_at", "gone_at", "connect_after"})
      ParamInt(key, 0);
    m_refusals = ParamInt("connect_after", 0);
    LoadParams();
    m_sheetsLeft = ParamInt("sheets", 0);
    m_notReady = ParamInt("not_ready", 0);
    std::string name = Param("name");
    if (name.empty())
      for (const auto& m : dravn::kSelkoModels)
        if (m.productId == spec.productId) name = m.deviceName;
    m_name.assign(16, ' ');
    memcpy(m_name.data(), name.data(), std::min<size_t>(name.size(), 16));
    m_record.assign(kRecordSize, 0);
  }

  int InterruptIn(uint8_t* data, int length) override {
    return m_gone ? LIBUSB_ERROR_NO_DEVICE : m_button.Read(data, length);
  }

  int BulkOut(const uint8_t* data, int length) override {
    if (m_gone) return LIBUSB_ERROR_NO_DEVICE;
    if (m_expectOut > 0) {
      const size_t n = std::min<size_t>(static_cast<size_t>(length), m_expectOut - m_out.size());
      m_out.insert(m_out.end(), data, data + n);
      if (m_out.size() == m_expectOut) {
        m_expectOut = 0;
        OnCommand(m_code, m_sub, m_out);
      }
      return static_cast<int>(n);
    }
    if (length == 2 && data[0] == 0x97 && data[1] == 0x17) {
      uint8_t reply = static_cast<uint8_t>(ParamInt("handshake", kMark));
      if (m_refusals > 0) --m_refusals, reply = 0;
      m_connected = reply == kMark;
      m_in.clear();
      Reply({reply});
      return length;
    }
    // Outside a connection, or not a header: the pipe stalls.
    if (!m_connected || length != 8 || data[0] != kMark) return LIBUSB_ERROR_PIPE;
    m_code = data[1], m_sub = data[2];
    m_expectOut = Le32(data + 4);
    m_out.clear();
    if (m_expectOut == 0) OnCommand(m_code, m_sub, m_out);
    return length;
  }

  // A port reset ends the exchange under way; the connection stays.
  void Reset() override {
    m_in.clear();
    m_out.clear();
    m_expectOut = 0;
  }

  int BulkIn(uint8_t* data, int length) override {
    if (m_gone) return LIBUSB_ERROR_NO_DEVICE;
    if (m_in.empty()) return LIBUSB_ERROR_TIMEOUT;
    Bytes& head = m_in.front();
    const size_t n = std::min(head.size(), static_cast<size_t>(length));
    memcpy(data, head.data(), n);
    head.erase(head.begin(), head.begin() + static_cast<long>(n));
    if (head.empty()) m_in.pop_front();
    return static_cast<int>(n);
  }

 private:
  struct Piece {
    Bytes status;
    Bytes data;
    bool goneAfter = false;
  };

  void Reply(Bytes bytes) { m_in.push_back(std::move(bytes)); }

  // The parameters a device kept from an earlier process win over param=.
  void LoadParams() {
    const Bytes stored = m_state.Load();
    if (!stored.empty()) {
      for (size_t at = 0; at + 4 <= stored.size();) {
        const uint16_t address = static_cast<uint16_t>(stored[at] | stored[at + 1] << 8);
        const size_t n = stored[at + 2] | stored[at + 3] << 8;
        at += 4;
        if (at + n > stored.size()) break;
        m_maintenance[address] = Bytes(stored.begin() + at, stored.begin() + at + n);
        at += n;
      }
      return;
    }
    std::stringstream list(Param("param"));
    std::string item;
    while (std::getline(list, item, ',')) {
      const size_t colon = item.find(':');
      if (colon == std::string::npos) continue;
      Bytes value;
      for (size_t i = colon + 1; i + 1 < item.size(); i += 2)
        value.push_back(static_cast<uint8_t>(strtoul(item.substr(i, 2).c_str(), nullptr, 16)));
      m_maintenance[static_cast<uint16_t>(strtoul(item.substr(0, colon).c_str(), nullptr, 0))] = value;
    }
    SaveParams();
  }

  // Records of 16-bit address, 16-bit length and the bytes.
  void SaveParams() {
    Bytes stored;
    for (const auto& [address, value] : m_maintenance) {
      const size_t n = value.size();
      stored.insert(stored.end(), {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                                   static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
      stored.insert(stored.end(), value.begin(), value.end());
    }
    m_state.Save(stored);
  }

  Bytes Status(uint8_t code, uint32_t length = 0) const {
    Bytes s(16, 0);
    s[0] = code;
    SetLe32(s.data() + 4, length);
    return s;
  }
  void Answer(uint8_t code, Bytes data = {}) {
    Reply(Status(code, static_cast<uint32_t>(data.size())));
    if (!data.empty()) Reply(std::move(data));
  }

  void OnCommand(uint8_t code, uint8_t sub, const Bytes& out) {
    const long only = ParamInt("not_ready_cmd", -1);
    if (m_notReady > 0 && (only < 0 || only == (code << 8 | sub))) {
      --m_notReady;
      Bytes s = Status(code);
      s[3] = 1;
      return Reply(s);
    }
    switch (code << 8 | sub) {
      case 0x2803: {
        Bytes name = m_name;
        const std::string firmware = Param("firmware");
        int b21 = 0, b22 = 0;
        if (sscanf(firmware.c_str(), "%i,%i", &b21, &b22) == 2) {
          name.resize(32, 0);
          name[21] = static_cast<uint8_t>(b21), name[22] = static_cast<uint8_t>(b22);
        }
        return Answer(code, name);
      }
      case 0x2804: {
        Bytes state(8, 0);
        state[0] = static_cast<uint8_t>(ParamInt("status_code", Param("cover") == "open" ? 1
                                                                : m_sheetsLeft > 0       ? 0
                                                                                         : 3));
        return Answer(code, state);
      }
      case 0x2806:
        return OnRead();
      case 0x1407:
        m_scanning = true;
        m_facesLeft = Le32(m_record.data() + 16);  // 0: until the hopper is empty
        m_pieces.clear();
        return Answer(code);
      case 0x1408:
        m_scanning = false;
        m_pieces.clear();
        return Answer(code);
      case 0x141D:
        m_connected = false;
        return Answer(code);
      case 0x2A0B: {
        if (out.size() != kRecordSize) {
          Bytes s = Status(code);
          s[2] = 1;
          return Reply(s);
        }
        m_record = out;
        return Answer(code);
      }
      case 0x2812: {
        if (out.size() != 4) break;
        Bytes value = m_maintenance[static_cast<uint16_t>(out[0] | out[1] << 8)];
        value.resize(out[2], 0);
        return Answer(code, value);
      }
      case 0x2A12: {
        if (out.size() < 4) break;
        const size_t n = out[2] | out[3] << 8;
        if (out.size() != n + 4) break;
        m_maintenance[static_cast<uint16_t>(out[0] | out[1] << 8)] = Bytes(out.begin() + 4, out.end());
        SaveParams();
        return Answer(code);
      }
    }
    Bytes s = Status(code);
    s[1] = 1;  // unknown command
    Reply(s);
  }

  // --- scanning ------------------------------------------------------------

  void OnRead() {
    if (m_pieces.empty() && !(m_scanning && FeedSheet())) {
      m_scanning = false;
      Bytes s = Status(0x28);
      s[1] = kNoFurtherPage;
      s[2] = 3;  // paper empty
      return Reply(s);
    }
    Piece piece = std::move(m_pieces.front());
    m_pieces.pop_front();
    SetLe32(piece.status.data() + 4, static_cast<uint32_t>(piece.data.size()));
    Reply(std::move(piece.status));
    if (!piece.data.empty()) Reply(std::move(piece.data));
    if (piece.goneAfter) m_gone = true;
  }

  Bytes ReadStatus(uint8_t flags, uint8_t code) const {
    Bytes s = Status(0x28);
    s[1] = flags;
    s[2] = code;
    return s;
  }

  bool FeedSheet() {
    if (m_sheetsLeft <= 0) return false;
    const bool both = m_record[1] != 0;
    const long faces = both ? 2 : 1;
    if (m_facesLeft != 0 && m_facesLeft < static_cast<uint32_t>(faces)) return false;
    --m_sheetsLeft;
    ++m_sheetNo;
    if (m_facesLeft != 0) m_facesLeft -= static_cast<uint32_t>(faces);
    const long pageMs = ParamInt("page_ms", 0);

    uint8_t code = 0;
    if (ParamInt("jam_at", 0) == m_sheetNo) code = 2;
    if (ParamInt("double_at", 0) == m_sheetNo && m_record[3]) code = 4;
    if (ParamInt("cover_open_at", 0) == m_sheetNo) code = 1;
    if (ParamInt("code_at", 0) == m_sheetNo) code = static_cast<uint8_t>(ParamInt("code", 5));
    if (code) {
      m_scanning = false;
      m_pieces.push_back({ReadStatus(0, code), {}, false});
      return true;
    }
    // The last sheet of the hopper, or of the count the record asked for.
    const bool last = m_sheetsLeft == 0 || (Le32(m_record.data() + 16) != 0 && m_facesLeft == 0);
    const size_t pieceSize = static_cast<size_t>(std::max(1L, ParamInt("piece", 65536)));
    for (long f = 0; f < faces; ++f) {
      if (pageMs > 0) Wait(std::chrono::milliseconds(pageMs));
      const bool back = f == 1;
      int width = 0, height = 0;
      Bytes data = EncodeFace(back, &width, &height);
      data.resize(data.size() + static_cast<size_t>(std::max(0L, ParamInt("face_pad", 0))), 0);
      for (size_t at = 0; at < data.size(); at += pieceSize) {
        const size_t n = std::min(pieceSize, data.size() - at);
        const bool end = at + n == data.size();
        uint8_t flags = back ? kBackFace : 0;
        if (end) flags |= kPageEnd;
        if (end && f == faces - 1 && last) flags |= kNoFurtherPage;
        if (at == 0 && f == 0 && ParamInt("stop_at", 0) == m_sheetNo) flags |= kStopRequested;
        Piece piece{ReadStatus(flags, 0),
                    Bytes(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n)),
                    at == 0 && f == 0 && ParamInt("gone_at", 0) == m_sheetNo};
        if (end) {
          SetLe16(piece.status.data() + 8, static_cast<uint32_t>(width));
          SetLe16(piece.status.data() + 12, static_cast<uint32_t>(height));
          SetLe16(piece.status.data() + 14, 1);  // a whole page
        }
        m_pieces.push_back(std::move(piece));
      }
    }
    if (last) m_scanning = false;
    return true;
  }

  // The window of the record, sampled from the sheet's page. With
  // automatic size the device over-scans the sheet on its white backing,
  // where the page edge shows as a faint shadow, the guides centring the
  // sheet across the window. Otherwise the feeder centres a page narrower
  // than its widest window and the host's left offset carries that centring.
  Bytes EncodeFace(bool back, int* faceWidth, int* faceHeight) {
    const long R = std::max<long>(1, Le32(m_record.data() + 20)), V = std::max<long>(1, Le32(m_record.data() + 24));
    const long left = Le32(m_record.data() + 28), top = Le32(m_record.data() + 32);
    const long windowWidth = std::clamp<long>(Le32(m_record.data() + 36), 16, kMaxPixels);
    const long windowLength = std::clamp<long>(Le32(m_record.data() + 40), 16, kMaxPixels);
    const long widest = R == 300 ? 2550 : 5100;
    const bool automatic = m_record[4] != 0;

    bool page = false;
    const std::string pattern = Param("pages");
    if (!pattern.empty()) {
      char path[4096];
      snprintf(path, sizeof path, pattern.c_str(), static_cast<int>(2 * m_sheetNo - (back ? 0 : 1)));
      page = m_sheet.Load(path);
    }
    const long dpi = std::max(1L, ParamInt("page_dpi", 300));
    const long pageWidth = page ? m_sheet.PageWidth(dpi, R) : windowWidth;
    const long pageLength = page ? m_sheet.PageLength(dpi, V) : windowLength;
    SheetFace::Layout layout;
    if (automatic && page) {
      // The firmware reads 936/1200 inch more than the sheet, half of it
      // before the leading edge, beyond the window's length if need be.
      const long margin = 468 * V / 1200;
      layout = SheetFace::Centred(windowWidth, windowLength + 2 * margin, pageWidth, pageLength, margin, Skew());
    } else {
      layout.left = -(left - (pageWidth < widest ? widest / 2 - pageWidth / 2 : 0));
      layout.top = -top;
      layout.width = windowWidth;
      layout.height = std::clamp(pageLength - top, 16L, windowLength);
    }
    layout.dpi = dpi, layout.resX = R, layout.resY = V;
    const dravn_pages::Image& face = automatic && page
                                         ? m_sheet.DrawOnBacking(layout, SheetFace::StretchedLevels({pageWidth, pageLength, Skew(), true, back}))
                                         : m_sheet.Draw(layout, 0xFF);
    *faceWidth = face.width;
    *faceHeight = face.height;
    Bytes jpeg = dravn_pages::EncodeJpeg(face, false, static_cast<int>(std::clamp(ParamInt("quality", 85), 1L, 100L)));
    return PlaceFrameHeader(jpeg, static_cast<uint32_t>(windowWidth), static_cast<uint32_t>(windowLength));
  }

  double Skew() const { return strtod(Param("skew", "0").c_str(), nullptr); }

  // Moves the frame header to where the host writes the page size (a
  // comment segment in front of it) and writes the window's size into it.
  static Bytes PlaceFrameHeader(const Bytes& jpeg, uint32_t width, uint32_t length) {
    size_t sof = 0;
    for (size_t pos = 2; pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF;) {
      if (jpeg[pos + 1] == 0xC0) {
        sof = pos;
        break;
      }
      if (jpeg[pos + 1] == 0xDA) break;
      pos += 2 + (jpeg[pos + 2] << 8 | jpeg[pos + 3]);
    }
    const size_t want = kFrameSizeAt - 5;
    if (sof == 0 || sof + 4 > want) throw std::runtime_error("selko: frame header cannot be placed");
    Bytes out(jpeg.begin(), jpeg.begin() + static_cast<long>(sof));
    const size_t pad = want - sof;  // a comment segment of this many bytes
    out.push_back(0xFF), out.push_back(0xFE);
    out.push_back(static_cast<uint8_t>((pad - 2) >> 8)), out.push_back(static_cast<uint8_t>(pad - 2));
    out.resize(want, 0);
    out.insert(out.end(), jpeg.begin() + static_cast<long>(sof), jpeg.end());
    out[kFrameSizeAt] = static_cast<uint8_t>(length >> 8), out[kFrameSizeAt + 1] = static_cast<uint8_t>(length);
    out[kFrameSizeAt + 2] = static_cast<uint8_t>(width >> 8), out[kFrameSizeAt + 3] = static_cast<uint8_t>(width);
    return out;
  }

  std::deque<Bytes> m_in;
  Bytes m_name;
  Bytes m_record;
  Bytes m_out;
  size_t m_expectOut = 0;
  uint8_t m_code = 0, m_sub = 0;
  bool m_connected = false;
  bool m_gone = false;
  dravn_sim::InterruptButton m_button{Param("button"), 0x0A};
  long m_notReady = 0;
  dravn_sim::SimStateFile m_state;
  dravn_sim::SheetFace m_sheet;  // the page buffer and face, kept from face to face
  std::map<uint16_t, Bytes> m_maintenance;
  long m_refusals = 0;
  // The hopper and the transport.
  long m_sheetsLeft = 0;
  long m_sheetNo = 0;
  bool m_scanning = false;
  uint32_t m_facesLeft = 0;
  std::deque<Piece> m_pieces;
};

}  // namespace

DRAVN_SIM_MODEL("selko", SelkoModel)
