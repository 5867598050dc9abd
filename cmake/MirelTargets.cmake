# Helpers shared by every subsystem folder. The pure tier builds everywhere; the Windows tier and
# the tests that run under Wine only with the mingw toolchain.

function(mirel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  if(MIREL_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# The product's own code reports errors as values and never throws; without exception tables
# and the unwinding they pull in, the program is some 20 KB smaller. It runs on one thread, so its
# function-local statics need no guards, which would bring in the threads library.
function(mirel_product_options target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-threadsafe-statics)
endfunction()

# Windows images are reproducible: the same sources and packages give the same bytes from any
# checkout path at any time. The linker leaves the PE time stamp at zero, and __FILE__ (asserts,
# source locations) names files relative to the checkout; the build folder is mapped last so that
# it wins over the source folder that holds it.
function(mirel_windows_options target)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                _WIN32_WINNT=0x0A00)
  target_compile_options(${target} PRIVATE -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                                           -ffile-prefix-map=${PROJECT_BINARY_DIR}/=build/)
  target_link_options(${target} PRIVATE -static -municode -Wl,--no-insert-timestamp)
endfunction()

# mirel_run_from_swap(TARGET): the setup program's image gets the "run from swap" flags for
# removable media and network shares after linking, before anything signs it (ld has no option for
# them; cmake/run_from_swap.py says why they are wanted). The step rewrites the linked file in place.
function(mirel_run_from_swap target)
  find_program(MIREL_PYTHON python3 REQUIRED)
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${MIREL_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/run_from_swap.py $<TARGET_FILE:${target}>
                     VERBATIM)
endfunction()

# mirel_library(NAME [WINDOWS] SOURCES ... [DEPS ...])
# A library of the pure tier, or with WINDOWS one of the Windows tier (skipped natively).
function(mirel_library name)
  cmake_parse_arguments(arg "WINDOWS" "" "SOURCES;DEPS" ${ARGN})
  if(arg_WINDOWS AND NOT WIN32)
    return()
  endif()
  add_library(${name} STATIC ${arg_SOURCES})
  target_include_directories(${name} PUBLIC ${MIREL_SOURCE_ROOT} ${MIREL_GENERATED_INCLUDE})
  target_link_libraries(${name} PUBLIC ${arg_DEPS})
  mirel_warnings(${name})
  mirel_product_options(${name})
  if(WIN32)
    mirel_windows_options(${name})
  endif()
endfunction()

# mirel_windows_tool(NAME SOURCES ... [DEPS ...]): a console program of the Windows tier that
# tests, scripts or benchmarks start (the driver, stand-ins, hostile processes, measurements).
function(mirel_windows_tool name)
  cmake_parse_arguments(arg "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_DEPS})
  mirel_warnings(${name})
  mirel_windows_options(${name})
  target_link_options(${name} PRIVATE -mconsole)
endfunction()

# Every GoogleTest executable starts in this main: it fails a run whose filter selects no test and
# ends a run that passed with skipped cases with the exit code that ctest reports as skipped.
set(MIREL_TEST_MAIN ${PROJECT_SOURCE_DIR}/apps/windows-setup/tests/wine_test_main.cpp)
set(MIREL_TEST_SKIPPED 77)

# mirel_unit_test(NAME SOURCES ... DEPS ...): GoogleTest of the pure tier, native build only.
function(mirel_unit_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;DEPS" ${ARGN})
  if(WIN32)
    return()
  endif()
  add_executable(${name} ${arg_SOURCES} ${MIREL_TEST_MAIN})
  target_link_libraries(${name} PRIVATE ${arg_DEPS} GTest::gtest)
  mirel_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT 120 SKIP_RETURN_CODE ${MIREL_TEST_SKIPPED})
endfunction()

# mirel_wine_test(NAME SOURCES ... DEPS ... [TIMEOUT s] [DIALOGS] [TURKISH] [ARGS ...]): a
# GoogleTest executable cross-built for Windows and run under Wine (with ARGS) in the build's test
# prefix. DIALOGS gives it the rig's X display; TURKISH runs it in a prefix of its own with a
# Turkish locale (a wineserver keeps the locale it started with).
function(mirel_wine_test name)
  cmake_parse_arguments(arg "DIALOGS;TURKISH" "TIMEOUT" "SOURCES;DEPS;ARGS" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  mirel_windows_tool(${name} SOURCES ${arg_SOURCES} ${MIREL_TEST_MAIN} DEPS ${arg_DEPS} GTest::gtest)
  add_test(NAME ${name} COMMAND ${name} ${arg_ARGS})
  set(labels wine)
  set(environment "MIREL_DISPLAY_FILE=${MIREL_XVFB_STATE}/display")
  if(arg_TURKISH)
    list(APPEND environment "WINEPREFIX=${PROJECT_BINARY_DIR}/wine/prefix-tr" "LC_ALL=tr_TR.UTF-8")
  else()
    list(APPEND environment "WINEPREFIX=${PROJECT_BINARY_DIR}/wine/prefix-en" "LC_ALL=C.UTF-8")
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${arg_TIMEOUT}
                                          ENVIRONMENT "${environment}" SKIP_RETURN_CODE ${MIREL_TEST_SKIPPED})
  if(arg_DIALOGS)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED display)
  endif()
  set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED wineservers)
endfunction()

# The rig around the Wine tests: an X server for the dialog tests, and every test prefix's
# wineserver ended when the run is over.
function(mirel_wine_rig)
  if(NOT WIN32)
    return()
  endif()
  set(tools ${PROJECT_SOURCE_DIR}/tools)
  add_test(NAME rig_xvfb_start COMMAND ${tools}/xvfb start ${MIREL_XVFB_STATE})
  add_test(NAME rig_xvfb_stop COMMAND ${tools}/xvfb stop ${MIREL_XVFB_STATE})
  set_tests_properties(rig_xvfb_start PROPERTIES FIXTURES_SETUP display LABELS wine)
  set_tests_properties(rig_xvfb_stop PROPERTIES FIXTURES_CLEANUP display LABELS wine)
  add_test(NAME rig_wineservers_stop
           COMMAND ${tools}/stop-wineservers ${PROJECT_BINARY_DIR}/wine)
  set_tests_properties(rig_wineservers_stop PROPERTIES FIXTURES_CLEANUP wineservers LABELS wine)
endfunction()
