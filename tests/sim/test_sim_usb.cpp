// The stand-in libusb driven through its API with the loopback model:
// enumeration and descriptors, transfers, every injected fault, the
// transcript and the scenario reader's handling of bad lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libusb.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

using dravn_test::ReadFile;
using dravn_test::WriteFile;

namespace {

constexpr uint8_t kVendorIn = 0xC0;
constexpr uint8_t kVendorOut = 0x40;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

using dravn_test::StderrCapture;

class SimUsb : public ::testing::Test {
 protected:
  void TearDown() override {
    Stop();
    unsetenv("DRAVN_SIM");
    unsetenv("DRAVN_SIM_TRANSCRIPT");
  }

  // Writes the scenario to a fresh file (a new file is a new set of
  // devices), names it in DRAVN_SIM and starts a context.
  void Start(const std::string& scenario, bool transcript = false) {
    Stop();
    m_dir = dravn_test::MakeTempDir("sim-usb");
    WriteFile(m_dir + "/scenario", scenario);
    setenv("DRAVN_SIM", (m_dir + "/scenario").c_str(), 1);
    if (transcript)
      setenv("DRAVN_SIM_TRANSCRIPT", (m_dir + "/transcript").c_str(), 1);
    else
      unsetenv("DRAVN_SIM_TRANSCRIPT");
    ASSERT_EQ(libusb_init(&m_ctx), 0);
  }

  void Stop() {
    for (auto* h : m_handles) libusb_close(h);
    m_handles.clear();
    if (m_list) libusb_free_device_list(m_list, 1);
    m_list = nullptr;
    if (m_ctx) libusb_exit(m_ctx);
    m_ctx = nullptr;
  }

  std::vector<libusb_device*> Devices() {
    if (m_list) libusb_free_device_list(m_list, 1);
    ssize_t n = libusb_get_device_list(m_ctx, &m_list);
    EXPECT_GE(n, 0);
    EXPECT_EQ(m_list[n], nullptr);
    return std::vector<libusb_device*>(m_list, m_list + std::max<ssize_t>(n, 0));
  }

  // Opens the first listed device and claims its interface.
  libusb_device_handle* OpenFirst() {
    auto devices = Devices();
    if (devices.empty()) return nullptr;
    libusb_device_handle* h = nullptr;
    EXPECT_EQ(libusb_open(devices[0], &h), 0);
    if (!h) return nullptr;
    m_handles.push_back(h);
    EXPECT_EQ(libusb_claim_interface(h, 0), 0);
    return h;
  }

  void Close(libusb_device_handle* h) {
    libusb_close(h);
    m_handles.erase(std::find(m_handles.begin(), m_handles.end(), h));
  }

  std::string Transcript() { return ReadFile(m_dir + "/transcript"); }

