// A simulated scanner of the Selko2 family: the 16-byte command block
// protocol with its 32-, 64- and 108-byte status records, the lock the
// scanner keeps for one owner, the 288-byte NVRAM, and scanning: sheets fed
// from the feeder, each face sent as baseline JPEG in blocks that the host
// asks for one "Read" at a time.
//
// Parameters ("set key=value"):
//   state=<path>      NVRAM and lock owner kept in this file, shared by every
//                     process that simulates the device (default: in memory)
//   lock_owner=<text> the lock is held by this owner when the device starts
//                     with no stored owner (another host's identifier)
//   cover=open        the cover-open condition bit is set
//   paper=no          the paper-present condition bit is clear
//   nvram_year, nvram_month, nvram_day
//                     first-read date of a new NVRAM (default 0: unset)
//   status_code=<n>   status code of every hardware-status reply (default 0)
//   owner_reply=<text> the lock-owner read answers this text (zero-padded to
//                     40 bytes) instead of the owner the device keeps
//   button=<path>     the scan button is held while this file exists
//   sleep_min=<n>, autooff_min=<n>  the sleep and auto-off timers (minutes)
//                     of a new device; timer writes change them, kept beside
//                     state= in "<path>-timers"
//   firmware=<b24>,<b26>  bytes 24 and 26 of the firmware record
//
// Scanning:
//   sheets=<n>        sheets in the feeder; the paper-present bit then says
//                     whether any is left (without it a scan finds none)
//   pages=<pattern>   binary PNM files (P6 or P5) of the pages, a printf
//                     pattern with one %d: the front of sheet k is page
//                     2k-1, its back page 2k. A missing file is a white page.
//   page_dpi=<n>      resolution the files were rendered at (default 300);
//                     the firmware samples them at the window's resolution;
//                     with automatic size a page is over-scanned on a white
//                     backing, its edges shadowed
//   page_shadow=0     the page files carry their own backing and shadow
//   skew=<degrees>    with automatic size the sheets go in turned by this
//                     angle (counter-clockwise as seen, decimals allowed)
//   format=grey       faces go out as grey JPEG (image format 3) instead of
//                     colour (format 1)
//   quality=<n>       JPEG quality, 1-100 (default 85)
//   image_format=<n>  image-format byte of the block statuses (default 1,
//                     with format=grey 3), as firmware that marks its faces
//                     otherwise sends it
//   block=<n>         image bytes per block (default 65536)
//   back_first=1      a duplex sheet sends its back face before its front
//   face_pad=<n>      filler bytes after the end of each face's JPEG data,
//                     as firmware that pads its last block sends them
//   block_width=<n>   the width every block status but a face's last gives
//                     (0 by default, as the firmware leaves it)
//   page_ms=<n>       time the mechanism takes to bring each face
//   jam_at=<k>        sheet k jams after its first block: a block status
//                     8194 with 1000 bytes that follow it
//   cover_open_at=<k> the cover opens as sheet k starts: block status 8201
//   silent_at=<k>     the device falls silent after the status of the first
//                     block of sheet k: its data never comes, commands are
//                     taken but never answered, every bulk IN times out
//   gone_at=<k>       the device leaves the bus (and loses its lock, as at
//                     power-off) after the first block of
//                     sheet k: every later transfer answers NO_DEVICE
//
// A face as the firmware streams it: its JPEG header was written before the
// sheet's length was known, so the frame header carries the window's width
// and length, the restart interval is 0 although every MCU row ends in a
// restart marker, and the density carries no unit. The last block status of
// the face gives the real width and height; the host mends the header.
//
// A data phase follows the 32-byte status of its command: out for Set
// Window, Set Nvram, Lock and Unlock, in for Get Nvram and the lock-owner
// read. A command block that is not 16 bytes with the signature stalls the
// pipe, as the firmware does with garbage.
// clang-format off
#include <cstddef>
#include <cstdio>
// clang-format on

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "sheet_face.h"
#include "sim_model.h"
#include "state_file.h"
#include "test_pages.h"

