# SPDX-License-Identifier: GPL-3.0-or-later
# Runs test functions under Wine with its file calls traced, and fails unless they pass and
# every move they make is MOVEFILE_WRITE_THROUGH (0x8), on the disk when it returns: a flag
# whose effect no program can see from inside.
#   cmake -DWINE=wine64 -DRUNS="program.exe|function;..." -P wine_moves.cmake
set(ENV{WINEDEBUG} "-all,trace+file")
set(count 0)
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
endforeach()
if(count EQUAL 0)
    message(FATAL_ERROR "no move was traced")
endif()
message(STATUS "${count} moves, each one written through")
