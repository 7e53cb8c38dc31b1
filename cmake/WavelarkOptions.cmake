# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
# One interface target carries the language standard, the warnings and the strict Qt defines;
# every target of the project links it.
add_library(wavelark_options INTERFACE)
target_compile_features(wavelark_options INTERFACE cxx_std_20)
set_target_properties(wavelark_options PROPERTIES INTERFACE_CXX_EXTENSIONS OFF)
target_compile_options(wavelark_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wold-style-cast -Wnon-virtual-dtor)
target_compile_definitions(wavelark_options INTERFACE
  QT_NO_CONTEXTLESS_CONNECT
  QT_NO_KEYWORDS
  QT_NO_URL_CAST_FROM_STRING
  QT_DISABLE_DEPRECATED_UP_TO=0x060400)
if(WAVELARK_WERROR)
  target_compile_options(wavelark_options INTERFACE -Werror)
endif()
# Full debug information makes most of the bytes the compiler writes and the linker reads; CI needs
# only the lines of a backtrace. Later on the command line than the build type's -g, so it wins.
if(WAVELARK_LINE_TABLES_ONLY)
  target_compile_options(wavelark_options INTERFACE $<$<CONFIG:Debug,RelWithDebInfo>:-g1>)
endif()
if(WAVELARK_LINKER)
  target_link_options(wavelark_options INTERFACE -fuse-ld=${WAVELARK_LINKER})
endif()
if(WAVELARK_SANITIZE)
  target_compile_options(wavelark_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(wavelark_options INTERFACE -fsanitize=address,undefined)
endif()
if(WAVELARK_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The fuzz targets need clang (libFuzzer)")
  endif()
  target_compile_options(wavelark_options INTERFACE
    -fsanitize=fuzzer-no-link,address -fno-omit-frame-pointer)
  target_link_options(wavelark_options INTERFACE -fsanitize=address)
endif()

# wavelark_add_library(name SOURCES ... LINKS ...): one static library per layer.
function(wavelark_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/..)
  target_link_libraries(${name} PUBLIC wavelark_options ${ARG_LINKS})
  # Product code spells out every text conversion; tests may use plain literals.
  target_compile_definitions(${name} PRIVATE QT_NO_CAST_FROM_ASCII)
  if(WAVELARK_PCH)
    target_precompile_headers(${name} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/PrecompiledHeaders.h)
  endif()
endfunction()

# Every layer compiles all sources of its own folder, so adding a class never edits a shared list.
function(wavelark_layer name)
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  wavelark_add_library(${name} SOURCES ${sources} LINKS ${ARG_LINKS})
endfunction()

# wavelark_link_flags(out target...): the compile definitions and options that linking the
# targets brings, followed transitively, sorted.
function(wavelark_link_flags out)
  set(queue ${ARGN})
  set(seen "")
  set(flags "")
  while(queue)
    list(POP_FRONT queue item)
    if(NOT TARGET "${item}" OR "${item}" IN_LIST seen)
      continue()
    endif()
    list(APPEND seen "${item}")
    foreach(property INTERFACE_COMPILE_DEFINITIONS INTERFACE_COMPILE_OPTIONS)
      get_target_property(values "${item}" ${property})
      if(values)
        list(APPEND flags ${values})
      endif()
    endforeach()
    get_target_property(links "${item}" INTERFACE_LINK_LIBRARIES)
    if(links)
      list(APPEND queue ${links})
    endif()
  endwhile()
  list(REMOVE_DUPLICATES flags)
  list(SORT flags)
  set(${out} "${flags}" PARENT_SCOPE)
endfunction()

# wavelark_add_test(name SOURCES ... LINKS ... [WIDGETS] [AUDIO_DRIVER drv]): a Qt Test executable
# run by CTest with hermetic settings.
function(wavelark_add_test name)
  cmake_parse_arguments(ARG "" "AUDIO_DRIVER;TIMEOUT" "SOURCES;LINKS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE wavelark_options wavelark_testsupport Qt6::Test ${ARG_LINKS})
  target_compile_definitions(${name} PRIVATE QT_RESTRICTED_CAST_FROM_ASCII)
  # The code under test keeps the build's optimisation. The test's own code, mostly expanded
  # QCOMPARE and QTRY macros, compiles a third faster at -O1 and still gets the warnings that
  # need data-flow analysis.
  target_compile_options(${name} PRIVATE $<$<CONFIG:RelWithDebInfo,Release>:-O1>)
  if(WAVELARK_PCH)
    # Tests compiled with the same macros share one precompiled header: GCC refuses one made
    # with other values (-Winvalid-pch makes that an error), and Qt's test macros name the
    # test's folder, so those of one folder that link the same modules share.
    wavelark_link_flags(flags wavelark_testsupport Qt6::Test ${ARG_LINKS})
    string(MD5 key "${CMAKE_CURRENT_SOURCE_DIR};${flags}")
    get_property(owner GLOBAL PROPERTY wavelark_pch_${key})
    if(owner)
      target_precompile_headers(${name} REUSE_FROM ${owner})
    else()
      set_property(GLOBAL PROPERTY wavelark_pch_${key} ${name})
      target_precompile_headers(${name} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/PrecompiledHeaders.h)
    endif()
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_AUDIO_DRIVER)
    set(ARG_AUDIO_DRIVER dummy)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;SDL_AUDIODRIVER=${ARG_AUDIO_DRIVER};LC_ALL=C.UTF-8;ASAN_OPTIONS=detect_leaks=0")
endfunction()
