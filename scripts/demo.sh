#!/usr/bin/env bash
# The camera module against the host camera service, on this machine alone: builds
# camera.vemo.so, vemo-hostd and vemo-camera, starts vemo-hostd on the loopback address, lists
# its cameras as an Android guest's camera service sees them through the module, probes one
# open camera through the guest driver, then drives an open camera through the module: its
# parameters, a preview saved as pictures, a recording in each mode and a picture with its EXIF
# tags. Last a QR code goes through the whole stack: made with qrencode, switched in as camera
# 0's picture while the host runs, and read back with zbarimg from a preview frame, a recorded
# frame and a captured picture. The pictures stay in build/default/demo.
#
# Usage: scripts/demo.sh
# Installs the build packages it misses with apt-get (run it as root on a fresh Debian).
# VEMO_BUILD_DIR=DIR builds in DIR instead of the preset's build/default, with its settings.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VEMO_BUILD_DIR:-$root/build/default}"

step() { printf '\n== %s\n' "$*"; }
die() {
  printf 'demo: %s\n' "$*" >&2
  exit 1
}

source "$root/scripts/lib/deps.sh"
vemo_install_deps

if [[ -n ${VEMO_BUILD_DIR:-} ]]; then
  step "Configuring in $build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
else
  step "Configuring with the preset 'default' in $build"
  (cd "$root" && cmake --preset default)
fi

step "Building camera.vemo.so, vemo-hostd and vemo-camera"
cmake --build "$build" -j2 --target camera_module vemo-hostd vemo-camera

workdir=$(mktemp -d)
host_pid=
stop_host() {
  if [[ -n $host_pid ]] && kill -0 "$host_pid" 2>/dev/null; then
    kill -TERM "$host_pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$host_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$host_pid" 2>/dev/null || true
  fi
  if [[ -n $host_pid ]]; then
    wait "$host_pid" 2>/dev/null || true
  fi
  host_pid=
  rm -rf "$workdir"
}
trap stop_host EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

step "Starting vemo-hostd on 127.0.0.1 (a free port)"
# Two cameras: 0 faces away from the user, mounted at 90 degrees; 1 faces the user.
env -u LD_PRELOAD "$build/bin/vemo-hostd" --camera-port 0 --control-port 0 --cameras 2 \
  --camera 0:facing=1,orientation=90 --camera 1:facing=0,orientation=270 \
  >"$workdir/host.out" 2>"$workdir/host.log" &
host_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^vemo-hostd ready .*camera-port=\([0-9][0-9]*\).*/\1/p' "$workdir/host.out")
  [[ -z $port ]] || break
  if ! kill -0 "$host_pid" 2>/dev/null; then
    cat "$workdir/host.log" >&2
    die "vemo-hostd ended before it was ready"
  fi
  sleep 0.1
done
[[ -n $port ]] || die "vemo-hostd printed no ready line within 10 s"
ready=$(grep '^vemo-hostd ready ' "$workdir/host.out")
control_port=$(sed -n 's/.* control-port=\([0-9][0-9]*\).*/\1/p' <<<"$ready")
hgcm_socket=$(sed -n 's/.* hgcm-socket=\([^ ]*\).*/\1/p' <<<"$ready")
ctl_socket=$(sed -n 's/.* ctl-socket=\([^ ]*\).*/\1/p' <<<"$ready")
echo "vemo-hostd (pid $host_pid) serves the camera service on 127.0.0.1:$port"
echo "  the control port on 127.0.0.1:${control_port:-?} and the guest driver at ${hgcm_socket:-?}"

step "vemo-camera list"
# vemo-camera runs under the guest-driver emulation: the module asks the host alias
# 10.0.2.2:10072, which the emulation's NAT turns into 127.0.0.1:$port.
echo "\$ VEMO_NAT_PORT_10072=$port $build/bin/vemo-camera list"
VEMO_NAT_PORT_10072=$port timeout 60 \
  env -u VEMO_PROPERTY_FILE -u VEMO_CAMERA_MODULE -u LD_PRELOAD "$build/bin/vemo-camera" list

step "vemo-camera probe --camera 0"
[[ -n $control_port && -n $hgcm_socket ]] ||
  die "vemo-hostd reported no control port or guest-driver endpoint in its ready line"
# An open camera pairs the control port 10088 with a client of the guest driver; the
# emulation forwards the port and reaches the driver's host side at the Unix socket.
echo "\$ VEMO_NAT_PORT_10088=$control_port VEMO_HGCM_SOCKET=$hgcm_socket $build/bin/vemo-camera probe --camera 0"
VEMO_NAT_PORT_10072=$port VEMO_NAT_PORT_10088=$control_port VEMO_HGCM_SOCKET=$hgcm_socket \
  timeout 60 env -u VEMO_PROPERTY_FILE -u VEMO_CAMERA_MODULE -u LD_PRELOAD \
  "$build/bin/vemo-camera" probe --camera 0

