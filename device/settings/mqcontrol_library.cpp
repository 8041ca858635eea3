// initlibrary and the setting functions are added by the device settings subsystem.
