#!/usr/bin/env bash
# Generates the demo's pictures and sound into slides/media/ with ImageMagick (convert)
# and GStreamer (gst-launch-1.0). Files that already exist are left alone, so running it
# again costs nothing; delete slides/media/ to make everything anew.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
media="$here/slides/media"
mkdir -p "$media"

font=DejaVu-Sans-Bold
width=1920
height=1080

# make FILE COMMAND...: runs COMMAND with the placeholder OUT replaced by a temporary
# path, then moves the result into place, so an interrupted run leaves no half file.
make() {
    local target="$media/$1"
    shift
    if [ -e "$target" ]; then
        return
    fi
    local tmp="$media/.new.${target##*/}"
    local args=()
    for arg in "$@"; do
        args+=("${arg//OUT/$tmp}")
    done
    "${args[@]}"
    mv "$tmp" "$target"
    echo "make-media: made ${target#"$here"/}"
}

# A full-screen picture: a big title and a smaller line under it on the background that
# the remaining arguments make.
picture() {
    local title=$1 subtitle=$2 out=$3
    shift 3
    convert -size "${width}x${height}" "$@" \
        -font "$font" -fill white -gravity center \
        -stroke '#00000080' -strokewidth 3 -pointsize 120 -annotate +0-60 "$title" \
        -stroke none -pointsize 52 -annotate +0+90 "$subtitle" \
        "$out"
}

make picture.png picture "Kestrova demo — PNG" "one picture, two builds" png:OUT \
    "gradient:#0f4c5c-#1b998b"

make photo.jpg picture "Kestrova demo — JPEG" "a plasma fractal, slowly zoomed" jpg:OUT \
    -seed 7 "plasma:#f3a712-#7e2bd0" -blur 0x6

make reveal.png picture "Screenshot transition" "Kestrova demo — the last frame slid away, this was underneath" png:OUT \
    "gradient:#7e2bd0-#21263b"

make scheduled-off.png picture "You should never see this" "this slide is scheduled off" png:OUT \
    "xc:#b00020"

# An animated GIF: a dot runs around a circle, one step per frame, with the frame number.
gif() {
    local out=$1 frames=12 frameDir
    frameDir=$(mktemp -d)
    for i in $(seq 0 $((frames - 1))); do
        local x y
        x=$(awk -v i="$i" -v n="$frames" 'BEGIN { printf "%d", 480 + 150 * cos(2 * 3.14159265 * i / n) }')
        y=$(awk -v i="$i" -v n="$frames" 'BEGIN { printf "%d", 300 + 150 * sin(2 * 3.14159265 * i / n) }')
        convert -size 960x540 "xc:#21263b" \
            -fill none -stroke '#424c70' -strokewidth 6 -draw "circle 480,300 630,300" \
            -stroke none -fill '#ff6179' -draw "circle $x,$y $((x + 36)),$y" \
            -font "$font" -fill white -gravity north -pointsize 60 -annotate +0+40 "Kestrova demo — GIF" \
            -gravity center -pointsize 44 -annotate +0+60 "$((i + 1))/$frames" \
            "$frameDir/$(printf %02d "$i").png"
    done
    convert -delay 8 -loop 0 "$frameDir"/*.png -layers Optimize "gif:$out"
    rm -rf "$frameDir"
}
make spinner.gif gif OUT

# Six seconds of a soft 523 Hz tone (C5) in Ogg Vorbis.
make tone.ogg gst-launch-1.0 -q audiotestsrc wave=sine freq=523.25 volume=0.3 samplesperbuffer=4410 num-buffers=60 \
    ! audioconvert ! vorbisenc ! oggmux ! filesink location=OUT

# Video. H.264 is encoded from I420 frames (x264's default 4:4:4 cannot be drawn by the GL
# sink). Sixteen seconds of a ball bouncing over a flat background, 1280x720 at 30 frames a
# second, with a quiet tone.
make ball.mp4 gst-launch-1.0 -q \
    videotestsrc num-buffers=480 pattern=ball background-color=0xff0f4c5c foreground-color=0xfff3a712 \
    ! video/x-raw,width=1280,height=720,framerate=30/1,format=I420 \
    ! x264enc speed-preset=veryfast key-int-max=30 ! h264parse ! queue ! mp4mux name=mux ! filesink location=OUT \
    audiotestsrc wave=sine freq=392 volume=0.15 samplesperbuffer=4410 num-buffers=160 \
    ! audioconvert ! avenc_aac ! queue ! mux.

# Eight seconds of VP8 in WebM, 960x540: test bars that scroll sideways.
make bars.webm gst-launch-1.0 -q \
    videotestsrc num-buffers=240 pattern=smpte horizontal-speed=4 \
    ! video/x-raw,width=960,height=540,framerate=30/1 \
    ! vp8enc deadline=1 ! webmmux ! filesink location=OUT
