// A simulated scanner of the Brenna family: 12-byte command blocks arrive by
// vendor control transfer, data out and data in go by bulk, and every
// command ends with a 3-byte status carrying the block's tag (status 2: a
// sense waits). Pages go out as bare baseline scan data (three components
// at 1x1, standard Huffman tables, no markers) coded with the quantisation
// tables the host sent, in whole chunks; the last chunk of a face is padded
// and answered with the end-of-page sense, which carries the face's width
// and lines.
//
// Parameters ("set key=value"):
//   sheets=<n>         sheets in the feeder (default 0)
//   pages=<pattern>    binary PNM pages, one %d: sheet k's front is page
//                      2k-1, its back 2k; a missing file is a white page
//   page_dpi=<n>       resolution the files were rendered at (default 300);
//                      with automatic size a sheet is over-scanned on the
//                      white backing, its edges shadowed
//   skew=<degrees>     with automatic size the sheets go in turned by this
//                      angle (counter-clockwise as seen, decimals allowed)
//   flatbed=<path>     the page on the glass (default: page 1 of pages=)
//   autosize=1         the device reports automatic page-size support
//   backing=black      the lid behind the glass is black (default white)
//   cover=open         the cover is open from the start
//   cover_open_at=<k>  the cover opens before sheet k is fed
//   jam_at=<k>         sheet k jams after its first chunk (sense jam_code,
//                      default 0x8001; 0x8005 for a double feed)
//   zero_at=<k>        the first chunk of sheet k is all zero (a jammed feed)
//   sense_at=<k>       sheet k's first read answers sense code sense_code
//                      (a hardware fault, sense key 4)
//   cancel_at=<k>      the user pressed stop on the device at sheet k
//   gone_at=<k>        the device leaves the bus after sheet k's first chunk
//   inquiry_fail=<n>   the first n inquiries are refused
//   inquiry_offsets=bad the inquiry names its texts at offsets past its end
//   sense_broken=1     every request-sense command is refused
//   chunk_ms=<n>       time the mechanism takes to bring each chunk
//   button=<path>      the scan button is held while this file exists; its
//                      presses and releases come as interrupt packets 81 01
//                      and 81 00
//
// Maintenance data, changed by the host's sends (memory in state=):
//   state=<path>       read data and error record kept in this file, shared
//                      by every process that simulates the device (default:
//                      memory)
//   readdata=<file>    the 255 bytes of data type 105 (shorter files padded
//                      with zeros); on the wire bytes 0-1 carry the tag and
//                      byte 3 the length. Sends 0x0103 and 0x0104 clear
//                      bytes 4-7 and 77-80, 0x0105 and 0x0106 set bytes 74-75
//                      and 126-127, the first-read date (0x0102) bytes 38-43
//   record=<hex>       the 16-byte error record of data type 0xFFE0 (default
//                      34 35 ... 43); a read answers the tag, 01 10 and the
//                      record, cut to the length asked; send 0xFFE0 replaces it
//   firmware=<file>    the inquiry reply the firmware sends, in place of the
//                      one built from the keys above; bytes 3-4 get the
//                      file's length, which may exceed the 255 a reply holds
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "interrupt_button.h"
#include "sheet_face.h"
#include "sim_model.h"
#include "state_file.h"
#include "test_pages.h"

