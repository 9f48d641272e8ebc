# Target helpers: every target of the project gets the same language level,
# warnings, sanitizers and symbol visibility, and an alias qx::<name>.

function(_qx_common_options target)
    target_compile_features(${target} PUBLIC cxx_std_20)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
            -Wnon-virtual-dtor -Wcast-align -Woverloaded-virtual -Wno-missing-field-initializers)
        if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
            # GCC 12 reports false -Wrestrict overlaps in inlined std::basic_string code.
            target_compile_options(${target} PRIVATE -Wno-restrict)
        endif()
        if(QX_WERROR)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
    if(QX_FUZZ_ONLY)
        # Libraries carry coverage for libFuzzer; the fuzz targets add the driver.
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
            -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    elseif(QX_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=${QX_SANITIZE} -fno-omit-frame-pointer
            -fno-sanitize-recover=undefined)
        target_link_options(${target} PRIVATE -fsanitize=${QX_SANITIZE})
    endif()
endfunction()

function(_qx_reject_unparsed fn)
    if(ARGN)
        message(FATAL_ERROR "${fn}: unknown arguments: ${ARGN}")
    endif()
endfunction()

# qx_add_library(<name> [SHARED] [ALIAS <alias>] [OUTPUT_NAME <file>]
#                SOURCES ... [PUBLIC_LINKS ...] [PRIVATE_LINKS ...] [INCLUDE_DIRS ...])
function(qx_add_library name)
    cmake_parse_arguments(ARG "SHARED;QT" "ALIAS;OUTPUT_NAME"
        "SOURCES;PUBLIC_LINKS;PRIVATE_LINKS;INCLUDE_DIRS" ${ARGN})
    _qx_reject_unparsed(qx_add_library ${ARG_UNPARSED_ARGUMENTS})
    if(ARG_SHARED)
        add_library(${name} SHARED ${ARG_SOURCES})
        set_target_properties(${name} PROPERTIES C_VISIBILITY_PRESET hidden
            CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    else()
        add_library(${name} STATIC ${ARG_SOURCES})
    endif()
    if(ARG_OUTPUT_NAME)
        set_target_properties(${name} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
    endif()
    if(ARG_QT)
        set_target_properties(${name} PROPERTIES AUTOMOC ON)
    endif()
    if(ARG_ALIAS)
        add_library(${ARG_ALIAS} ALIAS ${name})
    else()
        add_library(qx::${name} ALIAS ${name})
    endif()
    if(ARG_INCLUDE_DIRS)
        target_include_directories(${name} PUBLIC ${ARG_INCLUDE_DIRS})
    else()
        target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/..)
    endif()
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LINKS} PRIVATE ${ARG_PRIVATE_LINKS})
    _qx_common_options(${name})
    if(ARG_SHARED)
        install(TARGETS ${name} LIBRARY DESTINATION ${QX_INSTALL_PROGRAM_DIR} NAMELINK_SKIP)
    endif()
endfunction()

# qx_add_executable(<name> SOURCES ... [LINKS ...] [QT])
function(qx_add_executable name)
    cmake_parse_arguments(ARG "QT" "" "SOURCES;LINKS" ${ARGN})
    _qx_reject_unparsed(qx_add_executable ${ARG_UNPARSED_ARGUMENTS})
    add_executable(${name} ${ARG_SOURCES})
    if(ARG_QT)
        set_target_properties(${name} PROPERTIES AUTOMOC ON)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_LINKS})
    _qx_common_options(${name})
endfunction()

# qx_add_test(<name> SOURCES ... [LINKS ...] [LABELS ...] [TIMEOUT s] [QT] [ENVIRONMENT ...])
# Test executables live outside the program folder, in tests/bin.
function(qx_add_test name)
    cmake_parse_arguments(ARG "QT" "TIMEOUT" "SOURCES;LINKS;LABELS;ENVIRONMENT" ${ARGN})
    _qx_reject_unparsed(qx_add_test ${ARG_UNPARSED_ARGUMENTS})
    add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin
        BUILD_RPATH "${QX_PROGRAM_DIR}")
    if(ARG_QT)
        set_target_properties(${name} PROPERTIES AUTOMOC ON)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_LINKS} qx::testsupport GTest::gtest GTest::gtest_main
        GTest::gmock)
    target_compile_definitions(${name} PRIVATE
        QX_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data"
        QX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
        QX_PROGRAM_DIR="${QX_PROGRAM_DIR}")
    _qx_common_options(${name})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    if(QX_SANITIZE)
        list(APPEND ARG_ENVIRONMENT
            "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}"
        ENVIRONMENT "${ARG_ENVIRONMENT}")
endfunction()

# qx_install_program(<target>...): an executable of the program folder, installed into it.
function(qx_install_program)
    install(TARGETS ${ARGN} RUNTIME DESTINATION ${QX_INSTALL_PROGRAM_DIR})
endfunction()

# qx_add_plugin(<Name> SOURCES ... INFO <Info.plist> [FILES ...] [LINKS ...] [PLUGINS_DIR <dir>])
# A plug-in library laid out as the program finds it: <dir>/<Name>/<Name>.so beside its
# Info.plist and the FILES (pictures the library loads from its own folder). <dir> is the
# program folder's "Plugins" unless given (test plug-ins, which are not installed).
function(qx_add_plugin name)
    cmake_parse_arguments(ARG "" "INFO;PLUGINS_DIR" "SOURCES;LINKS;FILES" ${ARGN})
    _qx_reject_unparsed(qx_add_plugin ${ARG_UNPARSED_ARGUMENTS})
    set(shipped FALSE)
    if(NOT ARG_PLUGINS_DIR)
        set(ARG_PLUGINS_DIR ${QX_PROGRAM_DIR}/Plugins)
        set(shipped TRUE)
    endif()
    add_library(${name} MODULE ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
        LIBRARY_OUTPUT_DIRECTORY ${ARG_PLUGINS_DIR}/${name}
        C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
        BUILD_RPATH "${QX_PROGRAM_DIR}" INSTALL_RPATH "\$ORIGIN/../..")
    target_link_libraries(${name} PRIVATE ${ARG_LINKS})
    _qx_common_options(${name})
    if(ARG_INFO)
        get_filename_component(info ${ARG_INFO} ABSOLUTE)
        set(copy ${ARG_PLUGINS_DIR}/${name}/Info.plist)
        add_custom_command(OUTPUT ${copy}
            COMMAND ${CMAKE_COMMAND} -E copy_if_different ${info} ${copy}
            DEPENDS ${info} VERBATIM)
        target_sources(${name} PRIVATE ${copy})
    endif()
    foreach(file IN LISTS ARG_FILES)
        get_filename_component(source ${file} ABSOLUTE)
        get_filename_component(base ${file} NAME)
        set(copy ${ARG_PLUGINS_DIR}/${name}/${base})
        add_custom_command(OUTPUT ${copy}
            COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${copy}
            DEPENDS ${source} VERBATIM)
        target_sources(${name} PRIVATE ${copy})
    endforeach()
    if(shipped)
        set_property(GLOBAL APPEND PROPERTY QX_SHIPPED_PLUGINS ${name})
        set(destination ${QX_INSTALL_PROGRAM_DIR}/Plugins/${name})
        install(TARGETS ${name} LIBRARY DESTINATION ${destination})
        install(FILES ${ARG_INFO} ${ARG_FILES} DESTINATION ${destination})
    endif()
endfunction()
