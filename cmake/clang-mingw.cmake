# Clang as the second compiler of the Windows code, included by toolchain-clang-<arch>.cmake after
# they set KS_TRIPLET: Debian's clang-14 against the same mingw-w64 headers and runtime and the same
# libstdc++ (the posix-thread variant) as the GCC toolchain files. windres and widl stay mingw's.
# lld-14 links, in its MinGW mode: the .def exports and the i686 stdcall fixup work as with GNU ld,
# which warns on every program that clang's local copies of libstdc++'s type_info names
# (std::exception, std::runtime_error) differ in size from libstdc++'s own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET   ${KS_TRIPLET})
set(CMAKE_CXX_COMPILER_TARGET ${KS_TRIPLET})
set(CMAKE_RC_COMPILER  ${KS_TRIPLET}-windres)
set(KS_WIDL            ${KS_TRIPLET}-widl)
# The mingw tree as sysroot keeps the host's /usr/include and its C++ headers out of the search path.
set(CMAKE_SYSROOT /usr/${KS_TRIPLET})
# Clang cannot read Debian's GCC version folders ("12-posix") and so finds neither libstdc++'s
# headers nor crtbegin.o, libgcc and libstdc++: both are named here.
file(GLOB KS_GCC_DIRS LIST_DIRECTORIES true /usr/lib/gcc/${KS_TRIPLET}/*-posix)
list(SORT KS_GCC_DIRS COMPARE NATURAL)
list(POP_BACK KS_GCC_DIRS KS_GCC_DIR)
if(NOT KS_GCC_DIR)
  message(FATAL_ERROR "no posix-thread GCC of ${KS_TRIPLET} in /usr/lib/gcc (scripts/bootstrap.sh installs it)")
endif()
set(KS_LIBSTDCXX ${KS_GCC_DIR}/include/c++)
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${KS_LIBSTDCXX} -isystem ${KS_LIBSTDCXX}/${KS_TRIPLET} -isystem ${KS_LIBSTDCXX}/backward")
# -pthread puts winpthreads into the link group, as the posix GCC's own specs do: libstdc++ and
# libgcc's emutls need it.
set(KS_CLANG_LINK "-fuse-ld=lld -B${KS_GCC_DIR} -L${KS_GCC_DIR} -pthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "${KS_CLANG_LINK}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${KS_CLANG_LINK}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${KS_CLANG_LINK}")
set(CMAKE_FIND_ROOT_PATH /usr/${KS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
