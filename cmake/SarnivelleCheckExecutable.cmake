# A check executable as the runner's reports expect it:
#
#   sarnivelle_add_check_executable(<target> <source>...)
#
# adds the executable <target> from the sources, linked with the runner (Sarnivelle::runner, or
# the project's own runner inside its build), with
#   - its symbols exported (ENABLE_EXPORTS), so that SARNIVELLE_BACKTRACE=1 names the functions
#     of the executable instead of printing <unknown>;
#   - source positions relative to the top source folder (-ffile-prefix-map), so that failure
#     reports name `checks/my_checks.cpp:12:5` rather than an absolute path.
# Link further libraries with target_link_libraries as usual.
function(sarnivelle_add_check_executable target)
    if(ARGC LESS 2)
        message(FATAL_ERROR "sarnivelle_add_check_executable: ${target} needs sources")
    endif()
    add_executable(${target} ${ARGN})
    if(TARGET Sarnivelle::runner)
        target_link_libraries(${target} PRIVATE Sarnivelle::runner)
    else()
        target_link_libraries(${target} PRIVATE sarnivelle_runner)
    endif()
    set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
    target_compile_options(${target} PRIVATE "-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=")
endfunction()
