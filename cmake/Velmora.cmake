# Shared helpers for the project's targets.

function(velmora_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# Engine libraries register themselves so the Qt and layering checks below
# can walk them.
function(velmora_engine_library target)
    set_property(GLOBAL APPEND PROPERTY VELMORA_ENGINE_TARGETS ${target})
endfunction()

# Folders other targets may include as "<name>/X.h". Only this staging
# folder of the build tree goes on include paths, never the source tree's
# root or engine/, which would make every private header of every layer
# reachable. The staged entry is a link to the source folder, so
# diagnostics and edits land in the real files.
set(VELMORA_STAGED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/velmora_include)
function(velmora_stage_folder name source_dir)
    file(MAKE_DIRECTORY ${VELMORA_STAGED_INCLUDE_DIR})
    if(IS_SYMLINK ${VELMORA_STAGED_INCLUDE_DIR}/${name})
        file(REMOVE ${VELMORA_STAGED_INCLUDE_DIR}/${name})
    endif()
    file(CREATE_LINK ${source_dir} ${VELMORA_STAGED_INCLUDE_DIR}/${name} SYMBOLIC)
endfunction()

# One layer of the engine: a static library built from the sources its
# folders add (each folder's CMakeLists.txt names the layer's target). The
# folders' headers are private to the layer: they are on its own include
# path and nobody else's. Other layers reach it only through the headers of
# engine/include (velmora_interfaces). Tests, fuzz targets and tools that
# test the layer from inside link <name>_internals, which adds its folders.
#   velmora_layer(NAME velmora_x FOLDERS FolderA FolderB LINKS lib ...)
function(velmora_layer)
    cmake_parse_arguments(L "" "NAME" "FOLDERS;LINKS" ${ARGN})
    add_library(${L_NAME} STATIC)
    velmora_warnings(${L_NAME})
    velmora_engine_library(${L_NAME})
    target_link_libraries(${L_NAME} PUBLIC velmora_interfaces ${L_LINKS})
    add_library(${L_NAME}_internals INTERFACE)
    target_link_libraries(${L_NAME}_internals INTERFACE ${L_NAME})
    foreach(folder IN LISTS L_FOLDERS)
        set(dir ${CMAKE_CURRENT_SOURCE_DIR}/${folder})
        _velmora_private_folder(${L_NAME} ${dir})
        add_subdirectory(${folder})
    endforeach()
endfunction()

# Puts `dir` on the include path of `target` and its _internals only, and
# records it as theirs for velmora_check_layer_include_paths().
function(_velmora_private_folder target dir)
    target_include_directories(${target} PRIVATE ${dir})
    target_include_directories(${target}_internals INTERFACE ${dir})
    set_property(GLOBAL APPEND PROPERTY VELMORA_LAYER_FOLDERS "${dir}")
    string(MAKE_C_IDENTIFIER "${dir}" key)
    set_property(GLOBAL PROPERTY VELMORA_LAYER_OF_${key} ${target})
endfunction()

# One file system (or the signature search): a static library of every
# source below the calling folder, except in subfolders that make a library
# of their own. Its folders are private, as a layer's are: on its own include
# path and on <name>_internals (its tests, fuzz targets and benchmarks), on
# nobody else's. An include/ subfolder, when there is one, is its public
# face. The engine links it through its searcher row; nothing else in the
# engine names it.
#   velmora_file_system(NAME velmora_x ROW XSearcherRow
#       [FOLDERS a b]          include folders below this one (default: this one)
#       [LINKS lib ...]        the layers it uses (docs/architecture.md)
#       [PRIVATE_LINKS lib ...]
#       [USES service ...] [PROVIDES service ...])
function(velmora_file_system)
    cmake_parse_arguments(F "" "NAME;ROW" "FOLDERS;LINKS;PRIVATE_LINKS;USES;PROVIDES" ${ARGN})
    if(NOT F_NAME OR NOT F_ROW)
        message(FATAL_ERROR "velmora_file_system needs NAME and ROW")
    endif()
    set(here ${CMAKE_CURRENT_SOURCE_DIR})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${here}/*.cpp)
    file(GLOB_RECURSE nested ${here}/*/CMakeLists.txt)
    foreach(list_file IN LISTS nested)
        get_filename_component(sub ${list_file} DIRECTORY)
        list(FILTER sources EXCLUDE REGEX "^${sub}/")
    endforeach()
    add_library(${F_NAME} STATIC ${sources})
    set_property(GLOBAL APPEND PROPERTY VELMORA_FILE_SYSTEMS ${F_NAME})
    velmora_warnings(${F_NAME})
    velmora_engine_library(${F_NAME})
    target_link_libraries(${F_NAME} PUBLIC velmora_interfaces ${F_LINKS})
    if(F_PRIVATE_LINKS)
        target_link_libraries(${F_NAME} PRIVATE ${F_PRIVATE_LINKS})
    endif()
    add_library(${F_NAME}_internals INTERFACE)
    target_link_libraries(${F_NAME}_internals INTERFACE ${F_NAME})
    if(NOT F_FOLDERS)
        set(F_FOLDERS .)
    endif()
    foreach(folder IN LISTS F_FOLDERS)
        get_filename_component(dir ${here}/${folder} ABSOLUTE)
        _velmora_private_folder(${F_NAME} ${dir})
    endforeach()
    if(EXISTS ${here}/include)
        target_include_directories(${F_NAME} PUBLIC ${here}/include)
    endif()
    foreach(service IN LISTS F_USES)
        velmora_use_service(${F_NAME} ${service})
    endforeach()
    velmora_searcher_row(TARGET ${F_NAME} ROW ${F_ROW} PROVIDES ${F_PROVIDES})
