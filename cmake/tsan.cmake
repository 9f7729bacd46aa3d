# ThreadSanitizer build: the portable core and only the tests whose threads
# meet (queue, sink, statistics writer, every detector loop and watcher, engine
# start and stop, the load test and the rotating log). Any report fails the run.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

set(TSAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
target_sources(tarnwick_core PRIVATE ${POSIX_SOURCES})
target_compile_options(tarnwick_core PUBLIC ${TSAN_FLAGS})
target_link_options(tarnwick_core PUBLIC ${TSAN_FLAGS})
target_link_libraries(tarnwick_core PUBLIC Threads::Threads)

set(TSAN_TEST_SOURCES
    src/engine/engine_spine_test.cpp
    src/engine/engine_test.cpp
    src/alert/sink_test.cpp
    src/alert/pipeline_load_test.cpp
    src/alert/log_file_test.cpp
    src/stats/stats_test.cpp
    src/proc/detector_test.cpp
    src/net/dns_test.cpp
    src/persist/autostart_test.cpp
    src/persist/persist_test.cpp
    src/persist/services_test.cpp
    src/persist/tasks_test.cpp
    src/persist/user_hives_test.cpp
    src/registry/registry_test.cpp
    src/files/detector_test.cpp
    src/selfprotect/detector_test.cpp
    src/selfprotect/injection_test.cpp
    src/gamemode/gamemode_test.cpp
    src/syslog/forwarder_test.cpp)
list(TRANSFORM TSAN_TEST_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
add_executable(tarnwick_tsan_tests ${TSAN_TEST_SOURCES})
target_link_libraries(tarnwick_tsan_tests PRIVATE tarnwick_core GTest::gtest GTest::gtest_main GTest::gmock)
# Races show at any volume; a fifth of the load keeps the run short.
target_compile_definitions(tarnwick_tsan_tests PRIVATE TARNWICK_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                                       TARNWICK_LOAD_PER_THREAD=10000)

# One test process: a report of any kind ends it with a failure.
add_test(NAME tsan_threaded_tests COMMAND tarnwick_tsan_tests --gtest_brief=1)
set_tests_properties(tsan_threaded_tests PROPERTIES
                     ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1:exitcode=66:second_deadlock_stack=1")
