// Names of table-driven test cases, from their descriptions.
#ifndef DRAVN_TESTS_BINARIZATION_CASE_NAME_H
#define DRAVN_TESTS_BINARIZATION_CASE_NAME_H

#include <cctype>
#include <string>

inline std::string CaseName(const char* what) {
  std::string name;
  for (const char* c = what; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

#endif
