# Installing Skerrow: the install rules and the Debian package made from them
# with CPack (`cpack -G DEB` in the build folder), and, in the Windows build,
# the installer skerrow-setup-<version>.exe made with makensis. Both packages
# land in build/packages. Included by the top-level list after the Windows
# fragment.
include(GNUInstallDirs)

set(SKERROW_PACKAGES_DIR ${CMAKE_BINARY_DIR}/packages)
set(skerrow_packaging_source ${CMAKE_SOURCE_DIR}/packaging)
set(skerrow_packaging_work ${CMAKE_BINARY_DIR}/packaging)
set(SKERROW_VERSION ${PROJECT_VERSION})

# Debian wants the manual page and the changelog compressed, without a time
# stamp (-n), so that the same sources give the same package.
configure_file(${skerrow_packaging_source}/skerrow.1 ${skerrow_packaging_work}/skerrow.1 @ONLY)
configure_file(${skerrow_packaging_source}/changelog ${skerrow_packaging_work}/changelog @ONLY)
foreach(document skerrow.1 changelog)
  add_custom_command(
    OUTPUT ${skerrow_packaging_work}/${document}.gz
    COMMAND gzip -9nkf ${document}
    WORKING_DIRECTORY ${skerrow_packaging_work}
    DEPENDS ${skerrow_packaging_work}/${document}
    VERBATIM)
endforeach()
add_custom_target(skerrow_documents ALL
  DEPENDS ${skerrow_packaging_work}/skerrow.1.gz ${skerrow_packaging_work}/changelog.gz)

install(TARGETS skerrow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The desktop program finds the help in share/skerrow beside bin/.
if(TARGET skerrow_help)
  install(FILES ${CMAKE_BINARY_DIR}/skerrow.chm DESTINATION ${CMAKE_INSTALL_DATADIR}/skerrow)
endif()
install(FILES ${skerrow_packaging_source}/skerrow.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${skerrow_packaging_source}/skerrow.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
install(FILES ${skerrow_packaging_work}/skerrow.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${skerrow_packaging_source}/copyright ${skerrow_packaging_work}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/skerrow)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skerrow)
set(CPACK_PACKAGE_VENDOR Corvalle)
set(CPACK_PACKAGE_CONTACT "Corvalle <support@corvalle.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "junk-mail filter with a friends list and a blacklist")
# Debian shows the description as it is: lines of at most 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Skerrow keeps a friends list and a blacklist of sender addresses and whole"
  "domains. It deletes from a Maildir's Inbox the mail of blacklisted senders"
  "and the mail that does not name the user's address, and shows the remaining"
  "mail of unknown senders for review: junk blacklists its sender, wanted mail"
  "makes its sender a friend. It runs once from the command line (skerrow check)"
  "or as a desktop program with the filter's toolbar in a mail window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${SKERROW_PACKAGES_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE http://www.corvalle.example/)
# The dependencies come from the libraries the program links (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The help opens through xdg-open, which needs a CHM viewer.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils, xchm")
include(CPack)

# The Windows installer, from both DLLs and the help file.
set(skerrow_setup)
if(SKERROW_WINDOWS AND TARGET skerrow_help AND TARGET skerrow_windows_i686 AND TARGET skerrow_windows_x86_64)
  find_program(SKERROW_MAKENSIS makensis)
  if(SKERROW_MAKENSIS)
    set(skerrow_setup ${SKERROW_PACKAGES_DIR}/skerrow-setup-${PROJECT_VERSION}.exe)
    set(skerrow_dlls ${CMAKE_BINARY_DIR}/windows/i686/skerrow.dll ${CMAKE_BINARY_DIR}/windows/x86_64/skerrow.dll)
    add_custom_command(
      OUTPUT ${skerrow_setup}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${SKERROW_PACKAGES_DIR}
      COMMAND ${SKERROW_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DDLL32=${CMAKE_BINARY_DIR}/windows/i686/skerrow.dll
              -DDLL64=${CMAKE_BINARY_DIR}/windows/x86_64/skerrow.dll -DHELP=${CMAKE_BINARY_DIR}/skerrow.chm
              -DOUTFILE=${skerrow_setup} ${skerrow_packaging_source}/skerrow.nsi
      DEPENDS ${skerrow_packaging_source}/skerrow.nsi ${skerrow_dlls} ${CMAKE_BINARY_DIR}/skerrow.chm
              skerrow_windows_i686 skerrow_windows_x86_64
      COMMENT "Making the Windows installer skerrow-setup-${PROJECT_VERSION}.exe"
      VERBATIM)
    add_custom_target(skerrow_setup ALL DEPENDS ${skerrow_setup})
  else()
    message(WARNING "SKERROW_WINDOWS: makensis is missing, so the Windows installer is left out. "
                    "Debian: apt-get install nsis")
  endif()
endif()

if(NOT SKERROW_TESTS)
  return()
endif()
find_program(SKERROW_LINTIAN lintian)
# The package as users get it: with the desktop program, not instrumented.
if(SKERROW_SANITIZE OR NOT TARGET skerrow_desktop)
  message(STATUS "No desktop program, or a sanitizer build: the Debian package is not tested here")
elseif(SKERROW_LINTIAN AND TARGET skerrow_help)
  add_test(NAME package_deb COMMAND ${CMAKE_SOURCE_DIR}/tests/packaging/deb_test.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(package_deb PROPERTIES LABELS packaging TIMEOUT 300)
else()
  message(WARNING "lintian or the help file's chmcmd is missing, so the Debian package is not tested. "
                  "Debian: apt-get install lintian fp-utils")
endif()
if(skerrow_setup AND skerrow_wine_ready AND SKERROW_WINE32_LOADER)
  add_test(NAME package_setup_wine
           COMMAND ${CMAKE_SOURCE_DIR}/tests/packaging/setup_test.sh ${skerrow_setup} ${SKERROW_WINE_PREFIX}
                   ${CMAKE_BINARY_DIR}/wine-prefix-setup ${CMAKE_BINARY_DIR}/windows)
  # It copies the Windows tests' prefix, so not while one of them runs there.
  set_tests_properties(package_setup_wine PROPERTIES
    LABELS "packaging;windows" TIMEOUT 300 RESOURCE_LOCK skerrow_wine_prefix)
endif()