namespace {

using dravn_sim::SimDeviceModel;
using dravn_sim::SimDeviceSpec;
using Bytes = std::vector<uint8_t>;
using dravn_sim::SheetFace;

constexpr uint32_t kSignature = 0x230;
constexpr size_t kNvramSize = 288;
constexpr size_t kOwnerSize = 40;
constexpr size_t kWindowSize = 260;
// Answer to a command the firmware does not know.
constexpr uint32_t kInvalidCommand = 8207;
// Block-status codes.
constexpr uint32_t kEndOfSide = 4101;
constexpr uint32_t kEndOfSideNoPaper = 4102;
constexpr uint32_t kJam = 8194;
constexpr uint32_t kCoverOpen = 8201;
constexpr uint32_t kNoPaper = 8206;
constexpr uint32_t kFirmwareFault = 8213;
constexpr uint32_t kJamBytes = 1000;
constexpr uint8_t kFront = 1, kBack = 0;
// No window or page is wider or longer than this many pixels.
constexpr long kMaxPixels = 160000;

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void SetLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

class Selko2Model : public SimDeviceModel {
 public:
  explicit Selko2Model(const SimDeviceSpec& spec) : SimDeviceModel(spec), m_state(Param("state")) {
    m_coverOpen = Param("cover") == "open";
    m_paper = Param("paper", "yes") != "no";
    m_statusCode = static_cast<uint32_t>(ParamInt("status_code", 0));
    m_feeder = !Param("sheets").empty();
    m_sheetsLeft = ParamInt("sheets", 0);
    for (const char* key : {"nvram_year", "nvram_month", "nvram_day"}) {
      long v = ParamInt(key, 0);
      if (v < 0 || v > 255) throw std::runtime_error(std::string("selko2: bad ") + key);
    }
    // Every numeric key is read once now, so that a value that is not a
    // number is reported when the scenario is loaded.
    for (const char* key : {"status_code", "page_dpi", "quality", "image_format", "block", "face_pad", "block_width", "page_ms",
                            "jam_at", "cover_open_at", "silent_at", "gone_at", "back_first", "page_shadow"})
      ParamInt(key, 0);
    CheckPages();
    LoadMemory();  // a new device's memory exists from power-on
    uint32_t sleepMin, autoOffMin;
    LoadTimers(&sleepMin, &autoOffMin);
    SaveTimers(sleepMin, autoOffMin);
  }

  int BulkOut(const uint8_t* data, int length) override {
    if (m_gone) return LIBUSB_ERROR_NO_DEVICE;
    if (m_dataOut.expected > 0) return TakeDataOut(data, length);
    if (m_silent) return length;  // taken, never answered
    if (length != 16 || Le32(data) != kSignature) return LIBUSB_ERROR_PIPE;
    OnCommand(data[4], data[6], Le16(data + 8), Le32(data + 12));
    return length;
  }

  // A port reset ends the exchange under way; a scan under way stops.
  void Reset() override {
    StopTransport();
    m_dataOut = PendingOut{};
  }

  // The next reply, or what is left of it: a transfer never runs into the
  // following reply, as a short packet ends it on the wire.
  int BulkIn(uint8_t* data, int length) override {
    if (m_gone) return LIBUSB_ERROR_NO_DEVICE;
    if (m_in.empty()) return LIBUSB_ERROR_TIMEOUT;
    Bytes& head = m_in.front();
    size_t n = std::min(head.size(), static_cast<size_t>(length));
    memcpy(data, head.data(), n);
    head.erase(head.begin(), head.begin() + static_cast<long>(n));
    if (head.empty()) m_in.pop_front();
    return static_cast<int>(n);
  }

 private:
  enum class DataOut { None, Window, Nvram, Lock, Unlock, Timer };
  struct PendingOut {
    DataOut kind = DataOut::None;
    size_t expected = 0;
    Bytes bytes;
  };

