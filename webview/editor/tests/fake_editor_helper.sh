#!/bin/bash
# Stands in for tessellgrove-editor in the link tests: reads the page, says
# the page loaded, posts the messages listed in $FAKE_HELPER_POSTS (one per
# line), then appends every statement it receives to $FAKE_HELPER_LOG until
# its input closes.
IFS= read -r header || exit 1
bytes=${header#page }
head -c "$bytes" > "$FAKE_HELPER_LOG.page"
echo "@loaded"
while IFS= read -r post; do
    printf '%s\n' "$post"
done < "$FAKE_HELPER_POSTS"
while IFS= read -r statement; do
    printf '%s\n' "$statement" >> "$FAKE_HELPER_LOG"
done
echo "$*" > "$FAKE_HELPER_LOG.args"
