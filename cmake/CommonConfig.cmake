# SPDX-License-Identifier: GPL-3.0-or-later
# One interface target carries the language level, warnings and sanitizer flags; every target links it.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

add_library(kd5_common INTERFACE)
target_compile_options(kd5_common INTERFACE -Wall -Wextra)
target_compile_definitions(kd5_common INTERFACE _GNU_SOURCE)
# The source root is not on the include path: each room's library brings its own headers (cmake/Rooms.cmake).
# kd5_version.h: KD5_VERSION, the project's version as a string literal for every program.
configure_file(${PROJECT_SOURCE_DIR}/cmake/version.h.in ${PROJECT_BINARY_DIR}/generated/kd5_version.h @ONLY)
target_include_directories(kd5_common INTERFACE ${PROJECT_BINARY_DIR}/generated)
if(KD5_WERROR)
    target_compile_options(kd5_common INTERFACE -Werror)
    # GCC 12 at -O2 warns -Wrestrict inside std::string for plain "text" + string (its bug 105329): in an optimised
    # build that warning says nothing about our code. The test script's build keeps it.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(kd5_common INTERFACE $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-Wno-restrict>)
    endif()
endif()
# KD5_SANITIZE=ON: AddressSanitizer and UndefinedBehaviorSanitizer (the test script's build).
# KD5_SANITIZE=thread: ThreadSanitizer, for the threads that share the settings record and the lamp state; it cannot
# be combined with AddressSanitizer, so it has a build folder of its own.
if(KD5_SANITIZE STREQUAL "thread")
    target_compile_options(kd5_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(kd5_common INTERFACE -fsanitize=thread)
    target_sources(kd5_common INTERFACE ${PROJECT_SOURCE_DIR}/cmake/tsan_suppressions.cpp)
elseif(KD5_SANITIZE)
    target_compile_options(kd5_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                -fno-sanitize-recover=undefined)
    target_link_options(kd5_common INTERFACE -fsanitize=address,undefined)
endif()
# Fuzzing: every library carries libFuzzer's coverage hooks and the sanitizers; the targets in fuzz/ add the
# fuzzer's main. An undefined-behaviour report stops the run like a crash, so the fuzzer counts it as a finding.
if(KD5_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "KD5_FUZZ needs clang: configure with CXX=clang++")
    endif()
    target_compile_options(kd5_common INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                                                -fno-sanitize-recover=undefined -g)
    target_link_options(kd5_common INTERFACE -fsanitize=address,undefined)
endif()
find_package(Threads REQUIRED)
target_link_libraries(kd5_common INTERFACE Threads::Threads)
