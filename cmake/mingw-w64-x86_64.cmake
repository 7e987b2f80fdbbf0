# Cross build for 64-bit Windows with Debian's mingw-w64:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The -posix compilers carry the winpthreads runtime that std::thread needs; everything is linked
# statically so that the programs run on a bare Windows without any mingw DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARNEL_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUARNEL_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARNEL_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARNEL_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARNEL_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine; the wrapper gives them the test run's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/win32/wine_run.sh)
