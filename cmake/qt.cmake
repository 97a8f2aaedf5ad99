# The Qt 6 renderer of the add-in's windows and message boxes, and its tests
# on real widgets offscreen. Included by the top-level list when SKERROW_QT
# is on.
if(CMAKE_CROSSCOMPILING)
  message(STATUS "Cross build: the Qt renderer is left out")
  return()
endif()

find_package(Qt6 REQUIRED COMPONENTS Widgets)

file(GLOB SKERROW_QT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/render/qt/*.cpp)
add_library(skerrow_qt STATIC ${SKERROW_QT_SOURCES})
target_link_libraries(skerrow_qt PUBLIC skerrow_core Qt6::Widgets)

if(SKERROW_TESTS)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  file(GLOB SKERROW_QT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/render/qt/*.cpp)
  add_executable(test_qt ${SKERROW_QT_TESTS})
  target_link_libraries(test_qt PRIVATE skerrow_qt skerrow_test_support Qt6::Test GTest::gtest)
  # The test program picks the offscreen platform itself when none is set.
  gtest_discover_tests(test_qt DISCOVERY_TIMEOUT 60 PROPERTIES LABELS qt)
endif()
