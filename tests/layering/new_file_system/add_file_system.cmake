# Adds a file system to a copy of the project the way a developer would: its
# own folder under engine/ and one line in the searcher-type enum, nothing
# else. Then configures the copy (engine, result files and tools only),
# builds the scan driver, which links the whole engine, and runs it so that
# the new row's install hook speaks.
#   cmake -DSOURCE=<checkout> -DWORK=<scratch> -DCOMPILER=<c++> -DCCOMPILER=<cc>
#         [-DLAUNCHER=<ccache>] -P add_file_system.cmake
foreach(var SOURCE WORK COMPILER CCOMPILER)
    if(NOT ${var})
        message(FATAL_ERROR "add_file_system.cmake needs -D${var}=")
    endif()
endforeach()
set(here ${CMAKE_CURRENT_LIST_DIR})
set(copy ${WORK}/tree)

# The copy: what a build without the interface, tests and benchmarks reads,
# made afresh each run with the checkout's times, so that the build beside it
# only compiles what changed since the last run.
file(REMOVE_RECURSE ${copy})
file(MAKE_DIRECTORY ${copy})
file(COPY ${SOURCE}/CMakeLists.txt DESTINATION ${copy})
foreach(dir cmake docs engine platform resources tools UI/Bridge UI/ResultFiles)
    get_filename_component(parent ${copy}/${dir} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(COPY ${SOURCE}/${dir} DESTINATION ${parent})
endforeach()

# 1. The folder.
file(COPY ${here}/Throwaway DESTINATION ${copy}/engine)

# 2. The enum line: after the searcher with the highest number, on the next
#    number, as a developer would write it. That number must be free.
set(types ${copy}/engine/include/EngineTypes.h)
file(READ ${types} text)
string(REGEX MATCHALL "\n    SEARCHER_[A-Z_]+ = [0-9]+,[^\n]*" lines "${text}")
list(FILTER lines EXCLUDE REGEX "SEARCHER_NONE")
if(NOT lines)
    message(FATAL_ERROR "no searcher types found in ${types}")
endif()
set(number -1)
foreach(line IN LISTS lines)
    string(REGEX REPLACE ".* = ([0-9]+),.*" "\\1" n "${line}")
    if(n GREATER number)
        set(number ${n})
        set(last "${line}")
    endif()
endforeach()
math(EXPR next "${number} + 1")
if(text MATCHES " = ${next},")
    message(FATAL_ERROR "the next searcher number ${next} is taken in EngineTypes.h")
endif()
string(REPLACE "${last}" "${last}\n    SEARCHER_THROWAWAY = ${next}," text "${text}")
file(WRITE ${types} "${text}")
execute_process(COMMAND touch -r ${SOURCE}/engine/include/EngineTypes.h ${types})
message(STATUS "added SEARCHER_THROWAWAY = ${next}")

# Only the two additions may differ from the checkout.
execute_process(COMMAND diff -r ${SOURCE}/engine ${copy}/engine
                OUTPUT_VARIABLE difference)
string(REGEX MATCHALL "\n(Only in|diff )[^\n]*" changed "\n${difference}")
list(LENGTH changed count)
if(NOT count EQUAL 2)
    message(FATAL_ERROR "the copy differs from the checkout in more than the folder and the "
            "enum line:\n${difference}")
endif()

set(build ${WORK}/build)
set(launcher "")
if(LAUNCHER)
    set(launcher -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER} -DCMAKE_C_COMPILER_LAUNCHER=${LAUNCHER})
endif()
execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${copy} -B ${build} -G Ninja
            -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0 -DCMAKE_C_FLAGS_DEBUG=-O0
            -DCMAKE_CXX_COMPILER=${COMPILER} -DCMAKE_C_COMPILER=${CCOMPILER} ${launcher}
            -DVELMORA_BUILD_UI=OFF -DBUILD_TESTING=OFF -DVELMORA_BUILD_BENCH=OFF
            -DVELMORA_FUZZ=OFF -DVELMORA_SANITIZE=OFF
    RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
    message(FATAL_ERROR "the copy with the new file system does not configure")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --target scan_driver
                RESULT_VARIABLE built)
if(NOT built EQUAL 0)
    message(FATAL_ERROR "the copy with the new file system does not build")
endif()
file(WRITE ${WORK}/empty.img "")
execute_process(COMMAND truncate -s 1M ${WORK}/empty.img)
execute_process(COMMAND ${build}/bin/scan_driver --deep --null-searcher ${WORK}/empty.img
                RESULT_VARIABLE ran OUTPUT_VARIABLE said ERROR_VARIABLE complained)
message("${said}${complained}")
if(NOT ran EQUAL 0)
    message(FATAL_ERROR "the scan driver of the copy ended with ${ran}")
endif()
if(NOT said MATCHES "throwaway file system installed as searcher type ${next}, tree \\(Throwaway\\)")
    message(FATAL_ERROR "the new file system's row was not installed")
endif()
