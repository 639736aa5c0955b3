# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by scripts/test: starts a headless sway (no GPU: pixman renderer,
# two virtual outputs) with XWayland for the Wayland integration and
# end-to-end tests, exports DIMMORA_SWAY_DISPLAY (the socket's absolute path),
# DIMMORA_SWAY_XWAYLAND (XWayland's X display) and SWAYSOCK, and stops it when
# the test run ends. Sway refuses to run as root, so as root it
# runs as the unprivileged user dimmora-sway (created when missing); root
# reaches its socket regardless of the folder's owner.
dimmora_sway_dir=$(mktemp -d "${TMPDIR:-/tmp}/dimmora-sway.XXXXXX")
dimmora_sway_pid=
dimmora_sway_runner=()

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

# Asks sway for the DISPLAY it gives its clients and waits until that X server answers.
dimmora_sway_xwayland() {
  local file="$dimmora_sway_dir/run/xwayland-display" display
  swaymsg -s "$SWAYSOCK" exec "printf %s \"\$DISPLAY\" >$file" >/dev/null 2>&1 || return 1
  for _ in $(seq 1 100); do
    display=$(cat "$file" 2>/dev/null || true)
    # XWayland admits only sway's user; the tests run as this one.
    [ -n "$display" ] && "${dimmora_sway_runner[@]}" env DISPLAY="$display" xhost "+si:localuser:$(id -un)" >/dev/null 2>&1
    if [ -n "$display" ] && timeout 5 xdpyinfo -display "$display" >/dev/null 2>&1; then
      export DIMMORA_SWAY_XWAYLAND="$display"
      return 0
    fi
    sleep 0.1
  done
  echo "test.d: sway's XWayland did not answer" >&2
  return 1
}

dimmora_sway_start() {
  local user
  if [ "$(id -u)" -eq 0 ]; then
    user=dimmora-sway
    if ! id "$user" >/dev/null 2>&1; then
      useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" || return 1
    fi
    dimmora_sway_runner=(runuser -u "$user" --)
  else
    user=$(id -un)
  fi
  chmod 755 "$dimmora_sway_dir"
  mkdir -m 700 "$dimmora_sway_dir/run"
  chown "$user" "$dimmora_sway_dir/run"
  # XWayland from the start, as a desktop session has it, for the tests of a start with its DISPLAY only.
  printf 'xwayland force\n' >"$dimmora_sway_dir/config"
  chmod 644 "$dimmora_sway_dir/config"
  # XWayland puts its socket there; made as X servers expect it, not owned by sway's user.
  [ -d /tmp/.X11-unix ] || install -d -m 1777 /tmp/.X11-unix 2>/dev/null || true
  (cd / && exec "${dimmora_sway_runner[@]}" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$dimmora_sway_dir/run" \
    XDG_RUNTIME_DIR="$dimmora_sway_dir/run" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=2 \
    WLR_LIBINPUT_NO_DEVICES=1 sway -c "$dimmora_sway_dir/config" </dev/null >"$dimmora_sway_dir/sway.log" 2>&1) &
  dimmora_sway_pid=$!
  local socket ipc
  for _ in $(seq 1 100); do
    socket=$(find "$dimmora_sway_dir/run" -maxdepth 1 -type s -name 'wayland-*' 2>/dev/null | head -n 1)
    ipc=$(find "$dimmora_sway_dir/run" -maxdepth 1 -type s -name 'sway-ipc.*' 2>/dev/null | head -n 1)
    if [ -n "$socket" ] && [ -n "$ipc" ] && timeout 5 swaymsg -s "$ipc" -t get_version >/dev/null 2>&1; then
      export DIMMORA_SWAY_DISPLAY="$socket" SWAYSOCK="$ipc"
      dimmora_sway_xwayland || return 1
      return 0
    fi
    kill -0 "$dimmora_sway_pid" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}

if ! command -v sway >/dev/null || ! command -v wtype >/dev/null || ! command -v Xwayland >/dev/null; then
  echo "test.d: sway, wtype or Xwayland is not installed; Wayland tests will fail in CI and skip locally" >&2
elif dimmora_sway_start; then
  echo "test.d: headless sway at $DIMMORA_SWAY_DISPLAY"
else
  echo "test.d: headless sway did not start; Wayland tests will fail in CI and skip locally" >&2
  tail -n 20 "$dimmora_sway_dir/sway.log" >&2 2>/dev/null || true
  unset DIMMORA_SWAY_DISPLAY DIMMORA_SWAY_XWAYLAND
fi