endfunction()

# Fails configuration when an engine library links a library its row of the
# "may use" table of docs/architecture.md does not name. A cell names layers
# by their short names (`nodes` is velmora_nodes) or full ones, before a ';'
# the services it uses (service `x`); "everything" allows any link and "—"
# none. Libraries outside the project (zlib, threads) are not judged. A file
# system the table does not list is judged by the row `velmora_*`; any other
# engine library the table does not list is named.
#   velmora_check_layer_links(TABLE docs/architecture.md)
function(velmora_check_layer_links)
    cmake_parse_arguments(C "" "TABLE" "" ${ARGN})
    # A cell's ';' would split CMake's lists: it is read as '~' instead.
    file(READ ${C_TABLE} text)
    string(REPLACE ";" "~" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")
    set(listed "")
    foreach(line IN LISTS lines)
        if(NOT line MATCHES "^\\| `(velmora_[a-z_*]+)` \\|[^|]*\\|([^|]*)\\|")
            continue()
        endif()
        set(lib ${CMAKE_MATCH_1})
        set(cell "${CMAKE_MATCH_2}")
        if(lib IN_LIST listed)
            continue()
        endif()
        list(APPEND listed ${lib})
        set(allowed velmora_interfaces)
        if(cell MATCHES "everything")
            set(allowed ANY)
        endif()
        string(REGEX MATCHALL "service `[a-z_]+`" used "${cell}")
        foreach(u IN LISTS used)
            string(REGEX REPLACE "service `([a-z_]+)`" "velmora_service_\\1" u "${u}")
            list(APPEND allowed ${u})
        endforeach()
        string(REGEX REPLACE "~.*" "" layers "${cell}")
        string(REGEX REPLACE "\\([^)]*\\)" "" layers "${layers}")
        string(REPLACE "`" "" layers "${layers}")
        string(REPLACE "," ";" layers "${layers}")
        foreach(name IN LISTS layers)
            string(STRIP "${name}" name)
            if(name STREQUAL "" OR name STREQUAL "—" OR name STREQUAL "everything")
                continue()
            endif()
            if(NOT name MATCHES "^velmora_")
                set(name velmora_${name})
            endif()
            list(APPEND allowed ${name})
        endforeach()
        string(MAKE_C_IDENTIFIER "${lib}" key)
        set(_velmora_may_use_${key} ${allowed})
    endforeach()
    get_property(targets GLOBAL PROPERTY VELMORA_ENGINE_TARGETS)
    get_property(file_systems GLOBAL PROPERTY VELMORA_FILE_SYSTEMS)
    foreach(t IN LISTS targets)
        if(NOT t IN_LIST listed)
            # A file system the table does not name yet gets the row of
            # `velmora_*`, what any file system may use.
            if(t IN_LIST file_systems AND "velmora_*" IN_LIST listed)
                set(_velmora_may_use_${t} ${_velmora_may_use_velmora__})
            else()
                message(FATAL_ERROR "engine library ${t} has no row in the \"may use\" table of "
                        "${C_TABLE}: add one saying what it may link")
            endif()
        endif()
        if("ANY" IN_LIST _velmora_may_use_${t})
            continue()
        endif()
        get_target_property(libs ${t} LINK_LIBRARIES)
        get_target_property(ilibs ${t} INTERFACE_LINK_LIBRARIES)
        foreach(lib IN LISTS libs ilibs)
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
            if(NOT lib MATCHES "^velmora_" OR lib STREQUAL t)
                continue()
            endif()
            string(REGEX REPLACE "_internals$" "" layer ${lib})
            if(NOT layer IN_LIST _velmora_may_use_${t})
                message(FATAL_ERROR "${t} links ${lib}, which its row of the \"may use\" table "
                        "of ${C_TABLE} does not name; link only what it names, or change the "
                        "table with the reason")
            endif()
        endforeach()
    endforeach()
endfunction()

# Fails configuration when a target puts a folder on its include path that
# would reach another layer's private headers: the source tree's root,
# engine/ itself, or a layer's folder from outside that layer (its own
# target and its _internals are the only ones allowed).
function(velmora_check_layer_include_paths)
    get_property(layer_dirs GLOBAL PROPERTY VELMORA_LAYER_FOLDERS)
    set(root ${PROJECT_SOURCE_DIR})
    if(VELMORA_LAYER_ROOT)
        set(root ${VELMORA_LAYER_ROOT})
    endif()
    set(forbidden ${root} ${root}/engine)
    _velmora_all_targets(${CMAKE_SOURCE_DIR} targets)
    foreach(t IN LISTS targets)
        get_target_property(type ${t} TYPE)
        if(type STREQUAL "UTILITY")
            continue()
        endif()
        set(dirs "")
        foreach(prop INCLUDE_DIRECTORIES INTERFACE_INCLUDE_DIRECTORIES)
            get_target_property(value ${t} ${prop})
            if(value)
                list(APPEND dirs ${value})
            endif()
        endforeach()
        foreach(raw IN LISTS dirs)
            string(REGEX REPLACE "^\\$<BUILD_INTERFACE:(.*)>$" "\\1" dir "${raw}")
            get_filename_component(dir "${dir}" ABSOLUTE)
            string(REGEX REPLACE "/$" "" dir "${dir}")
            if(dir IN_LIST forbidden)
                message(FATAL_ERROR "target ${t} puts ${dir} on its include path, which reaches "
                        "every layer's private headers. Put only its own folder there and include "
                        "its headers by their names; other layers are reached through engine/include.")
            endif()
            if(dir IN_LIST layer_dirs)
                string(MAKE_C_IDENTIFIER "${dir}" key)
                get_property(owner GLOBAL PROPERTY VELMORA_LAYER_OF_${key})
                if(NOT t STREQUAL owner AND NOT t STREQUAL "${owner}_internals")
                    message(FATAL_ERROR "target ${t} puts ${dir}, a private folder of ${owner}, on "
                            "its include path; use the headers of engine/include instead")
                endif()
            endif()
        endforeach()
    endforeach()
endfunction()

function(_velmora_all_targets dir out_var)
    get_property(found DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub IN LISTS subdirs)
        _velmora_all_targets(${sub} more)
        list(APPEND found ${more})
    endforeach()
    set(${out_var} ${found} PARENT_SCOPE)
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
#   velmora_add_test(NAME n SOURCES a.cpp ... LIBS lib ... [LABELS l ...] [LOOP_DEVICES]
#                    [FIXTURE_IMAGES] [THREADS])
# FIXTURE_IMAGES: the cases use the images the "fixtures" test makes (label
# "images" unless LABELS says otherwise).
# THREADS: the code under test runs threads of its own; the ThreadSanitizer
# build (VELMORA_TSAN) builds and registers only these, under the label
# "threads", through the target threaded_tests.
function(velmora_add_test)
    cmake_parse_arguments(T "LOOP_DEVICES;FIXTURE_IMAGES;THREADS" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/PlannedRowsEnvironment.cpp)
    velmora_warnings(${T_NAME})
    target_compile_options(${T_NAME} PRIVATE ${VELMORA_TEST_COMPILE_OPTIONS})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} velmora_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    if(NOT T_LABELS)
        if(T_FIXTURE_IMAGES)
            set(T_LABELS images)
        else()
            set(T_LABELS unit)
        endif()
    endif()
    if(T_THREADS)
        list(APPEND T_LABELS threads)
        if(NOT TARGET threaded_tests)
            add_custom_target(threaded_tests)
        endif()
        add_dependencies(threaded_tests ${T_NAME})
    endif()
    # Tests that attach loop devices run one at a time: parallel attaches
    # race for the same free device.
    set(lock "")
    if("root" IN_LIST T_LABELS OR T_LOOP_DEVICES)
        set(lock RESOURCE_LOCK loop_devices)
    endif()
    set(images "")
    if(T_FIXTURE_IMAGES)
        set(images FIXTURES_REQUIRED fixture_images)
    endif()
    if(VELMORA_TSAN AND NOT T_THREADS)
        # Not built unless asked, and not run: see THREADS above.
        set_target_properties(${T_NAME} PROPERTIES EXCLUDE_FROM_ALL ON)
        return()
    endif()
    gtest_discover_tests(${T_NAME}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "VELMORA_WORK_PATH=${CMAKE_BINARY_DIR}/tests/work"
                   TIMEOUT 600
                   ${lock} ${images})
    # The discovered tests get their properties as one flat list, where a
    # second label would become a property name and shift the rest (the
    # time-out was lost so): the labels are set by a script of their own,
    # read after the discovery's.
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_labels.cmake)
    file(WRITE ${script} "if(DEFINED ${T_NAME}_TESTS)\n"
                         "  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES LABELS \"${T_LABELS}\")\n"
                         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
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

# Services one file system provides and other layers use (EngineServices.h).
# Each is an interface target: a library that uses the service links it, a
# file system that provides it names it in its row; configuration reports
# both sides, and refuses a second provider.
set(VELMORA_SERVICES resident_data file_start)
function(velmora_use_service target service)
    if(NOT TARGET velmora_service_${service})
        message(FATAL_ERROR "${target} uses an unknown service ${service}")
    endif()
    target_link_libraries(${target} PUBLIC velmora_service_${service})
    set_property(GLOBAL APPEND PROPERTY VELMORA_SERVICE_USERS_${service} ${target})
endfunction()

function(velmora_provide_service target service)
    if(NOT TARGET velmora_service_${service})
        message(FATAL_ERROR "${target} provides an unknown service ${service}")
    endif()
    get_property(providers GLOBAL PROPERTY VELMORA_SERVICE_PROVIDERS_${service})
    if(providers)
        message(FATAL_ERROR "service ${service} is provided by both ${providers} and ${target}")
    endif()
    set_property(GLOBAL APPEND PROPERTY VELMORA_SERVICE_PROVIDERS_${service} ${target})
endfunction()

function(velmora_report_services)
    foreach(service IN LISTS VELMORA_SERVICES)
        get_property(users GLOBAL PROPERTY VELMORA_SERVICE_USERS_${service})
        get_property(providers GLOBAL PROPERTY VELMORA_SERVICE_PROVIDERS_${service})
        if(NOT providers)
            set(providers "nothing built (its users do without)")
        endif()
        list(JOIN users ", " users)
        message(STATUS "Engine service ${service}: provided by ${providers}; used by ${users}")
    endforeach()
endfunction()

# A file system joins the engine with one row: its library, the function of
# its own folder that answers its SearcherRow, and the services that row
# provides. velmora_file_system() calls it; nothing else in the engine is
# edited.
#   velmora_searcher_row(TARGET velmora_x ROW XSearcherRow [PROVIDES service ...])
function(velmora_searcher_row)
    cmake_parse_arguments(R "" "TARGET;ROW" "PROVIDES" ${ARGN})
    if(NOT R_TARGET OR NOT R_ROW)
        message(FATAL_ERROR "velmora_searcher_row needs TARGET and ROW")
    endif()
    set_property(GLOBAL APPEND PROPERTY VELMORA_SEARCHER_ROWS "${R_TARGET}:${R_ROW}")
    foreach(service IN LISTS R_PROVIDES)
        velmora_provide_service(${R_TARGET} ${service})
    endforeach()
endfunction()
