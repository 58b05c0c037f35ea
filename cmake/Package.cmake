# The Debian package, built by tools/package: CPack's DEB generator over the install rules,
# with the shared libraries' packages computed by dpkg-shlibdeps.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VENDOR dunhallow)
set(CPACK_PACKAGE_CONTACT dunhallow)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "puts a downloaded car model in place of one of the game's stock cars")
# The long description below the summary; CPack indents its lines.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Name the game's folder, the new car's .4ds model file and its Maps folder of\n"
    "textures, pick the stock car to replace and tick its colour variants: one button\n"
    "copies the model and its textures into the game's folder. The windows speak\n"
    "Russian; the list of stock cars is /etc/quillmere/cars.txt.")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
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
include(CPack)
