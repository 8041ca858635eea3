// The binarisation engine's parameters read from a profile instead of the
// engine's built-in defaults.
#ifndef DRAVN_ORIENTATION_DEVICE_PARAM_H
#define DRAVN_ORIENTATION_DEVICE_PARAM_H

// Fills the mode word, the 32-int parameter block and the 5 x 5 kernel from
// `profile` (every key has a default), adding the addends of `device`.
void GetDeviceParam(const char* profile, char* device, int* mode, int* params, int* kernel);

#endif
