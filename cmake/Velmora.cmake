# Shared helpers for the project's targets.

function(velmora_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# Engine libraries register themselves so the Qt check below can walk them.
function(velmora_engine_library target)
    set_property(GLOBAL APPEND PROPERTY VELMORA_ENGINE_TARGETS ${target})
endfunction()

# Walks the link closure of every engine library and fails configuration when
# any of it is Qt.
function(_velmora_collect_links target out_var)
    set(seen ${${out_var}})
    get_target_property(libs ${target} LINK_LIBRARIES)
    get_target_property(ilibs ${target} INTERFACE_LINK_LIBRARIES)
    foreach(lib IN LISTS libs ilibs)
        if(NOT lib OR lib MATCHES "-NOTFOUND$" OR lib IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${lib})
        if(TARGET ${lib})
            get_target_property(aliased ${lib} ALIASED_TARGET)
            if(aliased)
                set(lib ${aliased})
            endif()
            _velmora_collect_links(${lib} seen)
        endif()
    endforeach()
    set(${out_var} ${seen} PARENT_SCOPE)
endfunction()

function(velmora_check_engine_has_no_qt)
    get_property(targets GLOBAL PROPERTY VELMORA_ENGINE_TARGETS)
    foreach(t IN LISTS targets)
        set(closure "")
        _velmora_collect_links(${t} closure)
        foreach(lib IN LISTS closure)
            if(lib MATCHES "Qt[0-9]*::|[Qq]t[56]")
                message(FATAL_ERROR "engine target ${t} links Qt (${lib}); engine/ must not depend on Qt")
            endif()
        endforeach()
    endforeach()
endfunction()

# One GoogleTest executable; its cases become ctest tests.
#   velmora_add_test(NAME n SOURCES a.cpp ... LIBS lib ... [LABELS l ...] [LOOP_DEVICES])
function(velmora_add_test)
    cmake_parse_arguments(T "LOOP_DEVICES" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    velmora_warnings(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} velmora_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    if(NOT T_LABELS)
        set(T_LABELS unit)
    endif()
    # Tests that attach loop devices run one at a time: parallel attaches
    # race for the same free device.
    set(lock "")
    if("root" IN_LIST T_LABELS OR T_LOOP_DEVICES)
        set(lock RESOURCE_LOCK loop_devices)
    endif()
    gtest_discover_tests(${T_NAME}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "${T_LABELS}"
                   ENVIRONMENT "VELMORA_WORK_PATH=${CMAKE_BINARY_DIR}/tests/work"
                   TIMEOUT 600
                   ${lock})
endfunction()

# A libFuzzer target with its seed corpus in fuzz/corpus/<name>.
function(velmora_add_fuzzer)
    cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${F_NAME} ${F_SOURCES})
    velmora_warnings(${F_NAME})
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    set_property(GLOBAL APPEND PROPERTY VELMORA_FUZZERS ${F_NAME})
    if(TARGET fuzzers)
        add_dependencies(fuzzers ${F_NAME})
    endif()
endfunction()
