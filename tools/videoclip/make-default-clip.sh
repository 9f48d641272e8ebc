#!/bin/sh
# Makes src/plugins/Video/default.ogv, the clip a video key plays when it names none:
# 3 seconds of a ball moving over a colour wheel at 48x48 and 15 frames a second, Theora
# in Ogg. Needs gst-launch-1.0 (gstreamer1.0-tools, -plugins-base).
set -eu
out="$(dirname "$0")/../../src/plugins/Video/default.ogv"
gst-launch-1.0 -q \
    videotestsrc num-buffers=45 pattern=ball background-color=0xff203060 foreground-color=0xffffc020 \
        motion=wavy ! video/x-raw,width=48,height=48,framerate=15/1 \
    ! videoconvert ! theoraenc quality=48 ! oggmux ! filesink location="$out"
ls -l "$out"