# The open-camera commands run like probe: the module reaches the camera port, the control port
# and the guest driver through the emulation.
camera() {
  echo "\$ vemo-camera $*"
  VEMO_NAT_PORT_10072=$port VEMO_NAT_PORT_10088=$control_port VEMO_HGCM_SOCKET=$hgcm_socket \
    timeout 120 env -u VEMO_PROPERTY_FILE -u VEMO_CAMERA_MODULE -u LD_PRELOAD \
    "$build/bin/vemo-camera" "$@"
}
out="$build/demo"
mkdir -p "$out"

step "vemo-camera params: the parameters of camera 0, as get_parameters hands them out"
camera params --camera 0

step "vemo-camera preview: 30 frames into a preview window, pictures of what arrived"
# The host delivers frames at the camera's rate, 30 a second, as a camera does.
camera preview --camera 0 --frames 30 --format yuv420p --save "$out"

step "vemo-camera record in copy mode: the video frames into a Y4M clip"
# The clip is large (uncompressed frames); it goes with the demo's temporary folder.
camera record --camera 0 --seconds 0.25 --size 640x480 --mode copy --out "$workdir/clip.y4m"
echo "clip header: $(head -n 1 "$workdir/clip.y4m")"

step "vemo-camera record in metadata mode: the frames stay on the host"
# Afterwards the command asks the host ("vemo-hostd ctl samples", through the control socket
# of its ready line) whether it still holds a sample.
[[ -n $ctl_socket ]] || die "vemo-hostd reported no control socket in its ready line"
VEMO_HOSTD_CTL=$ctl_socket camera record --camera 0 --seconds 0.5 --mode metadata \
  --hostd "$build/bin/vemo-hostd"

step "vemo-camera snap: a picture with rotation, GPS position and thumbnail"
camera snap --camera 0 -o "$out/photo.jpg" --rotation 90 \
  --gps 48.85837,2.29448,35,1700000000,GPS --thumbnail 75x75

step "A QR code as camera 0's picture, switched in while the host runs"
# vemo-hostd ctl source shows the code on camera 0 from its next picture on; zbarimg reads it
# back from what the module handed the camera service.
ctl() {
  echo "\$ vemo-hostd ctl $*"
  "$build/bin/vemo-hostd" ctl --socket "$ctl_socket" "$@"
}
qr_text="Vemo camera demo $(date +%s): a QR code through the whole stack"
read_qr() { # what, file
  local text
  text=$(zbarimg --quiet --raw "$2" 2>/dev/null) || die "zbarimg read no QR code from the $1 ($2)"
  [[ $text == "$qr_text" ]] || die "the $1 reads \"$text\", not \"$qr_text\""
  echo "zbarimg read from the $1: $text"
}
# The luma plane of the first frame of a Y4M clip of WxH as a PGM picture.
first_luma() { # clip, width, height
  local header
  header=$(head -n 1 "$1" | wc -c)
  printf 'P5\n%s %s\n255\n' "$2" "$3"
  dd if="$1" iflag=skip_bytes,count_bytes skip=$((header + 6)) count=$(($2 * $3)) status=none
}
echo "\$ qrencode -o qr.png -s 8 \"$qr_text\""
qrencode -o "$out/qr.png" -s 8 "$qr_text"
ctl source 0 "image:$out/qr.png"
ctl status
camera preview --camera 0 --frames 10 --save "$out/qr"
read_qr "preview frame" "$out/qr/preview-frame.png"
camera record --camera 0 --seconds 0.25 --size 640x480 --mode copy --out "$workdir/qr.y4m"
first_luma "$workdir/qr.y4m" 640 480 >"$workdir/qr-frame.pgm"
read_qr "recorded frame" "$workdir/qr-frame.pgm"
camera snap --camera 0 -o "$out/qr-photo.jpg"
read_qr "picture" "$out/qr-photo.jpg"
ctl source 0 pattern

step "The QR code as a video clip on camera 1, played through GStreamer"
# Two seconds of MP4 made with GStreamer itself; camera 1 plays it in a loop at its own rate.
echo "\$ gst-launch-1.0 multifilesrc location=qr.png ... ! x264enc ! mp4mux ! filesink location=qr.mp4"
gst-launch-1.0 -q multifilesrc location="$out/qr.png" loop=true num-buffers=50 \
  caps=image/png,framerate=25/1 ! pngdec ! videoconvert ! videoscale ! \
  video/x-raw,format=I420,width=480,height=480 ! x264enc ! mp4mux ! filesink location="$out/qr.mp4" ||
  die "gst-launch-1.0 could not make the clip"
ctl source 1 "video:$out/qr.mp4"
camera snap --camera 1 -o "$out/qr-video-photo.jpg"
read_qr "picture from the video" "$out/qr-video-photo.jpg"
ctl source 1 pattern
web=$(sed -n 's/.* web=\([^ ]*\).*/\1/p' <<<"$ready")
if [[ -n $web ]]; then
  echo "The web console of this host was at $web (every camera live, sources by drag and drop)."
fi

echo
echo "pictures in $out: window.png, preview-frame.png, photo.jpg, qr.png, qr/, qr-photo.jpg,"
echo "qr.mp4, qr-video-photo.jpg"

step "Stopping vemo-hostd"
stop_host
echo "done"
