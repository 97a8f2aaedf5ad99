# The end-to-end tests of an IMAP account run against the IMAP host tests'
# Dovecot.
if(TARGET test_app AND TARGET skerrow_imap)
  target_sources(test_app PRIVATE ${CMAKE_SOURCE_DIR}/tests/hosts/imap/dovecot_server.cpp)
  target_compile_definitions(test_app PRIVATE SKERROW_WITH_IMAP_TESTS=1
                             SKERROW_TEST_WORK="${CMAKE_BINARY_DIR}/test-work")
endif()