  void OnCommand(uint8_t opcode, uint8_t sub, uint16_t param, uint32_t length) {
    if (OnButtonCommand(opcode, sub, param, length)) return;
    if (OnMaintenanceCommand(opcode, sub, param, length)) return;
    switch (opcode << 8 | sub) {
      case 0x1202:
        return Reply(HardwareStatus());
      case 0x127A:
        return Reply(HardwareStatusExt());
      case 0x1404:
        return Reply(Status(OnScan()));
      case 0x1405:
        return Reply(Status(0));
      case 0x1406:
        return Reply(Status(OnStopScan()));
      case 0x1407:
        return Reply(OnAbort());
      case 0x2A09:
        return ExpectOut(DataOut::Window, length, kWindowSize);
      case 0x2A10:
        return ExpectOut(DataOut::Nvram, length, kNvramSize);
      case 0x2A78:
        if (param == 1) return ExpectOut(DataOut::Lock, length, kOwnerSize);
        if (param == 2) return ExpectOut(DataOut::Unlock, length, kOwnerSize);
        break;
      case 0x2810:
        if (length != kNvramSize) break;
        Reply(Status(0));
        return Reply(LoadMemory().nvram);
      case 0x2878:
        if (param != 1 || length != kOwnerSize) break;
        Reply(Status(0));
        return Reply(OwnerReply());
      case 0x2804:
        return OnRead();
    }
    Reply(Status(kInvalidCommand));
  }

  void ExpectOut(DataOut kind, uint32_t length, size_t size) {
    if (length != size) return Reply(Status(kInvalidCommand));
    Reply(Status(0));
    m_dataOut = PendingOut{kind, size, {}};
  }

  int TakeDataOut(const uint8_t* data, int length) {
    size_t n = std::min(static_cast<size_t>(length), m_dataOut.expected - m_dataOut.bytes.size());
    m_dataOut.bytes.insert(m_dataOut.bytes.end(), data, data + n);
    if (m_dataOut.bytes.size() < m_dataOut.expected) return static_cast<int>(n);
    PendingOut done = std::move(m_dataOut);
    m_dataOut = PendingOut{};
    Memory memory = LoadMemory();
    switch (done.kind) {
      case DataOut::Window:
        m_window = done.bytes;
        break;
      case DataOut::Nvram:
        memory.nvram = done.bytes;
        SaveMemory(memory);
        break;
      case DataOut::Lock:
        if (!Held(memory)) {
          memory.owner = done.bytes;
          SaveMemory(memory);
        }
        break;
      case DataOut::Unlock:
        if (memory.owner == done.bytes) {
          memory.owner.assign(kOwnerSize, 0);
          SaveMemory(memory);
        }
        break;
      case DataOut::Timer:
        OnTimerWritten(done.bytes);
        break;
      case DataOut::None:
        break;
    }
    return static_cast<int>(n);
  }

  // --- timers and firmware record -----------------------------------------

  bool OnMaintenanceCommand(uint8_t opcode, uint8_t sub, uint16_t param, uint32_t length) {
    if (opcode == 0x28 && sub == 0x14 && length == 16 && (param == 2 || param == 5)) {
      Bytes record(16, 0);
      uint32_t sleepMin, autoOffMin;
      LoadTimers(&sleepMin, &autoOffMin);
      SetLe32(record.data() + 4, sleepMin);
      SetLe32(record.data() + 12, autoOffMin);
      Reply(Status(0));
      Reply(record);
      return true;
    }
    if (opcode == 0x2A && sub == 0x14 && (param == 2 || param == 5 || param == 6)) {
      m_timerParam = param;
      ExpectOut(DataOut::Timer, length, 16);
      return true;
    }
    if (opcode == 0x28 && sub == 0x01 && length == 72) {
      Bytes record(72, 0);
      std::string fw = Param("firmware", "1,2");
      size_t comma = fw.find(',');
      record[24] = static_cast<uint8_t>(strtoul(fw.c_str(), nullptr, 0));
      record[26] = static_cast<uint8_t>(comma == std::string::npos ? 0 : strtoul(fw.c_str() + comma + 1, nullptr, 0));
      Reply(Status(0));
      Reply(record);
      return true;
    }
    return false;
  }

  // The timers live in the device's persistent memory, as the NVRAM does.
  void OnTimerWritten(const Bytes& record) {
    uint32_t sleepMin, autoOffMin;
    LoadTimers(&sleepMin, &autoOffMin);
    if (m_timerParam == 2) sleepMin = Le32(record.data() + 4);
    if (m_timerParam == 5) autoOffMin = Le32(record.data() + 12);
    if (m_timerParam == 6) autoOffMin = 0;
    SaveTimers(sleepMin, autoOffMin);
  }