  std::string m_dir;
  libusb_context* m_ctx = nullptr;
  libusb_device** m_list = nullptr;
  std::vector<libusb_device_handle*> m_handles;
};

// "<result>/<actual>" and, coming in, "/<bytes>".
std::string BulkOut(libusb_device_handle* h, const std::string& bytes) {
  std::string copy = bytes;
  int actual = -1;
  int r = libusb_bulk_transfer(h, 0x02, reinterpret_cast<unsigned char*>(&copy[0]), static_cast<int>(copy.size()),
                               &actual, 1000);
  return std::string(r ? libusb_error_name(r) : "0") + "/" + std::to_string(actual);
}

std::string BulkIn(libusb_device_handle* h, int length) {
  std::string buf(static_cast<size_t>(length), '\0');
  int actual = -1;
  int r = libusb_bulk_transfer(h, 0x81, reinterpret_cast<unsigned char*>(&buf[0]), length, &actual, 1000);
  return std::string(r ? libusb_error_name(r) : "0") + "/" + std::to_string(actual) + "/" +
         buf.substr(0, static_cast<size_t>(std::max(actual, 0)));
}

TEST_F(SimUsb, EnumeratesDevicesWithTheirIdsPlacesAndDescriptors) {
  Start(
      "# two scanners\n"
      "device loopback 1234:5678 bus=3 address=7 port=4 class=6 serial=SN0042 manufacturer=Maker product=Echo\n"
      "device loopback 2d4e:1101\n");
  auto devices = Devices();
  ASSERT_EQ(devices.size(), 2u);

  libusb_device* first = devices[0];
  EXPECT_EQ(libusb_get_bus_number(first), 3);
  EXPECT_EQ(libusb_get_device_address(first), 7);
  EXPECT_EQ(libusb_get_port_number(first), 4);
  uint8_t ports[7] = {};
  EXPECT_EQ(libusb_get_port_numbers(first, ports, 7), 1);
  EXPECT_EQ(ports[0], 4);
  EXPECT_EQ(libusb_get_port_numbers(first, ports, 0), LIBUSB_ERROR_OVERFLOW);

  libusb_device_descriptor desc;
  ASSERT_EQ(libusb_get_device_descriptor(first, &desc), 0);
  EXPECT_EQ(desc.idVendor, 0x1234);
  EXPECT_EQ(desc.idProduct, 0x5678);
  EXPECT_EQ(desc.bNumConfigurations, 1);
  EXPECT_NE(desc.iSerialNumber, 0);

  libusb_config_descriptor* config = nullptr;
  ASSERT_EQ(libusb_get_config_descriptor(first, 0, &config), 0);
  ASSERT_EQ(config->bNumInterfaces, 1);
  ASSERT_EQ(config->interface[0].num_altsetting, 1);
  const libusb_interface_descriptor& alt = config->interface[0].altsetting[0];
  EXPECT_EQ(alt.bInterfaceNumber, 0);
  EXPECT_EQ(alt.bInterfaceClass, 6);
  ASSERT_EQ(alt.bNumEndpoints, 3);
  struct Endpoint {
    uint8_t address, type;
  } expected[] = {
      {0x02, LIBUSB_TRANSFER_TYPE_BULK}, {0x81, LIBUSB_TRANSFER_TYPE_BULK}, {0x83, LIBUSB_TRANSFER_TYPE_INTERRUPT}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(alt.endpoint[i].bEndpointAddress, expected[i].address);
    EXPECT_EQ(alt.endpoint[i].bmAttributes & 3, expected[i].type);
    EXPECT_EQ(libusb_get_max_packet_size(first, expected[i].address), alt.endpoint[i].wMaxPacketSize);
  }
  const uint8_t configValue = config->bConfigurationValue;
  libusb_free_config_descriptor(config);
  EXPECT_EQ(libusb_get_config_descriptor(first, 1, &config), LIBUSB_ERROR_NOT_FOUND);
  EXPECT_EQ(libusb_get_config_descriptor_by_value(first, configValue + 1, &config), LIBUSB_ERROR_NOT_FOUND);
  ASSERT_EQ(libusb_get_config_descriptor_by_value(first, configValue, &config), 0);
  libusb_free_config_descriptor(config);
  ASSERT_EQ(libusb_get_active_config_descriptor(first, &config), 0);
  libusb_free_config_descriptor(config);
  EXPECT_EQ(libusb_get_max_packet_size(first, 0x05), LIBUSB_ERROR_NOT_FOUND);

  libusb_device_handle* h = nullptr;
  ASSERT_EQ(libusb_open(first, &h), 0);
  m_handles.push_back(h);
  EXPECT_EQ(libusb_get_device(h), first);
  unsigned char text[64];
  struct {
    uint8_t index;
    int result;
    const char* text;
  } strings[] = {{desc.iManufacturer, 5, "Maker"},
                 {desc.iProduct, 4, "Echo"},
                 {desc.iSerialNumber, 6, "SN0042"},
                 {9, LIBUSB_ERROR_PIPE, ""}};
  for (const auto& s : strings) {
    SCOPED_TRACE(s.index);
    ASSERT_EQ(libusb_get_string_descriptor_ascii(h, s.index, text, sizeof text), s.result);
    if (s.result > 0) {
      EXPECT_STREQ(reinterpret_cast<char*>(text), s.text);
    }
  }
  // The raw descriptors over the default control pipe agree.
  ASSERT_EQ(libusb_get_string_descriptor(h, desc.iProduct, 0x0409, text, sizeof text), 10);
  EXPECT_EQ(std::vector<unsigned char>(text, text + 10),
            (std::vector<unsigned char>{10, LIBUSB_DT_STRING, 'E', 0, 'c', 0, 'h', 0, 'o', 0}));
  ASSERT_EQ(libusb_get_descriptor(h, LIBUSB_DT_DEVICE, 0, text, sizeof text), LIBUSB_DT_DEVICE_SIZE);
  EXPECT_EQ(text[8] | text[9] << 8, 0x1234);
  EXPECT_EQ(text[10] | text[11] << 8, 0x5678);
  ASSERT_EQ(libusb_get_descriptor(h, LIBUSB_DT_CONFIG, 0, text, sizeof text), 39);
  EXPECT_EQ(text[9 + 5], 6);  // bInterfaceClass

  // Defaults: bus 1, the first free address from 2, vendor class, no
  // serial, the catalogue's model text.
  libusb_device* second = devices[1];
  EXPECT_EQ(libusb_get_bus_number(second), 1);
  EXPECT_EQ(libusb_get_device_address(second), 2);
  ASSERT_EQ(libusb_get_device_descriptor(second, &desc), 0);
  EXPECT_EQ(desc.iSerialNumber, 0);
  ASSERT_EQ(libusb_get_config_descriptor(second, 0, &config), 0);
  EXPECT_EQ(config->interface[0].altsetting[0].bInterfaceClass, 0xFF);
  libusb_free_config_descriptor(config);
  libusb_device_handle* h2 = libusb_open_device_with_vid_pid(m_ctx, 0x2d4e, 0x1101);
  ASSERT_NE(h2, nullptr);
  m_handles.push_back(h2);
  EXPECT_EQ(libusb_get_device(h2), second);
  ASSERT_GT(libusb_get_string_descriptor_ascii(h2, desc.iProduct, text, sizeof text), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "DocuvaneRK50");
  EXPECT_EQ(libusb_open_device_with_vid_pid(m_ctx, 0x2d4e, 0x9999), nullptr);
}

TEST_F(SimUsb, NoScenarioOrAnEmptyOneListsNoDevice) {
  struct Case {
    const char* name;
    bool setVariable;
    bool writeFile;
    const char* text;
    bool folder = false;  // the variable names a folder
  } cases[] = {
      {"unset", false, false, ""},
      {"empty file", true, true, ""},
      {"comments only", true, true, "# nothing here\n\n   \n"},
      {"missing file", true, false, ""},
      {"a folder", true, false, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = dravn_test::MakeTempDir("sim-none");
    if (c.writeFile) WriteFile(dir + "/scenario", c.text);
    if (c.folder) mkdir((dir + "/scenario").c_str(), 0755);
    if (c.setVariable)
      setenv("DRAVN_SIM", (dir + "/scenario").c_str(), 1);
    else
      unsetenv("DRAVN_SIM");
    StderrCapture err;
    libusb_context* ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), 0);
    libusb_device** list = nullptr;
    EXPECT_EQ(libusb_get_device_list(ctx, &list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], nullptr);
    libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    std::string said = err.Stop();
    EXPECT_EQ(said.find("cannot read scenario") != std::string::npos, c.setVariable && !c.writeFile) << said;
    EXPECT_EQ(said.find("it is a folder") != std::string::npos, c.folder) << said;
  }
}

