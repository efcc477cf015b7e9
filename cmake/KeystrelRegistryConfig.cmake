# The settings store's client SDK, for MinGW-w64 builds of either bitness:
#   find_package(KeystrelRegistry 4.0 REQUIRED)
#   target_link_libraries(app PRIVATE KeystrelRegistry::KeystrelRegistry)
# The target gives KsRegistry.h and the interface's GUIDs. For the consumer's bitness, also:
#   KeystrelRegistry_DLL, KeystrelRegistry_KSCONFIG, KeystrelRegistry_TYPELIB.
get_filename_component(_ks_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_ks_arch x86_64)
else()
  set(_ks_arch i686)
endif()
set(_ks_guids "${_ks_prefix}/lib/${_ks_arch}/libks_guids.a")
if(NOT EXISTS "${_ks_guids}")
  set(KeystrelRegistry_FOUND FALSE)
  set(KeystrelRegistry_NOT_FOUND_MESSAGE "this SDK has no ${_ks_arch} build (${_ks_guids} is missing)")
  return()
endif()
if(NOT TARGET KeystrelRegistry::KeystrelRegistry)
  add_library(KeystrelRegistry::KeystrelRegistry STATIC IMPORTED)
  set_target_properties(KeystrelRegistry::KeystrelRegistry PROPERTIES
    IMPORTED_LOCATION "${_ks_guids}"
    INTERFACE_INCLUDE_DIRECTORIES "${_ks_prefix}/include"
    INTERFACE_LINK_LIBRARIES "ole32;oleaut32;uuid")
endif()
set(KeystrelRegistry_DLL "${_ks_prefix}/bin/${_ks_arch}/Registry.dll")
set(KeystrelRegistry_KSCONFIG "${_ks_prefix}/bin/${_ks_arch}/ksconfig.exe")
set(KeystrelRegistry_TYPELIB "${_ks_prefix}/bin/${_ks_arch}/KsRegistry.tlb")
unset(_ks_prefix)
unset(_ks_arch)
unset(_ks_guids)
