# Registers every check of a check executable as its own CTest test.
#
#   include(SarnivelleChecks)
#   sarnivelle_discover_checks(<target>
#       [EXTRA_ARGS <arg>...]          # put before `--exact NAME` on every run
#       [WORKING_DIRECTORY <dir>]      # default: the current binary directory
#       [TEST_PREFIX <text>]           # prepended to every test name
#       [TEST_SUFFIX <text>]           # appended to every test name
#       [PROPERTIES <name> <value>...] # more properties for every test (LABELS, TIMEOUT, ...)
#       [DISCOVERY_TIMEOUT <seconds>]) # time allowed for `--list`; default 30
#
# Call it after enable_testing(), in a directory where testing is enabled.
#
# The checks are read from `<target> --list` when ctest starts, and read again whenever the
# executable (or this call's settings, or this file) is newer than the last list, so a check added to the
# registry needs no new CMake run. Each test runs `<target> [EXTRA_ARGS] --exact NAME`, which
# runs that one check alone:
#   - a check that no longer exists selects nothing, and the runner says "running 0 tests"
#     with status 0; such a run is made to fail, so a stale list never passes;
#   - an ignored check is reported by ctest as skipped rather than passed;
#   - a target that was not built yet gives one failing test, <target>_NOT_BUILT.
# EXTRA_ARGS are not given to `--list`, so they may choose a report form; filters among them
# narrow each run, not the list.

set(_SARNIVELLE_CHECKS_MODULE "${CMAKE_CURRENT_LIST_FILE}")

# A value written so the generated files read it back unchanged.
function(_sarnivelle_bracket out value)
    set(eq "=")
    while(value MATCHES "]${eq}]")
        string(APPEND eq "=")
    endwhile()
    set(${out} "[${eq}[${value}]${eq}]" PARENT_SCOPE)
endfunction()

function(_sarnivelle_bracket_list out)
    set(words "")
    foreach(item IN LISTS ARGN)
        _sarnivelle_bracket(quoted "${item}")
        string(APPEND words " ${quoted}")
    endforeach()
    set(${out} "${words}" PARENT_SCOPE)
endfunction()

