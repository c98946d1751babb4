# Flags shared by every target of the project, and of its fuzz build.
#
# Terrain arithmetic must give the same bits at every optimisation level and on every
# target, so floating-point contraction (fused multiply-add) is off and fast-math is
# never used. SARNIVELLE_FLAGS is word for word the list SARNIVELLE_FLAGS of bazel/flags.bzl
# (CI compares them). Warnings become errors only where CMAKE_COMPILE_WARNING_AS_ERROR is set,
# as the presets and CI do: a newer compiler's new warning must not stop someone else's build.
set(SARNIVELLE_FLAGS
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast
    -Wfloat-equal -Wdouble-promotion -Wimplicit-fallthrough
    -ffp-contract=off -fno-fast-math)
# Paths in source locations are written relative to the repository root, so that failure
# reports name files the way a reader of the repository sees them.
get_filename_component(sarnivelle_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
add_compile_options(${SARNIVELLE_FLAGS} -ffile-prefix-map=${sarnivelle_root}/=)

if(SARNIVELLE_SANITIZE STREQUAL "asan-ubsan")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(SARNIVELLE_SANITIZE STREQUAL "tsan")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT SARNIVELLE_SANITIZE STREQUAL "")
    message(FATAL_ERROR "SARNIVELLE_SANITIZE must be empty, asan-ubsan or tsan")
endif()
