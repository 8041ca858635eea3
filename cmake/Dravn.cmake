# Helpers shared by every folder.

set(DRAVN_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)

function(_dravn_common_target t)
  target_include_directories(${t} PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/Imgforge/include ${DRAVN_GENERATED_DIR})
endfunction()

# Writes a generated file only when its text changes: a file that every
# configure rewrote would relink whatever depends on it, replacing staged
# libraries under scans running from the tree.
function(dravn_write_if_different path text)
  file(WRITE ${path}.new "${text}")
  configure_file(${path}.new ${path} COPYONLY)
  file(REMOVE ${path}.new)
endfunction()

# A staged symbolic link, made again only when missing or pointing elsewhere.
function(dravn_stage_link target link)
  if(IS_SYMLINK ${link})
    file(READ_SYMLINK ${link} _current)
    if(_current STREQUAL target)
      return()
    endif()
  endif()
  file(CREATE_LINK ${target} ${link} SYMBOLIC)
endfunction()

# A static library built into deliverables; its symbols stay hidden.
function(dravn_static_library t)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;INCLUDES" ${ARGN})
  add_library(${t} STATIC ${A_SOURCES})
  target_include_directories(${t} PUBLIC ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/Imgforge/include ${DRAVN_GENERATED_DIR} ${A_INCLUDES})
  if(A_LIBS)
    target_link_libraries(${t} PUBLIC ${A_LIBS})
  endif()
endfunction()

# A shared-library deliverable: exact file name, only the listed exports,
# written straight into its installed place under the stage in a test build.
#   OUTPUT_NAME  file name without "lib" and ".so"
#   DEST         path variable value of its directory (e.g. ${DRAVN_LIB_DIR})
#   EXPORTS      file listing the dynamic symbols it may export
function(dravn_shared_library t)
  cmake_parse_arguments(A "" "OUTPUT_NAME;DEST;EXPORTS;SOVERSION" "SOURCES;LIBS" ${ARGN})
  add_library(${t} SHARED ${A_SOURCES})
  _dravn_common_target(${t})
  set_target_properties(${t} PROPERTIES OUTPUT_NAME ${A_OUTPUT_NAME} PREFIX "lib")
  if(A_SOVERSION)
    set_target_properties(${t} PROPERTIES SOVERSION ${A_SOVERSION})
  endif()
  target_link_options(${t} PRIVATE -Wl,--exclude-libs,ALL -Wl,--no-undefined)
  if(A_LIBS)
    target_link_libraries(${t} PRIVATE ${A_LIBS})
  endif()
  if(DRAVN_STAGE)
    set_target_properties(${t} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${A_DEST})
  endif()
  set_property(TARGET ${t} PROPERTY DRAVN_DEST ${A_DEST})
  if(A_EXPORTS)
    # The exports file is the whole dynamic interface: a version script made
    # from it hides whatever else the compiler would let through (template
    # instantiations of library types, for one).
    set(list_file ${CMAKE_CURRENT_SOURCE_DIR}/${A_EXPORTS})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
    file(STRINGS ${list_file} syms REGEX "^[A-Za-z_]")
    set(script "{\n")
    if(syms)
      string(APPEND script "  global:\n")
    endif()
    foreach(s ${syms})
      string(APPEND script "    ${s};\n")
    endforeach()
    string(APPEND script "  local: *;\n};\n")
    set(vs ${CMAKE_CURRENT_BINARY_DIR}/${t}.map)
    dravn_write_if_different(${vs} "${script}")
    target_link_options(${t} PRIVATE -Wl,--version-script=${vs})
    set_property(TARGET ${t} APPEND PROPERTY LINK_DEPENDS ${vs})
    set_property(GLOBAL APPEND PROPERTY DRAVN_EXPORT_CHECKS "${t}|${list_file}")
  endif()
  set_property(GLOBAL APPEND PROPERTY DRAVN_DELIVERABLES ${t})
endfunction()

# A program deliverable.
function(dravn_program t)
  cmake_parse_arguments(A "" "DEST" "SOURCES;LIBS" ${ARGN})
  add_executable(${t} ${A_SOURCES})
  _dravn_common_target(${t})
  if(A_LIBS)
    target_link_libraries(${t} PRIVATE ${A_LIBS})
  endif()
  if(DRAVN_STAGE)
    set_target_properties(${t} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${A_DEST})
  endif()
  set_property(TARGET ${t} PROPERTY DRAVN_DEST ${A_DEST})
  set_property(GLOBAL APPEND PROPERTY DRAVN_DELIVERABLES ${t})
endfunction()

# A default configuration file: laid into the stage at configure time and
# installed with the package.
function(dravn_config_file src dest_dir)
  get_filename_component(name ${src} NAME)
  if(DRAVN_STAGE)
    configure_file(${src} ${dest_dir}/${name} COPYONLY)
  endif()
  install(FILES ${src} DESTINATION ${dest_dir})
endfunction()

# Links the stand-in libusb into a program whose other code links the real
# one. Both are libusb-1.0.so.0: CMake cannot order its run-time search path
# safely and says so at every configure, so the program names the stand-in's
# directory itself, the only shared library of ours it needs at run time.
function(dravn_link_sim_usb t)
  target_link_libraries(${t} PRIVATE dravn_sim_usb)
  set_target_properties(${t} PROPERTIES SKIP_BUILD_RPATH TRUE)
  target_link_options(${t} PRIVATE "-Wl,-rpath,$<TARGET_FILE_DIR:dravn_sim_usb>")
endfunction()

# A GoogleTest program registered test by test with CTest.
#   LABELS  unit | integration | e2e (e2e is left out of the sanitizer build)
#   LOCK    CTest RESOURCE_LOCK name (System V table users, for example)
function(dravn_test t)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;LABELS;LOCK;DEPENDS" ${ARGN})
  if(DRAVN_SANITIZE AND "e2e" IN_LIST A_LABELS)
    return()
  endif()
  add_executable(${t} ${A_SOURCES})
  target_include_directories(${t} PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/Imgforge/include ${DRAVN_GENERATED_DIR}
                             ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(${t} PRIVATE dravn_test_support ${A_LIBS} GTest::gtest_main GTest::gmock Threads::Threads ${CMAKE_DL_LIBS})
  target_compile_definitions(${t} PRIVATE DRAVN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                             DRAVN_BINARY_DIR="${CMAKE_BINARY_DIR}")
  # Integration and whole-program tests load the staged deliverables.
  if(NOT A_LABELS STREQUAL "unit")
    add_dependencies(${t} dravn_all_deliverables dravn_sim_usb)
  endif()
  if(A_DEPENDS)
    add_dependencies(${t} ${A_DEPENDS})
  endif()
  set(props LABELS "${A_LABELS}")
  if(A_LOCK)
    list(APPEND props RESOURCE_LOCK ${A_LOCK})
  endif()
  gtest_discover_tests(${t} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
