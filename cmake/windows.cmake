# Cross build: Registry.dll, its tools and the Wine-run test executables.
set(KS_GEN ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${KS_GEN})
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
# compile_commands.json, which the static analysis reads (scripts/analyze.sh).
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

# widl stamps the type library, which the DLL embeds, with the time it runs (widl 7 ignores
# SOURCE_DATE_EPOCH): it runs at a fixed time, so that two builds give the same DLL.
find_program(KS_FAKETIME faketime)
if(KS_FAKETIME)
  set(KS_WIDL_RUN ${CMAKE_COMMAND} -E env TZ=UTC ${KS_FAKETIME} -f "1970-01-01 00:00:00" ${KS_WIDL})
else()
  message(STATUS "faketime not found (scripts/bootstrap.sh installs it): the type library, and so the DLL, carry the build time")
  set(KS_WIDL_RUN ${KS_WIDL})
endif()
add_custom_command(
  OUTPUT ${KS_GEN}/KsRegistry.h ${KS_GEN}/KsRegistry_i.c ${KS_GEN}/KsRegistry.tlb
  COMMAND ${KS_WIDL_RUN} ${KS_WIDL_ARCH} -I/usr/include/wine/wine/windows -L${KS_STDOLE_DIR}
          -h -H ${KS_GEN}/KsRegistry.h -u -U ${KS_GEN}/KsRegistry_i.c -t -T ${KS_GEN}/KsRegistry.tlb
          ${CMAKE_SOURCE_DIR}/include/KsRegistry.idl
  DEPENDS ${CMAKE_SOURCE_DIR}/include/KsRegistry.idl
  COMMENT "widl KsRegistry.idl")
add_custom_target(ks_idl DEPENDS ${KS_GEN}/KsRegistry.h ${KS_GEN}/KsRegistry.tlb)

# Runtime checks of the suite's test builds, for every target of ours and googletest alike:
# undefined behaviour (signed overflow, shifts, bounds of arrays of known size, null references)
# traps where it happens, with no runtime library to link or ship, and libstdc++ checks its
# containers' operator[], front/back and iterators. Off by default: what ships
# (scripts/package.sh) is built without them.
option(KS_RUNTIME_CHECKS "Build with trapping UBSan and libstdc++ assertions (test builds only)" OFF)
# Wine's full heap validation during the Wine tests (see wine_start below). It makes the heaviest
# tests ten times slower, so the scripts turn it on for one build, the x86_64 one.
option(KS_HEAP_CHECKS "Run the Wine tests under Wine's full heap validation" OFF)
if(KS_RUNTIME_CHECKS)
  add_compile_options(-fsanitize=undefined -fsanitize-undefined-trap-on-error)
  add_link_options(-fsanitize=undefined -fsanitize-undefined-trap-on-error)
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
endif()

set(KS_STATIC_LINK -static -static-libgcc -static-libstdc++)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  list(APPEND KS_STATIC_LINK -Wl,--enable-stdcall-fixup)
endif()
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
# Hardening that ships: stack canaries in functions with arrays or address-taken locals, and the
# checked copies of mingw-w64's string and stdio calls (optimised builds only). Both need libssp,
# which the static link takes in from its archive: no DLL beside ours (check_dll.sh enforces it).
add_compile_options(-fstack-protector-strong)
add_compile_definitions(_FORTIFY_SOURCE=2)
add_link_options(-fstack-protector-strong)
# The loader's protections are asked for rather than left to the linker's defaults.
add_link_options(LINKER:--dynamicbase,--nxcompat)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  add_link_options(LINKER:--high-entropy-va)
endif()
# Reproducible: no link time stamp, and the source and build folders mapped out of the debug
# information and __FILE__ (the build folder last: GCC tries the last map first).
add_link_options(LINKER:--no-insert-timestamp)
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)

# The interface's GUIDs, in one library shared by the store, its tests and its tools.
add_library(ks_guids STATIC ${KS_GEN}/KsRegistry_i.c)
add_dependencies(ks_guids ks_idl)

