// Selko2 batches through the second backend's entry points, in this process
// against the simulated scanner fed with synthetic pages: what arrives, in
// which order and geometry, the command sequence of each sheet, and how
// faults, cancels and interrupts end a batch and give the scanner back.
// Each case runs in its own IPC namespace (exclusive-access table).
#include <gtest/gtest.h>
#include <sane/sane.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dravn_paths.h"
#include "option_table.h"
#include "second_backend.h"
#include "second_test_util.h"
#include "selko2_scan_func.h"
#include "test_pages.h"
#include "test_support.h"

extern "C" {
SANE_Status sane_dravn2_init(SANE_Int*, SANE_Auth_Callback);
void sane_dravn2_exit(void);
SANE_Status sane_dravn2_open(SANE_String_Const, SANE_Handle*);
void sane_dravn2_close(SANE_Handle);
SANE_Status sane_dravn2_control_option(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*);
SANE_Status sane_dravn2_get_parameters(SANE_Handle, SANE_Parameters*);
SANE_Status sane_dravn2_start(SANE_Handle);
SANE_Status sane_dravn2_read(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*);
void sane_dravn2_cancel(SANE_Handle);
}

using namespace second_test;
using dravn_pages::Image;

namespace {

constexpr double kPageWidthMm = 105, kPageHeightMm = 148;  // "A6"
constexpr int kPages = 8;

struct Page {
  SANE_Parameters params{};
  std::vector<uint8_t> bytes;
};

// Status-file values (error-code byte, qualifier, code, key).
constexpr uint32_t kStatusNoPaper = 0x03800320;
constexpr uint32_t kStatusJam = 0x03800131;
constexpr uint32_t kStatusCoverOpen = 0x03800240;

class Selko2Scan : public ::testing::Test {
 protected:
  void TearDown() override {
    if (m_open) Close();
  }

  // The pages of the feeder, rendered once per process at 300 dpi; colour
  // pages, or grey ones.
  static const std::string& PagesDir(bool colour) {
    static std::string dirs[2];
    std::string& dir = dirs[colour ? 1 : 0];
    if (dir.empty()) {
      dir = dravn_test::MakeTempDir(colour ? "selko2-pages-colour" : "selko2-pages-grey");
      for (int n = 1; n <= kPages; ++n) {
        dravn_pages::PageSpec spec;
        spec.widthMm = kPageWidthMm, spec.heightMm = kPageHeightMm, spec.colour = colour, spec.number = n;
        dravn_test::WriteFile(dir + "/page" + std::to_string(n) + ".pnm",
                              dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(spec)));
      }
    }
    return dir;
  }

  // A scanner at its own address, so that its status file is its own.
  void Scanner(int address, int sheets, const std::string& extra = "", bool colourPages = true) {
    m_dir = dravn_test::MakeTempDir("selko2-scan");
    m_address = address;
    std::string scenario = Selko2Scenario(m_dir + "/state",
                                          "set nvram_month=1\nset nvram_day=1\nset sheets=" + std::to_string(sheets) +
                                              "\nset pages=" + PagesDir(colourPages) + "/page%d.pnm\n" + extra,
                                          Selko2Model(), 1, address);
    dravn_test::WriteFile(m_dir + "/scenario", scenario);
    dravn_test::WriteFile(m_dir + "/dravn.conf", SecondDravnConf());
    setenv("DRAVN_SIM", (m_dir + "/scenario").c_str(), 1);
    setenv("DRAVN_SIM_TRANSCRIPT", (m_dir + "/transcript").c_str(), 1);
    setenv("DRAVN_CONFIG_DIR", m_dir.c_str(), 1);
    unlink(StatusPath().c_str());
  }

  std::string Name() const { return DeviceName(Selko2Model(), 1, m_address); }
  std::string StatusPath() const {
    return std::string(DRAVN_SHM_DIR) + "/" + Name() + "-" + std::to_string(getuid()) + "-shm";
  }

