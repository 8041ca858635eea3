#include "scenario.h"

#include <libusb.h>

#include <cctype>
#include <cerrno>
#include <sstream>

#include "model_catalog.h"
#include "sim_model.h"

namespace dravn_sim {
namespace {

struct ErrnoName {
  const char* name;
  int value;
};

constexpr ErrnoName kErrnoNames[] = {
    {"EPERM", EPERM},   {"ENOENT", ENOENT},       {"EINTR", EINTR},           {"EIO", EIO},
    {"ENXIO", ENXIO},   {"ENOMEM", ENOMEM},       {"EACCES", EACCES},         {"EBUSY", EBUSY},
    {"ENODEV", ENODEV}, {"EINVAL", EINVAL},       {"EPIPE", EPIPE},           {"ENOSYS", ENOSYS},
    {"EPROTO", EPROTO}, {"EOVERFLOW", EOVERFLOW}, {"EOPNOTSUPP", EOPNOTSUPP}, {"ETIMEDOUT", ETIMEDOUT},
};

// Decimal, or hexadecimal after "0x"; the whole text must be the number.
bool ParseNumber(const std::string& text, long min, long max, long* out) {
  int base = 10;
  size_t start = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    start = 2;
  }
  if (start >= text.size() || text.size() - start > 12) return false;
  long value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    value = value * base + digit;
  }
  if (value < min || value > max) return false;
  *out = value;
  return true;
}

bool ParseHexId(const std::string& text, uint16_t* out) {
  long value;
  if (text.empty() || text.size() > 4 || !ParseNumber("0x" + text, 0, 0xFFFF, &value)) return false;
  *out = static_cast<uint16_t>(value);
  return true;
}

bool ParseErrno(const std::string& text, int* out) {
  for (const auto& e : kErrnoNames)
    if (text == e.name) {
      *out = e.value;
      return true;
    }
  long value;
  if (!ParseNumber(text, 1, 4095, &value)) return false;
  *out = static_cast<int>(value);
  return true;
}

