#include "option_defaults.h"

#include <libxml/parser.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log.h"
#include "option_rules.h"
#include "option_table.h"
#include "profile.h"

const int KELO_DEFAULT_VALUE_CHANGE_SUPPORT_OPTION_LIST[KELO_DEFAULT_VALUE_CHANGE_SUPPORT_OPTION_NUM] = {
    OPTION_SOURCE,    OPTION_MODE,           OPTION_RESOLUTION,      OPTION_PAPER_SIZE,
    OPTION_PAGE_AUTO, OPTION_CROPPING,       OPTION_TONE_ADJUSTMENT, OPTION_BW_MODE,
    OPTION_DF_ACTION, OPTION_MF_OVERLAPPING, OPTION_ROTATION,        OPTION_COLOR_CLEANUP};

namespace {

void LogError(const char* function, const char* format, const char* a, const char* b = "") {
  char* msg = SetMessage();
  snprintf(msg, 4096, format, a, b);
  WriteLog(LOG_LEVEL_ERROR, function, msg);
}

// Copies at most 255 characters and trims them.
void CopyTrimmed(char (&out)[256], const char* text) {
  snprintf(out, sizeof out, "%s", text ? text : "");
  TrimSpaceBothEnds(out);
}

bool ParseWhole(const char* text, SANE_Value_Type type, SANE_Word* out) {
  char* end = nullptr;
  errno = 0;
  if (type == SANE_TYPE_FIXED) {
    double d = strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(d)) return false;
    double fixed = d * 65536.0;
    if (fixed < INT_MIN || fixed > INT_MAX) return false;
    *out = static_cast<SANE_Word>(fixed);
    return true;
  }
  long l = strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE || l < INT_MIN || l > INT_MAX) return false;
  *out = static_cast<SANE_Word>(l);
  return true;
}

}  // namespace

ParseXMLFile::ParseXMLFile(const char* path)
    : m_szFilePath(path ? strdup(path) : nullptr), m_pDoc(nullptr), m_pRoot(nullptr) {}

// libxml2's global state is left alone: the front end or another library in
// the process may be using it (xmlCleanupParser is for a program's end).
ParseXMLFile::~ParseXMLFile() {
  if (m_pDoc) xmlFreeDoc(m_pDoc);
  free(m_szFilePath);
}

bool ParseXMLFile::GetRootNode() {
  // No file is the usual case: the built-in defaults stand, nothing to say.
  if (!m_szFilePath || access(m_szFilePath, F_OK) != 0) return false;
  // A folder in the file's place cannot be read either, not even by root.
  struct stat st;
  if (stat(m_szFilePath, &st) != 0 || !S_ISREG(st.st_mode) || access(m_szFilePath, R_OK) != 0) {
    LogError("ParseXMLFile::GetRootNode", "The XML file cannot access.\nFileName:%s.", m_szFilePath);
    return false;
  }
  // Blanks are dropped by this parse's own option, not by the process-wide
  // default; no network access, no error output of the parser.
  m_pDoc = xmlReadFile(m_szFilePath, "UTF-8",
                       XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS | XML_PARSE_NONET);
  if (!m_pDoc) {
    LogError("ParseXMLFile::GetRootNode", "Failed to parse XML file.\nFileName:%s.", m_szFilePath);
    return false;
  }
  m_pRoot = xmlDocGetRootElement(m_pDoc);
  if (!m_pRoot) {
    LogError("ParseXMLFile::GetRootNode", "No root element in XML file.\nFileName:%s.", m_szFilePath);
    return false;
  }
  return true;
}

bool ParseXMLFile::GetDeviceOptionInfoFromXMLFile(const char* model) {
  m_tOptionValues.clear();
  if (!GetRootNode()) return false;
  for (xmlNodePtr dev = m_pRoot->children; dev; dev = dev->next) {
    if (dev->type != XML_ELEMENT_NODE || xmlStrcmp(dev->name, BAD_CAST "device") != 0) continue;
    xmlChar* id = xmlGetProp(dev, BAD_CAST "id");
    const bool match = id && model && strcasecmp(reinterpret_cast<const char*>(id), model) == 0;
    xmlFree(id);
    if (!match) continue;
    for (xmlNodePtr setting = dev->children; setting; setting = setting->next) {
      if (setting->type != XML_ELEMENT_NODE) continue;  // comments and text are no settings
      xmlChar* content = xmlNodeGetContent(setting);
      if (!content) continue;
      XML_OPTION_VALUE pair;
      CopyTrimmed(pair.name, reinterpret_cast<const char*>(setting->name));
      CopyTrimmed(pair.value, reinterpret_cast<const char*>(content));
      xmlFree(content);
      m_tOptionValues.push_back(pair);
    }
  }
  return true;
}

void SetOptDefaultValue(const SANE_Option_Descriptor* desc, const char* value, int option) {
  if (!desc || !value) return;
  const char* name = desc->name ? desc->name : "";
  if (value[0] == '\0') {
    LogError("SetOptDefaultValue", "The option value is empty in the XML file.\nOptionName:%s.", name);
    return;
  }
  bool ok = false;
  switch (desc->constraint_type) {
    case SANE_CONSTRAINT_RANGE: {
      SANE_Word v = 0;
      ok = ParseWhole(value, desc->type, &v) && SetDefaultControlOption(option, &v, nullptr) == SANE_STATUS_GOOD;
      break;
    }
    case SANE_CONSTRAINT_STRING_LIST: {
      char text[256];
      snprintf(text, sizeof text, "%s", value);
      ok = SetDefaultControlOption(option, text, nullptr) == SANE_STATUS_GOOD;
      break;
    }
    case SANE_CONSTRAINT_NONE:
      if (desc->type != SANE_TYPE_BOOL) return;
      {
        SANE_Word v;
        if (strcasecmp(value, "yes") == 0)
          v = SANE_TRUE;
        else if (strcasecmp(value, "no") == 0)
          v = SANE_FALSE;
        else
          break;
        ok = SetDefaultControlOption(option, &v, nullptr) == SANE_STATUS_GOOD;
      }
      break;
    default:
      return;
  }
  if (!ok) LogError("SetOptDefaultValue", "Failed to set option value.\nOptionName:%s,Value:%s.", name, value);
}

void SetOptDefaultValueFromXmlFile(const char* model, const char* path) {
  CLogScope scope("SetOptDefaultValueFromXmlFile");
  ParseXMLFile file(path);
  if (!file.GetDeviceOptionInfoFromXMLFile(model)) return;
  for (const XML_OPTION_VALUE& setting : file.Settings()) {
    int option = -1;
    for (int candidate : KELO_DEFAULT_VALUE_CHANGE_SUPPORT_OPTION_LIST) {
      const char* name = g_OptList[candidate].name;
      if (name && strcasecmp(name, setting.name) == 0) option = candidate;
    }
    if (option < 0) {
      LogError("SetOptDefaultValueFromXmlFile", "The option setting is not supported.\nOptionName:%s.", setting.name);
      continue;
    }
    SetOptDefaultValue(&g_OptList[option], setting.value, option);
  }
}