# One static library per folder of src/, each with its Windows-free part, dependencies one way:
# core <- the services (profiles, links, calibration, device) <- server. The DLL's entry points are
# left out of server so that test and tool executables can link the store too.
foreach(layer core profiles links calibration device server)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${layer}/*.cpp ${CMAKE_SOURCE_DIR}/src/${layer}/pure/*.cpp)
  list(FILTER srcs EXCLUDE REGEX ".*/dll_exports\\.cpp$")
  add_library(ks_${layer} STATIC ${srcs})
  add_dependencies(ks_${layer} ks_idl ks_layers)
  target_include_directories(ks_${layer} PUBLIC ${CMAKE_SOURCE_DIR}/src ${KS_GEN})
  target_compile_options(ks_${layer} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${KS_WARNINGS}>)
endforeach()
target_link_libraries(ks_core PUBLIC ks_guids ole32 oleaut32 uuid advapi32 user32 shell32 psapi wtsapi32 ntdll)
foreach(service profiles links calibration device)
  target_link_libraries(ks_${service} PUBLIC ks_core)
endforeach()
target_link_libraries(ks_server PUBLIC ks_profiles ks_links ks_calibration ks_device)
# The whole store, for the DLL, the tests and the tools.
add_library(ksstore INTERFACE)
target_link_libraries(ksstore INTERFACE ks_server)

set(KS_RC ${CMAKE_SOURCE_DIR}/src/server/Registry.rc)
set_source_files_properties(${KS_RC} PROPERTIES
  OBJECT_DEPENDS "${KS_GEN}/KsRegistry.tlb;${CMAKE_SOURCE_DIR}/src/core/resource_ids.h;${CMAKE_SOURCE_DIR}/src/server/AppId.rgs;${CMAKE_SOURCE_DIR}/src/server/KeystrelConfig.rgs")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${KS_GEN} -I${CMAKE_SOURCE_DIR}/src -I${CMAKE_SOURCE_DIR}/src/server")

add_library(Registry SHARED ${CMAKE_SOURCE_DIR}/src/server/dll_exports.cpp
            ${CMAKE_SOURCE_DIR}/src/server/Registry.def ${KS_RC})
set_target_properties(Registry PROPERTIES PREFIX "" OUTPUT_NAME Registry)
target_compile_options(Registry PRIVATE ${KS_WARNINGS})
target_link_libraries(Registry PRIVATE ksstore)
target_link_options(Registry PRIVATE ${KS_STATIC_LINK})

# The same resources for executables that link the store statically (tests that replace a seam).
add_library(ksstore_resources OBJECT ${KS_RC})

