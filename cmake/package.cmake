# Shipping: the Windows Installer package (wixl), the client SDK (cmake --install) and its ZIP (cpack).

# One version for everything that ships, set in project() in CMakeLists.txt: the DLL's and
# ksconfig's version resources, the package's ProductVersion and the SDK's package version.
set(KS_VERSION ${PROJECT_VERSION})
if(NOT KS_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "the version ${KS_VERSION} is not major.minor.build.revision")
endif()
set(ks_major ${CMAKE_MATCH_1})
set(ks_minor ${CMAKE_MATCH_2})
set(ks_build ${CMAKE_MATCH_3})
set(ks_revision ${CMAKE_MATCH_4})
# The limits of a package's ProductVersion; a version resource takes 16 bits a field.
if(ks_major GREATER 255 OR ks_minor GREATER 255 OR ks_build GREATER 65535 OR ks_revision GREATER 65535)
  message(FATAL_ERROR "the version ${KS_VERSION} does not fit a package's ProductVersion (255.255.65535.65535)")
endif()
# The version resources read it from a header: ${KS_GEN} is on the resource compiler's path.
function(ks_version_header dir version)
  string(REPLACE "." "," binary ${version})
  file(CONFIGURE OUTPUT ${dir}/ks_version.h CONTENT
       "#define KS_VERSION_BINARY ${binary}\n#define KS_VERSION_TEXT \"${version}\"\n")
endfunction()
ks_version_header(${KS_GEN} ${KS_VERSION})
set_property(SOURCE ${KS_RC} APPEND PROPERTY OBJECT_DEPENDS ${KS_GEN}/ks_version.h)
set(KS_KSCONFIG_RC ${CMAKE_SOURCE_DIR}/tools/ksconfig/ksconfig.rc)
target_sources(ksconfig PRIVATE ${KS_KSCONFIG_RC})
set_property(SOURCE ${KS_KSCONFIG_RC} TARGET_DIRECTORY ksconfig APPEND PROPERTY OBJECT_DEPENDS ${KS_GEN}/ks_version.h)
# The upgrade test's "next release": a higher build number, because Windows Installer compares
# only the first three fields when it looks for the product to upgrade.
math(EXPR ks_next_build "${ks_build} + 1")
set(KS_NEXT_VERSION ${ks_major}.${ks_minor}.${ks_next_build}.${ks_revision})

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

# Signatures: Registry.dll and ksconfig.exe are signed after stripping, before they go into the
# package and the SDK, and so is each package. scripts/sign.sh takes the certificate from the
# environment when the build runs (KS_SIGN_PKCS12 or KS_SIGN_CERT/KS_SIGN_KEY, see there), or makes
# a test certificate for this build folder. Its identity file changes only with the certificate or
# the time-stamp server, so a build signs again exactly when one of them changed.
set(KS_SIGN ${CMAKE_SOURCE_DIR}/scripts/sign.sh)
set(KS_SIGNING ${KS_PACKAGE}/signing)
add_custom_target(signing_identity
  COMMAND ${KS_SIGN} identity ${KS_SIGNING}
  BYPRODUCTS ${KS_SIGNING}/identity ${KS_SIGNING}/cert.pem ${KS_SIGNING}/ca.pem
  COMMENT "signing certificate" VERBATIM)
function(ks_sign in out description)
  get_filename_component(name ${out} NAME)
  add_custom_command(OUTPUT ${out}
    COMMAND ${KS_SIGN} sign ${KS_SIGNING} ${description} ${in} ${out}
    DEPENDS ${in} ${KS_SIGNING}/identity ${KS_SIGN}
    COMMENT "signing ${name}" VERBATIM)
endfunction()

# What ships is stripped: the debug information goes into <name>.debug beside each binary, which
# the binary names in its debug link, so that a debugger given the shipped file finds its symbols.
# <dir>/stripped/<name> is the stripped binary as the build made it (what two builds of one commit
# must give byte for byte), <dir>/bin/<name> the same signed.
find_program(KS_OBJCOPY ${KS_TRIPLET}-objcopy REQUIRED)
# objcopy stamps the PE header with the time it runs unless SOURCE_DATE_EPOCH says otherwise: the
# link's own stamp, none (0), is kept.
set(KS_OBJCOPY_RUN ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${KS_OBJCOPY})
function(ks_ship target name dir description)
  add_custom_command(OUTPUT ${dir}/stripped/${name} ${dir}/bin/${name}.debug
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/bin ${dir}/stripped
    COMMAND ${KS_OBJCOPY_RUN} --only-keep-debug $<TARGET_FILE:${target}> ${dir}/bin/${name}.debug
    COMMAND ${KS_OBJCOPY_RUN} --strip-all --add-gnu-debuglink=${dir}/bin/${name}.debug
            $<TARGET_FILE:${target}> ${dir}/stripped/${name}
    DEPENDS ${target}
    COMMENT "stripped ${name}, its symbols in ${name}.debug" VERBATIM)
  ks_sign(${dir}/stripped/${name} ${dir}/bin/${name} "${description}")