  // Opens with A6 pages at `dpi`; source "Adf-front", "Adf-back" or "Adf-duplex".
  void Open(const char* source, int dpi) {
    ASSERT_EQ(sane_dravn2_init(nullptr, nullptr), SANE_STATUS_GOOD);
    ASSERT_EQ(sane_dravn2_open(Name().c_str(), &m_handle), SANE_STATUS_GOOD);
    m_open = true;
    SetString(OPTION_SOURCE, source);
    SetString(OPTION_PAPER_SIZE, "A6");
    SetWord(OPTION_PAGE_AUTO, SANE_FALSE);  // the paper size's cut, not a cropped page
    SetWord(OPTION_RESOLUTION, dpi);
    // A neutral tone table: the pages come back as fed, through the
    // device adjustment alone.
    SetString(OPTION_TONE_ADJUSTMENT, "Custom");
    SetWord(OPTION_SHADOW, 0);
    SetWord(OPTION_HIGHLIGHT, 255);
    SetWord(OPTION_GAMMA, SANE_FIX(1.0));
  }

  // `closed` runs between close and exit, while the exclusive-access table
  // is still attached.
  void Close(const std::function<void()>& closed = {}) {
    sane_dravn2_cancel(m_handle);
    sane_dravn2_close(m_handle);
    if (closed) closed();
    sane_dravn2_exit();
    m_open = false;
  }

  void SetString(int option, const char* value) {
    char buf[64];
    snprintf(buf, sizeof buf, "%s", value);
    ASSERT_EQ(sane_dravn2_control_option(m_handle, option, SANE_ACTION_SET_VALUE, buf, nullptr), SANE_STATUS_GOOD)
        << option << " " << value;
  }
  void SetWord(int option, SANE_Word value) {
    ASSERT_EQ(sane_dravn2_control_option(m_handle, option, SANE_ACTION_SET_VALUE, &value, nullptr), SANE_STATUS_GOOD);
  }

  // Start, parameters, and reads to the end of the frame; one read more
  // must answer the end again and take nothing of the next face or half.
  SANE_Status NextPage(Page* page, SANE_Int chunk = 65536) {
    SANE_Status status = sane_dravn2_start(m_handle);
    if (status != SANE_STATUS_GOOD) return status;
    EXPECT_EQ(sane_dravn2_get_parameters(m_handle, &page->params), SANE_STATUS_GOOD);
    page->bytes.clear();
    std::vector<SANE_Byte> buf(chunk);
    for (;;) {
      SANE_Int length = 0;
      status = sane_dravn2_read(m_handle, buf.data(), chunk, &length);
      if (status != SANE_STATUS_GOOD) break;
      page->bytes.insert(page->bytes.end(), buf.begin(), buf.begin() + length);
    }
    if (status != SANE_STATUS_EOF) return status;
    SANE_Int length = -1;
    EXPECT_EQ(sane_dravn2_read(m_handle, buf.data(), chunk, &length), SANE_STATUS_EOF) << "read past the end";
    EXPECT_EQ(length, 0) << "read past the end";
    return SANE_STATUS_GOOD;
  }

  // Pages until a start or read fails; that status in *end.
  std::vector<Page> Batch(SANE_Status* end, size_t limit = 20) {
    std::vector<Page> pages;
    for (size_t i = 0; i < limit; ++i) {
      Page page;
      *end = NextPage(&page);
      if (*end != SANE_STATUS_GOOD) break;
      pages.push_back(std::move(page));
    }
    return pages;
  }

