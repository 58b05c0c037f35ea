# Installs the build into a fresh folder and checks that the launcher, the program, its car
# list and the desktop entry land where they belong.
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${STAGE}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

foreach(file bin/quillmere lib/quillmere/quillmere lib/quillmere/cars.txt
             share/applications/quillmere.desktop)
    if(NOT EXISTS "${STAGE}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

# The launcher names the program beside the car list.
file(READ "${STAGE}/bin/quillmere" launcher)
string(REGEX MATCH "\"\\$here/([^\"]+)\"" found "${launcher}")
get_filename_component(target "${STAGE}/bin/${CMAKE_MATCH_1}" ABSOLUTE)
if(NOT target STREQUAL "${STAGE}/lib/quillmere/quillmere")
    message(FATAL_ERROR "the launcher starts ${target}")
endif()
file(REMOVE_RECURSE "${STAGE}")