# googletest, built for the target from Debian's sources.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Windows programs start only through scripts/wine.sh, which picks the loader for the bitness and
# exits 77 with the reason where this host cannot run it (ctest reports that test as skipped).
# A build folder configured by hand gets a Wine prefix of its own; the scripts share one.
set(KS_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix the tests run in (created when missing)")
set(KS_WINE ${CMAKE_SOURCE_DIR}/scripts/wine.sh)
set(KS_WINE_SKIP 77)
set(KS_WINESERVER /usr/lib/wine/wineserver)
# Wine's heap validation reports on the heap channel; wine.sh --gtest fails a program that prints one.
if(KS_HEAP_CHECKS)
  set(KS_WINEDEBUG -all,err+heap,warn+heap)
else()
  set(KS_WINEDEBUG -all)
endif()
set(KS_WINE_ENV WINEPREFIX=${KS_WINEPREFIX} WINEDEBUG=${KS_WINEDEBUG} WINEDLLOVERRIDES=mscoree,mshtml=)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env ${KS_WINE_ENV} ${KS_WINE} ${CMAKE_SYSTEM_PROCESSOR})
enable_testing()
file(GLOB KS_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(ks_test_support STATIC ${KS_TEST_SUPPORT})
add_dependencies(ks_test_support ks_idl)
target_include_directories(ks_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src ${KS_GEN})
# The store's owners and text pair come from its static library; tests otherwise load the DLL.
target_link_libraries(ks_test_support PUBLIC ksstore ks_guids gtest ole32 oleaut32 uuid advapi32 shell32)

# The ksconfig tests run the README's support case as it is printed there.
configure_file(${CMAKE_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/README.md COPYONLY)

# One test executable per folder under tests/ (native/ and support/ excepted), built from an object
# library so that the i686 suite below reuses the same objects.
file(GLOB KS_TEST_DIRS CONFIGURE_DEPENDS LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/tests/*)
# Folders whose tests run in one process where 32-bit programs run only under emulation (each
# process start costs about a minute there): every folder whose tests start no process of their own.
set(KS_SUITE_DIRS core profiles seams links calibration device faults)
set(KS_SUITE_OBJECTS)
# Wine's heap validation reports damage that is not there when several threads allocate at once
# (seen with a program of a few lines that swaps strings under a lock and does nothing else): the
# tests that run threads of their own run from a copy of their program that it leaves alone.
set(KS_THREADED_TESTS "*FreeThreaded*:*ValueThatCannotBeCopied*")
foreach(dir ${KS_TEST_DIRS})
  get_filename_component(sub ${dir} NAME)
  if(NOT IS_DIRECTORY ${dir} OR sub STREQUAL "native" OR sub STREQUAL "support" OR sub STREQUAL "checks")
    continue()
  endif()
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT srcs)
    continue()
  endif()
  add_library(test_${sub}_objects OBJECT ${srcs})
  target_compile_options(test_${sub}_objects PRIVATE ${KS_WARNINGS})
  target_link_libraries(test_${sub}_objects PRIVATE ks_test_support gtest)
  add_executable(test_${sub} $<TARGET_OBJECTS:test_${sub}_objects>)
  target_link_libraries(test_${sub} PRIVATE ks_test_support gtest_main)
  target_link_options(test_${sub} PRIVATE ${KS_STATIC_LINK})
  add_dependencies(test_${sub} Registry)
  # Tests that replace a platform seam link the store itself instead of loading the DLL.
  if(EXISTS ${dir}/LINKS_STORE)
    target_link_libraries(test_${sub} PRIVATE ksstore ksstore_resources)
  endif()
  # Passes only with googletest's passing summary in the output as well as exit code 0 (wine.sh
  # --gtest): a test program that dies without failing an assertion was seen to exit 0.
  set(filter)
  if(sub STREQUAL "core")
    set(filter --gtest_filter=-${KS_THREADED_TESTS})
    add_custom_command(TARGET test_core POST_BUILD
                       COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:test_core> ${CMAKE_BINARY_DIR}/bin/test_core_threads.exe)
    add_test(NAME core_threads COMMAND /usr/bin/env ${KS_WINE_ENV} ${KS_WINE} --gtest ${CMAKE_SYSTEM_PROCESSOR}
             ${CMAKE_BINARY_DIR}/bin/test_core_threads.exe --gtest_filter=${KS_THREADED_TESTS}
             WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(core_threads PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 RUN_SERIAL TRUE
                         SKIP_RETURN_CODE ${KS_WINE_SKIP})
  endif()
  add_test(NAME ${sub} COMMAND /usr/bin/env ${KS_WINE_ENV} ${KS_WINE} --gtest ${CMAKE_SYSTEM_PROCESSOR}
           $<TARGET_FILE:test_${sub}> ${filter} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(${sub} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 RUN_SERIAL TRUE
                       SKIP_RETURN_CODE ${KS_WINE_SKIP})
  if(sub IN_LIST KS_SUITE_DIRS)
    list(APPEND KS_SUITE_OBJECTS $<TARGET_OBJECTS:test_${sub}_objects>)
  endif()
endforeach()

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  add_executable(test_i686_suite ${KS_SUITE_OBJECTS})
  target_link_libraries(test_i686_suite PRIVATE ks_test_support gtest_main ksstore ksstore_resources)
  target_link_options(test_i686_suite PRIVATE ${KS_STATIC_LINK})
  add_dependencies(test_i686_suite Registry)
  # Under qemu's user-mode emulation the 32-bit Wine process was seen to crash ("uncaught target
  # signal 11") in the free-threaded test, which runs natively for both bitnesses wherever they run.
  add_test(NAME i686_suite COMMAND /usr/bin/env ${KS_WINE_ENV} ${KS_WINE} --suite --gtest i686 $<TARGET_FILE:test_i686_suite>
           --gtest_filter=-*FreeThreaded*
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(i686_suite PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 1200 RUN_SERIAL TRUE
                       SKIP_RETURN_CODE ${KS_WINE_SKIP} LABELS i686_suite)
endif()

file(GLOB KS_TOOL_DIRS CONFIGURE_DEPENDS LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/tools/*)
foreach(dir ${KS_TOOL_DIRS})
  if(EXISTS ${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(${CMAKE_SOURCE_DIR}/bench)
endif()

# Static analysis of src/ and tools/ (checks and reasons in .clang-tidy), run by the 64-bit clang
# build: clang-tidy reads its compile database exactly as clang compiled each file.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  add_test(NAME static_analysis COMMAND ${CMAKE_SOURCE_DIR}/scripts/analyze.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(static_analysis PROPERTIES TIMEOUT 900)
endif()

add_test(NAME dll_exports_imports COMMAND ${CMAKE_SOURCE_DIR}/scripts/check_dll.sh ${KS_TRIPLET}-objdump $<TARGET_FILE:Registry>)

include(${CMAKE_SOURCE_DIR}/cmake/package.cmake)

# The runtime checks themselves: a canary program each of whose tests plants a fault that they must
# stop, run one test at a time through wine.sh --gtest.
if(KS_RUNTIME_CHECKS OR KS_HEAP_CHECKS)
  add_executable(runtime_checks_canary ${CMAKE_SOURCE_DIR}/tests/checks/canary.cpp)
  target_compile_options(runtime_checks_canary PRIVATE ${KS_WARNINGS})
  target_link_libraries(runtime_checks_canary PRIVATE gtest_main)
  target_link_options(runtime_checks_canary PRIVATE ${KS_STATIC_LINK})
  set(KS_CANARY_ARGS)
  if(KS_RUNTIME_CHECKS)
    list(APPEND KS_CANARY_ARGS --runtime)
  endif()
  if(KS_HEAP_CHECKS)
    list(APPEND KS_CANARY_ARGS --heap)
  endif()
  add_test(NAME runtime_checks COMMAND /usr/bin/env ${KS_WINE_ENV} ${CMAKE_SOURCE_DIR}/tests/checks/checks_test.sh
           ${KS_CANARY_ARGS} ${CMAKE_SYSTEM_PROCESSOR} $<TARGET_FILE:runtime_checks_canary>)
  set_tests_properties(runtime_checks PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 RUN_SERIAL TRUE
                       SKIP_RETURN_CODE ${KS_WINE_SKIP})
endif()

# Every Wine test needs the prefix (created when missing, so that a build configured by hand runs
# its tests as the scripts' does) and a running wineserver first. With the heap checks the test
# programs, and the programs they start, run under Wine's full heap validation; without, it is
# turned off again for them, since the scripts' builds share one prefix.
get_property(KS_TOP_TARGETS DIRECTORY ${CMAKE_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
set(KS_HEAP_CHECKED)
foreach(target ${KS_TOP_TARGETS} ksconfig ksclient)
  if(TARGET ${target})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      list(APPEND KS_HEAP_CHECKED $<TARGET_FILE_NAME:${target}>)
    endif()
  endif()
endforeach()
if(KS_HEAP_CHECKS)
  set(KS_HEAP_CHECK --heap-check)
endif()
add_test(NAME wine_start COMMAND /usr/bin/env ${KS_WINE_ENV} ${KS_WINE} --prefix ${KS_HEAP_CHECK} ${KS_HEAP_CHECKED})
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)
add_test(NAME wine_stop COMMAND sh -c "env WINEPREFIX=${KS_WINEPREFIX} ${KS_WINESERVER} -k >/dev/null 2>&1; exit 0")
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
