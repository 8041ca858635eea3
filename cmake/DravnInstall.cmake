# The staged tree (test build) and the real installation.

if(DRAVN_STAGE)
  foreach(d ${DRAVN_ETC_DIR} ${DRAVN_LIB_DIR} ${DRAVN_OPENCV_DIR} ${DRAVN_RUN_DIR} ${DRAVN_IMAGE_DIR}
            ${DRAVN_ICM_DIR} ${DRAVN_LOG_DIR} ${DRAVN_DUMP_DIR} ${DRAVN_SHM_DIR} ${DRAVN_SANE_ETC_DIR}
            ${DRAVN_SANE_LOCAL_ETC_DIR} ${DRAVN_SANE_BACKEND_DIR} ${DRAVN_USR_BIN_DIR} ${DRAVN_BIN_DIR}
            ${DRAVN_LOCALE_DIR})
    file(MAKE_DIRECTORY ${d})
  endforeach()
  file(CREATE_LINK ${DRAVN_SYSTEM_LIBJPEG} ${DRAVN_LIB_DIR}/libjpeg.so SYMBOLIC)
  foreach(tool ps grep)
    if(EXISTS /usr/bin/${tool})
      file(CREATE_LINK /usr/bin/${tool} ${DRAVN_USR_BIN_DIR}/${tool} SYMBOLIC)
    elseif(EXISTS /bin/${tool})
      file(CREATE_LINK /bin/${tool} ${DRAVN_BIN_DIR}/${tool} SYMBOLIC)
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
