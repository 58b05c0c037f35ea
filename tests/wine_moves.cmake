# SPDX-License-Identifier: GPL-3.0-or-later
# Runs test functions under Wine with its file calls traced, and fails unless they pass, every
# move by path they make is MOVEFILE_WRITE_THROUGH (0x8), on the disk when it returns, and
# every rename by handle into an open folder (the server's set_fd_name_info with a rootdir) is
# followed by that folder opened again by its handle to write (create_file with that rootdir,
# no name and GENERIC_WRITE): the flush of its names, FlushFileBuffers, which needs such a
# handle. Neither has an effect any program can see from inside.
#   cmake -DWINE=wine64 -DRUNS="program.exe|function;..." -P wine_moves.cmake
set(ENV{WINEDEBUG} "-all,trace+file,+server")
set(count 0)
set(renamed 0)
foreach(run IN LISTS RUNS)
    string(REPLACE "|" ";" run "${run}")
    execute_process(COMMAND ${WINE} ${run} RESULT_VARIABLE result OUTPUT_VARIABLE output
                    ERROR_VARIABLE trace)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${run} failed (${result}):\n${output}")
    endif()
    string(REGEX MATCHALL "MoveFileWithProgressW \\([^\n]*,([0-9a-fA-F]+)\\)\n" moves "${trace}")
    foreach(move IN LISTS moves)
        string(REGEX REPLACE ".*,([0-9a-fA-F]+)\\)\n" "\\1" flags "${move}")
        math(EXPR through "0x${flags} & 8")
        if(NOT through)
            message(FATAL_ERROR "a move without MOVEFILE_WRITE_THROUGH: ${move}")
        endif()
        math(EXPR count "${count} + 1")
    endforeach()
    string(REGEX MATCHALL "set_fd_name_info\\( handle=[0-9a-f]+, rootdir=0*[1-9a-f][0-9a-f]*, [^\n]*link=0[^\n]*\n[0-9a-f]+: set_fd_name_info\\(\\) = 0"
           renames "${trace}")
    foreach(rename IN LISTS renames)
        string(REGEX REPLACE ".*rootdir=([0-9a-f]+),.*" "\\1" folder "${rename}")
        string(FIND "${trace}" "${rename}" at)
        string(SUBSTRING "${trace}" ${at} -1 after)
        if(NOT after MATCHES "create_file\\( access=[4-7c-f][0-9a-f]*, [^\n]*rootdir=${folder},[^\n]*name=L\"\"}")
            message(FATAL_ERROR "a rename into an open folder without its flush: ${rename}")
        endif()
        math(EXPR renamed "${renamed} + 1")
    endforeach()
endforeach()
# Copies and undos rename by handle; a move by path is left to a folder not held open.
if(renamed EQUAL 0)
    message(FATAL_ERROR "no rename by handle was traced (${count} moves by path)")
endif()
message(STATUS "${count} moves, each one written through; ${renamed} renames by handle, each "
               "one flushed")