bool SplitKeyValue(const std::string& word, std::string* key, std::string* value) {
  size_t eq = word.find('=');
  if (eq == 0 || eq == std::string::npos) return false;
  *key = word.substr(0, eq);
  *value = word.substr(eq + 1);
  for (char c : *key)
    if (!(isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-')) return false;
  return true;
}

// A word of the file as a message shows it: short and printable.
std::string Quote(const std::string& word) {
  std::string shown;
  for (char c : word.substr(0, 40)) shown += isprint(static_cast<unsigned char>(c)) ? c : '?';
  return "'" + shown + (word.size() > 40 ? "...'" : "'");
}

std::string CatalogModelText(uint16_t vendorId, uint16_t productId) {
  for (const auto& m : dravn::kAllModels)
    if (m.vendorId == vendorId && m.productId == productId) return m.model;
  return "";
}

// "<class>,<class>,...": at most eight interfaces.
bool ParseClassList(const std::string& text, std::vector<uint8_t>* classes) {
  classes->clear();
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    long cls;
    if (classes->size() == 8 || !ParseNumber(item, 0, 255, &cls)) return false;
    classes->push_back(static_cast<uint8_t>(cls));
  }
  return !classes->empty();
}

class Parser {
 public:
  Parser(const std::string& name, std::vector<std::string>* messages) : m_name(name), m_messages(messages) {}

  std::vector<SimDeviceSpec> Run(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      ++m_line;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::istringstream words(line);
      std::vector<std::string> w;
      for (std::string s; words >> s;) w.push_back(s);
      if (w.empty() || w[0][0] == '#') continue;
      std::string why;
      if (w[0] == "device")
        why = Device(w);
      else if (w[0] == "set")
        why = Set(line);
      else if (w[0] == "fault")
        why = Fault(w);
      else
        why = "unknown directive " + Quote(w[0]);
      if (!why.empty())
        Report(why + (w[0] == "device" ? "; device ignored with its set and fault lines" : "; line ignored"));
    }
    return std::move(m_devices);
  }

 private:
  void Report(const std::string& why) {
    if (m_messages) m_messages->push_back(m_name + ":" + std::to_string(m_line) + ": " + why);
  }

  // The device that set and fault lines belong to; null after a skipped
  // device line, whose lines are dropped with it.
  SimDeviceSpec* Current() { return m_skipping || m_devices.empty() ? nullptr : &m_devices.back(); }

  std::string Device(const std::vector<std::string>& w) {
    m_skipping = true;
    if (w.size() < 3) return "device needs a family and vendor:product ids";
    SimDeviceSpec d;
    d.line = m_line;
    d.family = w[1];
    if (!SimModelKnown(d.family)) return "unknown device family " + Quote(d.family);
    size_t colon = w[2].find(':');
    if (colon == std::string::npos || !ParseHexId(w[2].substr(0, colon), &d.vendorId) ||
        !ParseHexId(w[2].substr(colon + 1), &d.productId))
      return "bad vendor:product ids " + Quote(w[2]);
    long bus = 1, address = 0, port = static_cast<long>(m_devices.size()) + 1, cls = 0xFF;
    for (size_t i = 3; i < w.size(); ++i) {
      std::string key, value;
      if (!SplitKeyValue(w[i], &key, &value)) return "expected key=value, not " + Quote(w[i]);
      bool ok = true;
      if (key == "bus")
        ok = ParseNumber(value, 1, 255, &bus);
      else if (key == "address")
        ok = ParseNumber(value, 1, 127, &address);
      else if (key == "port")
        ok = ParseNumber(value, 1, 255, &port);
      else if (key == "class")
        ok = ParseNumber(value, 0, 255, &cls);
      else if (key == "interfaces")
        ok = ParseClassList(value, &d.interfaceClasses);
      else if (key == "serial")
        d.serial = value;
      else if (key == "manufacturer")
        d.manufacturer = value;
      else if (key == "product")
        d.product = value;
      else
        return "unknown device key " + Quote(key);
      if (!ok) return "bad value for " + key + ": " + Quote(value);
    }
    if (address == 0) {
      address = 2;
      while (address <= 127 && Taken(bus, address)) ++address;
      if (address > 127) return "no free address on bus " + std::to_string(bus);
    } else if (Taken(bus, address)) {
      return "bus " + std::to_string(bus) + " address " + std::to_string(address) + " is already taken";
    }
    d.bus = static_cast<uint8_t>(bus);
    d.address = static_cast<uint8_t>(address);
    d.port = static_cast<uint8_t>(port);
    d.interfaceClass = static_cast<uint8_t>(cls);
    if (d.manufacturer.empty()) d.manufacturer = "Dravn";
    if (d.product.empty()) d.product = CatalogModelText(d.vendorId, d.productId);
    if (d.product.empty()) d.product = d.family;
    m_devices.push_back(std::move(d));
    m_skipping = false;
    return "";
  }

  bool Taken(long bus, long address) const {
    for (const auto& d : m_devices)
      if (d.bus == bus && d.address == address) return true;
    return false;
  }

  std::string Set(const std::string& line) {
    SimDeviceSpec* d = Current();
    if (!d) return m_skipping ? "" : "set before any device";
    size_t start = line.find("set") + 3;
    size_t first = line.find_first_not_of(" \t", start);
    size_t last = line.find_last_not_of(" \t");
    std::string word = first == std::string::npos ? "" : line.substr(first, last - first + 1);
    std::string key, value;
    if (!SplitKeyValue(word, &key, &value)) return "expected set key=value";
    d->params[key] = value;
    return "";
  }

  std::string Fault(const std::vector<std::string>& w) {
    SimDeviceSpec* d = Current();
    if (!d) return m_skipping ? "" : "fault before any device";
    if (w.size() < 3) return "fault needs a kind";
    SimFault f;
    f.line = m_line;
    if (w[1] == "open" || w[1] == "claim") {
      f.kind = w[1] == "open" ? SimFaultKind::OpenErrno : SimFaultKind::ClaimErrno;
      if (!ParseErrno(w[2], &f.sysErrno)) return "unknown errno " + Quote(w[2]);
      if (w.size() > 4) return "too many words";
      if (w.size() == 4) {
        std::string key, value;
        long times;
        if (!SplitKeyValue(w[3], &key, &value) || key != "times" || !ParseNumber(value, 1, 1000000, &times))
          return "expected times=<n>, not " + Quote(w[3]);
        f.times = static_cast<int>(times);
      }
    } else if (w[1] == "transfer") {
      if (w.size() < 4) return "fault transfer needs <k> and a kind";
      if (!ParseNumber(w[2], 1, 0x7FFFFFFF, &f.transfer)) return "bad transfer number " + Quote(w[2]);
      for (const auto& other : d->faults)
        if (other.transfer == f.transfer)
          return "transfer " + w[2] + " already has a fault (line " + std::to_string(other.line) + ")";
      const std::string& kind = w[3];
      size_t args = w.size() - 4;
      long bytes = 0;
      if (kind == "fail" || kind == "stall" || kind == "gone") {
        if (args != 0) return "fault " + kind + " takes no byte count";
        f.kind = kind == "fail" ? SimFaultKind::Fail : kind == "stall" ? SimFaultKind::Stall : SimFaultKind::Gone;
      } else if (kind == "short" || kind == "timeout") {
        if (args > 1 || (kind == "short" && args == 0)) return "fault " + kind + " needs one byte count";
        if (args == 1 && !ParseNumber(w[4], 0, 0x7FFFFFFF, &bytes)) return "bad byte count " + Quote(w[4]);
        f.kind = kind == "short" ? SimFaultKind::Short : SimFaultKind::Timeout;
        f.bytes = static_cast<int>(bytes);
      } else if (kind == "hold") {
        if (args != 1) return "fault hold needs one file";
        f.kind = SimFaultKind::Hold;
        f.path = w[4];
      } else {
        return "unknown transfer fault " + Quote(kind);
      }
    } else {
      return "unknown fault " + Quote(w[1]);
    }
    d->faults.push_back(f);
    return "";
  }

  std::string m_name;
  std::vector<std::string>* m_messages;
  std::vector<SimDeviceSpec> m_devices;
  bool m_skipping = false;
  int m_line = 0;
};

}  // namespace