  std::vector<std::string> Sent() { return CommandsSent(dravn_test::ReadFile(m_dir + "/transcript")); }
  std::string Owner() { return dravn_test::ReadFile(m_dir + "/state").substr(NVRAM_TABLE_SIZE); }
  uint32_t StatusFile() {
    std::string s = dravn_test::ReadFile(StatusPath());
    if (s.size() != 4) return 0xFFFFFFFF;
    return static_cast<uint8_t>(s[0]) | static_cast<uint8_t>(s[1]) << 8 | static_cast<uint8_t>(s[2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
  }
  // The state of this device's record in the exclusive-access table.
  std::string TableState() {
    for (key_t key = 0x43A0D0; key <= 0x43A0D9; ++key) {
      int id = shmget(key, 454, 0);
      if (id < 0) continue;
      const char* base = static_cast<const char*>(shmat(id, nullptr, SHM_RDONLY));
      if (base == reinterpret_cast<const char*>(-1)) continue;
      std::string state;
      if (memcmp(base, "DravnExcusive", 13) == 0)
        for (int k = 0; k < 8; ++k) {
          const char* e = base + 14 + 55 * k;
          if (std::string(e, strnlen(e, 30)) == Name()) state = std::string(e + 40, strnlen(e + 40, 15));
        }
      shmdt(base);
      if (!state.empty()) return state;
    }
    return "";
  }

  // How far a delivered page is from the page fed, at its resolution; or
  // from its upper (1) or lower (2) half.
  static dravn_pages::PageDiff Compare(const Page& page, int number, int dpi, bool colourPage, int half = 0) {
    Image got;
    got.width = page.params.pixels_per_line;
    got.height = page.params.lines;
    got.channels = page.params.format == SANE_FRAME_RGB ? 3 : 1;
    got.pixels = page.bytes;
    dravn_pages::PageSpec spec;
    spec.widthMm = kPageWidthMm, spec.heightMm = kPageHeightMm, spec.dpi = dpi, spec.colour = colourPage;
    spec.number = number;
    Image expected = dravn_pages::RenderDocumentPage(spec);
    for (auto& v : expected.pixels) v = DeviceAdjustLUT_Selko2[v];
    if (half != 0) {
      const int upper = expected.height / 2;
      const size_t bpl = expected.BytesPerLine();
      const auto first = expected.pixels.begin() + static_cast<long>(bpl) * (half == 1 ? 0 : upper);
      const int rows = half == 1 ? upper : expected.height - upper;
      expected.pixels = std::vector<uint8_t>(first, first + static_cast<long>(bpl) * rows);
      expected.height = rows;
    }
    if (got.channels == 1) expected = dravn_pages::ToGrey(expected);
    if (got.pixels.size() != got.BytesPerLine() * got.height) return {};
    return dravn_pages::ComparePages(got, expected, dpi / 6);
  }

  std::string m_dir;
  int m_address = 5;
  SANE_Handle m_handle = nullptr;
  bool m_open = false;
};

const char kCmdRead[] = "280400", kCmdWindow[] = "2a0904", kCmdCalibrate[] = "140500", kCmdScan[] = "140400",
           kCmdStop[] = "140600", kCmdAbort[] = "140700";

// --- what arrives ----------------------------------------------------------------

struct BatchCase {
  const char* name;
  const char* source;
  int dpi;
  int sheets;
  const char* extra;
  bool colourPages;
  std::vector<int> numbers;  // page numbers in delivery order
};

TEST_F(Selko2Scan, BatchesDeliverEveryFaceInOrder) {
  if (!RunInOwnIpcNamespace()) return;
  const BatchCase cases[] = {
      {"simplex colour 300 dpi", "Adf-front", 300, 3, "", true, {1, 3, 5}},
      {"duplex colour 150 dpi", "Adf-duplex", 150, 2, "", true, {1, 2, 3, 4}},
      {"duplex grey pages, grey JPEG, 200 dpi", "Adf-duplex", 200, 2, "set format=grey\n", false, {1, 2, 3, 4}},
      {"back only, small blocks", "Adf-back", 300, 2, "set block=4096\n", true, {2, 4}},
      {"duplex, the back face sent first", "Adf-duplex", 150, 2, "set back_first=1\n", true, {1, 2, 3, 4}},
  };
  int address = 10;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scanner(address++, c.sheets, c.extra, c.colourPages);
    Open(c.source, c.dpi);
    SANE_Parameters announced;
    ASSERT_EQ(sane_dravn2_get_parameters(m_handle, &announced), SANE_STATUS_GOOD);
    SANE_Status end;
    std::vector<Page> pages = Batch(&end);
    EXPECT_EQ(end, SANE_STATUS_NO_DOCS);
    ASSERT_EQ(pages.size(), c.numbers.size());
    for (size_t i = 0; i < pages.size(); ++i) {
      const SANE_Parameters& p = pages[i].params;
      EXPECT_EQ(p.format, announced.format);
      EXPECT_EQ(p.pixels_per_line, announced.pixels_per_line);
      EXPECT_EQ(p.lines, announced.lines);
      EXPECT_EQ(p.pixels_per_line, dravn_pages::PixelsOf(kPageWidthMm, c.dpi));
      EXPECT_EQ(p.lines, dravn_pages::PixelsOf(kPageHeightMm, c.dpi));
      EXPECT_EQ(pages[i].bytes.size(), static_cast<size_t>(p.bytes_per_line) * p.lines);
      dravn_pages::PageDiff diff = Compare(pages[i], c.numbers[i], c.dpi, c.colourPages);
      EXPECT_LT(diff.meanAbs, 6) << "page " << i;
      EXPECT_LT(diff.maxBlock, 16) << "page " << i;
      if (i > 0) {
        EXPECT_GT(Compare(pages[i], c.numbers[i - 1], c.dpi, c.colourPages).maxBlock, 60) << "page " << i;
      }
    }
    EXPECT_EQ(StatusFile(), kStatusNoPaper) << "the end of the batch is recorded";
    Close();
  }
}

// Split duplex: front upper, front lower, back upper, back lower, each
// after its own start.
TEST_F(Selko2Scan, SplitDuplexServesFourHalvesPerSheet) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(15, 1);
  Open("Adf-duplex", 150);
  SANE_Bool yes = SANE_TRUE;
  ASSERT_EQ(sane_dravn2_control_option(m_handle, OPTION_SPLIT_IMAGE, SANE_ACTION_SET_VALUE, &yes, nullptr),
            SANE_STATUS_GOOD);
  SANE_Status end;
  std::vector<Page> halves = Batch(&end);
  EXPECT_EQ(end, SANE_STATUS_NO_DOCS);
  ASSERT_EQ(halves.size(), 4u);
  const int lines = dravn_pages::PixelsOf(kPageHeightMm, 150);
  for (size_t i = 0; i < halves.size(); ++i) {
    SCOPED_TRACE(i);
    const bool upper = i % 2 == 0;
    const Page& half = halves[i];
    ASSERT_EQ(half.params.lines, upper ? lines / 2 : lines - lines / 2);
    ASSERT_EQ(half.bytes.size(), static_cast<size_t>(half.params.bytes_per_line) * half.params.lines);
    const int number = i < 2 ? 1 : 2;
    EXPECT_LT(Compare(half, number, 150, true, upper ? 1 : 2).maxBlock, 16);
    EXPECT_GT(Compare(half, number, 150, true, upper ? 2 : 1).maxBlock, 60) << "the other half";
  }
}

