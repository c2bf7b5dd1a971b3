#!/bin/sh
# Replays a fuzz target's seed corpus, then fuzzes it for a bounded number of
# runs (or two minutes, whichever comes first). New inputs go to a scratch
# corpus in the build tree, never the seeds.
set -eu
target=$1 seeds=$2 scratch=$3 runs=$4
mkdir -p "$scratch"
exec "$target" -runs="$runs" -max_total_time=120 -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$scratch" "$seeds"
