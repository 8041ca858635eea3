/* A main backend that lacks sane_dravn_close: a tool binding all its names
   must refuse to load it. */
#define EXPORT __attribute__((visibility("default")))

EXPORT int sane_dravn_init(void) { return 0; }
EXPORT int sane_dravn_get_devices(void) { return 0; }
EXPORT int sane_dravn_open(void) { return 0; }
EXPORT void* sane_dravn_get_option_descriptor(void) { return 0; }
EXPORT int sane_dravn_control_option(void) { return 0; }
EXPORT void sane_dravn_exit(void) {}
