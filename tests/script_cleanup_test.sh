#!/usr/bin/env bash
# The scripts that start Xvfb through tools/virtual-display leave nothing
# behind, however they end: normally, on a failure, on Ctrl+C (SIGINT to
# the whole process group, as a terminal sends it) or on SIGTERM. Each case
# runs without a display, so that the script starts its own Xvfb, and with a
# temporary folder of its own, which must be empty afterwards: the script's
# own cleanup (a file of its own, bench/report's table rows) and the Xvfb
# logs. bench/report runs from a copy of the tree whose benchmarks are
# stand-ins, so that its long parts are left out.
#   tests/script_cleanup_test.sh   (from anywhere; ctest runs it)
set -euo pipefail
source="$(cd "$(dirname "$0")/.." && pwd)"
work=$(mktemp -d)
group=
trap '[ -z "$group" ] || pkill -KILL -g "$group" 2>/dev/null; rm -rf "$work"' EXIT

# The tree: the real tools/virtual-display and bench/report, stand-in
# benchmarks, and a small script that sets a cleanup of its own.
tree=$work/tree
mkdir -p "$tree/tools" "$tree/bench" "$tree/build/bench"
cp "$source/tools/virtual-display" "$tree/tools/"
cp "$source/bench/report" "$tree/bench/"
cat >"$tree/stand-in" <<'EOF'
#!/usr/bin/env bash
# A benchmark's stand-in: the first one waits for the test's go-ahead (or
# its signal); each then prints a row, or fails when ENDING is "failure".
if [ ! -e "$CASE_DIR/ready" ]; then
    touch "$CASE_DIR/ready"
    while [ ! -e "$CASE_DIR/go" ]; do sleep 0.1; done
fi
[ "$ENDING" != failure ] || exit 1
printf '%s\t1\t1\t1.00\t-\n' "$(basename "$0")"
EOF
chmod +x "$tree/stand-in"
for name in startup_bench scenes_bench pictures_bench audio_bench memory_bench idle_bench \
    capture_bench; do
    ln -s ../../stand-in "$tree/build/bench/$name"
done
cat >"$tree/small-script" <<'EOF'
#!/usr/bin/env bash
set -euo pipefail
cd "$(dirname "$0")"
source tools/virtual-display
scratch=$(mktemp)
at_exit 'rm -f "$scratch"'
./stand-in
EOF
chmod +x "$tree/small-script"

# Runs one case and says what it left behind; returns non-zero if anything.
run_case() {
    local script=$1 ending=$2 expected=$3 case_dir xvfb status
    case_dir=$(mktemp -d "$work/case.XXXX")
    mkdir "$case_dir/tmp"
    # Job control gives the script a process group of its own, as a
    # terminal would, with SIGINT not ignored.
    set -m
    env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$case_dir/tmp" CASE_DIR="$case_dir" \
        ENDING="$ending" "$tree/$script" >"$case_dir/log" 2>&1 &
    local pid=$!
    set +m
    group=$pid
    for _ in $(seq 600); do
        [ -e "$case_dir/ready" ] || ! kill -0 "$pid" 2>/dev/null && break
        sleep 0.1
    done
    xvfb=$(pgrep -x Xvfb -P "$pid" || true)
    case "$ending" in
    normal | failure) touch "$case_dir/go" ;;
    ctrl-c) kill -INT -- "-$pid" ;;
    sigterm) kill -TERM "$pid" ;;
    esac
    status=0
    wait "$pid" || status=$?
    local faults=()
    [ -n "$xvfb" ] || faults+=("no Xvfb of its own was found while it ran")
    ((status == expected)) || faults+=("ended with status $status, not $expected")
    # Xvfb may take a moment to go after its parent.
    for _ in $(seq 50); do
        [ -n "$xvfb" ] && [ "$(cat "/proc/$xvfb/comm" 2>/dev/null)" = Xvfb ] || break
        sleep 0.1
    done
    [ -z "$xvfb" ] || [ "$(cat "/proc/$xvfb/comm" 2>/dev/null)" != Xvfb ] ||
        faults+=("left its Xvfb (pid $xvfb) running")
    local left
    left=$(ls -A "$case_dir/tmp")
    [ -z "$left" ] || faults+=("left in its temporary folder: $(echo $left)")
    pkill -KILL -g "$pid" 2>/dev/null || true
    if ((${#faults[@]})); then
        printf 'FAIL %s, %s: %s\n' "$script" "$ending" "$(
            IFS=';'
            echo "${faults[*]}"
        )"
        sed 's/^/    | /' "$case_dir/log"
        return 1
    fi
    echo "ok   $script, $ending"
}

failed=0
while read -r script ending expected; do
    run_case "$script" "$ending" "$expected" || failed=1
done <<'EOF'
small-script normal  0
small-script failure 1
small-script ctrl-c  130
small-script sigterm 143
bench/report normal  0
bench/report failure 1
bench/report ctrl-c  130
bench/report sigterm 143
EOF
exit "$failed"
