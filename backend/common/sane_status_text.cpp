#include "sane_status_text.h"

const char* SaneStatusText(SANE_Status status) {
  static const char* const kTexts[] = {
      "Operation completed successfully",
      "Operation is not supported",
      "Operation was cancelled",
      "Device is busy--try later",
      "Data or argument is invalid",
      "No more data available (end-of-file)",
      "Document feeder jammed",
      "Document feeder out of documents",
      "Scanner cover is open",
      "Error during device I/O",
      "Out of memory",
      "Access to resource has been denied",
  };
  const int code = static_cast<int>(status);
  return code >= 0 && code < static_cast<int>(sizeof kTexts / sizeof kTexts[0]) ? kTexts[code] : "Unknown SANE status";
}
