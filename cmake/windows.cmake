# Windows build (mingw-w64, static): tarnwick.exe, the replay tool, the test
# programs, and CTest running them under Wine in one throw-away prefix.
target_sources(tarnwick_core PRIVATE ${WIN_SOURCES})
target_compile_definitions(tarnwick_core PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                _WIN32_WINNT=0x0A00)
target_link_libraries(tarnwick_core PUBLIC shell32 advapi32 wintrust tdh ole32 runtimeobject iphlpapi
                                           wtsapi32 userenv ws2_32)

# The event source's message table: windmc writes the header with the event
# identifiers and a resource script, which windres links into tarnwick.exe.
enable_language(RC)
find_program(WINDMC NAMES ${TOOLCHAIN_PREFIX}-windmc x86_64-w64-mingw32-windmc REQUIRED)
set(MESSAGES_DIR ${CMAKE_BINARY_DIR}/generated/eventlog)
add_custom_command(
  OUTPUT ${MESSAGES_DIR}/messages.h ${MESSAGES_DIR}/messages.rc ${MESSAGES_DIR}/MSG00409.bin
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MESSAGES_DIR}
  COMMAND ${WINDMC} -h ${MESSAGES_DIR} -r ${MESSAGES_DIR} ${CMAKE_SOURCE_DIR}/src/eventlog/messages.mc
  DEPENDS ${CMAKE_SOURCE_DIR}/src/eventlog/messages.mc
  VERBATIM)
add_custom_target(event_messages DEPENDS ${MESSAGES_DIR}/messages.h ${MESSAGES_DIR}/messages.rc)
add_dependencies(tarnwick_core event_messages)
target_include_directories(tarnwick_core PRIVATE ${CMAKE_BINARY_DIR}/generated)

add_executable(tarnwick ${CMAKE_SOURCE_DIR}/src/main/main_win.cpp ${MESSAGES_DIR}/messages.rc)
target_include_directories(tarnwick PRIVATE ${MESSAGES_DIR})
set_source_files_properties(${MESSAGES_DIR}/messages.rc PROPERTIES
                            OBJECT_DEPENDS ${MESSAGES_DIR}/MSG00409.bin)
target_link_libraries(tarnwick PRIVATE tarnwick_core)
# Sections at page-aligned file offsets can be mapped straight from the file;
# with the default 512-byte alignment Wine copies the whole image into private
# memory of the engine.
target_link_options(tarnwick PRIVATE -Wl,--file-alignment,4096)
target_compile_options(tarnwick PRIVATE ${TARNWICK_WARNINGS})

if(EXISTS ${CMAKE_SOURCE_DIR}/src/replay/replay_main.cpp)
  add_executable(tarnwick-replay ${CMAKE_SOURCE_DIR}/src/replay/replay_main.cpp)
  target_link_libraries(tarnwick-replay PRIVATE tarnwick_core)
  target_compile_options(tarnwick-replay PRIVATE ${TARNWICK_WARNINGS})
endif()

# What ships carries no debug information: it moves to "{exe}.debug" beside
# the executable, which names it (.gnu_debuglink) so a debugger finds it.
function(ship_without_debug_info target)
  set(exe $<TARGET_FILE_NAME:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${exe} ${exe}.debug
                     COMMAND ${CMAKE_STRIP} --strip-all ${exe}
                     COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${exe}.debug ${exe}
                     WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
                     VERBATIM)
endfunction()
ship_without_debug_info(tarnwick)
if(TARGET tarnwick-replay)
  ship_without_debug_info(tarnwick-replay)
endif()

