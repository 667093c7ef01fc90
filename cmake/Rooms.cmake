# SPDX-License-Identifier: GPL-3.0-or-later
# A room's headers are seen only by the targets that link its library. The source root is on no room's include path:
# kd5_room() links each header of its folder into a folder of the build tree under the same path ("mail/pop3/pop3.h"
# stays "mail/pop3/pop3.h") and makes that folder the library's public include folder. A room that includes a header
# of a room it does not link, itself or through a PUBLIC link, then fails to compile, so the layout table's "What it
# may call" is kept by the build. Links are PRIVATE unless a header of the room includes the other room's header.
# tests/, fuzz/ and bench/ are not rooms: they put the source root on their own include path.
#
#   kd5_room(<target>)                      every header of the folder not taken by a call below
#   kd5_room(<target> HEADERS <file>...)    only these, for a second target of a folder (a plain C++ part beside
#                                           a Qt one, a header that is read without the library's links)
function(kd5_room target)
    cmake_parse_arguments(PARSE_ARGV 1 ROOM "" "" "HEADERS")
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    string(REPLACE "/" "_" name "${folder}")
    get_property(taken DIRECTORY PROPERTY KD5_ROOM_HEADERS_TAKEN)
    if(ROOM_HEADERS)
        set(stage ${PROJECT_BINARY_DIR}/rooms/${name}-${target})
        list(TRANSFORM ROOM_HEADERS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE headers)
        set_property(DIRECTORY APPEND PROPERTY KD5_ROOM_HEADERS_TAKEN ${headers})
    else()
        set(stage ${PROJECT_BINARY_DIR}/rooms/${name})
        file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.def)
        if(taken)
            list(REMOVE_ITEM headers ${taken})
        endif()
    endif()
    # Made anew at each configure, so that a header removed from the folder leaves no link behind.
    file(REMOVE_RECURSE ${stage})
    file(MAKE_DIRECTORY ${stage}/${folder})
    foreach(header IN LISTS headers)
        get_filename_component(file ${header} NAME)
        file(CREATE_LINK ${header} ${stage}/${folder}/${file} SYMBOLIC)
    endforeach()
    # INTERFACE for a target that only carries headers.
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${stage})
    else()
        target_include_directories(${target} PUBLIC ${stage})
    endif()
endfunction()
