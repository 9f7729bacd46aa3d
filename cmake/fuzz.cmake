# Fuzz build (clang, libFuzzer with ASan and UBSan): the portable core and one
# fuzzer per tests/fuzz/*.cpp, nothing else. Each fuzzer's seed corpus is
# tests/fuzz/corpus/<name>/; scripts/fuzz runs them.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz build needs clang (libFuzzer)")
endif()
find_package(Threads REQUIRED)
find_package(EXPAT REQUIRED)

set(FUZZ_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
target_sources(tarnwick_core PRIVATE ${POSIX_SOURCES})
target_compile_options(tarnwick_core PUBLIC ${FUZZ_SANITIZE} -fsanitize=fuzzer-no-link)
target_link_options(tarnwick_core PUBLIC ${FUZZ_SANITIZE})
target_link_libraries(tarnwick_core PUBLIC Threads::Threads)

file(GLOB FUZZ_TARGET_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*.cpp)
set(FUZZ_TARGETS "")
foreach(src IN LISTS FUZZ_TARGET_SOURCES)
  get_filename_component(name ${src} NAME_WE)
  add_executable(fuzz_${name} ${src})
  target_include_directories(fuzz_${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/fuzz)
  target_compile_options(fuzz_${name} PRIVATE ${TARNWICK_WARNINGS})
  target_link_libraries(fuzz_${name} PRIVATE tarnwick_core EXPAT::EXPAT)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  list(APPEND FUZZ_TARGETS ${name})
endforeach()
# scripts/fuzz reads the list of fuzzers from here.
file(WRITE ${CMAKE_BINARY_DIR}/fuzz-targets.txt "")
foreach(name IN LISTS FUZZ_TARGETS)
  file(APPEND ${CMAKE_BINARY_DIR}/fuzz-targets.txt "${name}\n")
endforeach()
