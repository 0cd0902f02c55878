# Cross-build for 64-bit Windows with clang and lld against the MinGW-w64 headers, import
# libraries and GCC's C++ library for MinGW (posix thread model). Used by scripts/check-clang.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_SYSROOT /usr/${TOOLCHAIN_PREFIX})

# clang does not look for GCC's C++ headers of a MinGW cross-compiler: they are named here.
file(GLOB LUMIVANE_MINGW_GCC_DIRS /usr/lib/gcc/${TOOLCHAIN_PREFIX}/*-posix)
if(NOT LUMIVANE_MINGW_GCC_DIRS)
    message(FATAL_ERROR "No MinGW-w64 GCC (posix) under /usr/lib/gcc/${TOOLCHAIN_PREFIX}")
endif()
list(GET LUMIVANE_MINGW_GCC_DIRS 0 gcc_dir)
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc++ -isystem ${gcc_dir}/include/c++ -isystem ${gcc_dir}/include/c++/${TOOLCHAIN_PREFIX} -isystem ${gcc_dir}/include/c++/backward")
# lld resolves archives in any order, so the threads library of the posix-model C++ library
# can be named up front.
foreach(kind EXE SHARED MODULE)
    # The link step sees the compile-only -nostdinc++ too.
    set(CMAKE_${kind}_LINKER_FLAGS_INIT
        "-fuse-ld=lld -L${gcc_dir} -lpthread -Wno-unused-command-line-argument")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