  void SaveTimers(uint32_t sleepMin, uint32_t autoOffMin) {
    Bytes stored(8);
    SetLe32(stored.data(), sleepMin);
    SetLe32(stored.data() + 4, autoOffMin);
    m_timers.Save(stored);
  }

  void LoadTimers(uint32_t* sleepMin, uint32_t* autoOffMin) const {
    const Bytes stored = m_timers.Load();
    const bool kept = stored.size() == 8;
    *sleepMin = kept ? Le32(stored.data()) : static_cast<uint32_t>(ParamInt("sleep_min", 15));
    *autoOffMin = kept ? Le32(stored.data() + 4) : static_cast<uint32_t>(ParamInt("autooff_min", 240));
  }

  dravn_sim::SimStateFile m_timers{Param("state").empty() ? std::string() : Param("state") + "-timers"};
  uint16_t m_timerParam = 0;

  // --- replies -------------------------------------------------------------

  void Reply(Bytes bytes) { m_in.push_back(std::move(bytes)); }

  Bytes Status(uint32_t code) const {
    Bytes s(32, 0);
    SetLe32(s.data(), code);
    uint16_t condition = (m_coverOpen ? 0x01 : 0) | (PaperPresent() ? 0x02 : 0);
    s[8] = static_cast<uint8_t>(condition);
    s[9] = static_cast<uint8_t>(condition >> 8);
    return s;
  }

  Bytes HardwareStatus() const { return Status(m_statusCode); }

  Bytes OwnerReply() {
    if (Param("owner_reply").empty()) return LoadMemory().owner;
    Bytes owner(kOwnerSize, 0);
    const std::string text = Param("owner_reply").substr(0, kOwnerSize);
    memcpy(owner.data(), text.data(), text.size());
    return owner;
  }

  Bytes HardwareStatusExt() {
    Bytes s(108, 0);
    SetLe32(s.data(), m_statusCode);
    SetLe32(s.data() + 32, Held(LoadMemory()) ? 1 : 0);
    return s;
  }

  // --- scanning ------------------------------------------------------------

  // What is left of the feeder: the parameter's count, or with no such
  // parameter nothing at all (the paper bit then says what `paper` says).
  bool PaperPresent() const { return m_paper && (!m_feeder || m_sheetsLeft > 0); }

  uint32_t OnScan() {
    m_blocks.clear();
    m_faces.clear();
    m_scanning = PaperPresent();
    return m_scanning ? 0 : kNoPaper;
  }

  // The transport stops: what was queued for the host is dropped and the
  // sheet in the feeder path is ejected.
  void StopTransport() {
    m_scanning = false;
    m_blocks.clear();
    m_faces.clear();
    m_in.clear();
  }
  uint32_t OnStopScan() {
    StopTransport();
    return 0;
  }
  Bytes OnAbort() {
    StopTransport();
    return BlockStatus(0, 4);
  }

  void OnRead() {
    if (!m_scanning || (m_blocks.empty() && !NextFace())) {
      m_scanning = false;
      return Reply(BlockStatus(kNoPaper, 4));
    }
    Block block = std::move(m_blocks.front());
    m_blocks.pop_front();
    Reply(std::move(block.status));
    if (block.silentAfterStatus) {
      m_silent = true;
      return;
    }
    if (!block.data.empty()) Reply(std::move(block.data));
    if (!block.trailing.empty()) Reply(std::move(block.trailing));
    if (block.stopAfter) m_scanning = false;
    if (block.goneAfter) LeaveTheBus();
  }

  // A scanner that leaves the bus loses power: its lock goes with it, and it
  // comes back unlocked.
  void LeaveTheBus() {
    m_gone = true;
    Memory memory = LoadMemory();
    memory.owner.assign(kOwnerSize, 0);
    SaveMemory(memory);
  }

  struct Block {
    Bytes status;
    Bytes data;
    Bytes trailing;  // the sheet's closing status after its last face
    bool stopAfter = false;
    bool goneAfter = false;
    bool silentAfterStatus = false;
  };

  // Feeds the next sheet when the current one has no face left.
  bool FeedSheet() {
    if (!m_feeder || m_sheetsLeft <= 0) return false;
    --m_sheetsLeft;
    ++m_sheetNo;
    switch (Le32(WindowBytes().data())) {
      case 4:
        m_faces = {kFront, kBack};
        if (ParamInt("back_first", 0) == 1) std::swap(m_faces.front(), m_faces.back());
        break;
      case 5:
        m_faces = {kBack};
        break;
      default:
        m_faces = {kFront};
        break;
    }
    m_firstFaceOfSheet = true;
    return true;
  }

