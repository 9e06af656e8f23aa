#!/usr/bin/env bash
# framix-grab's bash completion, sourced on its own and called as bash calls it: options from
# their first letters, and exactly the options --help lists; the values of --format, --depth
# and --matrix, each one framix-grab accepts (a refused value exits 2, an accepted one gets
# as far as the missing input, exit 1), also written --format=VALUE; folders for --out,
# files for the video; nothing for a frame number.
# usage: completion_test.sh COMPLETION_FILE FRAMIX_GRAB
set -uo pipefail
COMPLETION=$1
GRAB=$2
fail() { echo "FAILED: $*"; exit 1; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# shellcheck source=/dev/null
source "$COMPLETION" || fail "$COMPLETION does not source"
complete -p framix-grab 2> /dev/null | grep -q -e '-F _framix_grab' \
    || fail "no completion for framix-grab: $(complete -p framix-grab 2>&1)"

# The words of a command line, the last being completed; prints the candidates sorted.
completions() {
    COMP_WORDS=(framix-grab "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _framix_grab
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}
expect() {
    local want=$1
    shift
    local got
    got=$(completions "$@" | tr '\n' ' ' | sed 's/ $//')
    [ "$got" = "$want" ] || fail "completing '$*' gave '$got', not '$want'"
}

expect --format --fo
expect "--keyframes" clip.mp4 --k
expect "--no-autorotate" --no
"$GRAB" --help > "$WORK/help" || fail "framix-grab --help failed"
sed -n 's/^  \(-[a-zA-Z], \)\{0,1\}\(--[a-z0-9-]*\).*/\2/p' "$WORK/help" | sort > "$WORK/options"
[ "$(wc -l < "$WORK/options")" -ge 10 ] || fail "read only $(wc -l < "$WORK/options") options from --help"
completions clip.mp4 -- > "$WORK/completed"
diff "$WORK/options" "$WORK/completed" > "$WORK/diff" \
    || { cat "$WORK/diff"; fail "completing -- does not give the options of --help (< --help only, > completion only)"; }
echo "completing -- gives the $(wc -l < "$WORK/options") options of framix-grab --help"

# Values: each completed one is accepted by framix-grab.
accepted() { # exit 2 is a refused command line; the input does not exist, so success is 1
    "$GRAB" "$WORK/no-such-clip.mkv" --out "$WORK/frames" "$@" > /dev/null 2>&1
    [ $? -eq 1 ]
}
check_values() {
    local option=$1 least=$2
    shift 2
    local values
    values=$(completions clip.mp4 "$option" "")
    [ "$(echo "$values" | wc -w)" -ge "$least" ] || fail "$option completes to '$values'"
    for v in $values; do
        accepted "$@" "$option" "$v" || fail "framix-grab refuses $option $v, which completion offers"
    done
    echo "$option completes to $(echo "$values" | tr '\n' ' ')"
}
check_values --format 5
check_values --depth 2 --format png
check_values --matrix 2
accepted --format gif && fail "framix-grab accepts --format gif: the check above cannot tell"
expect "png" clip.mp4 --format p
expect "png" clip.mp4 --format = p
expect "jpeg jpg" clip.mp4 --format = j
expect "--format=webp" clip.mp4 --format=w
expect "" clip.mp4 --from ""
expect "" clip.mp4 --quality ""

# Folders for --out, files (and folders) for the video and for --csv.
mkdir -p "$WORK/dir/stills"
touch "$WORK/dir/show.mkv" "$WORK/dir/sound.wav"
cd "$WORK/dir" || fail "no $WORK/dir"
expect "stills" --out s
expect "show.mkv sound.wav stills" s
expect "show.mkv sound.wav stills" --csv list.csv --from 3 s
expect "show.mkv" --out stills sh
echo "--out completes folders, the video and --csv files"
echo "1 passed, 0 failed"
