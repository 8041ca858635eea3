# Every absolute path of the installed system. A staged (test) build roots
# them all under build/stage so that nothing needs root or touches the host.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(_dravn_sane_dir "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/sane")
else()
  set(_dravn_sane_dir "/usr/lib/sane")
endif()

set(DRAVN_STAGE_DIR "${CMAKE_BINARY_DIR}/stage")
if(DRAVN_STAGE)
  set(_root "${DRAVN_STAGE_DIR}")
  set(_dravn_sane_dir "/usr/lib/sane")
else()
  set(_root "")
endif()

# The cached paths belong to one staging choice: switching it sets every one
# anew, or a staged build would keep the real paths (and the other way round).
if(DRAVN_STAGE)
  set(_dravn_staged 1)
else()
  set(_dravn_staged 0)
endif()
if(DEFINED DRAVN_PATHS_STAGED AND NOT DRAVN_PATHS_STAGED EQUAL _dravn_staged)
  set(_dravn_path_force FORCE)
else()
  set(_dravn_path_force)
endif()
set(DRAVN_PATHS_STAGED ${_dravn_staged} CACHE INTERNAL "staging choice the cached paths were made for")

macro(dravn_path var default doc)
  set(${var} "${_root}${default}" CACHE PATH "${doc}" ${_dravn_path_force})
endmacro()

dravn_path(DRAVN_PKG_DIR        "/opt/dravn"             "package directory")
dravn_path(DRAVN_ETC_DIR        "/opt/dravn/etc"         "package configuration")
dravn_path(DRAVN_LIB_DIR        "/opt/dravn/lib"         "package libraries")
dravn_path(DRAVN_OPENCV_DIR     "/opt/dravn/lib/opencv"  "OpenCV libraries of the package")
dravn_path(DRAVN_RUN_DIR        "/opt/dravn/run"         "pid files")
dravn_path(DRAVN_IMAGE_DIR      "/opt/dravn/image"       "button-scan images")
dravn_path(DRAVN_ICM_DIR        "/opt/dravn/icm"         "colour profiles")
dravn_path(DRAVN_LOG_DIR        "/var/log/dravn"         "log directory")
dravn_path(DRAVN_DUMP_DIR       "/var/log/kelosop/dump"  "EEPROM dump directory")
dravn_path(DRAVN_SHM_DIR        "/dev/shm"               "shared-memory files")
dravn_path(DRAVN_SANE_ETC_DIR   "/etc/sane.d"            "SANE configuration")
dravn_path(DRAVN_SANE_LOCAL_ETC_DIR "/usr/local/etc/sane.d" "local SANE configuration")
dravn_path(DRAVN_SANE_BACKEND_DIR "${_dravn_sane_dir}"   "SANE backend directory")
dravn_path(DRAVN_USR_BIN_DIR    "/usr/bin"               "system tools (ps, grep)")
dravn_path(DRAVN_BIN_DIR        "/bin"                   "system tools")
dravn_path(DRAVN_LOCALE_DIR     "/usr/share/locale"      "message catalogues")

# consutool's launcher configuration (written by a sibling package).
dravn_path(DRAVN_MQLAUNCH_CONF       "/opt/kelofs/sop/mqlaunch.conf"                      "launcher configuration")
# Where the status tools look for the main backend, by machine architecture.
dravn_path(DRAVN_SC_BACKEND_X86_64   "/usr/lib/x86_64-linux-gnu/sane/libsane-dravn.so"   "main backend on x86_64")
dravn_path(DRAVN_SC_BACKEND_AARCH64  "/usr/lib/aarch64-linux-gnu/sane/libsane-dravn.so"  "main backend on aarch64")
dravn_path(DRAVN_SC_BACKEND_MIPS64   "/usr/lib/mips64el-linux-gnuabi64/sane/libsane-dravn.so" "main backend on mips64")
dravn_path(DRAVN_SC_BACKEND_MIPS64_OLD "/usr/lib/mips64el-linux-gnu/sane/libsane-dravn.so" "main backend on older mips64")
dravn_path(DRAVN_SC_BACKEND_OTHER    "/usr/lib/sane/libsane-dravn.so.1.1.24"              "main backend elsewhere")

# Paths used by system programs and libraries outside our control (always real).
set(DRAVN_SYSTEM_LIBJPEG "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/libjpeg.so.62")

if(DRAVN_SANITIZE)
  set(DRAVN_DEEPBIND 0)  # ASan refuses RTLD_DEEPBIND
else()
  set(DRAVN_DEEPBIND 1)
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/dravn_paths.h.in ${CMAKE_BINARY_DIR}/generated/dravn_paths.h @ONLY)