  bool NextFace() {
    if (m_faces.empty() && !FeedSheet()) return false;
    const uint8_t side = m_faces.front();
    m_faces.pop_front();
    const bool firstFace = m_firstFaceOfSheet;
    m_firstFaceOfSheet = false;
    const long pageMs = ParamInt("page_ms", 0);
    if (pageMs > 0) Wait(std::chrono::milliseconds(pageMs));

    if (firstFace && ParamInt("cover_open_at", 0) == m_sheetNo) {
      Block b;
      b.status = BlockStatus(kCoverOpen, 0, side);
      b.stopAfter = true;
      m_blocks.push_back(std::move(b));
      return true;
    }

    const bool grey = Param("format") == "grey";
    const dravn_pages::Image& face = ScanFace(side);
    Bytes data = EncodeFace(face, grey);
    if (data.empty()) {  // the encoder is missing: a firmware fault
      Block b;
      b.status = BlockStatus(kFirmwareFault, 0, side);
      b.stopAfter = true;
      m_blocks.push_back(std::move(b));
      return true;
    }
    data.resize(data.size() + static_cast<size_t>(std::max(0L, ParamInt("face_pad", 0))), 0);

    const size_t blockSize = static_cast<size_t>(std::max(1L, ParamInt("block", 65536)));
    const bool jam = firstFace && ParamInt("jam_at", 0) == m_sheetNo;
    const bool gone = firstFace && ParamInt("gone_at", 0) == m_sheetNo;
    const bool silent = firstFace && ParamInt("silent_at", 0) == m_sheetNo;
    if (jam || gone || silent) {
      Block first;
      const size_t n = std::min(blockSize, std::max<size_t>(1, data.size() / 2));
      first.status = BlockStatus(0, 0, side);
      SetLe32(first.status.data() + 36, static_cast<uint32_t>(n));
      first.data.assign(data.begin(), data.begin() + static_cast<long>(n));
      first.goneAfter = gone;
      first.silentAfterStatus = silent;
      m_blocks.push_back(std::move(first));
      if (jam) {
        Block j;
        j.status = BlockStatus(kJam, 0, side);
        SetLe32(j.status.data() + 36, kJamBytes);
        j.data.assign(kJamBytes, 0xEE);
        j.stopAfter = true;
        m_blocks.push_back(std::move(j));
      }
      return true;
    }

    const bool lastFace = m_faces.empty();
    for (size_t at = 0; at < data.size(); at += blockSize) {
      Block b;
      const size_t n = std::min(blockSize, data.size() - at);
      const bool last = at + n == data.size();
      uint32_t code = 0;
      if (last) code = lastFace && m_sheetsLeft == 0 ? kEndOfSideNoPaper : kEndOfSide;
      b.status = BlockStatus(code, 0, side);
      SetLe32(b.status.data() + 36, static_cast<uint32_t>(n));
      b.status[48] = static_cast<uint8_t>(ParamInt("image_format", grey ? 3 : 1));
      SetLe32(b.status.data() + 20, static_cast<uint32_t>(ParamInt("block_width", 0)));
      if (last) {
        SetLe32(b.status.data() + 16, static_cast<uint32_t>(face.height));
        SetLe32(b.status.data() + 20, static_cast<uint32_t>(face.width));
        if (lastFace) b.trailing = BlockStatus(0, m_sheetsLeft > 0 ? 2 : 4);
        if (lastFace && m_sheetsLeft == 0) b.stopAfter = true;
      }
      b.data.assign(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
      m_blocks.push_back(std::move(b));
    }
    return true;
  }

  Bytes BlockStatus(uint32_t lastErr, uint8_t phase, uint8_t side = 0) const {
    Bytes s(64, 0);
    SetLe32(s.data(), lastErr);
    s[6] = phase;
    s[11] = side;
    return s;
  }

  // --- the pages -------------------------------------------------------------

  // The page pattern is a format: one %d and nothing else may be converted.
  // A pattern that names no existing file feeds white pages only, which is
  // said once.
  void CheckPages() const {
    const std::string pattern = Param("pages");
    if (pattern.empty()) return;
    int conversions = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
      if (pattern[i] != '%') continue;
      if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
        ++i;
        continue;
      }
      if (i + 1 >= pattern.size() || pattern[i + 1] != 'd' || ++conversions > 1)
        throw std::runtime_error("selko2: pages= takes one %d and no other conversion");
      ++i;
    }
    if (conversions != 1) throw std::runtime_error("selko2: pages= takes one %d and no other conversion");
    const long faces = 2 * std::max(1L, m_sheetsLeft);
    for (long n = 1; n <= faces; ++n) {
      char path[4096];
      snprintf(path, sizeof path, pattern.c_str(), static_cast<int>(n));
      if (access(path, R_OK) == 0) return;
    }
    Report("pages=" + pattern + ": no page file found; white pages fed");
  }

