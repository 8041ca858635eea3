# The staged tree (test build) and the real installation.

if(DRAVN_STAGE)
  foreach(d ${DRAVN_ETC_DIR} ${DRAVN_LIB_DIR} ${DRAVN_OPENCV_DIR} ${DRAVN_RUN_DIR} ${DRAVN_IMAGE_DIR}
            ${DRAVN_ICM_DIR} ${DRAVN_LOG_DIR} ${DRAVN_DUMP_DIR} ${DRAVN_SHM_DIR} ${DRAVN_SANE_ETC_DIR}
            ${DRAVN_SANE_LOCAL_ETC_DIR} ${DRAVN_SANE_BACKEND_DIR} ${DRAVN_USR_BIN_DIR} ${DRAVN_BIN_DIR}
            ${DRAVN_LOCALE_DIR})
    file(MAKE_DIRECTORY ${d})
  endforeach()
  dravn_stage_link(${DRAVN_SYSTEM_LIBJPEG} ${DRAVN_LIB_DIR}/libjpeg.so)
  foreach(tool ps grep)
    if(EXISTS /usr/bin/${tool})
      dravn_stage_link(/usr/bin/${tool} ${DRAVN_USR_BIN_DIR}/${tool})
    elseif(EXISTS /bin/${tool})
      dravn_stage_link(/bin/${tool} ${DRAVN_BIN_DIR}/${tool})
    endif()
  endforeach()
  # The status tools choose the backend by architecture: this machine's path
  # leads to the staged backend, and uname can be told what to answer.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|aarch64)$")
    string(TOUPPER ${CMAKE_SYSTEM_PROCESSOR} _arch)
    # The folder, not the file: the main backend finds the second one beside it.
    get_filename_component(_dir ${DRAVN_SC_BACKEND_${_arch}} DIRECTORY)
    get_filename_component(_parent ${_dir} DIRECTORY)
    file(MAKE_DIRECTORY ${_parent})
    if(NOT IS_SYMLINK ${_dir})
      file(REMOVE_RECURSE ${_dir})
    endif()
    dravn_stage_link(${DRAVN_SANE_BACKEND_DIR} ${_dir})
  endif()
  # System tools that tests steer: uname (DRAVN_FAKE_MACHINE) and id (DRAVN_FAKE_UID).
  foreach(tool uname id)
    string(TOUPPER ${tool} _tool)
    find_program(DRAVN_REAL_${_tool} ${tool} PATHS /usr/bin /bin NO_DEFAULT_PATH)
    if(DRAVN_REAL_${_tool})
      configure_file(${PROJECT_SOURCE_DIR}/tools/staged_${tool}.in ${DRAVN_USR_BIN_DIR}/${tool} @ONLY
                     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                      WORLD_READ WORLD_EXECUTE)
    endif()
  endforeach()
endif()

get_property(_deliverables GLOBAL PROPERTY DRAVN_DELIVERABLES)
add_custom_target(dravn_all_deliverables DEPENDS ${_deliverables})

if(NOT DRAVN_STAGE)
  foreach(t ${_deliverables})
    get_property(dest TARGET ${t} PROPERTY DRAVN_DEST)
    install(TARGETS ${t} LIBRARY DESTINATION ${dest} RUNTIME DESTINATION ${dest})
  endforeach()
  install(CODE "
    file(MAKE_DIRECTORY \$ENV{DESTDIR}${DRAVN_RUN_DIR} \$ENV{DESTDIR}${DRAVN_IMAGE_DIR} \$ENV{DESTDIR}${DRAVN_ICM_DIR}
                        \$ENV{DESTDIR}${DRAVN_OPENCV_DIR} \$ENV{DESTDIR}${DRAVN_LOG_DIR})
    file(CREATE_LINK ${DRAVN_SYSTEM_LIBJPEG} \$ENV{DESTDIR}${DRAVN_LIB_DIR}/libjpeg.so SYMBOLIC)
    file(MAKE_DIRECTORY \$ENV{DESTDIR}${DRAVN_SANE_ETC_DIR}/dll.d)
    file(WRITE \$ENV{DESTDIR}${DRAVN_SANE_ETC_DIR}/dll.d/dravn \"dravn\\n\")
  ")
endif()