// One window per batch, then only reads; one stop at its end.
TEST_F(Selko2Scan, SheetCommandSequence) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(20, 2);
  Open("Adf-duplex", 300);
  const size_t opened = Sent().size();
  SANE_Status end;
  EXPECT_EQ(Batch(&end).size(), 4u);
  EXPECT_EQ(end, SANE_STATUS_NO_DOCS);
  sane_dravn2_cancel(m_handle);
  std::vector<std::string> sent = Sent();
  std::vector<std::string> batch(sent.begin() + static_cast<long>(opened), sent.end());
  ASSERT_GE(batch.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(batch.begin(), batch.begin() + 4),
            (std::vector<std::string>{kCmdStatus, kCmdWindow, kCmdCalibrate, kCmdScan}));
  EXPECT_EQ(batch.back(), kCmdStop);
  for (size_t i = 4; i + 1 < batch.size(); ++i) EXPECT_EQ(batch[i], kCmdRead) << i;
  EXPECT_EQ(Count(sent, kCmdStop), 1) << "cancel sends no second stop";
}

TEST_F(Selko2Scan, ManualFeedReadsEachSheetInTheApplicationsThread) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(21, 2);
  Open("Adf-front", 300);
  SANE_Bool no = SANE_FALSE;
  ASSERT_EQ(sane_dravn2_control_option(m_handle, OPTION_AUTOFEED, SANE_ACTION_SET_VALUE, &no, nullptr),
            SANE_STATUS_GOOD);
  SANE_Status end;
  std::vector<Page> pages = Batch(&end);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(end, SANE_STATUS_NO_DOCS);
  EXPECT_FALSE(g_pCSelko2ScanFunc->HasScanThread());
  EXPECT_LT(Compare(pages[1], 3, 300, true).maxBlock, 16);
  EXPECT_EQ(Count(Sent(), kCmdWindow), 1);
}

