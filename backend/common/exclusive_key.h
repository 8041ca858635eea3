// The name under which a device is kept in the exclusive-access table. The
// backends, libdevwatch and the scan-button daemon must all form it alike,
// or one of them would not see the others' records.
#ifndef DRAVN_COMMON_EXCLUSIVE_KEY_H
#define DRAVN_COMMON_EXCLUSIVE_KEY_H

#include "exclusive_table.h"

// The device string as it stands, except that a Selko, Selko2 or Brenna
// model's string loses its '-'. False for a null or empty string and for a
// key that would not fit the record's name field (more than 29 characters).
bool MakeExclusiveKey(const char* devName, char (&key)[SHM_DEVICE_NAME_SIZE]);

#endif
