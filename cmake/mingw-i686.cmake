# Cross compilation of the 32-bit Windows program with Debian's MinGW-w64
# (posix thread model: GoogleTest needs std::thread and friends).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VNX_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VNX_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VNX_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VNX_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VNX_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test binaries run under Wine; the wrapper picks the prefix (VNX_PREFIX).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
