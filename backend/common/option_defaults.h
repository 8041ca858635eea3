// Per-model option defaults from the XML file optdefault.xml.
#ifndef DRAVN_COMMON_OPTION_DEFAULTS_H
#define DRAVN_COMMON_OPTION_DEFAULTS_H

#include <libxml/tree.h>
#include <sane/sane.h>

#include <vector>

#include "dravn_paths.h"

// One setting of a device section, each text cut to 255 characters.
struct XML_OPTION_VALUE {
  char name[256];
  char value[256];
};

// The options whose defaults the file may set.
constexpr int KELO_DEFAULT_VALUE_CHANGE_SUPPORT_OPTION_NUM = 12;
extern const int KELO_DEFAULT_VALUE_CHANGE_SUPPORT_OPTION_LIST[KELO_DEFAULT_VALUE_CHANGE_SUPPORT_OPTION_NUM];

class ParseXMLFile {
 public:
  explicit ParseXMLFile(const char* path);
  virtual ~ParseXMLFile();
  ParseXMLFile(const ParseXMLFile&) = delete;
  ParseXMLFile& operator=(const ParseXMLFile&) = delete;

  // Parses the file; false (with a log line unless it does not exist) when
  // it cannot be read or parsed or has no root element.
  bool GetRootNode();
  // Collects the settings of every device element whose id is the model
  // text, ignoring case.
  bool GetDeviceOptionInfoFromXMLFile(const char* model);
  const std::vector<XML_OPTION_VALUE>& Settings() const { return m_tOptionValues; }

 private:
  char* m_szFilePath;
  xmlDocPtr m_pDoc;
  xmlNodePtr m_pRoot;
  std::vector<XML_OPTION_VALUE> m_tOptionValues;
};

// Applies the model's section of the file to the option table.
void SetOptDefaultValueFromXmlFile(const char* model, const char* path = DRAVN_ETC_DIR "/optdefault.xml");
// Applies one setting; a failure is logged and leaves the value.
void SetOptDefaultValue(const SANE_Option_Descriptor* desc, const char* value, int option);

#endif
