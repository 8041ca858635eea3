#include "cnn_options.h"

#include <fstream>

namespace cnn {

std::string RemoveWhitespace(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\t' && c != '\n' && c != ' ') out += c;
  return out;
}

OptionsParser::OptionsParser() { Clear(); }
OptionsParser::~OptionsParser() = default;

void OptionsParser::Clear() {
  m_options.clear();
  m_modules.clear();
  m_options[m_global] = std::make_unique<Options>();
  m_modules.push_back(m_global);
}

void OptionsParser::Parse(const std::string& path, const std::string& weightDir) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw kLoadFailed;
  std::vector<std::string> lines{"weightDir=" + weightDir};
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  Parse(lines);
}

void OptionsParser::Parse(const std::vector<std::string>& lines) {
  Options* current = m_options[m_global].get();
  for (const std::string& raw : lines) {
    const std::string line = RemoveWhitespace(raw);
    if (line.empty() || line[0] == m_comment) continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      const std::string name = line.substr(1, line.size() - 2);
      auto& slot = m_options[name];
      slot = std::make_unique<Options>();  // a repeated module starts over
      m_modules.push_back(name);
      current = slot.get();
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
      (*current)[line] = line;
    else
      (*current)[line.substr(0, eq)] = line.substr(eq + 1);
  }
}

bool OptionsParser::IsModuleExisted(const std::string& name) const { return m_options.count(name) != 0; }

bool OptionsParser::IsOptionExisted(const std::string& module, const std::string& key) const {
  auto it = m_options.find(module);
  return it != m_options.end() && it->second->count(key) != 0;
}

bool OptionsParser::IsOptionExisted(const std::string& key) const { return IsOptionExisted(m_global, key); }

bool OptionsParser::IsOptionExisted(int position, const std::string& key) const {
  if (position < 0 || position >= ModuleCount()) return false;
  return IsOptionExisted(m_modules[position], key);
}

const std::string& OptionsParser::ModuleName(int position) const {
  if (position < 0 || position >= ModuleCount()) throw kLoadFailed;
  return m_modules[position];
}

const std::string& OptionsParser::Value(const std::string& module, const std::string& key) const {
  auto it = m_options.find(module);
  if (it == m_options.end()) throw kLoadFailed;
  auto kv = it->second->find(key);
  if (kv == it->second->end()) throw kLoadFailed;
  return kv->second;
}

void OptionsParser::Print() const {
  // Formats each key into its report column; the engine has nowhere to write it.
  for (const std::string& module : m_modules) {
    for (const auto& kv : *m_options.at(module)) {
      std::string label = kv.first + " ";
      if (label.size() >= 40) label = label.substr(0, 35) + "... ";
      label.resize(40, '-');
      (void)label;
    }
  }
}

}  // namespace cnn