namespace {

using dravn_sim::SimControlSetup;
using dravn_sim::SimDeviceModel;
using dravn_sim::SimDeviceSpec;
using Bytes = std::vector<uint8_t>;
using dravn_sim::SheetFace;

uint32_t Be(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}
void SetBe(uint8_t* p, int n, uint32_t v) {
  for (int i = n - 1; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

constexpr int kFront = 0, kBack = 1;
constexpr long kMaxPixels = 40000;

class BrennaModel : public SimDeviceModel {
 public:
  explicit BrennaModel(const SimDeviceSpec& spec) : SimDeviceModel(spec) {
    for (const char* key :
         {"sheets", "page_dpi", "autosize", "cover_open_at", "jam_at", "jam_code", "zero_at", "sense_at", "sense_code",
          "cancel_at", "gone_at", "inquiry_fail", "sense_broken", "chunk_ms"})
      ParamInt(key, 0);
    m_sheetsLeft = ParamInt("sheets", 0);
    m_coverOpen = Param("cover") == "open";
    m_inquiryFailures = ParamInt("inquiry_fail", 0);
    // Annex K tables at 100 % until the host sends its own.
    m_window.assign(96, 0);
    LoadMaintenance();
  }

  int InterruptIn(uint8_t* data, int length) override {
    return m_gone ? LIBUSB_ERROR_NO_DEVICE : m_button.Read(data, length);
  }

  int Control(const SimControlSetup& s, uint8_t* data, int length) override {
    if (m_gone) return LIBUSB_ERROR_NO_DEVICE;
    if (s.requestType != 0x40 || s.request != 4 || length != 12) return LIBUSB_ERROR_PIPE;
    if (data[0] == 0xE3 && ParamInt("sense_broken", 0) == 1) return LIBUSB_ERROR_PIPE;
    if (data[0] == 0xE2 && m_inquiryFailures > 0) {
      --m_inquiryFailures;
      return LIBUSB_ERROR_PIPE;
    }
    memcpy(m_cmd, data, 12);
    m_tag = static_cast<uint16_t>(Be(m_cmd + 1, 2));
    m_in.clear();
    OnCommand();
    return length;
  }

  int BulkOut(const uint8_t* data, int length) override {
    if (m_gone) return LIBUSB_ERROR_NO_DEVICE;
    if (m_outExpected == 0) return LIBUSB_ERROR_PIPE;
    const size_t n = std::min<size_t>(static_cast<size_t>(length), m_outExpected - m_out.size());
    m_out.insert(m_out.end(), data, data + n);
    if (m_out.size() == m_outExpected) {
      m_outExpected = 0;
      OnDataOut();
    }
    return static_cast<int>(n);
  }

  int BulkIn(uint8_t* data, int length) override {
    if (m_gone) return LIBUSB_ERROR_NO_DEVICE;
    if (m_in.empty()) return LIBUSB_ERROR_TIMEOUT;
    Bytes& head = m_in.front();
    const size_t n = std::min(head.size(), static_cast<size_t>(length));
    memcpy(data, head.data(), n);
    head.erase(head.begin(), head.begin() + static_cast<long>(n));
    if (head.empty()) m_in.pop_front();
    if (m_goneAfterReply && m_in.empty()) m_gone = true;
    return static_cast<int>(n);
  }

 private:
  struct Face {
    Bytes data;  // the scan data, padded to whole chunks
    size_t sent = 0;
    uint32_t width = 0, lines = 0;
    bool ended = false;
  };

  // --- commands ------------------------------------------------------------

  void Status(uint8_t code) {
    Bytes s(3);
    SetBe(s.data(), 2, m_tag);
    s[2] = code;
    m_in.push_back(std::move(s));
  }
  void Check(uint8_t key, uint16_t code, uint32_t width = 0, uint32_t lines = 0) {
    m_sense.assign(44, 0);
    SetBe(m_sense.data(), 2, m_tag);
    m_sense[4] = 0x70;
    m_sense[5] = key;
    SetBe(m_sense.data() + 7, 2, code);
    SetBe(m_sense.data() + 21, 2, width);
    SetBe(m_sense.data() + 23, 4, lines);
    Status(2);
  }
  void Reply(Bytes bytes) { m_in.push_back(std::move(bytes)); }
  Bytes Tagged(size_t size) const {
    Bytes b(size, 0);
    if (size >= 2) SetBe(b.data(), 2, m_tag);
    return b;
  }

  void OnCommand() {
    switch (m_cmd[0]) {
      case 0xE2:
        return OnInquiry();
      case 0xE3: {
        Bytes sense = m_sense.empty() ? Bytes(44, 0) : m_sense;
        if (m_sense.empty()) sense[4] = 0x70;
        m_sense.clear();
        Reply(sense);
        return Status(0);
      }
      case 0xE4:
        return ExpectOut(m_cmd[10]);
      case 0xE6:
      case 0xE7:
        m_units.push_back(std::string(m_cmd[0] == 0xE6 ? "reserve " : "release ") + std::to_string(m_cmd[11]));
        return Status(0);
      case 0xE8: {
        if (CoverOpen()) {
          Reply(Bytes(5, 0));
          return Check(2, 0x8002);
        }
        Bytes reply(5, 0);
        reply[4] = m_sheetsLeft > 0 ? 1 : 0;  // the feeder's sensor
        Reply(reply);
        return Status(0);
      }
      case 0xAA: {
        const uint32_t type = Be(m_cmd + 3, 2);
        return ExpectOut(type == 0x81 ? Be(m_cmd + 7, 4) : m_cmd[10]);
      }
      case 0xA8:
        return OnRead();
    }
    Status(0x01);
  }

  void ExpectOut(uint32_t length) {
    m_out.clear();
    m_outExpected = length;
    if (length == 0) OnDataOut();
  }

  void OnDataOut() {
    if (m_out.size() >= 2 && Be(m_out.data(), 2) != m_tag) return Status(0x01);
    if (m_cmd[0] == 0xE4) {
      m_window = m_out;
      m_window.resize(96, 0);
    } else if (m_cmd[0] == 0xAA) {
      const uint32_t type = Be(m_cmd + 3, 2);
      if (type == 0x8B && m_out.size() == 132) m_tables.assign(m_out.begin() + 4, m_out.end());
      // The automatic-size switch: 0x78 in byte 7 turns it on.
      if (type == 0x95 && m_out.size() >= 8) m_autoSize = m_out[7] != 0;
      if (type == 0xFFE0) ++m_errorRecordsWritten;
      OnMaintenanceSend(type);
    }
    Status(0);
  }

  void OnInquiry() {
    if (!Param("firmware").empty()) {
      Bytes reply = ReadFile(Param("firmware"), "firmware");
      reply.resize(std::max<size_t>(reply.size(), 5), 0);
      SetBe(reply.data() + 3, 2, static_cast<uint32_t>(reply.size()));
      reply.resize(std::min<size_t>(reply.size(), m_cmd[10]));
      Reply(reply);
      return Status(0);
    }
    Bytes reply(128, 0);
    SetBe(reply.data() + 3, 2, 120);
    const bool bad = Param("inquiry_offsets") == "bad";
    SetBe(reply.data() + 10, 2, bad ? 0xFFF0 : 64);
    SetBe(reply.data() + 12, 2, bad ? 118 : 90);
    const std::string product = "BrennaB700";
    memcpy(reply.data() + 64, product.data(), product.size());
    memcpy(reply.data() + 90, "1.02", 4);
    SetBe(reply.data() + 24, 3, 0x22A4 / 2);
    SetBe(reply.data() + 27, 3, 0x1440 / 2);
    if (ParamInt("autosize", 0) == 1) reply[109] = reply[110] = reply[111] = 1;
    reply.resize(std::min<size_t>(reply.size(), m_cmd[10]));
    Reply(reply);
    Status(0);
  }

  void OnRead() {
    const uint32_t type = Be(m_cmd + 3, 2);
    switch (type) {
      case 0x0060:
        Reply(Tagged(36));
        return Status(0);
      case 0x00B2:
        Reply(Tagged(7));
        return Status(0);
      case 0xFFE0: {
        Bytes record = Tagged(4);
        record[2] = 0x01, record[3] = 0x10;
        record.insert(record.end(), m_record.begin(), m_record.end());
        record.resize(m_cmd[10]);
        Reply(record);
        return Status(0);
      }
      case 0x0069: {
        Bytes data = m_readData;
        SetBe(data.data(), 2, m_tag);
        data[3] = static_cast<uint8_t>(data.size());
        data.resize(std::min<size_t>(data.size(), m_cmd[10]));
        Reply(data);
        return Status(0);
      }
      case 0x0000:
        return OnPageRead(Be(m_cmd + 8, 3));
    }
    Reply(Tagged(m_cmd[10]));
    Status(0);
  }

  // --- maintenance data ------------------------------------------------------

  static constexpr size_t kReadDataSize = 255, kRecordSize = 16;

  static Bytes ReadFile(const std::string& path, const char* key) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(std::string("brenna: cannot read ") + key + " file " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  void LoadMaintenance() {
    Bytes stored = m_state.Load();
    if (stored.size() == kRecordSize + kReadDataSize) {
      m_record.assign(stored.begin(), stored.begin() + kRecordSize);
      m_readData.assign(stored.begin() + kRecordSize, stored.end());
      return;
    }
    m_readData = Param("readdata").empty() ? Bytes() : ReadFile(Param("readdata"), "readdata");
    m_readData.resize(kReadDataSize, 0);
    m_record.clear();
    const std::string hex = Param("record");
    for (size_t i = 0; i + 1 < hex.size() && m_record.size() < kRecordSize; i += 2)
      m_record.push_back(static_cast<uint8_t>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    if (hex.empty())
      for (size_t i = 0; i < kRecordSize; ++i) m_record.push_back(static_cast<uint8_t>(0x34 + i));
    m_record.resize(kRecordSize, 0);
    SaveMaintenance();  // a new device's memory exists from power-on
  }

  void SaveMaintenance() {
    Bytes stored = m_record;
    stored.insert(stored.end(), m_readData.begin(), m_readData.end());
    m_state.Save(stored);
  }

  // The sends that change the maintenance data; the data starts with the
  // tag and two bytes of its own.
  void OnMaintenanceSend(uint32_t type) {
    const Bytes& d = m_out;
    auto put = [&](size_t at, size_t from, size_t n) {
      if (d.size() >= from + n) std::copy(d.begin() + static_cast<long>(from), d.begin() + static_cast<long>(from + n),
                                          m_readData.begin() + static_cast<long>(at));
    };
    switch (type) {
      case 0x0103:
        std::fill(m_readData.begin() + 4, m_readData.begin() + 8, 0);
        break;
      case 0x0104:
        std::fill(m_readData.begin() + 77, m_readData.begin() + 81, 0);
        break;
      case 0x0105:
        put(74, 4, 2);
        break;
      case 0x0106:
        put(126, 4, 2);
        break;
      case 0x0102:
        put(38, 4, 6);
        break;
      case 0xFFE0:
        if (d.size() >= 4 + kRecordSize) m_record.assign(d.begin() + 4, d.begin() + 4 + kRecordSize);
        break;
      default:
        return;
    }
    SaveMaintenance();
  }

  // --- pages ---------------------------------------------------------------

  bool Feeder() const { return m_window[44] != 0; }
  bool CoverOpen() const { return m_coverOpen || (m_coverAt > 0 && m_sheetNo + 1 >= m_coverAt); }

  void OnPageRead(uint32_t chunk) {
    if (chunk == 0 || chunk > (1u << 24)) return Status(0x01);
    const long chunkMs = ParamInt("chunk_ms", 0);
    if (chunkMs > 0) Wait(std::chrono::milliseconds(chunkMs));
    if (m_faces.empty() || AllEnded()) {
      if (!StartSheet(chunk)) return;
    }
    if (m_fault) {
      const uint16_t code = m_faultCode;
      const uint8_t key = m_faultKey;
      m_fault = false;
      m_faces.clear();
      Reply(Bytes(chunk, 0));
      return Check(key, code);
    }
    // Faces of a duplex sheet alternate on the one block, front first; an
    // ended face is skipped.
    if (m_faces[m_turn].ended) m_turn ^= 1;
    Face& f = m_faces[m_turn];
    Bytes out(chunk, 0);
    const size_t n = std::min<size_t>(chunk, f.data.size() - f.sent);
    memcpy(out.data(), f.data.data() + f.sent, n);
    const bool firstChunk = f.sent == 0;
    f.sent += chunk;
    Reply(out);
    if (firstChunk && m_jamAfterFirst) {
      m_jamAfterFirst = false;
      m_fault = true;
      m_faultKey = 3;
      m_faultCode = static_cast<uint16_t>(ParamInt("jam_code", 0x8001));
    }
    if (firstChunk && m_goneAfterFirst) m_goneAfterReply = true;
    if (f.sent >= f.data.size()) {
      f.ended = true;
      Check(3, 0x8004, f.width, f.lines);
    } else {
      Status(0);
    }
    if (m_faces.size() == 2) m_turn ^= 1;
  }

  bool AllEnded() const {
    for (const Face& f : m_faces)
      if (!f.ended) return false;
    return true;
  }

  // Feeds the next sheet (or takes the page on the glass); false when the
  // read was answered already (no paper, cover open).
  bool StartSheet(uint32_t chunk) {
    m_faces.clear();
    m_turn = 0;
    if (CoverOpen()) {
      Reply(Bytes(chunk, 0));
      Check(2, 0x8002);
      return false;
    }
    if (Feeder()) {
      if (m_sheetsLeft <= 0) {
        Reply(Bytes(chunk, 0));
        Check(2, 0x8003);
        return false;
      }
      --m_sheetsLeft;
    }
    ++m_sheetNo;
    const uint8_t side = m_window[44];
    std::vector<int> sides = side == 4   ? std::vector<int>{kFront, kBack}
                             : side == 5 ? std::vector<int>{kBack}
                                         : std::vector<int>{kFront};
    for (int s : sides) m_faces.push_back(MakeFace(s, chunk));
    if (ParamInt("zero_at", 0) == m_sheetNo)
      std::fill(m_faces[0].data.begin(), m_faces[0].data.begin() + std::min<size_t>(chunk, m_faces[0].data.size()), 0);
    if (ParamInt("jam_at", 0) == m_sheetNo) m_jamAfterFirst = true;
    if (ParamInt("gone_at", 0) == m_sheetNo) m_goneAfterFirst = true;
    if (ParamInt("sense_at", 0) == m_sheetNo) {
      m_fault = true;
      m_faultKey = 4;
      m_faultCode = static_cast<uint16_t>(ParamInt("sense_code", 0x4401));
    }
    if (ParamInt("cancel_at", 0) == m_sheetNo) {
      m_fault = true;
      m_faultKey = 0x0B;
      m_faultCode = 0;
    }
    m_coverAt = ParamInt("cover_open_at", 0);
    return true;
  }

  Face MakeFace(int side, uint32_t chunk) {
    const uint8_t* w = m_window.data();
    const int R = std::max<int>(1, static_cast<int>(Be(w + 23, 2)));
    const int V = std::max<int>(1, static_cast<int>(Be(w + 25, 2)));
    const long width = std::clamp<long>(Be(w + 27, 4), 16, kMaxPixels);
    const long length = std::clamp<long>(Be(w + 31, 4), 16, kMaxPixels);
    const long left = Be(w + 7, 4), top = Be(w + 11, 4);

    bool page = false;
    std::string path;
    if (!Feeder() && !Param("flatbed").empty()) {
      path = Param("flatbed");
    } else if (!Param("pages").empty()) {
      char name[4096];
      snprintf(name, sizeof name, Param("pages").c_str(), static_cast<int>(2 * m_sheetNo - (side == kFront)));
      path = name;
    }
    if (!path.empty()) page = m_sheet.Load(path);
    const long dpi = std::max(1L, ParamInt("page_dpi", 300));
    const long pageW = page ? m_sheet.PageWidth(dpi, R) : width;
    const long pageL = page ? m_sheet.PageLength(dpi, V) : length;
    SheetFace::Layout layout;
    if (Feeder() && m_autoSize && page) {
      // Automatic size: the sheet over-scanned on the white backing, its
      // edge a faint shadow, centred by the guides across the window; the
      // sheet enters 6.5 mm below the face's top, and the face runs on as
      // far past its end, as long as the window lets it.
      layout = SheetFace::Centred(width, length, pageW, pageL, V * 65 / 254, Skew());
    } else {
      // The feeder centres the page in its widest window; the host's left
      // offset carries that centring.
      layout.left = -left;
      if (Feeder()) {
        const long widest = R > 300 ? 5104 : 2560;
        layout.left = -(left - (widest / 2 - (((pageW + 15) & ~15L) >> 1)));
      }
      layout.top = -top;
      layout.width = width;
      layout.height = std::max(16L, Feeder() ? std::min(length, pageL - top) : length);
    }
    layout.dpi = dpi, layout.resX = R, layout.resY = V;
    const uint8_t backing = !Feeder() && Param("backing") == "black" ? 0 : 0xFF;
    const dravn_pages::Image& face = Feeder() && m_autoSize && page
                                         // Both lamps face the trailing edge.
                                         ? m_sheet.DrawOnBacking(layout, {pageW, pageL, Skew(), true, false})
                                         : m_sheet.Draw(layout, backing);
    const long lines = face.height;
    Face f;
    f.width = static_cast<uint32_t>(width);
    f.lines = static_cast<uint32_t>(lines);
    f.data = Encode(face);
    f.data.resize((f.data.size() + chunk - 1) / chunk * chunk, 0);
    return f;
  }

  double Skew() const { return strtod(Param("skew", "0").c_str(), nullptr); }

  struct JumpingError {
    jpeg_error_mgr pub;
    jmp_buf jump;
  };

  // The face coded as the firmware codes it, markers stripped: what follows
  // the start-of-scan header up to the end-of-image marker.
  Bytes Encode(const dravn_pages::Image& image) {
    jpeg_compress_struct cinfo;
    JumpingError err;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) { longjmp(reinterpret_cast<JumpingError*>(c->err)->jump, 1); };
    if (setjmp(err.jump)) {
      jpeg_destroy_compress(&cinfo);
      free(out);
      return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    cinfo.write_JFIF_header = FALSE;
    for (int c = 0; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    unsigned int table[64];
    for (int t = 0; t < 2; ++t) {
      for (int k = 0; k < 64; ++k) table[k] = m_tables.size() == 128 ? m_tables[64 * t + k] : 50;
      jpeg_add_quant_table(&cinfo, t, table, 100, TRUE);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = const_cast<uint8_t*>(image.Row(static_cast<int>(cinfo.next_scanline)));
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes stream(out, out + size);
    jpeg_destroy_compress(&cinfo);
    free(out);
    for (size_t pos = 2; pos + 4 <= stream.size();) {
      const size_t length = Be(stream.data() + pos + 2, 2);
      if (stream[pos + 1] == 0xDA) {
        Bytes data(stream.begin() + static_cast<long>(pos + 2 + length), stream.end());
        if (data.size() >= 2) data.resize(data.size() - 2);  // FF D9
        return data;
      }
      pos += 2 + length;
    }
    return {};
  }

  dravn_sim::SimStateFile m_state{Param("state")};
  Bytes m_readData;
  Bytes m_record;
  uint8_t m_cmd[12] = {};
  uint16_t m_tag = 0;
  std::deque<Bytes> m_in;
  Bytes m_out;
  size_t m_outExpected = 0;
  Bytes m_window;
  Bytes m_tables;
  Bytes m_sense;
  std::vector<std::string> m_units;
  int m_errorRecordsWritten = 0;
  long m_sheetsLeft = 0;
  long m_sheetNo = 0;
  long m_coverAt = 0;
  bool m_coverOpen = false;
  long m_inquiryFailures = 0;
  std::vector<Face> m_faces;
  SheetFace m_sheet;  // the page buffer and face, kept from face to face
  bool m_autoSize = false;
  int m_turn = 0;
  bool m_fault = false;
  uint8_t m_faultKey = 0;
  uint16_t m_faultCode = 0;
  bool m_jamAfterFirst = false;
  bool m_goneAfterFirst = false;
  bool m_goneAfterReply = false;
  bool m_gone = false;
  dravn_sim::InterruptButton m_button{Param("button"), 0x81};
};

}  // namespace

DRAVN_SIM_MODEL("brenna", BrennaModel)
