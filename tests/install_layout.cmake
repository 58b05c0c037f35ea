# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a fresh folder and checks that the launcher, the program, its car
# list, the menu entry, the icon, the software centre description and the manual page land
# where they belong.
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${STAGE}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

foreach(file bin/quillmere lib/quillmere/quillmere etc/quillmere/cars.txt
             share/applications/${ID}.desktop share/icons/hicolor/scalable/apps/${ID}.svg
             share/metainfo/${ID}.metainfo.xml share/man/man1/quillmere.1.gz)
    if(NOT EXISTS "${STAGE}/${file}" OR IS_SYMLINK "${STAGE}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

# The launcher names the program, and the program's folder holds a link to the car list.
file(READ "${STAGE}/bin/quillmere" launcher)
string(REGEX MATCH "\"\\$here/([^\"]+)\"" found "${launcher}")
get_filename_component(target "${STAGE}/bin/${CMAKE_MATCH_1}" ABSOLUTE)
if(NOT target STREQUAL "${STAGE}/lib/quillmere/quillmere")
    message(FATAL_ERROR "the launcher starts ${target}")
endif()
if(NOT IS_SYMLINK "${STAGE}/lib/quillmere/cars.txt")
    message(FATAL_ERROR "lib/quillmere/cars.txt is not a link")
endif()
file(REAL_PATH "${STAGE}/lib/quillmere/cars.txt" list)
file(REAL_PATH "${STAGE}/etc/quillmere/cars.txt" config)
if(NOT list STREQUAL config)
    message(FATAL_ERROR "lib/quillmere/cars.txt leads to ${list}")
endif()
file(REMOVE_RECURSE "${STAGE}")