endfunction()
set(KS_SHIP ${KS_PACKAGE}/bin)
set(KS_SHIP_TARGETS Registry ksconfig)
set(KS_SHIP_NAMES Registry.dll ksconfig.exe)
set(KS_SHIP_DESCRIPTIONS "Keystrel settings store" "Keystrel settings support tool")
set(KS_SHIPPED)
set(KS_SYMBOLS)
set(KS_STRIPPED)
foreach(target name description IN ZIP_LISTS KS_SHIP_TARGETS KS_SHIP_NAMES KS_SHIP_DESCRIPTIONS)
  ks_ship(${target} ${name} ${KS_PACKAGE} "${description}")
  list(APPEND KS_SHIPPED ${KS_SHIP}/${name})
  list(APPEND KS_SYMBOLS ${KS_SHIP}/${name}.debug)
  list(APPEND KS_STRIPPED ${KS_PACKAGE}/stripped/${name})
endforeach()
add_custom_target(stripped DEPENDS ${KS_STRIPPED} ${KS_SYMBOLS})
add_custom_target(shipped ALL DEPENDS ${KS_SHIPPED} ${KS_SYMBOLS})

# The upgrade test's next release: the same objects relinked with version resources of the next
# version, so that it costs two links, not a second build.
set(KS_NEXT ${KS_PACKAGE}/next)
ks_version_header(${KS_NEXT}/include ${KS_NEXT_VERSION})
set(ks_no_resources "\\.rc\\.(res|obj|o)$")
add_library(Registry_next SHARED EXCLUDE_FROM_ALL $<FILTER:$<TARGET_OBJECTS:Registry>,EXCLUDE,${ks_no_resources}>
            ${CMAKE_SOURCE_DIR}/src/server/Registry.def ${KS_RC})
add_executable(ksconfig_next EXCLUDE_FROM_ALL $<FILTER:$<TARGET_OBJECTS:ksconfig>,EXCLUDE,${ks_no_resources}>
               ${KS_KSCONFIG_RC})
set_property(SOURCE ${KS_RC} ${KS_KSCONFIG_RC} APPEND PROPERTY OBJECT_DEPENDS ${KS_NEXT}/include/ks_version.h)
foreach(target Registry ksconfig)
  # Its own version header comes first on the resource compiler's path.
  target_include_directories(${target}_next PRIVATE ${KS_NEXT}/include)
  target_link_libraries(${target}_next PRIVATE $<TARGET_PROPERTY:${target},LINK_LIBRARIES>)
  target_link_options(${target}_next PRIVATE $<TARGET_PROPERTY:${target},LINK_OPTIONS>)
  set_target_properties(${target}_next PROPERTIES PREFIX "" OUTPUT_NAME ${target}
                        RUNTIME_OUTPUT_DIRECTORY ${KS_NEXT}/link ARCHIVE_OUTPUT_DIRECTORY ${KS_NEXT}/link)
endforeach()
set(KS_NEXT_SHIPPED)
foreach(target name description IN ZIP_LISTS KS_SHIP_TARGETS KS_SHIP_NAMES KS_SHIP_DESCRIPTIONS)
  ks_ship(${target}_next ${name} ${KS_NEXT} "${description}")
  list(APPEND KS_NEXT_SHIPPED ${KS_NEXT}/bin/${name})
endforeach()

