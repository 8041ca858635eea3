# Configures a fresh tree without staging, then the same tree with it: every
# cached system path must move into the stage (and the staged links be made
# there), as a build with staging from the start has them.
#   cmake -DSRC=<source> -DBIN=<scratch build dir> -P staging_switch.cmake
file(REMOVE_RECURSE "${BIN}")
foreach(stage OFF ON)
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SRC}" -B "${BIN}" -G Ninja -DDRAVN_STAGE=${stage}
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
  if(result)
    message(FATAL_ERROR "configure with DRAVN_STAGE=${stage} failed:\n${errors}")
  endif()
endforeach()
file(STRINGS "${BIN}/CMakeCache.txt" paths REGEX "^DRAVN_[A-Z_]*_DIR:PATH=")
list(LENGTH paths count)
if(count LESS 16)
  message(FATAL_ERROR "only ${count} paths in the cache")
endif()
foreach(line ${paths})
  if(NOT line MATCHES "=${BIN}/stage/")
    message(FATAL_ERROR "not staged after the switch: ${line}")
  endif()
endforeach()
file(REMOVE_RECURSE "${BIN}")
