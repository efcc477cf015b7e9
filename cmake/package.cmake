# Shipping: the Windows Installer package (wixl), the client SDK (cmake --install) and its ZIP (cpack).
set(KS_VERSION 4.0.0.1)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(KS_WIN64 yes)
  set(KS_WIXL_ARCH x64)
else()
  set(KS_WIN64 no)
  set(KS_WIXL_ARCH x86)
endif()

# The package's registration rows come from the DLL's own registration scripts, read by the DLL's
# own parser, built for the build host.
find_program(KS_HOST_CXX NAMES g++ c++ clang++-14 clang++ REQUIRED)
set(KS_HOST_WARNINGS -Wall -Wextra)
if(KS_WERROR)
  list(APPEND KS_HOST_WARNINGS -Werror)
endif()
set(KS_PACKAGE ${CMAKE_BINARY_DIR}/package)
set(KS_RGS_TO_WIX ${CMAKE_BINARY_DIR}/host/rgs_to_wix)
set(KS_RGS_TO_WIX_SOURCES ${CMAKE_SOURCE_DIR}/installer/rgs_to_wix.cpp
    ${CMAKE_SOURCE_DIR}/src/server/pure/registration_script.cpp)
add_custom_command(OUTPUT ${KS_RGS_TO_WIX}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
  COMMAND ${KS_HOST_CXX} -std=c++20 -O1 ${KS_HOST_WARNINGS} -I${CMAKE_SOURCE_DIR}/src
          ${KS_RGS_TO_WIX_SOURCES} -o ${KS_RGS_TO_WIX}
  DEPENDS ${KS_RGS_TO_WIX_SOURCES} ${CMAKE_SOURCE_DIR}/src/server/pure/registration_script.h
  COMMENT "host tool rgs_to_wix" VERBATIM)
set(KS_RGS_SCRIPTS ${CMAKE_SOURCE_DIR}/src/server/AppId.rgs ${CMAKE_SOURCE_DIR}/src/server/KeystrelConfig.rgs)
# Two files: the entries both registry views share, and those of this bitness's own view.
set(KS_WXI ${KS_PACKAGE}/KsRegistryShared.wxi ${KS_PACKAGE}/KsRegistryView.wxi)
add_custom_command(OUTPUT ${KS_WXI}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KS_PACKAGE}
  COMMAND ${KS_RGS_TO_WIX} ${KS_WXI} ${CMAKE_SOURCE_DIR}/include/KsRegistry.idl ${KS_RGS_SCRIPTS}
  DEPENDS ${KS_RGS_TO_WIX} ${KS_RGS_SCRIPTS} ${CMAKE_SOURCE_DIR}/include/KsRegistry.idl
  COMMENT "registration rows from the registration scripts" VERBATIM)
add_custom_target(wix_entries ALL DEPENDS ${KS_WXI})

# What ships is stripped: the debug information goes into <name>.debug beside each binary, which
# the binary names in its debug link, so that a debugger given the shipped file finds its symbols.
find_program(KS_OBJCOPY ${KS_TRIPLET}-objcopy REQUIRED)
set(KS_SHIP ${KS_PACKAGE}/bin)
set(KS_SHIPPED)
set(KS_SYMBOLS)
set(KS_SHIP_TARGETS Registry ksconfig)
set(KS_SHIP_NAMES Registry.dll ksconfig.exe)
foreach(target name IN ZIP_LISTS KS_SHIP_TARGETS KS_SHIP_NAMES)
  add_custom_command(OUTPUT ${KS_SHIP}/${name} ${KS_SHIP}/${name}.debug
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KS_SHIP}
    COMMAND ${KS_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${KS_SHIP}/${name}.debug
    COMMAND ${KS_OBJCOPY} --strip-all --add-gnu-debuglink=${KS_SHIP}/${name}.debug
            $<TARGET_FILE:${target}> ${KS_SHIP}/${name}
    DEPENDS ${target}
    COMMENT "stripped ${name}, its symbols in ${name}.debug" VERBATIM)
  list(APPEND KS_SHIPPED ${KS_SHIP}/${name})
  list(APPEND KS_SYMBOLS ${KS_SHIP}/${name}.debug)
