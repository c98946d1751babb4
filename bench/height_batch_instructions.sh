#!/usr/bin/env bash
# Instructions per point of each batch height query on each path, counted by callgrind over
# one call of a batch of 1048576 points (run by height_bench with --benchmark_min_time=0).
#
#     bench/height_batch_instructions.sh [BUILD_DIR]     (default build-bench)
#
# Valgrind does not run AVX-512 code (and hides it from the CPU's feature flags), so the
# avx512 path is not counted here.
set -euo pipefail
build=${1:-build-bench}
bench=$build/bin/height_bench
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
points=1048576

printf '%-16s %-8s %s\n' query path instructions/point
for query in bilinear:bilinear_heights:bilinear triangle_plane:triangle_plane_heights:triangle_plane \
    slope:slopes:cell_lookup normal_z:normal_zs:cell_lookup; do
    IFS=: read -r name function kernel <<<"$query"
    for path in scalar sse2 avx2; do
        file=$out/$name.$path
        valgrind --tool=callgrind --callgrind-out-file="$file" --compress-strings=no --collect-atstart=no \
            --toggle-collect="sarnivelle_scenery_bake::height::$function*" "$bench" \
            --benchmark_filter="^$name/batch/$path/$points\$" --benchmark_min_time=0 \
            >/dev/null 2>&1
        # Calls of the path's kernel, and the instructions executed in the public function.
        calls=$(grep -A1 -E "^cfn=.*\(anonymous namespace\)::$kernel[<_(]" "$file" |
            awk '/^calls=/ { split($1, c, "="); n += c[2] } END { print n + 0 }')
        total=$(awk '/^summary:/ { print $2 }' "$file")
        awk -v q="$name" -v p="$path" -v t="$total" -v c="$calls" -v n="$points" \
            'BEGIN { printf "%-16s %-8s %.2f\n", q, p, (c > 0 ? t / (c * n) : -1) }'
    done
done