# GoogleTest from Debian's source copy, built with this toolchain.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# The portable unit tests, cross-built: the same behaviour on both builds.
add_executable(tarnwick_unit_tests ${UNIT_TEST_SOURCES})
target_link_libraries(tarnwick_unit_tests PRIVATE tarnwick_core gtest gtest_main gmock)
target_compile_definitions(tarnwick_unit_tests PRIVATE TARNWICK_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# The shipped known-driver list plus one row for a file the platform tests write.
set(TEST_KNOWN_DRIVERS_TABLE ${CMAKE_BINARY_DIR}/generated/known_drivers_test_table.cpp)
set(TEST_KNOWN_DRIVERS_TSV ${CMAKE_SOURCE_DIR}/tests/fixtures/known-drivers/test-driver.tsv)
add_custom_command(
  OUTPUT ${TEST_KNOWN_DRIVERS_TABLE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/gen_known_drivers.py
          known_bad_drivers_for_tests ${TEST_KNOWN_DRIVERS_TABLE} ${KNOWN_DRIVERS_TSV}
          ${TEST_KNOWN_DRIVERS_TSV}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/gen_known_drivers.py ${KNOWN_DRIVERS_TSV} ${TEST_KNOWN_DRIVERS_TSV}
  VERBATIM)

add_executable(tarnwick_win_tests ${WIN_TEST_SOURCES} ${TEST_KNOWN_DRIVERS_TABLE})
target_link_libraries(tarnwick_win_tests PRIVATE tarnwick_core gtest gtest_main gmock ws2_32)
target_compile_definitions(tarnwick_win_tests PRIVATE TARNWICK_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# Small programs the end-to-end scenarios start inside the prefix.
file(GLOB E2E_PROGRAMS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/programs/*.cpp)
set(E2E_PROGRAM_TARGETS "")
foreach(src IN LISTS E2E_PROGRAMS)
  get_filename_component(prog ${src} NAME_WE)
  add_executable(${prog} ${src})
  target_link_libraries(${prog} PRIVATE shell32 ws2_32)
  set_target_properties(${prog} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/e2e-programs)
  list(APPEND E2E_PROGRAM_TARGETS ${prog})
endforeach()
# Some platform tests start these programs (found beside the test binary).
if(E2E_PROGRAM_TARGETS)
  add_dependencies(tarnwick_win_tests ${E2E_PROGRAM_TARGETS})
endif()
# The event message test reads the message table inside tarnwick.exe.
add_dependencies(tarnwick_win_tests tarnwick)

# One Wine prefix per test run, booted by the first test and ended by the last.
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(WINE_ENV WINEPREFIX=${WINE_PREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)

add_test(NAME wine_prefix_setup COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/prefix-setup ${WINE_PREFIX})
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${WINE_ENV}")
add_test(NAME wine_prefix_cleanup COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/prefix-end ${WINE_PREFIX})
set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${WINE_ENV}")

function(add_wine_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${WINE_ENV}" TIMEOUT 600)
endfunction()

# A signed and a tampered copy of a test program, for the signature checks.
add_test(NAME signed_fixture_setup
         COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/make-signed-fixture $<TARGET_FILE:spin>
                 ${CMAKE_BINARY_DIR}/signed-fixture)
set_tests_properties(signed_fixture_setup PROPERTIES FIXTURES_SETUP signed)

# Test programs named by target run through the toolchain's emulator (Wine).
add_wine_test(windows_unit_tests tarnwick_unit_tests --gtest_brief=1)
add_wine_test(windows_platform_tests tarnwick_win_tests --gtest_brief=1)
set_tests_properties(windows_platform_tests PROPERTIES FIXTURES_REQUIRED "wine;signed")

find_package(Python3 REQUIRED COMPONENTS Interpreter)
if(TARGET tarnwick-replay)
  add_wine_test(windows_replay_tool ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/replay/check-replay
                ${CMAKE_SOURCE_DIR}/tests/fixtures/replay ${CMAKE_SOURCE_DIR}/tests/wine/wine-run
                $<TARGET_FILE:tarnwick-replay>)
endif()
file(GLOB E2E_SCENARIOS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
foreach(scenario IN LISTS E2E_SCENARIOS)
  get_filename_component(scenario_name ${scenario} NAME_WE)
  add_wine_test(e2e_${scenario_name} ${Python3_EXECUTABLE} -m unittest -v ${scenario_name})
  set_property(TEST e2e_${scenario_name} APPEND PROPERTY ENVIRONMENT
               TARNWICK_BUILD_DIR=${CMAKE_BINARY_DIR}
               PYTHONPATH=${CMAKE_SOURCE_DIR}/tests/e2e
               PYTHONDONTWRITEBYTECODE=1)
  set_property(TEST e2e_${scenario_name} PROPERTY WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
endforeach()

set(SHIPPED_EXECUTABLES $<TARGET_FILE:tarnwick>)
if(TARGET tarnwick-replay)
  list(APPEND SHIPPED_EXECUTABLES $<TARGET_FILE:tarnwick-replay>)
endif()
add_test(NAME windows_imports_only_system_dlls
         COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/check-imports ${SHIPPED_EXECUTABLES})
add_test(NAME windows_shipped_exe_lean
         COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/check-release ${SHIPPED_EXECUTABLES})