// Parameters that would silently do nothing are said once each: a value
// that is not a number, a page pattern that names no file. A pattern that
// is not a one-number format leaves the device out.
TEST_F(SimUsb, SilentMisconfigurationsAreReported) {
  StderrCapture err;
  Start(
      "device selko2 2d4e:1301 bus=1 address=5\nset sheets=2\nset jam_at=two\nset pages=/nonexistent/p%d.pnm\n"
      "device selko2 2d4e:1302 bus=1 address=6\nset pages=/tmp/p%s.pnm\n");
  auto devices = Devices();
  std::string said = err.Stop();
  EXPECT_EQ(devices.size(), 1u);
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = 0; (at = said.find(what, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  EXPECT_EQ(count("001:005 selko2: set jam_at=two: not a number"), 1u) << said;
  EXPECT_EQ(count("001:005 selko2: pages=/nonexistent/p%d.pnm: no page file found"), 1u) << said;
  EXPECT_EQ(count("pages= takes one %d"), 1u) << said;
}

// The replay device: the loopback model answers, and the file changes the
// IN transfers it names (counted over bulk and control IN together).
TEST_F(SimUsb, ReplayDeviceChangesTheTransfersItsFileNames) {
  auto record = [](int kind, int k, int length, const std::string& bytes = "") {
    return std::string{static_cast<char>(kind), static_cast<char>(k & 0xFF), static_cast<char>(k >> 8),
                       static_cast<char>(length & 0xFF), static_cast<char>(length >> 8)} +
           bytes;
  };
  const std::string dir = dravn_test::MakeTempDir("sim-replay");
  WriteFile(dir + "/replies", record(0, 0, 3, "XYZ") + record(1, 1, 4, std::string("\x01\x00", 2) + "!!") +
                                  record(2, 2, 2) + record(3, 3, 1) + record(1, 4, 3, std::string("\x09\x00", 2) + "#"));
  Start("device replay 1234:5678\nset family=loopback\nset replies=" + dir + "/replies\n");
  libusb_device_handle* h = OpenFirst();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(BulkOut(h, "abcdefghijklmn"), "0/14");
  EXPECT_EQ(BulkIn(h, 2), "0/2/XY") << "replaced, cut to what the host asked for";
  EXPECT_EQ(BulkIn(h, 4), "0/4/c!!f") << "patched from offset 1";
  EXPECT_EQ(BulkIn(h, 4), "0/2/gh") << "cut short: the rest of the model's answer is lost";
  EXPECT_EQ(BulkIn(h, 2), "LIBUSB_ERROR_TIMEOUT/0/") << "failed as a time-out (1 % 4), its answer lost";
  unsigned char buf[4];
  ASSERT_EQ(libusb_control_transfer(h, kVendorIn, 0x01, 0, 0, buf, 4, 1000), 4) << "a patch past the reply is dropped";
  for (int i = 0; i < 4; ++i) EXPECT_EQ(buf[i], static_cast<unsigned char>(0xA5 + i));
  EXPECT_EQ(BulkIn(h, 8), "0/2/mn") << "the model's own answer again";
  Stop();
  Start("device replay 1234:5678\n");
  EXPECT_TRUE(Devices().empty()) << "no family to answer";
  dravn_test::Run({"rm", "-rf", dir});
}

TEST_F(SimUsb, BulkAndControlTransfersRoundTrip) {
  Start("device loopback 1234:5678\n");
  libusb_device_handle* h = OpenFirst();
  ASSERT_NE(h, nullptr);

  std::string big(1000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  EXPECT_EQ(BulkOut(h, big), "0/1000");
  EXPECT_EQ(BulkIn(h, 512), "0/512/" + big.substr(0, 512));
  EXPECT_EQ(BulkIn(h, 4096), "0/488/" + big.substr(512));
  EXPECT_EQ(BulkIn(h, 16), "LIBUSB_ERROR_TIMEOUT/0/");

  unsigned char buf[64];
  ASSERT_EQ(libusb_control_transfer(h, kVendorIn, 0x01, 0, 0, buf, 16, 1000), 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(buf[i], static_cast<unsigned char>(0xA5 + i));
  unsigned char hello[] = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(libusb_control_transfer(h, kVendorOut, 0x04, 0, 0, hello, 5, 1000), 5);
  ASSERT_EQ(libusb_control_transfer(h, kVendorIn, 0x02, 0, 0, buf, sizeof buf, 1000), 5);
  EXPECT_EQ(std::string(buf, buf + 5), "hello");
  EXPECT_EQ(libusb_control_transfer(h, kVendorIn, 0x09, 0, 0, buf, 8, 1000), LIBUSB_ERROR_PIPE);

  int actual = -1;
  EXPECT_EQ(libusb_interrupt_transfer(h, 0x83, buf, 8, &actual, 100), LIBUSB_ERROR_TIMEOUT);
  EXPECT_EQ(actual, 0);
  EXPECT_EQ(libusb_bulk_transfer(h, 0x05, buf, 8, &actual, 100), LIBUSB_ERROR_IO);
  EXPECT_EQ(libusb_bulk_transfer(h, 0x83, buf, 8, &actual, 100), LIBUSB_ERROR_IO);
}

// Transfers 1 to 3 are: bulk OUT "ABCDEFGH", bulk IN 8, bulk IN 8.
TEST_F(SimUsb, EachTransferFaultStrikesAtItsTransfer) {
  struct Case {
    const char* fault;
    std::vector<std::string> expected;
  } cases[] = {
      {"fault transfer 2 fail", {"0/8", "LIBUSB_ERROR_IO/0/", "0/8/ABCDEFGH"}},
      {"fault transfer 2 stall", {"0/8", "LIBUSB_ERROR_PIPE/0/", "0/8/ABCDEFGH"}},
      {"fault transfer 2 short 3", {"0/8", "0/3/ABC", "0/5/DEFGH"}},
      {"fault transfer 2 short 20", {"0/8", "0/8/ABCDEFGH", "LIBUSB_ERROR_TIMEOUT/0/"}},
      {"fault transfer 2 timeout", {"0/8", "LIBUSB_ERROR_TIMEOUT/0/", "0/8/ABCDEFGH"}},
      {"fault transfer 2 timeout 2", {"0/8", "LIBUSB_ERROR_TIMEOUT/2/AB", "0/6/CDEFGH"}},
      {"fault transfer 2 gone", {"0/8", "LIBUSB_ERROR_NO_DEVICE/0/", "LIBUSB_ERROR_NO_DEVICE/0/"}},
      {"fault transfer 1 short 3", {"0/3", "0/3/ABC", "LIBUSB_ERROR_TIMEOUT/0/"}},
      {"fault transfer 1 fail", {"LIBUSB_ERROR_IO/0", "LIBUSB_ERROR_TIMEOUT/0/", "LIBUSB_ERROR_TIMEOUT/0/"}},
      {"fault transfer 1 timeout 5", {"LIBUSB_ERROR_TIMEOUT/5", "0/5/ABCDE", "LIBUSB_ERROR_TIMEOUT/0/"}},
      {"fault transfer 3 stall", {"0/8", "0/8/ABCDEFGH", "LIBUSB_ERROR_PIPE/0/"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    Start(std::string("device loopback 1234:5678\n") + c.fault + "\n");
    libusb_device_handle* h = OpenFirst();
    ASSERT_NE(h, nullptr);
    std::vector<std::string> got{BulkOut(h, "ABCDEFGH"), BulkIn(h, 8), BulkIn(h, 8)};
    EXPECT_EQ(got, c.expected);
  }
}

// A held transfer waits while its file is there, without the device lock
// (another transfer of the program goes on meanwhile), then moves its data.
TEST_F(SimUsb, AHeldTransferWaitsUntilItsFileIsGone) {
  const std::string hold = dravn_test::MakeTempDir("sim-hold") + "/held";
  Start("device loopback 1234:5678\nfault transfer 2 hold " + hold + "\n");
  libusb_device_handle* h = OpenFirst();
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(BulkOut(h, "ABCDEFGH"), "0/8");
  std::atomic<bool> done{false};
  std::string got;
  std::thread reader([&] {
    got = BulkIn(h, 8);
    done = true;
  });
  struct stat st;
  bool held = false;
  for (int i = 0; i < 3000 && !(held = stat(hold.c_str(), &st) == 0); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  unsigned char buf[4];
  const int other = libusb_control_transfer(h, kVendorIn, 0x01, 0, 0, buf, sizeof buf, 1000);
  const bool doneWhileHeld = done;
  unlink(hold.c_str());
  reader.join();
  EXPECT_TRUE(held);
  EXPECT_EQ(other, 4);
  EXPECT_FALSE(doneWhileHeld);
  EXPECT_EQ(got, "0/8/ABCDEFGH");
}

TEST_F(SimUsb, ControlAndInterruptTransfersCountButStringReadsDoNot) {
  Start("device loopback 1234:5678\nfault transfer 2 stall\nfault transfer 4 short 4\nfault transfer 5 fail\n");
  libusb_device_handle* h = OpenFirst();
  ASSERT_NE(h, nullptr);
  unsigned char buf[64];
  EXPECT_EQ(libusb_control_transfer(h, kVendorIn, 0x01, 0, 0, buf, 16, 1000), 16);                   // 1
  EXPECT_GT(libusb_get_string_descriptor_ascii(h, 2, buf, sizeof buf), 0);                           // not counted
  EXPECT_EQ(libusb_control_transfer(h, kVendorIn, 0x01, 0, 0, buf, 16, 1000), LIBUSB_ERROR_PIPE);    // 2
  EXPECT_EQ(libusb_get_descriptor(h, LIBUSB_DT_DEVICE, 0, buf, sizeof buf), LIBUSB_DT_DEVICE_SIZE);  // 3
  EXPECT_EQ(libusb_control_transfer(h, kVendorIn, 0x01, 0, 0, buf, 16, 1000), 4);                    // 4
  int actual = -1;
  EXPECT_EQ(libusb_interrupt_transfer(h, 0x83, buf, 8, &actual, 100), LIBUSB_ERROR_IO);       // 5
  EXPECT_EQ(libusb_interrupt_transfer(h, 0x83, buf, 8, &actual, 100), LIBUSB_ERROR_TIMEOUT);  // 6
}

TEST_F(SimUsb, OpenAndClaimFailWithTheInjectedErrno) {
  struct Case {
    const char* fault;
    bool atClaim;
    int result;
    int sysErrno;
  } cases[] = {
      {"fault open EACCES", false, LIBUSB_ERROR_ACCESS, EACCES},
      {"fault open EPERM", false, LIBUSB_ERROR_ACCESS, EPERM},
      {"fault open EBUSY", false, LIBUSB_ERROR_BUSY, EBUSY},
      {"fault open 19", false, LIBUSB_ERROR_NO_DEVICE, ENODEV},
      {"fault open EIO", false, LIBUSB_ERROR_IO, EIO},
      {"fault claim EBUSY", true, LIBUSB_ERROR_BUSY, EBUSY},
      {"fault claim EACCES", true, LIBUSB_ERROR_ACCESS, EACCES},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    Start(std::string("device loopback 1234:5678\n") + c.fault + "\n");
    auto devices = Devices();
    ASSERT_EQ(devices.size(), 1u);
    // Without times=, every attempt fails.
    for (int attempt = 0; attempt < 2; ++attempt) {
      libusb_device_handle* h = nullptr;
      errno = 0;
      int r = libusb_open(devices[0], &h);
      if (c.atClaim) {
        ASSERT_EQ(r, 0);
        errno = 0;
        r = libusb_claim_interface(h, 0);
        libusb_close(h);
      }
      EXPECT_EQ(r, c.result);
      EXPECT_EQ(errno, c.sysErrno);
    }
  }
}

TEST_F(SimUsb, AnErrnoFaultWithACountFailsThatManyCalls) {
  Start("device loopback 1234:5678\nfault open EBUSY times=2\nfault claim EACCES times=1\n");
  auto devices = Devices();
  ASSERT_EQ(devices.size(), 1u);
  libusb_device_handle* h = nullptr;
  EXPECT_EQ(libusb_open(devices[0], &h), LIBUSB_ERROR_BUSY);
  EXPECT_EQ(libusb_open(devices[0], &h), LIBUSB_ERROR_BUSY);
  ASSERT_EQ(libusb_open(devices[0], &h), 0);
  m_handles.push_back(h);
  EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_ERROR_ACCESS);
  EXPECT_EQ(libusb_claim_interface(h, 0), 0);
}

TEST_F(SimUsb, OneHandleAtATimeClaimsTheInterface) {
  Start("device loopback 1234:5678\n");
  libusb_device_handle* first = OpenFirst();
  ASSERT_NE(first, nullptr);
  libusb_device_handle* second = nullptr;
  ASSERT_EQ(libusb_open(Devices()[0], &second), 0);
  m_handles.push_back(second);
  EXPECT_EQ(libusb_claim_interface(second, 0), LIBUSB_ERROR_BUSY);
  EXPECT_EQ(libusb_claim_interface(second, 1), LIBUSB_ERROR_NOT_FOUND);
  EXPECT_EQ(libusb_release_interface(second, 0), LIBUSB_ERROR_NOT_FOUND);
  Close(first);  // closing gives the interface up
  EXPECT_EQ(libusb_claim_interface(second, 0), 0);
}

TEST_F(SimUsb, AGoneDeviceAnswersNoDeviceAndLeavesLaterLists) {
  Start("device loopback 1234:5678 address=5\nfault transfer 2 gone\ndevice loopback 1234:9999 address=6\n");
  libusb_device* dev = Devices()[0];
  libusb_ref_device(dev);
  libusb_device_handle* h = OpenFirst();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(BulkOut(h, "x"), "0/1");
  EXPECT_EQ(BulkOut(h, "x"), "LIBUSB_ERROR_NO_DEVICE/0");
  unsigned char buf[16];
  EXPECT_EQ(libusb_control_transfer(h, kVendorIn, 0x01, 0, 0, buf, 16, 1000), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(libusb_get_string_descriptor_ascii(h, 2, buf, sizeof buf), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(libusb_release_interface(h, 0), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_ERROR_NO_DEVICE);
  libusb_device_handle* again = nullptr;
  EXPECT_EQ(libusb_open(dev, &again), LIBUSB_ERROR_NO_DEVICE);
  libusb_unref_device(dev);

  auto devices = Devices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(libusb_get_device_address(devices[0]), 6);

  // The same scenario in the same process: the device stays gone, also for
  // the default context, however often it is started.
  ASSERT_EQ(libusb_init(nullptr), 0);
  ASSERT_EQ(libusb_init(nullptr), 0);
  libusb_exit(nullptr);
  libusb_device** list = nullptr;
  EXPECT_EQ(libusb_get_device_list(nullptr, &list), 1);
  libusb_free_device_list(list, 1);
  libusb_exit(nullptr);
}

TEST_F(SimUsb, TheTranscriptHasOneLinePerEvent) {
  Start("device loopback 1234:5678 bus=1 address=4\nfault transfer 3 short 2\n", true);
  libusb_device_handle* h = OpenFirst();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(BulkOut(h, "\x01\x02\x03"), "0/3");
  EXPECT_EQ(BulkIn(h, 16), "0/3/\x01\x02\x03");
  unsigned char buf[128];
  EXPECT_EQ(libusb_control_transfer(h, kVendorIn, 0x01, 0, 0, buf, 4, 1000), 2);
  int actual;
  EXPECT_EQ(libusb_interrupt_transfer(h, 0x83, buf, 8, &actual, 100), LIBUSB_ERROR_TIMEOUT);
  unsigned char ab[] = {'a', 'b'};
  EXPECT_EQ(libusb_control_transfer(h, kVendorOut, 0x04, 1, 2, ab, 2, 1000), 2);
  EXPECT_EQ(BulkOut(h, std::string(100, 'Z')), "0/100");
  EXPECT_EQ(libusb_release_interface(h, 0), 0);
  EXPECT_EQ(libusb_claim_interface(h, 3), LIBUSB_ERROR_NOT_FOUND);
  Close(h);

  std::string zHex;
  for (int i = 0; i < 64; ++i) zHex += "5a";  // only the first 64 bytes
  std::vector<std::string> expected = {
      "001:004 open -> 0",
      "001:004 claim 0 -> 0",
      "001:004 #1 bulk out ep=0x02 len=3 actual=3 -> 0 010203",
      "001:004 #2 bulk in ep=0x81 len=16 actual=3 -> 0 010203",
      "001:004 #3 control in type=0xc0 req=0x01 value=0x0000 index=0x0000 len=4 actual=2 -> 2 a5a6",
      "001:004 #4 interrupt in ep=0x83 len=8 actual=0 -> LIBUSB_ERROR_TIMEOUT",
      "001:004 #5 control out type=0x40 req=0x04 value=0x0001 index=0x0002 len=2 actual=2 -> 2 6162",
      "001:004 #6 bulk out ep=0x02 len=100 actual=100 -> 0 " + zHex,
      "001:004 release 0 -> 0",
      "001:004 claim 3 -> LIBUSB_ERROR_NOT_FOUND",
      "001:004 close",
  };
  EXPECT_EQ(Lines(Transcript()), expected);
}

TEST_F(SimUsb, ProcessesShareOneTranscriptWithoutLosingLines) {
  constexpr int kProcesses = 3;
  constexpr int kRounds = 40;
  m_dir = dravn_test::MakeTempDir("sim-usb");
  WriteFile(m_dir + "/scenario", "device loopback 1234:5678 bus=1 address=2\n");
  setenv("DRAVN_SIM", (m_dir + "/scenario").c_str(), 1);
  setenv("DRAVN_SIM_TRANSCRIPT", (m_dir + "/transcript").c_str(), 1);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // Each child opens the transcript itself.
      libusb_context* ctx = nullptr;
      libusb_device** list = nullptr;
      libusb_device_handle* h = nullptr;
      if (libusb_init(&ctx) || libusb_get_device_list(ctx, &list) != 1 || libusb_open(list[0], &h)) _exit(2);
      unsigned char data[4] = {static_cast<unsigned char>(p), 1, 2, 3};
      int actual;
      for (int i = 0; i < kRounds; ++i)
        if (libusb_bulk_transfer(h, 0x02, data, 4, &actual, 100) ||
            libusb_bulk_transfer(h, 0x81, data, 4, &actual, 100))
          _exit(3);
      libusb_close(h);
      libusb_free_device_list(list, 1);
      libusb_exit(ctx);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  auto lines = Lines(Transcript());
  EXPECT_EQ(lines.size(), static_cast<size_t>(kProcesses * (2 * kRounds + 2)));
  std::regex line("001:002 (open -> 0|close|#[0-9]+ bulk (out ep=0x02|in ep=0x81) len=4 actual=4 -> 0 0[0-2]010203)");
  for (const auto& l : lines) EXPECT_TRUE(std::regex_match(l, line)) << l;
}

TEST_F(SimUsb, TwoThreadsUseOneDeviceAtOnce) {
  constexpr int kRounds = 200;
  Start("device loopback 1234:5678\n", true);
  libusb_device_handle* h = OpenFirst();
  ASSERT_NE(h, nullptr);
  std::atomic<int> errors{0};
  // The scan thread's bulk exchanges and the application's control reads.
  std::thread scan([&] {
    for (int i = 0; i < kRounds; ++i) {
      std::string word = "w" + std::to_string(i);
      if (BulkOut(h, word) != "0/" + std::to_string(word.size()) ||
          BulkIn(h, 64) != "0/" + std::to_string(word.size()) + "/" + word)
        ++errors;
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    unsigned char buf[8];
    if (libusb_control_transfer(h, kVendorIn, 0x01, 0, 0, buf, 8, 1000) != 8 || buf[7] != 0xAC) ++errors;
  }
  scan.join();
  EXPECT_EQ(errors.load(), 0);
  // Every transfer got its own number.
  std::set<long> numbers;
  std::regex numbered("001:002 #([0-9]+) .*");
  for (const auto& l : Lines(Transcript())) {
    std::smatch m;
    if (std::regex_match(l, m, numbered)) numbers.insert(std::stol(m[1]));
  }
  EXPECT_EQ(numbers.size(), static_cast<size_t>(3 * kRounds));
  EXPECT_EQ(*numbers.rbegin(), 3 * kRounds);
}

TEST_F(SimUsb, ModelStateFilesOutliveTheDevices) {
  std::string state = dravn_test::MakeTempDir("sim-state") + "/stored";
  Start("device loopback 1234:5678\nset state=" + state + "\n");
  libusb_device_handle* h = OpenFirst();
  ASSERT_NE(h, nullptr);
  unsigned char keep[] = {'k', 'e', 'e', 'p'};
  ASSERT_EQ(libusb_control_transfer(h, kVendorOut, 0x04, 0, 0, keep, 4, 1000), 4);

  // A new scenario file makes new devices, as another process would.
  Start("device loopback 1234:5678\nset state=" + state + "\n");
  h = OpenFirst();
  ASSERT_NE(h, nullptr);
  unsigned char buf[16];
  ASSERT_EQ(libusb_control_transfer(h, kVendorIn, 0x02, 0, 0, buf, sizeof buf, 1000), 4);
  EXPECT_EQ(std::string(buf, buf + 4), "keep");

  Start("device loopback 1234:5678\n");
  h = OpenFirst();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(libusb_control_transfer(h, kVendorIn, 0x02, 0, 0, buf, sizeof buf, 1000), 0);
}

TEST_F(SimUsb, LatencyDelaysEveryTransfer) {
  Start("device loopback 1234:5678\nset latency_ms=25\n");
  libusb_device_handle* h = OpenFirst();
  ASSERT_NE(h, nullptr);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(BulkOut(h, "x"), "0/1");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(SimUsb, BadScenarioLinesAreReportedAndSkipped) {
  struct Line {
    std::string text;
    bool bad;
  };
  std::string garbage(100000, 'x');
  garbage[500] = '\0';
  std::vector<Line> lines = {
      {"set early=1", true},
      {"fault transfer 1 fail", true},
      {"# a comment", false},
      {"device loopback 1234:0001", false},
      {"frobnicate now", true},
      {"device", true},
      {"device nosuchfamily 1234:0002", true},
      {"set belongs=to-the-skipped-device", false},
      {"device loopback 12345:0002", true},
      {"device loopback 1234:0003 bus=0", true},
      {"device loopback 1234:0004 colour=red", true},
      {"device loopback 1234:0005 address=2", true},  // the first device's default address
      {"device loopback 1234:0006 bus=1 address=9", false},
      {"set novalue", true},
      {"fault transfer 0 fail", true},
      {"fault transfer 3 explode", true},
      {"fault transfer 3 short", true},
      {"fault transfer 3 short -1", true},
      {"fault transfer 3 hold", true},
      {"fault transfer 3 hold /tmp/a /tmp/b", true},
      {"fault open ENOTANERRNO", true},
      {"fault open EBUSY times=0", true},
      {"fault transfer 2 stall", false},
      {"fault transfer 2 fail", true},
      {"fault", true},
      {garbage, true},
      {"device loopback 1234:0007 serial=", false},
  };
  std::string text;
  for (const auto& l : lines) text += l.text + "\n";
  std::string dir = dravn_test::MakeTempDir("sim-bad");
  StderrCapture err;
  Start(text);
  std::string said = err.Stop();
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string where = "scenario:" + std::to_string(i + 1) + ": ";
    EXPECT_EQ(said.find(where) != std::string::npos, lines[i].bad) << where << "\n" << said;
  }
  auto devices = Devices();
  ASSERT_EQ(devices.size(), 3u);
  std::vector<int> products;
  for (auto* d : devices) {
    libusb_device_descriptor desc;
    libusb_get_device_descriptor(d, &desc);
    products.push_back(desc.idProduct);
  }
  EXPECT_EQ(products, (std::vector<int>{1, 6, 7}));
  // The stall at transfer 2 stands; the fail that wanted the same transfer
  // was dropped.
  libusb_device_handle* h = nullptr;
  ASSERT_EQ(libusb_open(devices[1], &h), 0);
  m_handles.push_back(h);
  EXPECT_EQ(BulkOut(h, "a"), "0/1");
  EXPECT_EQ(BulkOut(h, "a"), "LIBUSB_ERROR_PIPE/0");
}

TEST_F(SimUsb, UnusedApiGivesHarmlessAnswers) {
  Start("device loopback 1234:5678\n");
  EXPECT_EQ(libusb_has_capability(LIBUSB_CAP_HAS_CAPABILITY), 1);
  EXPECT_EQ(libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG), 0);
  libusb_hotplug_callback_handle cb;
  EXPECT_EQ(libusb_hotplug_register_callback(m_ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, 0, LIBUSB_HOTPLUG_MATCH_ANY,
                                             LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, nullptr, nullptr, &cb),
            LIBUSB_ERROR_NOT_SUPPORTED);
  EXPECT_STREQ(libusb_error_name(LIBUSB_ERROR_ACCESS), "LIBUSB_ERROR_ACCESS");
  EXPECT_STRNE(libusb_strerror(LIBUSB_ERROR_BUSY), "");
  EXPECT_EQ(libusb_get_version()->major, 1);
  EXPECT_EQ(libusb_set_option(m_ctx, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_WARNING), 0);
  libusb_transfer* t = libusb_alloc_transfer(0);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(libusb_submit_transfer(t), LIBUSB_ERROR_NOT_SUPPORTED);
  libusb_free_transfer(t);
  EXPECT_EQ(libusb_handle_events(m_ctx), LIBUSB_ERROR_NOT_SUPPORTED);
  libusb_device_handle* h = OpenFirst();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(libusb_kernel_driver_active(h, 0), 0);
  EXPECT_EQ(libusb_detach_kernel_driver(h, 0), 0);
  int config = 0;
  EXPECT_EQ(libusb_get_configuration(h, &config), 0);
  EXPECT_EQ(config, 1);
  EXPECT_EQ(libusb_set_interface_alt_setting(h, 0, 0), 0);
  EXPECT_EQ(libusb_clear_halt(h, 0x81), 0);
  EXPECT_EQ(libusb_reset_device(h), 0);
}

TEST_F(SimUsb, SeveralInterfacesEachWithItsClassAndEachClaimable) {
  StderrCapture capture;
  Start(
      "device loopback 2d4e:1101 interfaces=255,8,0\n"
      "device loopback 2d4e:1102 interfaces=6,x\n"
      "device loopback 2d4e:1103 interfaces=1,2,3,4,5,6,7,8,9\n");
  std::string said = capture.Stop();
  EXPECT_NE(said.find(":2: bad value for interfaces"), std::string::npos) << said;
  EXPECT_NE(said.find(":3: bad value for interfaces"), std::string::npos) << said;
  auto devices = Devices();
  ASSERT_EQ(devices.size(), 1u);
  libusb_config_descriptor* config = nullptr;
  ASSERT_EQ(libusb_get_config_descriptor(devices[0], 0, &config), 0);
  ASSERT_EQ(config->bNumInterfaces, 3);
  const uint8_t classes[] = {255, 8, 0};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(config->interface[i].altsetting[0].bInterfaceNumber, i);
    EXPECT_EQ(config->interface[i].altsetting[0].bInterfaceClass, classes[i]);
    EXPECT_EQ(config->interface[i].altsetting[0].bNumEndpoints, 3);
  }
  libusb_free_config_descriptor(config);
  libusb_device_handle* h = nullptr;
  ASSERT_EQ(libusb_open(devices[0], &h), 0);
  m_handles.push_back(h);
  unsigned char raw[128];
  ASSERT_EQ(libusb_get_descriptor(h, LIBUSB_DT_CONFIG, 0, raw, sizeof raw), 9 + 3 * 30);
  EXPECT_EQ(raw[2], 9 + 3 * 30);
  EXPECT_EQ(raw[4], 3);
  EXPECT_EQ(raw[9 + 30 + 2], 1);  // second interface's number
  EXPECT_EQ(raw[9 + 30 + 5], 8);  // and its class
  EXPECT_EQ(libusb_claim_interface(h, 2), 0);
  EXPECT_EQ(libusb_release_interface(h, 2), 0);
  EXPECT_EQ(libusb_claim_interface(h, 3), LIBUSB_ERROR_NOT_FOUND);
}

}  // namespace

// A port reset ends the exchange under way: a reply left unread and data a
// command still waits for are dropped, so the next command is taken as one.
TEST_F(SimUsb, ResetDropsTheExchangeUnderWay) {
  // 16-byte Selko2 blocks: signature 0x230, opcode, 0, sub-code, 0, parameter,
  // 0, 0, data length.
  auto block = [](int opcode, int sub, int length) {
    std::string b = {'\x30', '\x02', 0, 0, static_cast<char>(opcode), 0, static_cast<char>(sub), 0, 0, 0, 0, 0,
                     static_cast<char>(length & 0xFF), static_cast<char>(length >> 8), 0, 0};
    return b;
  };
  Start("device selko2 2d4e:1301\n");
  libusb_device_handle* h = OpenFirst();
  ASSERT_NE(h, nullptr);
  // An NVRAM read whose status and data are never read.
  EXPECT_EQ(BulkOut(h, block(0x28, 0x10, 288)), "0/16");
  EXPECT_EQ(libusb_reset_device(h), 0);
  EXPECT_EQ(BulkIn(h, 32).substr(0, 21), "LIBUSB_ERROR_TIMEOUT/");
  // An NVRAM write whose data never came: the next block is a command.
  EXPECT_EQ(BulkOut(h, block(0x2A, 0x10, 288)), "0/16");
  EXPECT_EQ(BulkIn(h, 32).substr(0, 5), "0/32/");
  EXPECT_EQ(libusb_reset_device(h), 0);
  EXPECT_EQ(BulkOut(h, block(0x12, 0x02, 0)), "0/16");
  EXPECT_EQ(BulkIn(h, 32).substr(0, 5), "0/32/");
}
