# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by scripts/test: starts a headless sway (no GPU: pixman renderer,
# two virtual outputs) for the Wayland integration and end-to-end tests,
# exports DIMMORA_SWAY_DISPLAY (the socket's absolute path) and SWAYSOCK, and
# stops it when the test run ends. Sway refuses to run as root, so as root it
# runs as the unprivileged user dimmora-sway (created when missing); root
# reaches its socket regardless of the folder's owner.
dimmora_sway_dir=$(mktemp -d "${TMPDIR:-/tmp}/dimmora-sway.XXXXXX")
dimmora_sway_pid=

dimmora_sway_cleanup() {
  if [ -n "$dimmora_sway_pid" ]; then
    # As root the pid is runuser's, which need not pass the signal on: stop sway itself too.
    pkill -TERM -P "$dimmora_sway_pid" 2>/dev/null || true
    kill "$dimmora_sway_pid" 2>/dev/null || true
    wait "$dimmora_sway_pid" 2>/dev/null || true
  fi
  rm -rf "$dimmora_sway_dir"
}
# Keep the cleanup of helpers sourced before this one.
dimmora_sway_previous_trap=$(trap -p EXIT | sed -e "s/^trap -- '//" -e "s/' EXIT\$//")
trap "dimmora_sway_cleanup; ${dimmora_sway_previous_trap}" EXIT

dimmora_sway_start() {
  local runner=() user
  if [ "$(id -u)" -eq 0 ]; then
    user=dimmora-sway
    if ! id "$user" >/dev/null 2>&1; then
      useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" || return 1
    fi
    runner=(runuser -u "$user" --)
  else
    user=$(id -un)
  fi
  chmod 755 "$dimmora_sway_dir"
  mkdir -m 700 "$dimmora_sway_dir/run"
  chown "$user" "$dimmora_sway_dir/run"
  printf 'xwayland disable\n' >"$dimmora_sway_dir/config"
  chmod 644 "$dimmora_sway_dir/config"
  (cd / && exec "${runner[@]}" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$dimmora_sway_dir/run" \
    XDG_RUNTIME_DIR="$dimmora_sway_dir/run" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=2 \
    WLR_LIBINPUT_NO_DEVICES=1 sway -c "$dimmora_sway_dir/config" </dev/null >"$dimmora_sway_dir/sway.log" 2>&1) &
  dimmora_sway_pid=$!
  local socket ipc
  for _ in $(seq 1 100); do
    socket=$(find "$dimmora_sway_dir/run" -maxdepth 1 -type s -name 'wayland-*' 2>/dev/null | head -n 1)
    ipc=$(find "$dimmora_sway_dir/run" -maxdepth 1 -type s -name 'sway-ipc.*' 2>/dev/null | head -n 1)
    if [ -n "$socket" ] && [ -n "$ipc" ] && timeout 5 swaymsg -s "$ipc" -t get_version >/dev/null 2>&1; then
      export DIMMORA_SWAY_DISPLAY="$socket" SWAYSOCK="$ipc"
      return 0
    fi
    kill -0 "$dimmora_sway_pid" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}

if ! command -v sway >/dev/null || ! command -v wtype >/dev/null; then
  echo "test.d: sway or wtype is not installed; Wayland tests will fail in CI and skip locally" >&2
elif dimmora_sway_start; then
  echo "test.d: headless sway at $DIMMORA_SWAY_DISPLAY"
else
  echo "test.d: headless sway did not start; Wayland tests will fail in CI and skip locally" >&2
  tail -n 20 "$dimmora_sway_dir/sway.log" >&2 2>/dev/null || true
  unset DIMMORA_SWAY_DISPLAY
fi
