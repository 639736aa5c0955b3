# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by scripts/test: a headless Mutter (GNOME's compositor, run as the
# current user, root included, with a private runtime folder) on a private
# session bus, for the GNOME integration tests. Exports DIMMORA_MUTTER_BUS with
# the bus address (Mutter accepts ResetIdletime, simulated input, there) and
# DIMMORA_MUTTER_DISPLAY with the path of its Wayland socket. Both stop when
# the test run ends. Where Mutter cannot start, the variable stays
# unset and those tests skip.
dimmora_mutter_dir=$(mktemp -d "${TMPDIR:-/tmp}/dimmora-mutter.XXXXXX")
dimmora_mutter_pids=()

dimmora_mutter_cleanup() {
  local pid
  for pid in "${dimmora_mutter_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${dimmora_mutter_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  dimmora_mutter_pids=()
  rm -rf "$dimmora_mutter_dir"
}
# Keep the cleanups of the helpers sourced before this one.
dimmora_mutter_previous_exit=$(trap -p EXIT | sed -e "s/^trap -- '//" -e "s/' EXIT\$//")
trap "dimmora_mutter_cleanup; ${dimmora_mutter_previous_exit}" EXIT

dimmora_mutter_start() {
  local bus address mutter ready=0
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || return 1
  address=$(sed -n 1p <<<"$bus")
  dimmora_mutter_pids+=("$(sed -n 2p <<<"$bus")")
  mkdir -m 700 "$dimmora_mutter_dir/runtime"
  env -u DISPLAY -u WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS="$address" \
    XDG_RUNTIME_DIR="$dimmora_mutter_dir/runtime" MUTTER_DEBUG_RESET_IDLETIME=1 \
    mutter --headless --wayland --no-x11 --virtual-monitor 1280x720 </dev/null >"$dimmora_mutter_dir/mutter.log" 2>&1 &
  mutter=$!
  dimmora_mutter_pids+=("$mutter")
  for _ in $(seq 1 200); do
    kill -0 "$mutter" 2>/dev/null || break
    if timeout 2 dbus-send --bus="$address" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.gnome.Mutter.IdleMonitor 2>/dev/null | grep -q 'boolean true'; then
      ready=1
      break
    fi
    sleep 0.1
  done
  [ "$ready" = 1 ] && [ -S "$dimmora_mutter_dir/runtime/wayland-0" ] || return 1
  export DIMMORA_MUTTER_BUS="$address" DIMMORA_MUTTER_DISPLAY="$dimmora_mutter_dir/runtime/wayland-0"
}

unset DIMMORA_MUTTER_BUS DIMMORA_MUTTER_DISPLAY
if ! command -v mutter >/dev/null || ! command -v dbus-daemon >/dev/null; then
  echo "test.d: mutter or dbus-daemon is not installed; the GNOME tests skip" >&2
elif dimmora_mutter_start; then
  echo "test.d: headless Mutter on a private session bus"
else
  echo "test.d: headless Mutter did not start; the GNOME tests skip" >&2
  tail -n 20 "$dimmora_mutter_dir/mutter.log" >&2 2>/dev/null || true
  dimmora_mutter_cleanup
  mkdir -p "$dimmora_mutter_dir"
fi
