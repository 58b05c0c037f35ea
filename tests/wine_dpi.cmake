# SPDX-License-Identifier: GPL-3.0-or-later
# Runs test functions under Wine on Windows' own platform, not offscreen, in a Wine prefix of
# their own whose desktop has DPI dots to the inch (120 is Windows' 125 %, 144 its 150 %),
# with the fonts Wine gives a program. Needs an X display.
#   cmake -DWINE=wine64 -DDPI=120 -DPROGRAM=test.exe "-DFUNCTIONS=a;b" -P wine_dpi.cmake
if("$ENV{DISPLAY}" STREQUAL "")
    message(STATUS "no X display: skipped")
    return()
endif()
set(prefix "$ENV{WINEPREFIX}")
if(prefix STREQUAL "")
    set(prefix "$ENV{HOME}/.wine")
endif()
set(prefix "${prefix}-dpi${DPI}")
set(ENV{WINEPREFIX} "${prefix}")
set(ENV{WINEDEBUG} -all)
if(NOT EXISTS "${prefix}/system.reg")
    # Without Wine's Mono and Gecko, which a new prefix would offer to download.
    set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
    execute_process(COMMAND ${WINE} wineboot --init OUTPUT_QUIET ERROR_QUIET)
    foreach(key "HKCU\\Control Panel\\Desktop"
                "HKLM\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts")
        execute_process(COMMAND ${WINE} reg add ${key} /v LogPixels /t REG_DWORD /d ${DPI} /f
                        RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "cannot set ${DPI} dpi in ${prefix}")
        endif()
    endforeach()
    get_filename_component(wine_dir ${WINE} DIRECTORY)
    execute_process(COMMAND ${wine_dir}/wineserver64 -w)
    unset(ENV{WINEDLLOVERRIDES})
endif()
math(EXPR percent "${DPI} * 100 / 96")
if(percent LESS 100)
    set(scale "0.${percent}")
else()
    string(REGEX REPLACE "^([0-9]+)([0-9][0-9])$" "\\1.\\2" scale "${percent}")
endif()
set(ENV{QUILLMERE_DESKTOP_SCALE} ${scale})
unset(ENV{WINEQT_QPA_PLATFORM})
unset(ENV{WINEQT_QPA_FONTDIR})
execute_process(COMMAND ${WINE} ${PROGRAM} ${FUNCTIONS} RESULT_VARIABLE result
                OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} at ${DPI} dpi failed (${result})")
endif()
