# Native Linux build: the portable core with its POSIX file layer, the unit
# tests (optionally sanitized), the replay tool and the benchmarks.
find_package(GTest REQUIRED)
find_package(benchmark QUIET)
find_package(Threads REQUIRED)

if(TARNWICK_SANITIZE)
  set(SANITIZE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_compile_options(tarnwick_core PUBLIC ${SANITIZE_FLAGS})
  target_link_options(tarnwick_core PUBLIC ${SANITIZE_FLAGS})
endif()

target_sources(tarnwick_core PRIVATE ${POSIX_SOURCES})
target_link_libraries(tarnwick_core PUBLIC Threads::Threads)

include(GoogleTest)
add_executable(tarnwick_tests ${UNIT_TEST_SOURCES})
target_link_libraries(tarnwick_tests PRIVATE tarnwick_core GTest::gtest GTest::gtest_main GTest::gmock)
target_compile_options(tarnwick_tests PRIVATE ${TARNWICK_WARNINGS})
target_compile_definitions(tarnwick_tests PRIVATE TARNWICK_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
gtest_discover_tests(tarnwick_tests DISCOVERY_TIMEOUT 60)

if(EXISTS ${CMAKE_SOURCE_DIR}/src/replay/replay_main.cpp)
  add_executable(tarnwick-replay ${CMAKE_SOURCE_DIR}/src/replay/replay_main.cpp)
  target_link_libraries(tarnwick-replay PRIVATE tarnwick_core)
  target_compile_options(tarnwick-replay PRIVATE ${TARNWICK_WARNINGS})
endif()

if(benchmark_FOUND AND BENCH_SOURCES)
  add_executable(tarnwick_bench ${BENCH_SOURCES})
  target_link_libraries(tarnwick_bench PRIVATE tarnwick_core benchmark::benchmark benchmark::benchmark_main)
endif()

if(TARGET tarnwick-replay)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME replay_tool
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/replay/check-replay
                   ${CMAKE_SOURCE_DIR}/tests/fixtures/replay $<TARGET_FILE:tarnwick-replay>)
endif()
