# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by scripts/test: a headless KWin (KDE Plasma's compositor,
# `kwin_wayland --virtual`, run as the current user, root included) with a
# private runtime folder on a private session bus, for the KDE end-to-end
# tests. Exports DIMMORA_KWIN_DISPLAY (the socket's absolute path) and
# DIMMORA_KWIN_BUS (the bus address); both stop when the test run ends.
dimmora_kwin_dir=$(mktemp -d "${TMPDIR:-/tmp}/dimmora-kwin.XXXXXX")
dimmora_kwin_pids=()

dimmora_kwin_cleanup() {
  local pid
  for pid in "${dimmora_kwin_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${dimmora_kwin_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  dimmora_kwin_pids=()
  rm -rf "$dimmora_kwin_dir"
}
# Keep the cleanups of the helpers sourced before this one.
dimmora_kwin_previous_exit=$(trap -p EXIT | sed -e "s/^trap -- '//" -e "s/' EXIT\$//")
trap "dimmora_kwin_cleanup; ${dimmora_kwin_previous_exit}" EXIT

dimmora_kwin_start() {
  local bus address kwin
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || return 1
  address=$(sed -n 1p <<<"$bus")
  dimmora_kwin_pids+=("$(sed -n 2p <<<"$bus")")
  mkdir -m 700 "$dimmora_kwin_dir/runtime"
  # Debian gives kwin_wayland the file capability cap_sys_resource; where the
  # bounding set lacks it (a container), exec fails with EPERM. A copy has none.
  cp /usr/bin/kwin_wayland "$dimmora_kwin_dir/kwin_wayland" || return 1
  env -u DISPLAY -u WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS="$address" XDG_RUNTIME_DIR="$dimmora_kwin_dir/runtime" \
    "$dimmora_kwin_dir/kwin_wayland" --virtual --socket wayland-kwin --no-lockscreen --width 1280 --height 720 \
    </dev/null >"$dimmora_kwin_dir/kwin.log" 2>&1 &
  kwin=$!
  dimmora_kwin_pids+=("$kwin")
  for _ in $(seq 1 300); do
    kill -0 "$kwin" 2>/dev/null || return 1
    if [ -S "$dimmora_kwin_dir/runtime/wayland-kwin" ] &&
      WAYLAND_DISPLAY="$dimmora_kwin_dir/runtime/wayland-kwin" timeout 5 wayland-info 2>/dev/null |
      grep -q ext_idle_notifier_v1; then
      export DIMMORA_KWIN_DISPLAY="$dimmora_kwin_dir/runtime/wayland-kwin" DIMMORA_KWIN_BUS="$address"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

unset DIMMORA_KWIN_DISPLAY DIMMORA_KWIN_BUS
if ! command -v kwin_wayland >/dev/null || ! command -v wayland-info >/dev/null; then
  echo "test.d: kwin_wayland or wayland-info is not installed; the KDE tests will fail in CI and skip locally" >&2
elif dimmora_kwin_start; then
  echo "test.d: headless KWin at $DIMMORA_KWIN_DISPLAY"
else
  echo "test.d: headless KWin did not start; the KDE tests will fail in CI and skip locally" >&2
  tail -n 20 "$dimmora_kwin_dir/kwin.log" >&2 2>/dev/null || true
  dimmora_kwin_cleanup
  mkdir -p "$dimmora_kwin_dir"
fi
