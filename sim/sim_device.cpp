#include "sim_device.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "descriptors.h"
#include "transcript.h"

namespace dravn_sim {
namespace {

std::string ResultText(int result) { return result < 0 ? libusb_error_name(result) : std::to_string(result); }

std::string Hex2(unsigned v) {
  char buf[8];
  snprintf(buf, sizeof buf, "0x%02x", v & 0xFF);
  return buf;
}

std::string Hex4(unsigned v) {
  char buf[8];
  snprintf(buf, sizeof buf, "0x%04x", v & 0xFFFF);
  return buf;
}

// A model's exception must not reach the application through a C call.
template <typename Call>
int Guarded(const SimDeviceSpec& spec, Call call) {
  try {
    return call();
  } catch (const std::exception& e) {
    fprintf(stderr, "dravn-sim: %03u:%03u %s model failed: %s\n", spec.bus, spec.address, spec.family.c_str(),
            e.what());
  } catch (...) {
    fprintf(stderr, "dravn-sim: %03u:%03u %s model failed\n", spec.bus, spec.address, spec.family.c_str());
  }
  return LIBUSB_ERROR_OTHER;
}

// A held transfer: the file tells a test that the program has come this far,
// and the test removes it (or kills the program) to go on.
void HoldWhileFileExists(const std::string& path) {
  if (FILE* f = fopen(path.c_str(), "w")) fclose(f);
  struct stat st;
  for (int i = 0; i < 6000 && stat(path.c_str(), &st) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool IsIn(const SimTransfer& t) {
  return (t.kind == SimTransferKind::Control ? t.setup.requestType : t.endpoint) & LIBUSB_ENDPOINT_IN;
}

}  // namespace

SimDevice::SimDevice(SimDeviceSpec spec, std::unique_ptr<SimDeviceModel> model)
    : m_spec(std::move(spec)), m_model(std::move(model)), m_faults(m_spec.faults) {
  char name[16];
  snprintf(name, sizeof name, "%03u:%03u", m_spec.bus, m_spec.address);
  m_name = name;
  auto latency = m_spec.params.find("latency_ms");
  if (latency != m_spec.params.end()) m_latencyMs = std::max(0L, strtol(latency->second.c_str(), nullptr, 10));
  m_model->m_deviceLock = &m_lock;
}

SimDevice::~SimDevice() = default;

bool SimDevice::Gone() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_gone;
}

int SimDevice::Present() const { return Gone() ? LIBUSB_ERROR_NO_DEVICE : 0; }

int SimDevice::Reset() {
  std::lock_guard<std::mutex> lock(m_lock);
  int result = 0;
  if (m_gone) {
    result = LIBUSB_ERROR_NO_DEVICE;
  } else {
    Guarded(m_spec, [&] {
      m_model->Reset();
      return 0;
    });
  }
  Log("reset -> " + ResultText(result));
  return result;
}

int SimDevice::Configuration() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_configuration;
}

SimFault* SimDevice::TakeErrnoFault(SimFaultKind kind) {
  for (auto& f : m_faults)
    if (f.kind == kind && f.times != 0) {
      if (f.times > 0) --f.times;
      return &f;
    }
  return nullptr;
}

const SimFault* SimDevice::TransferFault(long k) const {
  for (const auto& f : m_faults)
    if (f.transfer == k) return &f;
  return nullptr;
}

int SimDevice::Open(int* sysErrno) {
  std::lock_guard<std::mutex> lock(m_lock);
  *sysErrno = 0;
  int result;
  if (m_gone) {
    *sysErrno = ENODEV;
    result = LIBUSB_ERROR_NO_DEVICE;
  } else if (const SimFault* f = TakeErrnoFault(SimFaultKind::OpenErrno)) {
    *sysErrno = f->sysErrno;
    result = SimErrnoToLibusb(f->sysErrno);
  } else {
    result = Guarded(m_spec, [&] { return m_model->Open(); });
  }
  Log("open -> " + ResultText(result));
  return result;
}

void SimDevice::Close(const void* handle) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_claimedBy == handle) {
    m_claimedBy = nullptr;
    Guarded(m_spec, [&] {
      m_model->Release();
      return 0;
    });
  }
  Guarded(m_spec, [&] {
    m_model->Close();
    return 0;
  });
  Log("close");
}