endforeach()
add_custom_target(shipped ALL DEPENDS ${KS_SHIPPED} ${KS_SYMBOLS})

set(KS_WXS ${CMAKE_SOURCE_DIR}/installer/Registry.wxs ${CMAKE_SOURCE_DIR}/installer/KeystrelRegistry.wxs)
find_program(KS_WIXL wixl)
if(KS_WIXL)
  # wixl takes file sources relative to its working folder: stage them below it.
  set(KS_MSI ${KS_PACKAGE}/KeystrelRegistry-${KS_VERSION}-${CMAKE_SYSTEM_PROCESSOR}.msi)
  set(KS_WIXL_RUN ${KS_WIXL} -a ${KS_WIXL_ARCH} -D Win64=${KS_WIN64} -D KsBinDir=bin -D KsProfilesDir=Profiles
      -I ${KS_PACKAGE})
  file(GLOB KS_SAMPLE_PROFILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/samples/Profiles/*)
  add_custom_command(OUTPUT ${KS_MSI}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${KS_PACKAGE}/Profiles
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KS_PACKAGE}/Profiles
    COMMAND ${CMAKE_COMMAND} -E copy ${KS_SAMPLE_PROFILES} ${KS_PACKAGE}/Profiles
    COMMAND ${KS_WIXL_RUN} -o ${KS_MSI} ${KS_WXS}
    WORKING_DIRECTORY ${KS_PACKAGE}
    DEPENDS ${KS_SHIPPED} ${KS_WXI} ${KS_WXS} ${KS_SAMPLE_PROFILES}
    COMMENT "wixl KeystrelRegistry-${KS_VERSION}-${CMAKE_SYSTEM_PROCESSOR}.msi" VERBATIM)
  add_custom_target(msi ALL DEPENDS ${KS_MSI})
  # For the tests only: a package of another product that takes the store in through the fragment,
  # as the utility's own installer does.
  set(KS_UTILITY_MSI ${KS_PACKAGE}/test/Utility-${CMAKE_SYSTEM_PROCESSOR}.msi)
  add_custom_command(OUTPUT ${KS_UTILITY_MSI}
    COMMAND ${KS_WIXL_RUN} -o ${KS_UTILITY_MSI} ${CMAKE_SOURCE_DIR}/tests/package/Utility.wxs
            ${CMAKE_SOURCE_DIR}/installer/KeystrelRegistry.wxs
    WORKING_DIRECTORY ${KS_PACKAGE}
    DEPENDS ${KS_MSI} ${CMAKE_SOURCE_DIR}/tests/package/Utility.wxs
    COMMENT "wixl Utility-${CMAKE_SYSTEM_PROCESSOR}.msi, a test package built from the fragment" VERBATIM)
  add_custom_target(msi_utility ALL DEPENDS ${KS_UTILITY_MSI})
  # Install, use, repair and removal in a Wine prefix of the test's own, beside the suite's.
  if(KS_WINEPREFIX)
    set(KS_MSI_PREFIX ${KS_WINEPREFIX}-msi)
  else()
    set(KS_MSI_PREFIX ${CMAKE_BINARY_DIR}/wineprefix-msi)
  endif()
  add_test(NAME package_msi COMMAND ${CMAKE_SOURCE_DIR}/tests/package/msi_test.sh ${CMAKE_SYSTEM_PROCESSOR}
           ${KS_MSI} $<TARGET_FILE:ksclient> $<TARGET_FILE:test_server> ${KS_MSI_PREFIX})
  set_tests_properties(package_msi PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE SKIP_RETURN_CODE ${KS_WINE_SKIP})
  # Packages that share the store: both bitnesses, and the store's own package beside one built
  # from the fragment. The 64-bit build runs it with the 32-bit build beside it (build/i686).
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    get_filename_component(KS_BUILD_ROOT ${CMAKE_BINARY_DIR} DIRECTORY)
    add_test(NAME package_coexist COMMAND ${CMAKE_SOURCE_DIR}/tests/package/coexist_test.sh
             ${CMAKE_BINARY_DIR} ${KS_BUILD_ROOT}/i686 ${KS_MSI_PREFIX}-coexist)
    set_tests_properties(package_coexist PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE SKIP_RETURN_CODE ${KS_WINE_SKIP})
  endif()
else()
  message(STATUS "wixl not found (scripts/bootstrap.sh installs it): no .msi, and no package test")
endif()

# The sample client, built here for the package test; the SDK test builds it again against the SDK.
target_include_directories(ks_guids PUBLIC $<BUILD_INTERFACE:${KS_GEN}>)
target_link_libraries(ks_guids PUBLIC ole32 oleaut32 uuid)
add_library(KeystrelRegistry::KeystrelRegistry ALIAS ks_guids)
add_subdirectory(${CMAKE_SOURCE_DIR}/samples/client ${CMAKE_BINARY_DIR}/samples/client)
set_target_properties(ksclient PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# The SDK: one prefix takes both bitnesses, each build installing its own bin/<arch> and lib/<arch>.
set(KS_ARCH ${CMAKE_SYSTEM_PROCESSOR})
install(PROGRAMS ${KS_SHIPPED} DESTINATION bin/${KS_ARCH})
install(FILES ${KS_SYMBOLS} ${KS_GEN}/KsRegistry.tlb DESTINATION bin/${KS_ARCH})
install(TARGETS ks_guids ARCHIVE DESTINATION lib/${KS_ARCH})
install(FILES ${CMAKE_SOURCE_DIR}/include/KsRegistry.idl ${KS_GEN}/KsRegistry.h ${KS_GEN}/KsRegistry_i.c
        DESTINATION include)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/samples/ DESTINATION samples)
install(FILES ${KS_WXS} ${KS_WXI} DESTINATION share/KeystrelRegistry/wix)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/toolchain-i686.cmake ${CMAKE_SOURCE_DIR}/cmake/toolchain-x86_64.cmake
        DESTINATION share/KeystrelRegistry)
install(FILES ${CMAKE_SOURCE_DIR}/installer/sdk/README.md DESTINATION .)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${KS_PACKAGE}/KeystrelRegistryConfigVersion.cmake
  VERSION ${KS_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/KeystrelRegistryConfig.cmake ${KS_PACKAGE}/KeystrelRegistryConfigVersion.cmake
        DESTINATION lib/cmake/KeystrelRegistry)

# A client built against the installed SDK alone, with the toolchain file the SDK ships.
add_test(NAME package_sdk COMMAND /usr/bin/env ${KS_WINE_ENV} ${CMAKE_SOURCE_DIR}/tests/package/sdk_test.sh
         ${CMAKE_SYSTEM_PROCESSOR} ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/sdk-test "${KS_MSI}")
set_tests_properties(package_sdk PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 RUN_SERIAL TRUE
                     SKIP_RETURN_CODE ${KS_WINE_SKIP})

# cpack: a ZIP of the SDK with every bitness built beside this one (build/i686, build/x86_64).
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME KeystrelRegistrySDK)
set(CPACK_PACKAGE_VENDOR Stellwick)
set(CPACK_PACKAGE_VERSION ${KS_VERSION})
set(CPACK_PACKAGE_FILE_NAME KeystrelRegistrySDK-${KS_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${KS_PACKAGE})
set(CPACK_PROJECT_CONFIG_FILE ${KS_PACKAGE}/CPackBuilds.cmake)
get_filename_component(KS_BUILD_ROOT ${CMAKE_BINARY_DIR} DIRECTORY)
file(WRITE ${KS_PACKAGE}/CPackBuilds.cmake "
set(CPACK_INSTALL_CMAKE_PROJECTS)
foreach(arch i686 x86_64)
  if(EXISTS \"${KS_BUILD_ROOT}/\${arch}/cmake_install.cmake\")
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS \"${KS_BUILD_ROOT}/\${arch};KeystrelRegistry;ALL;/\")
  else()
    message(WARNING \"no \${arch} build in ${KS_BUILD_ROOT}: the SDK ZIP lacks that bitness\")
  endif()
endforeach()
")
include(CPack)
