# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, built by tools/package: CPack's DEB generator over the install rules,
# with the shared libraries' packages computed by dpkg-shlibdeps.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VENDOR dunhallow)
# The maintainer: an address under the reserved .invalid domain, which nothing delivers to.
set(CPACK_PACKAGE_CONTACT "Dunhallow <packages@dunhallow.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "puts a downloaded car model in place of one of the game's stock cars")
# The long description below the summary; CPack indents its lines, which stay within 80
# columns.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Name the game's folder, the new car's .4ds model file and its Maps folder of\n"
    "textures, pick the stock car to replace and tick its colour variants: one\n"
    "button copies the model and its textures into the game's folder. Every\n"
    "install can be undone. The windows speak Russian; the list of stock cars is\n"
    "/etc/quillmere/cars.txt.")
# A tool that changes a game's files, not a game: it belongs with the utilities, and its
# launcher in /usr/bin.
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads the SVG plugin that draws the windows' icon at run time, so no library
# dependency names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6svg6)
set(CPACK_STRIP_FILES ON)
# The car list in /etc lies outside the prefix: staged through DESTDIR, and a conffile, so
# that an upgrade keeps the administrator's changes and a purge removes it.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
if(IS_ABSOLUTE ${QUILLMERE_CONFIG_DIR})
    file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/package/conffiles
         CONTENT "${QUILLMERE_CONFIG_DIR}/cars.txt\n")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/package/conffiles)
endif()

# The package's own documents in /usr/share/doc/quillmere: the licence as a machine-readable
# copyright file and the changelog, compressed as Debian's tools do it (no name, no time).
# Only the package build (tools/package) installs them: the copyright file points to
# /usr/share/common-licenses, which only Debian has.
option(QUILLMERE_DEBIAN_DOCS "Install the Debian package's copyright and changelog" OFF)
if(QUILLMERE_DEBIAN_DOCS)
    add_custom_command(OUTPUT changelog.gz
        COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/dist/debian/changelog > changelog.gz
        DEPENDS dist/debian/changelog VERBATIM)
    add_custom_target(debian_changelog ALL DEPENDS changelog.gz)
    install(FILES dist/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
include(CPack)
