# Native (Linux) build of the Windows-free code: unit tests under ASan/UBSan, and fuzzers with clang.
set(KS_SAN -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
# The tools' own Windows-free logic is built and tested here too.
file(GLOB KS_TOOL_PURE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/*/pure/*.cpp)
list(APPEND KS_PURE_SOURCES ${KS_TOOL_PURE_SOURCES})
add_library(kspure STATIC ${KS_PURE_SOURCES})
add_dependencies(kspure ks_layers)
target_include_directories(kspure PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tools)
target_compile_options(kspure PRIVATE ${KS_WARNINGS} ${KS_SAN})
target_link_options(kspure PUBLIC ${KS_SAN})

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

enable_testing()
file(GLOB KS_NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
add_executable(test_native ${KS_NATIVE_TESTS})
target_compile_options(test_native PRIVATE ${KS_WARNINGS} ${KS_SAN})
target_link_libraries(test_native PRIVATE kspure gtest_main)
# Lets tests read the shipped scripts and text files of the source tree.
add_test(NAME native COMMAND test_native)
set_tests_properties(native PROPERTIES TIMEOUT 300 ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")

# One libFuzzer target per file in fuzz/, each run briefly from its seed corpus in fuzz/corpus/<name>.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  file(GLOB KS_FUZZERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*.cpp)
  set(KS_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs under ctest")
  foreach(src ${KS_FUZZERS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(fuzz_${name} ${src} ${KS_PURE_SOURCES})
    target_include_directories(fuzz_${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tools)
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    set(work ${CMAKE_BINARY_DIR}/fuzz-work/${name})
    add_test(NAME fuzz_${name}
      COMMAND sh -c "mkdir -p ${work} && $<TARGET_FILE:fuzz_${name}> -max_total_time=${KS_FUZZ_SECONDS} -print_final_stats=0 ${work} ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name}")
    set_tests_properties(fuzz_${name} PROPERTIES TIMEOUT 300)
  endforeach()
endif()