TEST_F(Selko2Scan, ReadsPastTheEndOfAPage) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(22, 1);
  Open("Adf-front", 150);
  ASSERT_EQ(sane_dravn2_start(m_handle), SANE_STATUS_GOOD);
  SANE_Parameters p;
  ASSERT_EQ(sane_dravn2_get_parameters(m_handle, &p), SANE_STATUS_GOOD);
  const size_t size = static_cast<size_t>(p.bytes_per_line) * p.lines;
  std::vector<SANE_Byte> buf(size + 1000);
  SANE_Int length = -1;
  EXPECT_EQ(sane_dravn2_read(m_handle, buf.data(), static_cast<SANE_Int>(buf.size()), &length), SANE_STATUS_GOOD);
  EXPECT_EQ(static_cast<size_t>(length), size);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(sane_dravn2_read(m_handle, buf.data(), 10, &length), SANE_STATUS_EOF);
    EXPECT_EQ(length, 0);
  }
}

// --- faults ------------------------------------------------------------------------

struct FaultCase {
  const char* name;
  int sheets;
  const char* extra;
  size_t pages;  // delivered before the batch ends
  SANE_Status status;
  uint32_t statusFile;
  bool scanStarted;  // the scanner was told to scan
  bool lockReturned;
};

TEST_F(Selko2Scan, FaultsEndTheBatchWithTheirStatus) {
  if (!RunInOwnIpcNamespace()) return;
  const FaultCase cases[] = {
      {"no paper at start", 0, "", 0, SANE_STATUS_NO_DOCS, kStatusNoPaper, false, true},
      {"cover open at start", 3, "set cover=open\n", 0, SANE_STATUS_COVER_OPEN, kStatusCoverOpen, false, true},
      {"jam at sheet 2 of 3", 3, "set jam_at=2\n", 1, SANE_STATUS_JAMMED, kStatusJam, true, true},
      {"cover opened at sheet 3 of 3", 3, "set cover_open_at=3\n", 2, SANE_STATUS_COVER_OPEN, kStatusCoverOpen, true,
       true},
      {"device gone in sheet 2", 3, "set gone_at=2\n", 1, SANE_STATUS_IO_ERROR, 0, true, true},
      {"feeder empties", 2, "", 2, SANE_STATUS_NO_DOCS, kStatusNoPaper, true, true},
      // Faces whose header the scanner did not mark for repair still reach
      // the pipeline, which refuses them: no sheet vanishes unreported.
      {"faces of another image format", 2, "set image_format=0\n", 0, SANE_STATUS_INVAL, 0, true, true},
  };
  int address = 30;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scanner(address++, c.sheets, c.extra);
    Open("Adf-front", 150);
    const auto t0 = std::chrono::steady_clock::now();
    SANE_Status end;
    EXPECT_EQ(Batch(&end).size(), c.pages);
    EXPECT_EQ(end, c.status);
    // The failure stays: the next start answers it again.
    Page page;
    EXPECT_EQ(NextPage(&page), c.status);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_EQ(StatusFile(), c.statusFile);
    EXPECT_EQ(Count(Sent(), kCmdScan), c.scanStarted ? 1 : 0);
    EXPECT_EQ(TableState(), "Reserved");
    Close([&] { EXPECT_EQ(TableState(), "Release") << "the exclusive record is given back"; });
    if (c.lockReturned) {
      EXPECT_EQ(Owner(), std::string(FCL_LOCK_OWNER_SIZE, '\0'));
    }
  }
}

// A scanner that falls silent in the middle of a face: the read ends with an
// I/O error once nothing has come for 90 s (three 30 s time-outs), not after
// a thousand of them, and the batch ends with it.
TEST_F(Selko2Scan, SilentScannerEndsTheReadAfterNinetySeconds) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(41, 3, "set silent_at=2\n");
  Open("Adf-front", 150);
  SANE_Status end;
  EXPECT_EQ(Batch(&end).size(), 1u);
  EXPECT_EQ(end, SANE_STATUS_IO_ERROR);
  const std::string transcript = dravn_test::ReadFile(m_dir + "/transcript");
  size_t timedOut = 0;
  for (size_t at = 0; (at = transcript.find("bulk in", at)) != std::string::npos; ++at)
    timedOut += transcript.compare(transcript.find("->", at), 23, "-> LIBUSB_ERROR_TIMEOUT") == 0;
  EXPECT_GE(timedOut, 3u);
  EXPECT_LT(timedOut, 20u);
  Close();
}

