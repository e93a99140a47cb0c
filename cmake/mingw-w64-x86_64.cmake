# Cross-builds the Windows executable on Debian with MinGW-w64's posix-threads compiler (package
# g++-mingw-w64-x86-64-posix). It is named outright: where both thread models are installed, the
# plain name is the win32-threads one, which has no std::mutex for GoogleTest.
# Use: cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLOMAT_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${QUILLOMAT_MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUILLOMAT_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUILLOMAT_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLOMAT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows builds run under Wine when tests are run from Linux.
find_program(QUILLOMAT_WINE NAMES wine wine64)
if(QUILLOMAT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLOMAT_WINE})
endif()