function(sarnivelle_discover_checks target)
    cmake_parse_arguments(PARSE_ARGV 1 arg ""
        "WORKING_DIRECTORY;TEST_PREFIX;TEST_SUFFIX;DISCOVERY_TIMEOUT" "EXTRA_ARGS;PROPERTIES")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "sarnivelle_discover_checks: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT TARGET ${target})
        message(FATAL_ERROR "sarnivelle_discover_checks: ${target} is not a target")
    endif()
    if(NOT arg_WORKING_DIRECTORY)
        set(arg_WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}")
    endif()
    if(NOT arg_DISCOVERY_TIMEOUT)
        set(arg_DISCOVERY_TIMEOUT 30)
    endif()
    list(LENGTH arg_PROPERTIES property_words)
    math(EXPR odd "${property_words} % 2")
    if(odd)
        message(FATAL_ERROR "sarnivelle_discover_checks: PROPERTIES needs name and value pairs")
    endif()

    get_property(multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
    if(multi_config)
        set(config_suffix "-$<CONFIG>")
    else()
        set(config_suffix "")
    endif()
    set(base "${CMAKE_CURRENT_BINARY_DIR}/${target}_checks")
    set(ctest_include "${base}_include${config_suffix}.cmake")
    set(tests_file "${base}_tests${config_suffix}.cmake")

    get_property(emulator TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR)
    _sarnivelle_bracket_list(command_words ${emulator} "$<TARGET_FILE:${target}>")
    _sarnivelle_bracket_list(extra_words ${arg_EXTRA_ARGS})
    _sarnivelle_bracket_list(property_words ${arg_PROPERTIES})
    _sarnivelle_bracket(module "${_SARNIVELLE_CHECKS_MODULE}")
    _sarnivelle_bracket(executable "$<TARGET_FILE:${target}>")
    _sarnivelle_bracket(not_built "${target}_NOT_BUILT")
    _sarnivelle_bracket(working_directory "${arg_WORKING_DIRECTORY}")
    _sarnivelle_bracket(prefix "${arg_TEST_PREFIX}")
    _sarnivelle_bracket(suffix "${arg_TEST_SUFFIX}")

    string(CONFIGURE [==[
# Read by ctest when it starts: registers the checks of @target@ (sarnivelle_discover_checks).
set(_sarnivelle_tests_file [=[@tests_file@]=])
if(NOT EXISTS @executable@)
    add_test(@not_built@ @not_built@)
else()
    if(NOT EXISTS "${_sarnivelle_tests_file}"
       OR @executable@ IS_NEWER_THAN "${_sarnivelle_tests_file}"
       OR [=[@ctest_include@]=] IS_NEWER_THAN "${_sarnivelle_tests_file}"
       OR @module@ IS_NEWER_THAN "${_sarnivelle_tests_file}")
        include(@module@)
        _sarnivelle_write_check_tests("${_sarnivelle_tests_file}"
            COMMAND @command_words@
            EXTRA_ARGS @extra_words@
            PROPERTIES @property_words@
            WORKING_DIRECTORY @working_directory@
            TEST_PREFIX @prefix@
            TEST_SUFFIX @suffix@
            DISCOVERY_TIMEOUT @arg_DISCOVERY_TIMEOUT@)
    endif()
    include("${_sarnivelle_tests_file}")
endif()
]==] content @ONLY)

    file(GENERATE OUTPUT "${ctest_include}" CONTENT "${content}")
    if(multi_config)
        set(chooser "${base}_include.cmake")
        file(WRITE "${chooser}"
            "include(\"${base}_include-\${CTEST_CONFIGURATION_TYPE}.cmake\" OPTIONAL)\n")
        set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${chooser}")
    else()
        set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${ctest_include}")
    endif()
endfunction()

# Runs when ctest starts: lists the checks and writes one add_test per check to `tests_file`.
function(_sarnivelle_write_check_tests tests_file)
    cmake_parse_arguments(PARSE_ARGV 1 arg ""
        "WORKING_DIRECTORY;TEST_PREFIX;TEST_SUFFIX;DISCOVERY_TIMEOUT"
        "COMMAND;EXTRA_ARGS;PROPERTIES")
    execute_process(
        COMMAND ${arg_COMMAND} --list
        WORKING_DIRECTORY "${arg_WORKING_DIRECTORY}"
        TIMEOUT ${arg_DISCOVERY_TIMEOUT}
        OUTPUT_VARIABLE listing
        ERROR_VARIABLE errors
        RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "Listing the checks of ${arg_COMMAND} failed (status ${status}):\n"
                            "${listing}${errors}")
    endif()

    # "NAME: test" or "NAME: benchmark" per check, an empty line, then the counts.
    string(REPLACE ";" "\\;" listing "${listing}")
    string(REPLACE "\n" ";" lines "${listing}")
    set(names "")
    set(counted "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^(.+): (test|benchmark)$")
            list(APPEND names "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^([0-9]+) tests?, ([0-9]+) benchmarks?$")
            math(EXPR counted "${CMAKE_MATCH_1} + ${CMAKE_MATCH_2}")
        endif()
    endforeach()
    list(LENGTH names found)
    if(NOT counted STREQUAL "${found}")
        message(FATAL_ERROR "Could not read the check list of ${arg_COMMAND}:\n${listing}")
    endif()

    _sarnivelle_bracket_list(command_words ${arg_COMMAND} ${arg_EXTRA_ARGS})
    _sarnivelle_bracket_list(property_words ${arg_PROPERTIES})
    _sarnivelle_bracket(working_directory "${arg_WORKING_DIRECTORY}")
    # A run that selected nothing: the check is gone (pretty and terse forms, JSON form).
    _sarnivelle_bracket(nothing_ran "\nrunning 0 tests\n|\"test_count\":0[,}]")
    # Test properties are lists, so these patterns must not contain a semicolon.
    _sarnivelle_bracket(only_ignored
        "ok\\. 0 passed. 0 failed. 1 ignored. |\"passed\":0,\"failed\":0,\"ignored\":1,")
    set(text "# The checks of ${arg_COMMAND}, listed when ctest started.\n")
    foreach(name IN LISTS names)
        _sarnivelle_bracket(test_name "${arg_TEST_PREFIX}${name}${arg_TEST_SUFFIX}")
        _sarnivelle_bracket(check_name "${name}")
        set(exact "--exact")
        if(name MATCHES "^-")
            set(exact "--exact --") # a name that looks like an option
        endif()
        string(APPEND text
            "add_test(${test_name}${command_words} ${exact} ${check_name})\n"
            "set_tests_properties(${test_name} PROPERTIES WORKING_DIRECTORY ${working_directory}"
            " FAIL_REGULAR_EXPRESSION ${nothing_ran} SKIP_REGULAR_EXPRESSION ${only_ignored}"
            "${property_words})\n")
    endforeach()
    file(WRITE "${tests_file}" "${text}")
endfunction()