// Sheets the thread queued before it failed are delivered first.
TEST_F(Selko2Scan, QueuedSheetsComeBeforeTheError) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(40, 4, "set jam_at=3\n");
  Open("Adf-front", 150);
  Page page;
  ASSERT_EQ(NextPage(&page), SANE_STATUS_GOOD);
  for (int i = 0; i < 2000 && !g_pCSelko2ScanFunc->ScanThreadEnded(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(g_pCSelko2ScanFunc->ScanThreadEnded());
  ASSERT_EQ(NextPage(&page), SANE_STATUS_GOOD);
  EXPECT_LT(Compare(page, 3, 150, true).maxBlock, 16);
  EXPECT_EQ(NextPage(&page), SANE_STATUS_JAMMED);
  EXPECT_EQ(StatusFile(), kStatusJam);
}

// A face whose data outgrows the buffer its window sized, and outgrows the
// decoded page: the buffer grows and the page copy takes it whole, up to
// what no window can give, which is a device fault (an I/O error, not a
// lack of memory) whose read is aborted.
TEST_F(Selko2Scan, FacesLargerThanTheirWindow) {
  if (!RunInOwnIpcNamespace()) return;
  struct Case {
    long pad;
    SANE_Status status;
  } cases[] = {{10L << 20, SANE_STATUS_GOOD}, {24L << 20, SANE_STATUS_IO_ERROR}};
  int address = 45;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pad);
    Scanner(address++, 1, "set face_pad=" + std::to_string(c.pad) + "\n");
    Open("Adf-front", 300);
    Page page;
    EXPECT_EQ(NextPage(&page), c.status);
    if (c.status == SANE_STATUS_GOOD) {
      EXPECT_LT(Compare(page, 1, 300, true).maxBlock, 16);
    } else {
      EXPECT_EQ(Count(Sent(), kCmdAbort), 1) << "the scanner is told to stop reading";
    }
    Close();
  }
}

// A block status that claims a width far beyond the window (firmware sends
// 0 until a face's last block) must not size the face's buffer: 3 x width x
// half the window's length would be gigabytes. The page is scanned in a
// child whose address space is capped well below that; the width is taken
// from the face's last block as ever, so the page still comes out whole.
#if !defined(__SANITIZE_ADDRESS__)
TEST_F(Selko2Scan, ABlockWidthBeyondTheWindowSizesNoBuffer) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(47, 1, "set block=16384\nset block_width=4294967295\n");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    long vmKb = 0;
    const std::string status = dravn_test::ReadFile("/proc/self/status");
    const size_t at = status.find("VmSize:");
    if (at != std::string::npos) vmKb = strtol(status.c_str() + at + 7, nullptr, 10);
    const rlimit cap{static_cast<rlim_t>(vmKb + (1L << 20)) * 1024, static_cast<rlim_t>(vmKb + (1L << 20)) * 1024};
    if (vmKb == 0 || setrlimit(RLIMIT_AS, &cap) != 0) _exit(3);
    Open("Adf-front", 300);
    Page page;
    const SANE_Status got = NextPage(&page);
    const bool same = got == SANE_STATUS_GOOD && Compare(page, 1, 300, true).maxBlock < 16;
    Close();
    _exit(got == SANE_STATUS_NO_MEM ? 2 : same ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 3) << "no address-space cap";
  EXPECT_NE(WEXITSTATUS(status), 2) << "the claimed width sized the buffer";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the page differs from the page fed";
}
#endif

