# Refuses include spellings that reach around the layers' include paths: a
# quoted include that climbs out of its folder ("../") or names a file by its
# place in the source tree ("engine/...", "tests/..."). Each layer's private
# headers are on its own include path only; these spellings would reach
# them from anywhere.
#
#   cmake -DROOT=<source tree> [-DFILES=a.cpp;b.h] [-DSTAMP=<file>] -P CheckLayerIncludes.cmake
#
# Without FILES every source of engine/, platform/, tools/, bench/, fuzz/,
# tests/ and UI/ is checked (tests/layering holds the deliberately bad probes
# and is left out).
if(NOT ROOT)
    message(FATAL_ERROR "CheckLayerIncludes: ROOT not set")
endif()
if(NOT FILES)
    set(FILES "")
    foreach(dir engine platform tools bench fuzz tests UI VexaLoader)
        file(GLOB_RECURSE found ${ROOT}/${dir}/*.h ${ROOT}/${dir}/*.hpp ${ROOT}/${dir}/*.cpp
             ${ROOT}/${dir}/*.cc)
        list(APPEND FILES ${found})
    endforeach()
    list(FILTER FILES EXCLUDE REGEX "/tests/layering/")
endif()

set(problems "")
foreach(file IN LISTS FILES)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" name "${line}")
        if(name MATCHES "(^|/)\\.\\.?/")
            list(APPEND problems "${file}: \"${name}\" climbs out of its folder")
        elseif(name MATCHES "^(engine|tests|platform/\\.\\.)/")
            list(APPEND problems "${file}: \"${name}\" names a place in the source tree")
        endif()
    endforeach()
endforeach()

if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "Includes that reach around the layers:\n  ${text}\n"
            "Include a layer's private headers only from inside that layer (by their "
            "names), and other layers through engine/include.")
endif()
if(STAMP)
    file(TOUCH ${STAMP})
endif()