  Bytes WindowBytes() const {
    Bytes w = m_window;
    w.resize(kWindowSize, 0);
    return w;
  }

  // The window the host set, sampled from the sheet's page. With automatic
  // size the firmware over-scans the sheet on its white backing, where the
  // page edge shows as a faint shadow that the host's white-background crop
  // finds; the guides centre the sheet across the window. Otherwise the
  // feeder centres a page narrower than its widest window and the host's
  // left offset carries that centring.
  const dravn_pages::Image& ScanFace(uint8_t side) {
    const Bytes w = WindowBytes();
    const long R = std::max(1, static_cast<int>(Le16(w.data() + 16)));
    const long V = std::max(1, static_cast<int>(Le16(w.data() + 18)));
    const long windowWidth = std::min<long>(Le32(w.data() + 28), kMaxPixels);
    const long windowLength = std::min<long>(Le32(w.data() + 32), kMaxPixels);
    const bool automatic = w[67] & 0x08;

    bool page = false;
    const std::string pattern = Param("pages");
    if (!pattern.empty()) {
      char path[4096];
      snprintf(path, sizeof path, pattern.c_str(), static_cast<int>(2 * m_sheetNo - (side == kFront ? 1 : 0)));
      page = m_sheet.Load(path);
    }
    const long dpi = std::max(1L, ParamInt("page_dpi", 300));
    const long pageW = page ? m_sheet.PageWidth(dpi, R) : windowWidth;
    const long pageL = page ? m_sheet.PageLength(dpi, V) : windowLength;

    SheetFace::Layout layout;
    if (automatic && page) {
      const long ovsX = 936L * R / 1200, ovsY = 936L * V / 1200;
      long boxW, boxL;
      SheetFace::Bounds(pageW, pageL, Skew(), &boxW, &boxL);
      layout = SheetFace::Centred(std::min(boxW + ovsX, windowWidth), windowLength, pageW, pageL, ovsY / 2, Skew());
    } else if (automatic) {
      layout.width = windowWidth, layout.height = windowLength;
    } else {
      const long widest = R * 10201L / 1200, declared = Le32(w.data() + 36);
      layout.left = -(static_cast<long>(Le32(w.data() + 20)) - (declared < widest ? widest / 2 - declared / 2 : 0));
      layout.top = -static_cast<long>(Le32(w.data() + 24));
      layout.width = windowWidth;
      layout.height = std::min(windowLength, pageL + layout.top);  // the sheet ends before the window
    }
    layout.width = std::max(16L, layout.width);
    layout.height = std::max(16L, layout.height);
    layout.dpi = dpi, layout.resX = R, layout.resY = V;
    // page_shadow=0: the page files carry their own backing and shadow.
    if (automatic && page)
      return m_sheet.DrawOnBacking(
          layout, SheetFace::StretchedLevels({pageW, pageL, Skew(), ParamInt("page_shadow", 1) != 0, side != kFront}));
    return m_sheet.Draw(layout, 0xFF);
  }

  double Skew() const { return strtod(Param("skew", "0").c_str(), nullptr); }

