#!/usr/bin/env bash
# Scan-button daemon: time from a press (the simulated button's file made)
# to the start of a stand-in scanimage, per family, beside the target of one
# 300 ms cycle; and the daemon's CPU time while idle, per minute.
# Run by hand as root on a staged build:  bench/scanbutton_latency.sh [presses] [idle seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
presses=${1:-10}
idle=${2:-20}
path_of() { sed -n "s/^#define $1 *\"\\(.*\\)\"/\\1/p" "$build/generated/dravn_paths.h"; }
run_dir=$(path_of DRAVN_RUN_DIR)
image_dir=$(path_of DRAVN_IMAGE_DIR)
etc_dir=$(path_of DRAVN_ETC_DIR)
bin_dir=$(path_of DRAVN_BIN_DIR)
log_dir=$(path_of DRAVN_LOG_DIR)
usr_bin=$(path_of DRAVN_USR_BIN_DIR)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/{run,etc,bin,log,image} "$run_dir" "$image_dir" "$bin_dir" "$log_dir"
echo "" > "$work/etc/dravnscanbutton.conf"
printf '#!/bin/sh\ndate +%%s%%N > "%s/started"\nrm -f "%s/button"\nexit 0\n' "$work" "$work" > "$work/bin/scanimage"
chmod 755 "$work/bin/scanimage"
printf 'usb 0x2d4e 0x1301\nusb 0x2d4e 0x1101\n' > "$work/dravn.conf"

bench_family() {  # family model, vid:pid
  printf 'device %s %s bus=1 address=5\nset button=%s/button\n' "$1" "$2" "$work" > "$work/scenario"
  unshare --ipc --mount bash -c '
    w=$1; shift
    mount --bind "$w/run" "$1" && mount --bind "$w/image" "$2" && mount --bind "$w/etc" "$3" &&
      mount --bind "$w/bin" "$4" && mount --bind "$w/log" "$5" || exit 1
    LD_LIBRARY_PATH='"$build"'/sim/usb DRAVN_SIM=$w/scenario DRAVN_CONFIG_DIR=$w "$6/dravnscanbutton" &
    daemon=$!
    sleep 1
    total=0; worst=0
    for i in $(seq '"$presses"'); do
      rm -f "$w/started"
      t0=$(date +%s%N); touch "$w/button"
      while [ ! -s "$w/started" ]; do sleep 0.005; done
      ms=$(( ($(cat "$w/started") - t0) / 1000000 ))
      total=$((total + ms)); [ $ms -gt $worst ] && worst=$ms
      sleep 0.7
    done
    echo "  press to scanimage: mean $((total / '"$presses"')) ms, worst $worst ms over '"$presses"' presses (target 300 ms)"
    read -r -a st < /proc/$daemon/stat; before=$((st[13] + st[14]))
    sleep '"$idle"'
    read -r -a st < /proc/$daemon/stat; after=$((st[13] + st[14]))
    hz=$(getconf CLK_TCK)
    echo "  idle CPU: $(( (after - before) * 1000 * 60 / hz / '"$idle"' )) ms per minute"
    rm -f "$1/dravnscanbutton.pid"; wait
  ' sh "$work" "$run_dir" "$image_dir" "$etc_dir" "$bin_dir" "$log_dir" "$usr_bin"
}

echo "== Selko2 (command family)"
bench_family selko2 2d4e:1301
echo "== Docuvane line on the generic model (command family)"
bench_family generic 2d4e:1101
