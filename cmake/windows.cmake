# The Windows side, from the Linux build: skerrow.dll and its test programs
# cross-built from dll/ for 32 and 64 bits with mingw-w64, and the test
# programs run under Wine as tests of this build, so that its CTest summary
# counts them. Tools that are missing leave their part out, with a message.
include(ExternalProject)

set(SKERROW_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix CACHE PATH
    "The private Wine prefix the Windows tests run in (made on first use)")

find_program(SKERROW_WINE wine)
find_program(SKERROW_WINESERVER wineserver)
find_program(SKERROW_XVFB_RUN xvfb-run)
find_program(SKERROW_XAUTH xauth)
# Debian's wine32 package: without it Wine runs no 32-bit program.
find_program(SKERROW_WINE32_LOADER NAMES wine PATHS /usr/lib/wine /usr/lib/i386-linux-gnu/wine NO_DEFAULT_PATH)

set(skerrow_wine_ready ON)
foreach(tool SKERROW_WINE SKERROW_WINESERVER SKERROW_XVFB_RUN SKERROW_XAUTH)
  if(NOT ${tool})
    set(skerrow_wine_ready OFF)
  endif()
endforeach()
if(NOT skerrow_wine_ready)
  message(WARNING "SKERROW_WINDOWS: wine, wineserver, xvfb-run or xauth is missing, so the Windows tests are left "
                  "out; the DLL is still built. Debian: apt-get install wine wine64 xvfb xauth")
endif()

# The test programs the cross build makes, by the folders that hold them.
set(skerrow_wine_programs)
foreach(pair platform_win32=tests/platform/win32 outlook=tests/hosts/outlook dll=tests/dll)
  string(REPLACE "=" ";" pair ${pair})
  list(GET pair 0 name)
  list(GET pair 1 folder)
  file(GLOB sources ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  if(sources)
    list(APPEND skerrow_wine_programs ${name})
  endif()
endforeach()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/render/win32/CMakeLists.txt)
  list(APPEND skerrow_wine_programs win32_render)
endif()

enable_testing()
set(skerrow_previous_windows_build)
foreach(arch i686 x86_64)
  find_program(SKERROW_${arch}_CXX ${arch}-w64-mingw32-g++-posix)
  find_program(SKERROW_${arch}_WINDRES ${arch}-w64-mingw32-windres)
  if(NOT SKERROW_${arch}_CXX OR NOT SKERROW_${arch}_WINDRES)
    string(REPLACE "_" "-" package ${arch})
    message(WARNING "SKERROW_WINDOWS: ${arch}-w64-mingw32-g++-posix or its windres is missing, so the ${arch} "
                    "skerrow.dll and its tests are left out. Debian: apt-get install g++-mingw-w64-${package}-posix")
    continue()
  endif()

  set(binary ${CMAKE_BINARY_DIR}/windows/${arch})
  ExternalProject_Add(skerrow_windows_${arch}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/dll
    BINARY_DIR ${binary}
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-${arch}-w64-mingw32.cmake
               -DCMAKE_BUILD_TYPE=Release
               -DSKERROW_WINE_PREFIX=${SKERROW_WINE_PREFIX}
    # The sub-build decides itself what is out of date.
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON
    INSTALL_COMMAND ""
    TEST_COMMAND ""
    # What the Windows installer packs.
    BUILD_BYPRODUCTS ${binary}/skerrow.dll)
  # One architecture at a time: each sub-build uses every core already.
  if(skerrow_previous_windows_build)
    add_dependencies(skerrow_windows_${arch} ${skerrow_previous_windows_build})
  endif()
  set(skerrow_previous_windows_build skerrow_windows_${arch})

  if(NOT skerrow_wine_ready)
    continue()
  endif()
  if(arch STREQUAL "i686" AND NOT SKERROW_WINE32_LOADER)
    message(WARNING "SKERROW_WINDOWS: Wine cannot run 32-bit programs here, so the 32-bit tests are left out. "
                    "Debian: dpkg --add-architecture i386 && apt-get update && apt-get install wine32:i386")
    continue()
  endif()
  foreach(program ${skerrow_wine_programs})
    add_test(NAME wine_${arch}_${program}
             COMMAND ${CMAKE_SOURCE_DIR}/tests/dll/run_under_wine.sh ${SKERROW_WINE_PREFIX}
                     ${binary}/test_${program}.exe)
    # One Wine prefix, one program at a time in it.
    set_tests_properties(wine_${arch}_${program} PROPERTIES
      RESOURCE_LOCK skerrow_wine_prefix
      TIMEOUT 600
      LABELS windows)
  endforeach()
endforeach()
