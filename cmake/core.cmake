# The portable core (every rule of the filter, standard library only) and
# the in-memory client and platform, from the folders under SKERROW_ROOT.
# The Linux build and the Windows cross builds both include this.
file(GLOB SKERROW_BITMAPS CONFIGURE_DEPENDS ${SKERROW_ROOT}/resources/*.bmp)
set(SKERROW_EMBEDDED ${CMAKE_BINARY_DIR}/generated/embedded_bitmaps.cpp)
# The button faces and window pictures, compiled in as byte arrays.
add_custom_command(
  OUTPUT ${SKERROW_EMBEDDED}
  COMMAND ${CMAKE_COMMAND} -DOUT=${SKERROW_EMBEDDED} -DDIR=${SKERROW_ROOT}/resources
          -P ${SKERROW_ROOT}/resources/embed.cmake
  DEPENDS ${SKERROW_BITMAPS} ${SKERROW_ROOT}/resources/embed.cmake)

file(GLOB SKERROW_CORE_SOURCES CONFIGURE_DEPENDS
  ${SKERROW_ROOT}/addin/*.cpp ${SKERROW_ROOT}/addin/host/*.cpp ${SKERROW_ROOT}/addin/ui/*.cpp
  ${SKERROW_ROOT}/filter/*.cpp ${SKERROW_ROOT}/review/*.cpp ${SKERROW_ROOT}/options/*.cpp
  ${SKERROW_ROOT}/resources/*.cpp)
add_library(skerrow_core STATIC ${SKERROW_CORE_SOURCES} ${SKERROW_EMBEDDED})
target_include_directories(skerrow_core PUBLIC ${SKERROW_ROOT})

file(GLOB SKERROW_MEMORY_SOURCES CONFIGURE_DEPENDS
  ${SKERROW_ROOT}/hosts/memory/*.cpp ${SKERROW_ROOT}/platform/memory/*.cpp)
add_library(skerrow_memory STATIC ${SKERROW_MEMORY_SOURCES})
target_link_libraries(skerrow_memory PUBLIC skerrow_core)
