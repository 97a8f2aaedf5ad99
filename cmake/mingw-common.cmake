# Settings shared by the two mingw-w64 toolchain files.
set(CMAKE_FIND_ROOT_PATH /usr/${SKERROW_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wide-character Win32 by default (the common controls want it); the
# add-in names its ANSI entry points explicitly.
add_compile_definitions(UNICODE _UNICODE NOMINMAX)

# Everything linked in: the DLL and the test programs import only system
# DLLs, so nothing of the compiler's runtime has to be installed with them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
