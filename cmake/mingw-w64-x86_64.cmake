# Toolchain file for the Windows programs, cross-built on Linux with
# mingw-w64 (Debian: g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The "-posix" compilers are the ones of the package `make windows` installs;
# the programs start no threads, so their thread model matters to nothing.
# Everything is linked statically, so that the .exe files need no DLL of the
# compiler's beside them. This build makes the programs only: the Linux
# build's tests run them under wine (tests/windows, cmake/wine-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# The compiler's own sysroot, found from where the compiler is.
find_program(mingw_compiler_path ${CMAKE_CXX_COMPILER})
if(mingw_compiler_path)
  get_filename_component(mingw_bin "${mingw_compiler_path}" DIRECTORY)
  get_filename_component(mingw_prefix "${mingw_bin}" DIRECTORY)
  set(CMAKE_FIND_ROOT_PATH "${mingw_prefix}/x86_64-w64-mingw32")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Without this, find_package would find the Linux packages of the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
