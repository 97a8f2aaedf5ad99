# End-to-end tests of `skerrow check`: the built program on Maildirs made by
# the tests, with maildrop delivering and Dovecot serving when installed.
if(SKERROW_MAILDIR)
  find_package(Threads REQUIRED)
  file(GLOB SKERROW_APP_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
  add_executable(test_app ${SKERROW_APP_TEST_SOURCES})
  target_include_directories(test_app PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(test_app PRIVATE GTest::gtest_main Threads::Threads)
  target_compile_definitions(test_app PRIVATE SKERROW_BINARY="$<TARGET_FILE:skerrow>")
  add_dependencies(test_app skerrow)
  gtest_discover_tests(test_app DISCOVERY_TIMEOUT 60 PROPERTIES LABELS app TIMEOUT 120)
endif()
