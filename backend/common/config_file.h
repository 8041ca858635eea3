// dravn.conf: the (vendor, product) pairs that the backends may drive, one
// "usb <vendor> <product>" line each.
#ifndef DRAVN_COMMON_CONFIG_FILE_H
#define DRAVN_COMMON_CONFIG_FILE_H

#include <cstdio>
#include <vector>

struct kelo_cfg_info {
  int iVendorId;
  int iProductId;
};

// Ways ReadConfigFile ends.
enum { CONFIG_LINE_READ = 0, CONFIG_LINE_EOF = 1, CONFIG_LINE_ERROR = 2 };

// Finds dravn.conf (DRAVN_CONFIG_DIR, PWD, then the fixed directories) and
// appends its pairs in file order. 0, or 4 when no file opens.
int SaveConfigFile(std::vector<kelo_cfg_info>* pairs);

// Reads one line of at most size-1 characters; null at the end of the file
// or on a read error, which *kind tells apart.
char* ReadConfigFile(int size, FILE* file, char* buffer, int* kind);

// Splits the text after "usb " into the vendor and product tokens, each of
// exactly six characters (first and second hold seven bytes).
bool GetUsbID(char* first, char* second, const char* line);

#endif
