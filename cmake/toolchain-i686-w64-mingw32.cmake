# Cross build for 32-bit Windows with mingw-w64. The posix-thread compilers are
# the ones whose standard library has std::mutex and std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(SKERROW_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${SKERROW_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SKERROW_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SKERROW_MINGW_TRIPLET}-windres)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
