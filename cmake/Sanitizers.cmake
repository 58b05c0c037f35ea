# SPDX-License-Identifier: GPL-3.0-or-later
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer (QUILLMERE_SANITIZE), and the
# coverage instrumentation libFuzzer needs (QUILLMERE_FUZZ, clang only). Every target
# defined after this file is included is built so, the Qt libraries are not.

if(NOT QUILLMERE_SANITIZE AND NOT QUILLMERE_FUZZ)
    return()
endif()

if(QUILLMERE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "QUILLMERE_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # The fuzz targets link libFuzzer's main themselves (fuzz/CMakeLists.txt).
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)

# Any report ends the process with a failure; ctest passes these to every test. No leak
# suppressions are needed: the tests run on Qt Core without a window system, and what Qt
# keeps for the whole run stays reachable, which LeakSanitizer does not report.
set(QUILLMERE_SANITIZER_ENVIRONMENT
    "ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1"
    "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
)
