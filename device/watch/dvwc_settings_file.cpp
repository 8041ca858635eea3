// The settings file entries: per-model switches and the texts of the
// tools, read and rewritten with libxml2.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlmemory.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "dravn_export.h"
#include "dvwc_entry.h"

using namespace devwatch;

namespace {

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

// The parser's state is let go when an entry is done with the file; after
// a write the allocator's memory report follows (it says something only
// where libxml2 was built to keep one).
struct ParserCleanup {
  bool dumpMemory = false;
  ~ParserCleanup() {
    xmlCleanupParser();
    if (dumpMemory) xmlMemoryDump();
  }
};

Doc Parse(const char* path) {
  return Doc(xmlReadFile(path, nullptr, XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR));
}

bool NamedLike(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE && strcasecmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

xmlNode* FirstChildNamed(xmlNode* parent, const char* name) {
  for (xmlNode* n = parent ? parent->children : nullptr; n; n = n->next)
    if (NamedLike(n, name)) return n;
  return nullptr;
}

// Only the first element named like the model is searched for the key.
xmlNode* FindSetting(xmlDoc* doc, const char* model, const char* key) {
  return FirstChildNamed(FirstChildNamed(xmlDocGetRootElement(doc), model), key);
}

std::string Content(xmlNode* node) {
  xmlChar* text = xmlNodeGetContent(node);
  std::string s = text ? reinterpret_cast<const char*>(text) : "";
  xmlFree(text);
  return s;
}

// Writes beside the file and renames over it, so that a failed save leaves
// the old file whole.
bool SaveReplacing(xmlDoc* doc, const char* path) {
  std::string temp = std::string(path) + ".XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) return false;
  struct stat st;
  if (stat(path, &st) == 0) fchmod(fd, st.st_mode & 07777);
  close(fd);
  if (xmlSaveFormatFileEnc(temp.c_str(), doc, "UTF-8", 1) < 0 || rename(temp.c_str(), path) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

DRAVN_C_EXPORT int dvwc_GetXMLSettings(const char* model, const char* key, short defaultValue, const char* path) {
  return Guard(
      [&] {
        SetError(DVWC_ERR_NONE);
        if (!model || !key) return SetError(DVWC_ERR_ARGUMENT), static_cast<int>(defaultValue);
        if (!path || access(path, R_OK) != 0) return SetError(DVWC_ERR_OPEN), static_cast<int>(defaultValue);
        ParserCleanup cleanup;
        Doc doc = Parse(path);
        if (!doc) return static_cast<int>(defaultValue);
        xmlNode* setting = FindSetting(doc.get(), model, key);
        if (!setting) return static_cast<int>(defaultValue);
        // An empty content reads as its terminating zero.
        return static_cast<int>(static_cast<unsigned char>(Content(setting).c_str()[0])) - '0';
      },
      defaultValue);
}

DRAVN_C_EXPORT const char* dvwc_GetXMLSettings2(const char* key, const char* defaultText, const char* path) {
  char* result = theApp.m_szText;
  const char* answer = defaultText;
  Guard([&] {
    SetError(DVWC_ERR_NONE);
    memset(result, 0, sizeof theApp.m_szText);
    if (!key) return SetError(DVWC_ERR_ARGUMENT), 0;
    if (!path || access(path, R_OK) != 0) return SetError(DVWC_ERR_OPEN), 0;
    ParserCleanup cleanup;
    Doc doc = Parse(path);
    if (!doc || !xmlDocGetRootElement(doc.get())) return 0;
    xmlNode* node = FirstChildNamed(xmlDocGetRootElement(doc.get()), key);
    std::string text = node ? Content(node) : (defaultText ? defaultText : "");
    snprintf(result, sizeof theApp.m_szText, "%s", text.c_str());
    answer = result;
    return 1;
  });
  return answer;
}

DRAVN_C_EXPORT int dvwc_SetXMLSettings(const char* model, const char* key, short value, const char* path) {
  return Guard([&] {
    SetError(DVWC_ERR_NONE);
    if (!model || !key) return SetError(DVWC_ERR_ARGUMENT), 0;
    if (!path || access(path, W_OK) != 0) return SetError(DVWC_ERR_OPEN), 0;
    ParserCleanup cleanup;
    Doc doc = Parse(path);
    if (!doc || !xmlDocGetRootElement(doc.get())) return 0;
    cleanup.dumpMemory = true;
    xmlNode* setting = FindSetting(doc.get(), model, key);
    bool set = setting && (value == 0 || value == 1);
    if (set) xmlNodeSetContent(setting, reinterpret_cast<const xmlChar*>(value == 1 ? "1" : "0"));
    // Rewritten (formatted) even when nothing changed.
    if (!SaveReplacing(doc.get(), path)) return 0;
    return set ? 1 : 0;
  });
}
