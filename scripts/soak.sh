#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The long interleaving run: SEEDS seeds (1 to SEEDS, or FIRST_SEED on) of STEPS steps
# each against the debug build, then the figures for docs/interleaving-run.md. A run that finds a
# violation keeps its folder under soak-runs/ and the script ends with status 1.
set -euo pipefail
cd "$(dirname "$0")/.."
seeds=${1:-10}
steps=${2:-1000}
first=${FIRST_SEED:-1}
[ -x build/tests/interleaving/ostra-interleaving ] || scripts/build.sh
mkdir -p soak-runs
for ((seed = first; seed < first + seeds; ++seed)); do
    dir=soak-runs/seed-$seed
    if build/tests/interleaving/ostra-interleaving --seed "$seed" --steps "$steps" --run-dir "$dir" \
        > "$dir.txt" 2> "$dir.log"; then
        rm -rf "$dir" "$dir.log"
    fi
    tail -1 "$dir.txt"
done | awk -v seeds="$seeds" '
    { print; for (i = 1; i < NF; i += 2) sum[$i] += $(i + 1) }
    END { printf "total: seeds %d steps %d quiet points %d restarts %d kills %d duplicates after kills %d violations %d\n",
                 seeds, sum["steps"], sum["quiet-points"], sum["restarts"], sum["kills"], sum["duplicates-after-kills"], sum["violations"]
          exit sum["violations"] > 0 }'
