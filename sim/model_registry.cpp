// Family models by name, and the helpers every model shares.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <thread>

#include "sim_model.h"

namespace dravn_sim {
namespace {

// Function-local so that models registering from other files' static
// initialisers never find it unconstructed.
std::map<std::string, SimModelFactory>& Registry() {
  static std::map<std::string, SimModelFactory> registry;
  return registry;
}

}  // namespace

bool SimRegisterModel(const std::string& family, SimModelFactory factory) {
  return Registry().emplace(family, factory).second;
}

bool SimModelKnown(const std::string& family) { return Registry().count(family) != 0; }

std::unique_ptr<SimDeviceModel> SimMakeModel(const SimDeviceSpec& spec, std::string* why) {
  auto it = Registry().find(spec.family);
  if (it == Registry().end()) {
    *why = "unknown device family '" + spec.family + "'";
    return nullptr;
  }
  try {
    return it->second(spec);
  } catch (const std::exception& e) {
    *why = e.what();
  }
  return nullptr;
}

std::string SimDeviceModel::Param(const std::string& key, const std::string& fallback) const {
  auto it = m_spec.params.find(key);
  return it == m_spec.params.end() ? fallback : it->second;
}

long SimDeviceModel::ParamInt(const std::string& key, long fallback) const {
  auto it = m_spec.params.find(key);
  if (it == m_spec.params.end() || it->second.empty()) return fallback;
  const char* text = it->second.c_str();
  bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  errno = 0;
  long value = strtol(hex ? text + 2 : text, &end, hex ? 16 : 10);
  if (errno == 0 && *end == '\0' && end != (hex ? text + 2 : text)) return value;
  if (m_reportedKeys.insert(key).second)
    Report("set " + key + "=" + it->second + ": not a number; " + std::to_string(fallback) + " used");
  return fallback;
}

void SimDeviceModel::Report(const std::string& why) const {
  fprintf(stderr, "dravn-sim: %03u:%03u %s: %s\n", m_spec.bus, m_spec.address, m_spec.family.c_str(), why.c_str());
}

void SimDeviceModel::Wait(std::chrono::milliseconds duration) {
  if (m_deviceLock) m_deviceLock->unlock();
  std::this_thread::sleep_for(duration);
  if (m_deviceLock) m_deviceLock->lock();
}

}  // namespace dravn_sim
