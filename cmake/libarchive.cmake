# SPDX-License-Identifier: GPL-3.0-or-later
# libarchive, as quillmere::libarchive: the system's own on Linux.
if(NOT TARGET quillmere::libarchive)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
    add_library(quillmere::libarchive INTERFACE IMPORTED)
    target_link_libraries(quillmere::libarchive INTERFACE PkgConfig::LIBARCHIVE)
endif()
