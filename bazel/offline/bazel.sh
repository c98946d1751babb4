#!/usr/bin/env bash
# bazel/offline/bazel.sh COMMAND [ARGS...]
#
# Runs Bazel (build, test or run) on this workspace without a network, for CI: the
# repositories Bazel would fetch are replaced by the stand-ins next to this script, and
# Bazel's output base lives in build-bazel/ of the workspace (or $SARNIVELLE_BAZEL_ROOT),
# never in the home directory. Bazel runs in batch mode: no server stays behind.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
workspace=$(cd "$here/../.." && pwd)
output_root=${SARNIVELLE_BAZEL_ROOT:-$workspace/build-bazel}
mkdir -p "$output_root"
command=${1:?usage: bazel/offline/bazel.sh COMMAND [ARGS...]}
shift
cd "$workspace"
exec bazel --output_user_root="$output_root" --batch "$command" \
    --override_repository=rules_cc="$here/rules_cc" \
    --override_repository=rules_java="$here/rules_java" \
    --override_repository=remote_coverage_tools="$here/remote_coverage_tools" \
    --repository_cache= --spawn_strategy=processwrapper-sandbox \
    "$@"