  // Baseline JPEG as the firmware streams it (see the top of the file).
  Bytes EncodeFace(const dravn_pages::Image& face, bool grey) {
    Bytes data = dravn_pages::EncodeJpeg(face, grey, static_cast<int>(std::clamp(ParamInt("quality", 85), 1L, 100L)));
    const Bytes w = WindowBytes();
    for (size_t pos = 2; pos + 4 <= data.size();) {
      if (data[pos] != 0xFF) break;
      const uint8_t marker = data[pos + 1];
      const size_t length = static_cast<size_t>(data[pos + 2] << 8 | data[pos + 3]);
      if (marker == 0xDA) break;
      if (marker == 0xC0 && pos + 9 <= data.size()) {
        const uint32_t windowLength = Le32(w.data() + 32), windowWidth = Le32(w.data() + 28);
        data[pos + 5] = static_cast<uint8_t>(windowLength >> 8);
        data[pos + 6] = static_cast<uint8_t>(windowLength);
        data[pos + 7] = static_cast<uint8_t>(windowWidth >> 8);
        data[pos + 8] = static_cast<uint8_t>(windowWidth);
      }
      if (marker == 0xDD && pos + 6 <= data.size()) data[pos + 4] = data[pos + 5] = 0;
      pos += 2 + length;
    }
    return data;
  }

  // --- the scan button ------------------------------------------------------

  // The button record (0x28/0x79, 64 bytes whose first word is 2 while the
  // button is held) and the closing 0x14/0x79.
  bool OnButtonCommand(uint8_t opcode, uint8_t sub, uint16_t param, uint32_t length) {
    if (sub != 0x79) return false;
    if (opcode == 0x28 && param == 1 && length == 64) {
      Reply(Status(0));
      Bytes record(64, 0);
      const std::string button = Param("button");
      SetLe32(record.data(), !button.empty() && access(button.c_str(), F_OK) == 0 ? 2 : 0);
      Reply(std::move(record));
      return true;
    }
    if (opcode == 0x14 && length == 0) {
      Reply(Status(0));
      return true;
    }
    return false;
  }

  // --- memory kept across processes ----------------------------------------

  struct Memory {
    Bytes nvram;
    Bytes owner;
  };

  static bool Held(const Memory& memory) {
    for (uint8_t b : memory.owner)
      if (b) return true;
    return false;
  }

  Memory LoadMemory() {
    Bytes stored = m_state.Load();
    Memory memory;
    if (stored.size() == kNvramSize + kOwnerSize) {
      memory.nvram.assign(stored.begin(), stored.begin() + kNvramSize);
      memory.owner.assign(stored.begin() + kNvramSize, stored.end());
      return memory;
    }
    memory.nvram.assign(kNvramSize, 0);
    memory.nvram[16] = static_cast<uint8_t>(ParamInt("nvram_month", 0));
    memory.nvram[17] = static_cast<uint8_t>(ParamInt("nvram_day", 0));
    memory.nvram[18] = static_cast<uint8_t>(ParamInt("nvram_year", 0));
    std::string serial = Spec().serial.substr(0, 6);
    memcpy(memory.nvram.data() + 29, serial.data(), serial.size());
    memory.owner.assign(kOwnerSize, 0);
    std::string owner = Param("lock_owner").substr(0, kOwnerSize);
    memcpy(memory.owner.data(), owner.data(), owner.size());
    SaveMemory(memory);
    return memory;
  }

  void SaveMemory(const Memory& memory) {
    Bytes stored = memory.nvram;
    stored.insert(stored.end(), memory.owner.begin(), memory.owner.end());
    m_state.Save(stored);
  }

  dravn_sim::SimStateFile m_state;
  SheetFace m_sheet;  // the page buffer and face, kept from face to face
  std::deque<Bytes> m_in;
  PendingOut m_dataOut;
  Bytes m_window;
  bool m_coverOpen = false;
  bool m_paper = true;
  uint32_t m_statusCode = 0;
  // The feeder and the transport.
  bool m_feeder = false;
  long m_sheetsLeft = 0;
  long m_sheetNo = 0;  // sheets fed so far
  bool m_scanning = false;
  bool m_firstFaceOfSheet = false;
  std::deque<uint8_t> m_faces;  // faces of the current sheet still to send
  std::deque<Block> m_blocks;   // blocks of the current face
  bool m_gone = false;
  bool m_silent = false;
};

}  // namespace

DRAVN_SIM_MODEL("selko2", Selko2Model)
