# Shared by the end-to-end capture tests (sourced): counting checks, making clips once, and
# reading pictures back with ffmpeg and ffprobe.
pass=0
failed=0
ok() { pass=$((pass + 1)); echo "ok: $*"; }
bad() { failed=$((failed + 1)); echo "FAILED: $*"; }
check() { # description, then a command that must succeed
    local what=$1
    shift
    if "$@"; then ok "$what"; else bad "$what"; fi
}
FF=(ffmpeg -nostdin -v error -y)

# Makes DIR/NAME with ffmpeg unless it is there; tests running side by side each write a
# name of their own and rename it into place.
make_clip() { # DIR NAME, then ffmpeg arguments
    local dir=$1 name=$2
    shift 2
    [ -s "$dir/$name" ] && return 0
    local tmp=$dir/$name.$$.tmp.${name##*.}
    "${FF[@]}" "$@" "$tmp" && mv "$tmp" "$dir/$name"
}
# Clips of our own: cuts between unrelated test pictures (at frames 30, 50, 70 and 95 of
# 120), a bright PQ (HDR10) clip and a 16:9 PAL clip with non-square pixels.
make_option_clips() { # DIR
    mkdir -p "$1"
    make_clip "$1" cuts.mp4 -f lavfi -i testsrc=s=320x240:r=25:d=1.2 -f lavfi -i mandelbrot=s=320x240:r=25 \
        -f lavfi -i smptebars=s=320x240:r=25:d=0.8 -f lavfi -i rgbtestsrc=s=320x240:r=25:d=1 \
        -f lavfi -i testsrc2=s=320x240:r=25:d=1 \
        -filter_complex "[1]trim=end_frame=20,setpts=PTS-STARTPTS[m];[0][m][2][3][4]concat=n=5,format=yuv420p" \
        -c:v libx264 -preset veryfast -bf 2
    make_clip "$1" pq.mp4 -f lavfi -i "testsrc2=s=320x240:r=25:d=1,lutyuv=y=200+val*0.2" \
        -pix_fmt yuv420p10le -c:v libx264 -preset veryfast \
        -color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc
    make_clip "$1" pal169.mpg -f lavfi -i testsrc2=s=720x576:r=25:d=0.4 -vf setsar=64/45 \
        -c:v mpeg2video -q:v 3 -f vob
}

# A folder's files, in frame-number order of their names, on one line.
listing() { ls -A "$1" | sort -V | tr '\n' ' ' | sed 's/ $//'; }
rgb() { "${FF[@]}" -i "$1" -f rawvideo -pix_fmt rgb24 "$2"; }
psnr() { # average PSNR of two pictures, in dB (inf when identical)
    ffmpeg -nostdin -i "$1" -i "$2" -lavfi '[0]format=rgb24[a];[1]format=rgb24[b];[a][b]psnr' -f null - 2>&1 |
        sed -n 's/.*average:\([0-9.inf]*\).*/\1/p'
}
above() { [ "$1" = inf ] || awk -v a="$1" -v b="$2" 'BEGIN {exit !(a > b)}'; }
mean() { od -An -v -tu1 "$1" | awk '{for (i = 1; i <= NF; i++) {s += $i; n++}} END {printf "%.2f", s / n}'; }
# How far a is from b, as a fraction of b, and whether that is at most m.
off() { awk -v a="$1" -v b="$2" 'BEGIN {d = (a - b) / b; print (d < 0 ? -d : d)}'; }
within() { awk -v d="$(off "$1" "$2")" -v m="$3" 'BEGIN {exit !(d <= m)}'; }
probe() { ffprobe -v error -select_streams v:0 -show_entries "$1" -of csv=p=0 "$2" | head -1; }
# The mean pixel level of PQ frame N of a clip as ffmpeg's zscale+tonemap makes it.
tonemapped_mean() { # CLIP N WORKFILE
    "${FF[@]}" -i "$1" -vf "select=eq(n\,$2),zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,tonemap=tonemap=hable:desat=0,zscale=t=bt709:m=bt709:r=tv,format=yuv420p" \
        -frames:v 1 -f rawvideo -pix_fmt rgb24 "$3"
    mean "$3"
}
# One line per frame from ffprobe: number,time,pts,keyframe,type (time in seconds with
# milliseconds from the frame's timestamp, or ffprobe's best guess when it has none).
probe_frames() {
    ffprobe -v error -select_streams v:0 \
        -show_entries frame=pts,pts_time,best_effort_timestamp_time,key_frame,pict_type -of flat "$1" |
        awk -F= '/^frames\.frame\./ {
            split($1, k, "."); n = k[3]; v = $2; gsub(/"/, "", v); a[n, k[4]] = v; if (n > m) m = n }
            END { for (i = 0; i <= m; i++) {
                t = a[i, "pts_time"]; if (t == "N/A") t = a[i, "best_effort_timestamp_time"]
                p = a[i, "pts"]; if (p == "N/A") p = ""
                printf "%d,%.3f,%s,%s,%s\n", i, t, p, a[i, "key_frame"], a[i, "pict_type"] } }'
}
no_leftovers() { [ -z "$(find "$1" -mindepth 1 -name '.*')" ]; }