int SimDevice::Claim(const void* handle, int interfaceNumber, int* sysErrno) {
  std::lock_guard<std::mutex> lock(m_lock);
  *sysErrno = 0;
  int result;
  if (m_gone) {
    *sysErrno = ENODEV;
    result = LIBUSB_ERROR_NO_DEVICE;
  } else if (interfaceNumber < 0 || interfaceNumber >= static_cast<int>(SimInterfaceClasses(m_spec).size())) {
    *sysErrno = ENOENT;
    result = LIBUSB_ERROR_NOT_FOUND;
  } else if (m_claimedBy == handle) {
    result = 0;
  } else if (m_claimedBy) {
    // Another handle of this process holds it, as usbfs tells a second
    // claimer.
    *sysErrno = EBUSY;
    result = LIBUSB_ERROR_BUSY;
  } else if (const SimFault* f = TakeErrnoFault(SimFaultKind::ClaimErrno)) {
    *sysErrno = f->sysErrno;
    result = SimErrnoToLibusb(f->sysErrno);
  } else {
    result = Guarded(m_spec, [&] { return m_model->Claim(); });
    if (result == 0) m_claimedBy = handle;
  }
  Log("claim " + std::to_string(interfaceNumber) + " -> " + ResultText(result));
  return result;
}

int SimDevice::Release(const void* handle, int interfaceNumber) {
  std::lock_guard<std::mutex> lock(m_lock);
  int result;
  if (interfaceNumber < 0 || interfaceNumber >= static_cast<int>(SimInterfaceClasses(m_spec).size()) ||
      m_claimedBy != handle) {
    result = LIBUSB_ERROR_NOT_FOUND;
  } else {
    m_claimedBy = nullptr;
    Guarded(m_spec, [&] {
      m_model->Release();
      return 0;
    });
    result = m_gone ? LIBUSB_ERROR_NO_DEVICE : 0;
  }
  Log("release " + std::to_string(interfaceNumber) + " -> " + ResultText(result));
  return result;
}

int SimDevice::SetConfiguration(const void*, int value) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_gone) return LIBUSB_ERROR_NO_DEVICE;
  if (m_claimedBy) return LIBUSB_ERROR_BUSY;
  if (value == kConfigurationValue)
    m_configuration = kConfigurationValue;
  else if (value == 0 || value == -1)
    m_configuration = 0;
  else
    return LIBUSB_ERROR_NOT_FOUND;
  return 0;
}

int SimDevice::SetAltSetting(const void* handle, int interfaceNumber, int alternate) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_gone) return LIBUSB_ERROR_NO_DEVICE;
  if (interfaceNumber != 0 || m_claimedBy != handle || alternate != 0) return LIBUSB_ERROR_NOT_FOUND;
  return 0;
}

int SimDevice::Transfer(SimTransfer& t) {
  if (m_latencyMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(m_latencyMs));
  std::unique_lock<std::mutex> lock(m_lock);
  long k = ++m_transfers;
  t.actual = 0;
  int result;
  const SimFault* f = m_gone ? nullptr : TransferFault(k);
  if (f && f->kind == SimFaultKind::Hold) {
    // Not under the device lock: another thread of the program may go on.
    const std::string path = f->path;
    lock.unlock();
    HoldWhileFileExists(path);
    lock.lock();
    f = nullptr;
  }
  if (m_gone) {
    result = LIBUSB_ERROR_NO_DEVICE;
  } else if (!f) {
    result = Deliver(t, t.length);
  } else {
    switch (f->kind) {
      case SimFaultKind::Gone:
        m_gone = true;
        result = LIBUSB_ERROR_NO_DEVICE;
        break;
      case SimFaultKind::Fail:
        result = LIBUSB_ERROR_IO;
        break;
      case SimFaultKind::Stall:
        result = LIBUSB_ERROR_PIPE;
        break;
      case SimFaultKind::Short:
        result = Deliver(t, std::min(f->bytes, t.length));
        break;
      case SimFaultKind::Timeout:
        // The partial data moves; the transfer still ends in a time-out.
        if (f->bytes > 0) Deliver(t, std::min(f->bytes, t.length));
        result = LIBUSB_ERROR_TIMEOUT;
        break;
      default:
        result = LIBUSB_ERROR_OTHER;
        break;
    }
  }
  LogTransfer(k, t, result);
  return result;
}

// Moves at most `limit` bytes of the transfer.
int SimDevice::Deliver(SimTransfer& t, int limit) {
  int r = Guarded(m_spec, [&] { return Answer(t, limit); });
  // A device that sends more than the host asked for overflows the request.
  if (r > limit) return LIBUSB_ERROR_OVERFLOW;
  if (r < 0) return r;
  t.actual = r;
  return 0;
}

