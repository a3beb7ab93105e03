# The Debian package of the console program, made by CPack from the install rules (`cpack -G DEB`
# in the Release build folder, as ./run release does): what `cmake --install` puts below a prefix,
# here /usr, plus the documentation folder Debian asks for. Its dependencies are read from the
# program by dpkg-shlibdeps.
include(GNUInstallDirs)

set(TEV_PACKAGE_MAINTAINER "TEV firmware upgrader <tev-upgrade@example.org>" CACHE STRING
    "The package's Maintainer field: a name and an address that takes mail about the package")

# /usr/share/doc/tev-upgrade: README and the pages of docs/ beside it (where its links find them),
# the copyright, and a changelog entry for this version, its date the
# configure day's (or SOURCE_DATE_EPOCH's).
set(TEV_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tev-upgrade)
string(TIMESTAMP TEV_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/deploy/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog
               @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/debian/changelog > ${CMAKE_BINARY_DIR}/debian/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog)
add_custom_target(tev-package-changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/deploy/debian/copyright
              ${CMAKE_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${TEV_DOC_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${TEV_DOC_DIR}/docs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tev-upgrade)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "installs firmware onto TEV VoIP adapters and handsets")
# The extended description, below the summary line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tev-upgrade reads a TEV device's status page over HTTP (answering its digest
password challenge), has the device fetch the firmware image the program
carries over TFTP from this computer, and checks the version it then reports.
Its dialogs run in the terminal, or options answer them for scripts; it
upgrades many devices side by side, with an inventory first, a canary, a
failure budget and a report in CSV or JSON.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TEV_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Root-owned files whatever the user who builds the package.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