set(KS_WXS ${CMAKE_SOURCE_DIR}/installer/Registry.wxs ${CMAKE_SOURCE_DIR}/installer/KeystrelRegistry.wxs)
find_program(KS_WIXL wixl)
if(KS_WIXL)
  # wixl takes file sources relative to its working folder: stage them below it.
  set(KS_MSI ${KS_PACKAGE}/KeystrelRegistry-${KS_VERSION}-${CMAKE_SYSTEM_PROCESSOR}.msi)
  set(KS_WIXL_RUN ${KS_WIXL} -a ${KS_WIXL_ARCH} -D Win64=${KS_WIN64} -D KsProfilesDir=Profiles -I ${KS_PACKAGE})
  file(GLOB KS_SAMPLE_PROFILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/samples/Profiles/*)
  add_custom_command(OUTPUT ${KS_PACKAGE}/Profiles/stamp
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${KS_PACKAGE}/Profiles
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KS_PACKAGE}/Profiles
    COMMAND ${CMAKE_COMMAND} -E copy ${KS_SAMPLE_PROFILES} ${KS_PACKAGE}/Profiles
    COMMAND ${CMAKE_COMMAND} -E touch ${KS_PACKAGE}/Profiles/stamp
    DEPENDS ${KS_SAMPLE_PROFILES} VERBATIM)
  # A package of one version from the signed binaries in <bin> (relative to the package folder),
  # signed itself.
  function(ks_msi out version bin binaries)
    get_filename_component(name ${out} NAME)
    set(unsigned ${KS_PACKAGE}/unsigned/${name})
    add_custom_command(OUTPUT ${unsigned}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KS_PACKAGE}/unsigned
      COMMAND ${KS_WIXL_RUN} -D KsVersion=${version} -D KsBinDir=${bin} -o ${unsigned} ${KS_WXS}
      WORKING_DIRECTORY ${KS_PACKAGE}
      DEPENDS ${binaries} ${KS_WXI} ${KS_WXS} ${KS_PACKAGE}/Profiles/stamp
      COMMENT "wixl ${name}" VERBATIM)
    ks_sign(${unsigned} ${out} "Keystrel 4.0 Settings Store")
  endfunction()
  ks_msi(${KS_MSI} ${KS_VERSION} bin "${KS_SHIPPED}")
  add_custom_target(msi ALL DEPENDS ${KS_MSI})
  # For the tests only: the next release's package, for the upgrade test, and a package of another
  # product that takes the store in through the fragment, as the utility's own installer does.
  set(KS_NEXT_MSI ${KS_PACKAGE}/test/KeystrelRegistry-${KS_NEXT_VERSION}-${CMAKE_SYSTEM_PROCESSOR}.msi)
  ks_msi(${KS_NEXT_MSI} ${KS_NEXT_VERSION} next/bin "${KS_NEXT_SHIPPED}")
  add_custom_target(msi_next ALL DEPENDS ${KS_NEXT_MSI})
  set(KS_UTILITY_MSI ${KS_PACKAGE}/test/Utility-${CMAKE_SYSTEM_PROCESSOR}.msi)
  add_custom_command(OUTPUT ${KS_UTILITY_MSI}
    COMMAND ${KS_WIXL_RUN} -D KsVersion=${KS_VERSION} -D KsBinDir=bin -o ${KS_UTILITY_MSI}
            ${CMAKE_SOURCE_DIR}/tests/package/Utility.wxs ${CMAKE_SOURCE_DIR}/installer/KeystrelRegistry.wxs
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
  # An upgrade to the next release, a refused downgrade and a repair, in a prefix of their own.
  add_test(NAME package_upgrade COMMAND ${CMAKE_SOURCE_DIR}/tests/package/upgrade_test.sh ${CMAKE_SYSTEM_PROCESSOR}
           ${KS_MSI} ${KS_NEXT_MSI} $<TARGET_FILE:ksclient> $<TARGET_FILE:test_server> ${KS_MSI_PREFIX}-upgrade)
  set_tests_properties(package_upgrade PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE SKIP_RETURN_CODE ${KS_WINE_SKIP})
  # Packages that share the store: both bitnesses, and the store's own package beside one built
  # from the fragment. The 64-bit build runs it with the 32-bit build beside it (build/i686).
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    get_filename_component(KS_BUILD_ROOT ${CMAKE_BINARY_DIR} DIRECTORY)
    add_test(NAME package_coexist COMMAND ${CMAKE_SOURCE_DIR}/tests/package/coexist_test.sh
             ${CMAKE_BINARY_DIR} ${KS_BUILD_ROOT}/i686 ${KS_MSI_PREFIX}-coexist)
    set_tests_properties(package_coexist PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE SKIP_RETURN_CODE ${KS_WINE_SKIP})
  endif()
  # Every signature of what ships, and of the test's next release, against the certificate that
  # signed it; the packages' own files included.
  add_test(NAME package_signatures COMMAND ${CMAKE_SOURCE_DIR}/tests/package/signature_test.sh
           ${KS_TRIPLET}-objdump ${KS_SIGNING}
           ${KS_PACKAGE}/stripped/Registry.dll ${KS_SHIPPED} ${KS_MSI} ${KS_NEXT_SHIPPED} ${KS_NEXT_MSI})
  set_tests_properties(package_signatures PROPERTIES TIMEOUT 300)
else()
  message(STATUS "wixl not found (scripts/bootstrap.sh installs it): no .msi, and no package test")
endif()

# The loader's protections and the PE checksum of each shipped binary, and that the check catches
# each of them missing.
add_test(NAME package_hardening COMMAND ${CMAKE_SOURCE_DIR}/tests/package/hardening_test.sh
         ${KS_TRIPLET}-objdump ${CMAKE_SYSTEM_PROCESSOR} ${KS_SHIPPED})
set_tests_properties(package_hardening PROPERTIES TIMEOUT 300)

# Reproducible: the two shipped binaries built again in a second folder of this build give the
# same stripped bytes and debug files. In the shipping (i686) build only: it costs a build of the
# two targets; scripts/reproduce.sh compares two clean builds of a commit, both bitnesses.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(ks_options -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE})
  foreach(option KS_WERROR KS_RUNTIME_CHECKS)
    if(DEFINED ${option})
      list(APPEND ks_options -D${option}=${${option}})
    endif()
  endforeach()
  add_test(NAME package_reproducible COMMAND ${CMAKE_SOURCE_DIR}/tests/package/reproducible_test.sh
           ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/reproduce ${ks_options})
  set_tests_properties(package_reproducible PROPERTIES TIMEOUT 1200 RUN_SERIAL TRUE)
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
configure_file(${CMAKE_SOURCE_DIR}/installer/sdk/README.md ${KS_PACKAGE}/sdk/README.md @ONLY)
install(FILES ${KS_PACKAGE}/sdk/README.md DESTINATION .)
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
