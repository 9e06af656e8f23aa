# Sourced by the media scripts: makes the folder DIR given as $1 and enters it, throwing away
# what an older version of the calling script made there, and sets FF to the ffmpeg command
# the scripts run.
MEDIA_DIR=${1:?usage: $(basename "$0") DIR}
mkdir -p "$MEDIA_DIR"
MEDIA_STAMP=$(sha1sum "$0" | cut -d' ' -f1)
if [ "$(cat "$MEDIA_DIR/.made-by" 2> /dev/null)" != "$MEDIA_STAMP" ]; then
    find "$MEDIA_DIR" -mindepth 1 -maxdepth 1 ! -name .made-by -exec rm -rf {} +
    echo "$MEDIA_STAMP" > "$MEDIA_DIR/.made-by"
fi
cd "$MEDIA_DIR"
FF=(ffmpeg -hide_banner -loglevel error -nostdin -y)
