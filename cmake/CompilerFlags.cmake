# Flags shared by every target of the project.
#
# Terrain arithmetic must give the same bits at every optimisation level and on every
# target, so floating-point contraction (fused multiply-add) is off and fast-math is
# never used. Paths in source locations are written relative to the repository root,
# so that failure reports name files the way a reader of the repository sees them.
add_compile_options(
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast
    -Wfloat-equal -Wdouble-promotion -Wimplicit-fallthrough -Werror
    -ffp-contract=off -fno-fast-math
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)

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
