# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by scripts/test: starts a private Xorg (dummy video driver: RandR
# outputs with real gamma ramps) and a tray host for the integration and
# end-to-end tests, exports DISPLAY, and stops both when the test run ends.
dimmora_x_dir=$(mktemp -d "${TMPDIR:-/tmp}/dimmora-x.XXXXXX")
# Tests that need an Xorg of their own start it from this configuration.
export DIMMORA_XORG_CONF="$dimmora_x_dir/xorg.conf"
dimmora_x_pids=()

dimmora_x_cleanup() {
  local pid
  for pid in "${dimmora_x_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${dimmora_x_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$dimmora_x_dir"
}
# Keep the cleanups of the helpers sourced before this one.
dimmora_x_previous_exit=$(trap -p EXIT | sed -e "s/^trap -- '//" -e "s/' EXIT\$//")
trap "dimmora_x_cleanup; ${dimmora_x_previous_exit}" EXIT

cat >"$dimmora_x_dir/xorg.conf" <<'CONF'
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoAddGPU" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 65536
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 28.0-80.0
  VertRefresh 48.0-75.0
  Modeline "1280x720" 74.48 1280 1336 1472 1664 720 721 724 746
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Modes "1280x720"
  EndSubSection
EndSection
CONF

dimmora_x_number=90
while [ -e "/tmp/.X${dimmora_x_number}-lock" ] || [ -e "/tmp/.X11-unix/X${dimmora_x_number}" ]; do
  dimmora_x_number=$((dimmora_x_number + 1))
done

if command -v Xorg >/dev/null; then
  Xorg ":${dimmora_x_number}" -config "$dimmora_x_dir/xorg.conf" -configdir "$dimmora_x_dir/none" \
    -logfile "$dimmora_x_dir/xorg.log" -noreset -nolisten tcp </dev/null >"$dimmora_x_dir/xorg.out" 2>&1 &
  dimmora_x_pids+=($!)
  dimmora_x_ready=0
  for _ in $(seq 1 100); do
    if DISPLAY=":${dimmora_x_number}" xrandr >/dev/null 2>&1; then
      dimmora_x_ready=1
      break
    fi
    sleep 0.1
  done
  if [ "$dimmora_x_ready" = 1 ]; then
    export DISPLAY=":${dimmora_x_number}"
    trayer --edge top --align right --widthtype request --height 24 >"$dimmora_x_dir/trayer.log" 2>&1 &
    dimmora_x_pids+=($!)
    echo "test.d: private X server on $DISPLAY with a tray host"
  else
    echo "test.d: the private X server did not start; X11 tests will fail in CI and skip locally" >&2
    tail -n 20 "$dimmora_x_dir/xorg.log" >&2 2>/dev/null || true
    unset DISPLAY
  fi
else
  echo "test.d: Xorg is not installed; X11 tests will fail in CI and skip locally" >&2
  unset DISPLAY
fi
