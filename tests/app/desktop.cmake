# The desktop program's main window driven through its real widgets on the
# offscreen Qt platform; it writes screenshots to $SKERROW_SCREENSHOTS, else
# <build>/screenshots.
if(TARGET skerrow_desktop)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
  file(GLOB SKERROW_DESKTOP_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/desktop/*.cpp)
  # The program runner of the app tests starts the program itself; the Qt
  # tests' main makes the application.
  list(APPEND SKERROW_DESKTOP_TESTS ${CMAKE_SOURCE_DIR}/tests/app/app_fixture.cpp
       ${CMAKE_SOURCE_DIR}/tests/render/qt/main.cpp)
  if(TARGET skerrow_imap)
    # The desktop on an IMAP account of the IMAP host tests' Dovecot.
    list(APPEND SKERROW_DESKTOP_TESTS ${CMAKE_SOURCE_DIR}/tests/hosts/imap/dovecot_server.cpp)
  endif()
  add_executable(test_desktop ${SKERROW_DESKTOP_TESTS})
  target_include_directories(test_desktop PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(test_desktop PRIVATE skerrow_desktop Qt6::Test GTest::gtest)
  target_compile_definitions(test_desktop PRIVATE SKERROW_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots"
                             SKERROW_BINARY="$<TARGET_FILE:skerrow>" SKERROW_HELP_FILE="${CMAKE_BINARY_DIR}/skerrow.chm"
                             SKERROW_TEST_WORK="${CMAKE_BINARY_DIR}/test-work")
  # The program itself is started by some tests; its help file comes with it.
  add_dependencies(test_desktop skerrow)
  # The test program picks the offscreen platform itself when none is set.
  gtest_discover_tests(test_desktop DISCOVERY_TIMEOUT 60 PROPERTIES LABELS desktop TIMEOUT 120)
endif()
