#!/usr/bin/env bash
# Builds the tests that exercise threads (queues, the preset worker, the
# logger, the instance's wiring) under ThreadSanitizer and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(
    webview_state_tests
    tessellgrove_presets_tests
    tessellgrove_dispatch_tests
    plugin_kit_log_tests
    tessellgrove_lib_tests
)

cmake --preset tsan > /dev/null
cmake --build --preset tsan --target "${targets[@]}"

status=0
for t in "${targets[@]}"; do
    exe=$(find build/tsan -type f -name "$t" -perm -u+x | head -n 1)
    echo "--- $t"
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$exe" --gtest_brief=1 || status=1
done
exit "$status"