std::vector<SimDeviceSpec> SimParseScenario(const std::string& text, const std::string& name,
                                            std::vector<std::string>* messages) {
  return Parser(name, messages).Run(text);
}

int SimErrnoToLibusb(int e) {
  switch (e) {
    case EACCES:
    case EPERM:
      return LIBUSB_ERROR_ACCESS;
    case EBUSY:
      return LIBUSB_ERROR_BUSY;
    case ENODEV:
      return LIBUSB_ERROR_NO_DEVICE;
    case ENOENT:
      return LIBUSB_ERROR_NOT_FOUND;
    case ENOMEM:
      return LIBUSB_ERROR_NO_MEM;
    case EINVAL:
      return LIBUSB_ERROR_INVALID_PARAM;
    case ETIMEDOUT:
      return LIBUSB_ERROR_TIMEOUT;
    case EPIPE:
      return LIBUSB_ERROR_PIPE;
    case EINTR:
      return LIBUSB_ERROR_INTERRUPTED;
    case EOVERFLOW:
      return LIBUSB_ERROR_OVERFLOW;
    case ENOSYS:
    case EOPNOTSUPP:
      return LIBUSB_ERROR_NOT_SUPPORTED;
    case EIO:
      return LIBUSB_ERROR_IO;
    default:
      return LIBUSB_ERROR_OTHER;
  }
}

}  // namespace dravn_sim
