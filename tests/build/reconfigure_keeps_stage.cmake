# Configures a fresh staged tree, then configures it again: nothing that the
# first run laid into the stage (engines, links, default files) and no
# linker script of a deliverable may be written again, or the next build
# would relink every library under scans running from the tree.
#   cmake -DSRC=<source> -DBIN=<scratch build dir> -P reconfigure_keeps_stage.cmake
file(REMOVE_RECURSE "${BIN}")
set(old 946684800)  # 2000-01-01: older than anything the second run writes
foreach(run first second)
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SRC}" -B "${BIN}" -G Ninja -DDRAVN_STAGE=ON
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
  if(result)
    message(FATAL_ERROR "${run} configure failed:\n${errors}")
  endif()
  if(run STREQUAL "first")
    execute_process(COMMAND find "${BIN}/stage" "${BIN}" -path "${BIN}/stage" -prune -o -name "*.map" -print
                    OUTPUT_VARIABLE maps OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT maps MATCHES "sane_dravn.map")
      message(FATAL_ERROR "no linker scripts found:\n${maps}")
    endif()
    execute_process(COMMAND find "${BIN}/stage" ( -type f -o -type l ) -exec touch -h -d @${old} {} +
                    RESULT_VARIABLE r1)
    execute_process(COMMAND find "${BIN}" -name "*.map" -exec touch -d @${old} {} + RESULT_VARIABLE r2)
    if(r1 OR r2)
      message(FATAL_ERROR "could not age the staged files")
    endif()
  endif()
endforeach()
execute_process(COMMAND find "${BIN}/stage" "${BIN}" -path "${BIN}/stage" -prune -o -name "*.map" -newermt @${old} -print
                OUTPUT_VARIABLE maps)
execute_process(COMMAND find "${BIN}/stage" ( -type f -o -type l ) -newermt @${old} -print OUTPUT_VARIABLE staged)
if(maps OR staged)
  message(FATAL_ERROR "written again by the second configure:\n${maps}${staged}")
endif()
file(REMOVE_RECURSE "${BIN}")
