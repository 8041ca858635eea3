// Model text: modules of key=value options, the global module first.
#ifndef DRAVN_CNN_OPTIONS_H
#define DRAVN_CNN_OPTIONS_H

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace cnn {

// Every load failure of the engine (file, module, key, value) leaves it as this code.
constexpr int kLoadFailed = 55;

std::string RemoveWhitespace(const std::string& text);

class OptionsParser {
 public:
  OptionsParser();
  ~OptionsParser();
  OptionsParser(const OptionsParser&) = delete;
  OptionsParser& operator=(const OptionsParser&) = delete;
  OptionsParser(OptionsParser&&) = default;

  void Parse(const std::string& path, const std::string& weightDir);
  void Parse(const std::vector<std::string>& lines);

  bool IsModuleExisted(const std::string& name) const;
  bool IsOptionExisted(const std::string& module, const std::string& key) const;
  bool IsOptionExisted(const std::string& key) const;
  bool IsOptionExisted(int position, const std::string& key) const;

  // A missing module or key is a broken model: it throws kLoadFailed.
  template <class T>
  T GetOption(const std::string& module, const std::string& key) const {
    return Convert<T>(Value(module, key));
  }
  template <class T>
  T GetOption(int position, const std::string& key) const {
    return Convert<T>(Value(ModuleName(position), key));
  }

  int ModuleCount() const { return static_cast<int>(m_modules.size()); }
  const std::string& ModuleName(int position) const;

  void Print() const;
  void Clear();

  const std::string m_global = "global";
  const char m_comment = '#';
  const char m_separator = ';';

 private:
  using Options = std::map<std::string, std::string>;
  const std::string& Value(const std::string& module, const std::string& key) const;
  template <class T>
  static T Convert(const std::string& text) {
    if constexpr (std::is_same_v<T, std::string>) {
      return text;
    } else {
      // Stream extraction: "12ab" reads 12, letters (or nothing) read 0.
      T value{};
      std::istringstream in(text);
      if (!(in >> value)) value = T{};
      return value;
    }
  }

  std::map<std::string, std::unique_ptr<Options>> m_options;
  std::vector<std::string> m_modules;
};

}  // namespace cnn

#endif