// The entry points rebuild g_PropInfo at every start while the scan thread
// works; the batch keeps the properties it started with, even when the
// options change under it, automatic feeding included: the sheets still
// come from the scan thread alone.
TEST_F(Selko2Scan, BatchKeepsItsProperties) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(50, 3, "set page_ms=150\n");
  Open("Adf-front", 300);
  Page first;
  ASSERT_EQ(NextPage(&first), SANE_STATUS_GOOD);
  SetString(OPTION_SOURCE, "Adf-back");
  SetWord(OPTION_RESOLUTION, 150);
  SANE_Bool no = SANE_FALSE;
  ASSERT_EQ(sane_dravn2_control_option(m_handle, OPTION_AUTOFEED, SANE_ACTION_SET_VALUE, &no, nullptr),
            SANE_STATUS_GOOD);
  SANE_Status end;
  std::vector<Page> rest = Batch(&end);
  EXPECT_EQ(end, SANE_STATUS_NO_DOCS);
  EXPECT_EQ(Count(Sent(), kCmdWindow), 1);
  ASSERT_EQ(rest.size(), 2u);
  for (size_t i = 0; i < rest.size(); ++i) {
    rest[i].params = first.params;  // what the batch announced when it began
    ASSERT_EQ(rest[i].bytes.size(), first.bytes.size());
    EXPECT_LT(Compare(rest[i], 3 + 2 * static_cast<int>(i), 300, true).maxBlock, 16) << "a front page at 300 dpi";
  }
}

// --- cancel and interrupt ----------------------------------------------------------------

TEST_F(Selko2Scan, CancelWhileAPageIsComing) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(60, 3, "set page_ms=800\n");
  Open("Adf-front", 150);
  SANE_Status started = SANE_STATUS_GOOD;
  const auto t0 = std::chrono::steady_clock::now();
  std::thread starter([&] { started = sane_dravn2_start(m_handle); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  sane_dravn2_cancel(m_handle);  // as from a signal handler: the start ends the batch
  starter.join();
  EXPECT_EQ(started, SANE_STATUS_CANCELLED);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  sane_dravn2_cancel(m_handle);
  EXPECT_FALSE(g_pCSelko2ScanFunc->HasScanThread());
  EXPECT_EQ(Count(Sent(), kCmdStop), 1);
  // The scanner is free for the next batch.
  Page page;
  EXPECT_EQ(NextPage(&page), SANE_STATUS_GOOD);
  Close();
  EXPECT_EQ(Owner(), std::string(FCL_LOCK_OWNER_SIZE, '\0'));
}

TEST_F(Selko2Scan, CancelBetweenPages) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(61, 3);
  Open("Adf-front", 150);
  Page page;
  ASSERT_EQ(NextPage(&page), SANE_STATUS_GOOD);
  sane_dravn2_cancel(m_handle);
  EXPECT_EQ(Count(Sent(), kCmdStop), 1);
  SANE_Int length = 0;
  SANE_Byte byte;
  EXPECT_EQ(sane_dravn2_read(m_handle, &byte, 1, &length), SANE_STATUS_CANCELLED);
  // A new batch takes whatever sheets the first one had not fed.
  SANE_Status end;
  EXPECT_LE(Batch(&end).size(), 2u);
  EXPECT_EQ(end, SANE_STATUS_NO_DOCS);
}

TEST_F(Selko2Scan, InterruptBetweenPagesEndsTheBatch) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(62, 3);
  Open("Adf-front", 150);
  Page page;
  ASSERT_EQ(NextPage(&page), SANE_STATUS_GOOD);
  raise(SIGINT);  // a scan is running: the process lives on
  EXPECT_EQ(sane_dravn2_start(m_handle), SANE_STATUS_CANCELLED);
  sane_dravn2_cancel(m_handle);
  EXPECT_EQ(Count(Sent(), kCmdStop), 1);
  Close([&] { EXPECT_EQ(TableState(), "Release"); });
  EXPECT_EQ(Owner(), std::string(FCL_LOCK_OWNER_SIZE, '\0'));
}

// A close that comes while the scan thread still works ends the batch
// first: nothing of the thread outlives its device.
TEST_F(Selko2Scan, CloseWithoutCancelEndsTheBatch) {
  if (!RunInOwnIpcNamespace()) return;
  Scanner(63, 3, "set page_ms=300\n");
  Open("Adf-front", 150);
  Page page;
  ASSERT_EQ(NextPage(&page), SANE_STATUS_GOOD);
  const auto t0 = std::chrono::steady_clock::now();
  sane_dravn2_close(m_handle);
  EXPECT_FALSE(g_pCSelko2ScanFunc->HasScanThread());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  EXPECT_EQ(Count(Sent(), kCmdStop), 1);
  EXPECT_EQ(Owner(), std::string(FCL_LOCK_OWNER_SIZE, '\0'));
  sane_dravn2_exit();
  m_open = false;
}

}  // namespace