// The byte count or error of one transfer, from the model or, for the
// standard descriptor requests, from the core.
int SimDevice::Answer(SimTransfer& t, int limit) {
  if (t.kind == SimTransferKind::Control) {
    const SimControlSetup& s = t.setup;
    if (s.requestType != LIBUSB_ENDPOINT_IN || s.request != LIBUSB_REQUEST_GET_DESCRIPTOR)
      return m_model->Control(s, t.data, limit);
    auto bytes = SimRawDescriptor(m_spec, static_cast<uint8_t>(s.value >> 8), static_cast<uint8_t>(s.value & 0xFF));
    if (bytes.empty()) return LIBUSB_ERROR_PIPE;
    int n = std::min(limit, static_cast<int>(bytes.size()));
    std::copy(bytes.begin(), bytes.begin() + n, t.data);
    return n;
  }
  if (t.kind == SimTransferKind::Bulk && t.endpoint == kBulkOutEndpoint) return m_model->BulkOut(t.data, limit);
  if (t.kind == SimTransferKind::Bulk && t.endpoint == kBulkInEndpoint) return m_model->BulkIn(t.data, limit);
  if (t.kind == SimTransferKind::Interrupt && t.endpoint == kInterruptInEndpoint)
    return m_model->InterruptIn(t.data, limit);
  return LIBUSB_ERROR_IO;  // no such endpoint: usbfs refuses the request
}

void SimDevice::Log(const std::string& what) const {
  if (SimTranscriptActive()) SimTranscriptWrite(m_name + " " + what);
}

void SimDevice::LogTransfer(long k, const SimTransfer& t, int result) const {
  if (!SimTranscriptActive()) return;
  bool in = IsIn(t);
  std::ostringstream line;
  line << m_name << " #" << k << " ";
  if (t.kind == SimTransferKind::Control) {
    line << "control " << (in ? "in" : "out") << " type=" << Hex2(t.setup.requestType)
         << " req=" << Hex2(t.setup.request) << " value=" << Hex4(t.setup.value) << " index=" << Hex4(t.setup.index);
  } else {
    line << (t.kind == SimTransferKind::Bulk ? "bulk " : "interrupt ") << (in ? "in" : "out")
         << " ep=" << Hex2(t.endpoint);
  }
  // A control transfer answers its byte count, as libusb_control_transfer does.
  int shown = t.kind == SimTransferKind::Control && result == 0 ? t.actual : result;
  line << " len=" << t.length << " actual=" << t.actual << " -> " << ResultText(shown);
  // What the host offered going out, what it received coming in.
  std::string hex = SimHex(t.data, in ? t.actual : t.length);
  if (!hex.empty()) line << " " << hex;
  SimTranscriptWrite(line.str());
}

std::vector<std::shared_ptr<SimDevice>> SimScenarioDevices() {
  // Never destroyed: a scan thread may still use a device while the
  // process exits.
  static auto* mutex = new std::mutex;
  static auto* loadedKey = new std::string;
  static auto* devices = new std::vector<std::shared_ptr<SimDevice>>;
  static bool loaded = false;

  std::lock_guard<std::mutex> lock(*mutex);
  const char* env = getenv("DRAVN_SIM");
  std::string path = env ? env : "";
  std::string text;
  bool readable = true;
  bool folder = false;
  if (!path.empty()) {
    struct stat st;
    folder = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    std::ifstream in(path, std::ios::binary);
    readable = in.is_open() && !folder;
    std::ostringstream s;
    if (readable) s << in.rdbuf();
    text = s.str();
  }
  std::string key = path + '\n' + (readable ? "r" : "-") + text;
  if (loaded && key == *loadedKey) return *devices;
  loaded = true;
  *loadedKey = key;
  devices->clear();
  if (!readable)
    fprintf(stderr, "dravn-sim: cannot read scenario %s%s; no devices\n", path.c_str(),
            folder ? ": it is a folder" : "");

  std::vector<std::string> messages;
  auto specs = SimParseScenario(text, path, &messages);
  for (const auto& m : messages) fprintf(stderr, "dravn-sim: %s\n", m.c_str());
  for (auto& spec : specs) {
    std::string why;
    auto model = SimMakeModel(spec, &why);
    if (!model) {
      fprintf(stderr, "dravn-sim: %s:%d: %s; device ignored\n", path.c_str(), spec.line, why.c_str());
      continue;
    }
    devices->push_back(std::make_shared<SimDevice>(std::move(spec), std::move(model)));
  }
  return *devices;
}

}  // namespace dravn_sim
