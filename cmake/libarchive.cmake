# SPDX-License-Identifier: GPL-3.0-or-later
# libarchive, which reads the car archives (.zip, .7z, .rar), as one target:
# quillmere::libarchive. On Linux it is the system's (Debian's libarchive-dev), found through
# pkg-config. For Windows it is the static build tools/archive-windows keeps in the cache,
# whose folder tools/build-windows passes as QUILLMERE_ARCHIVE_PREFIX: libarchive, then what
# it calls (liblzma, bzip2, Debian's zlib for mingw-w64), then the Windows library it
# uses, advapi32 (CryptoAPI) for its hashes and random numbers.

add_library(quillmere_libarchive INTERFACE)
add_library(quillmere::libarchive ALIAS quillmere_libarchive)
if(WIN32)
    set(QUILLMERE_ARCHIVE_PREFIX "" CACHE PATH
        "Folder of the static libarchive for Windows (tools/archive-windows prints it)")
    if(NOT EXISTS "${QUILLMERE_ARCHIVE_PREFIX}/libarchive/lib/libarchive.a")
        message(FATAL_ERROR "No static libarchive in QUILLMERE_ARCHIVE_PREFIX "
                            "'${QUILLMERE_ARCHIVE_PREFIX}': tools/archive-windows builds one")
    endif()
    find_library(QUILLMERE_ARCHIVE_ZLIB NAMES libz.a REQUIRED)
    set(prefix ${QUILLMERE_ARCHIVE_PREFIX})
    target_include_directories(quillmere_libarchive SYSTEM INTERFACE ${prefix}/libarchive/include)
    # archive.h marks its functions dllimport unless told the library is static.
    target_compile_definitions(quillmere_libarchive INTERFACE LIBARCHIVE_STATIC)
    target_link_libraries(quillmere_libarchive INTERFACE
        ${prefix}/libarchive/lib/libarchive.a ${prefix}/xz-utils/lib/liblzma.a
        ${prefix}/bzip2/lib/libbz2.a ${QUILLMERE_ARCHIVE_ZLIB} advapi32)
    unset(prefix)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(QUILLMERE_ARCHIVE REQUIRED IMPORTED_TARGET libarchive)
    target_link_libraries(quillmere_libarchive INTERFACE PkgConfig::QUILLMERE_ARCHIVE)
endif()
