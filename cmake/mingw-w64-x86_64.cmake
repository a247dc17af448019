# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 toolchain, posix-threads flavour
# (package g++-mingw-w64-x86-64-posix). Use with
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVO_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${TARVO_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "archiver")
set(CMAKE_RANLIB ${TARVO_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "ranlib")

# Headers and libraries come from the cross sysroot only; programs run on the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TARVO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
