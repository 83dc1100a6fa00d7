# shellcheck shell=bash
# A throw-away system booted by this machine's own service manager, for the
# tests of what the package does where that manager runs: sourced, not run
# (tools/package-test.sh). The system is / seen through an overlay whose
# writable layer is a tmpfs below the test's scratch folder, so nothing done
# in it (packages installed, units enabled, users' runtime folders) reaches
# the machine. It has its own pid, mount, cgroup, UTS and IPC namespaces
# and lives in a network namespace the test made; the service manager runs
# there as PID 1 and starts only the journal, the system bus and logind.
# The scratch folder is mounted at its own path inside, so the test and the
# system share it. Uses WORK, DEADLINE and fail of tools/netns-lib.sh.
# Sets SYSROOT_PID (PID 1 of the system, as this machine numbers it) and,
# where a helper returns false, SYSROOT_WHY.

SYSROOT_PID=
SYSROOT_OUTER=
SYSROOT_CGROUP=
SYSROOT_WHY=
SYSROOT_PATH=/usr/sbin:/usr/bin:/sbin:/bin

# sysroot_missing: why this machine cannot boot one; nothing when it can.
sysroot_missing() {
  local tool
  [ -x /lib/systemd/systemd ] || { echo "there is no /lib/systemd/systemd"; return; }
  for tool in unshare nsenter pivot_root systemctl journalctl dbus-daemon timeout pgrep; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed"; return; }
  done
  [ -x /lib/systemd/systemd-logind ] || { echo "there is no systemd-logind"; return; }
  grep -qw overlay /proc/filesystems || modprobe overlay 2>/dev/null
  grep -qw overlay /proc/filesystems || { echo "the kernel has no overlay file system"; return; }
  [ -n "$(sysroot_cgroup2)" ] || echo "no cgroup2 hierarchy is mounted"
}

# sysroot_cgroup2: where the cgroup2 hierarchy is mounted (alone, or beside
# the version 1 ones).
sysroot_cgroup2() {
  awk '$9 == "cgroup2" { print $5; exit }' /proc/self/mountinfo
}

# sysroot_boot NETNS: boots the system in the network namespace and waits
# (at most DEADLINE seconds) until its service manager has finished
# starting; false, with the reason in SYSROOT_WHY, when it could not.
sysroot_boot() {
  local base=$WORK/sysroot hierarchy own state
  mkdir -p "$base/layer" "$base/root"
  # The system's cgroups lie below one of ours, which becomes the root of
  # its cgroup namespace: its service manager sees a tree of its own.
  hierarchy=$(sysroot_cgroup2)
  own=$(sed -n 's/^0:://p' /proc/self/cgroup)
  SYSROOT_CGROUP=$hierarchy${own%/}/vask-sysroot-$$
  mkdir "$SYSROOT_CGROUP" || { SYSROOT_WHY="cannot make the cgroup $SYSROOT_CGROUP"; SYSROOT_CGROUP=; return 1; }
  cat >"$base/boot.sh" <<'EOF'
#!/bin/sh
# PID 1 of the new namespaces until the service manager takes its place.
set -e
base=$1 work=$2 path=$3
root=$base/root
mount -t tmpfs -o mode=755 tmpfs "$base/layer"
mkdir "$base/layer/upper" "$base/layer/work"
mount -t overlay overlay -o "lowerdir=/,upperdir=$base/layer/upper,workdir=$base/layer/work" "$root"
mkdir -p "$root$work"
mount --bind "$work" "$root$work"
# A /dev of its own with the few devices a system needs, so that what its
# service manager creates there (static nodes) stays in it.
mount -t tmpfs -o mode=755,nosuid tmpfs "$root/dev"
for node in null zero full random urandom tty; do
  touch "$root/dev/$node"
  mount --bind "/dev/$node" "$root/dev/$node"
done
mkdir "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
ln -s /proc/self/fd "$root/dev/fd"
# The kernel's settings and the rest of /sys read-only: the system's start
# sets none of the machine's.
mount -t proc proc "$root/proc"
mount --bind "$root/proc/sys" "$root/proc/sys"
mount -o remount,bind,ro "$root/proc/sys"
mount -t sysfs -o ro sysfs "$root/sys"
mount -t cgroup2 cgroup2 "$root/sys/fs/cgroup"
# The system's first target: the journal, the system bus and logind (which
# the users' runtime folders need), no login prompts, no network setup.
mkdir -p "$root/etc/systemd/system" "$root/.oldroot"
cat >"$root/etc/systemd/system/vask-sysroot.target" <<'UNIT'
[Unit]
Description=A system booted for a test
Wants=systemd-journald.socket dbus.socket systemd-logind.service systemd-user-sessions.service
After=systemd-journald.socket dbus.socket systemd-logind.service systemd-user-sessions.service
UNIT
cd "$root"
pivot_root . .oldroot
umount -l /.oldroot
rmdir /.oldroot
# Nor does it load kernel modules or set the clock.
exec setpriv --bounding-set=-sys_module,-sys_time env -i container=vask-test PATH="$path" \
  /lib/systemd/systemd --unit=vask-sysroot.target
EOF
  # Moved into the new cgroup first, then the namespaces (the mount
  # namespace's mounts private: nothing of them reaches the machine).
  sh -c 'echo $$ >"$1/cgroup.procs" && shift && exec "$@"' sh "$SYSROOT_CGROUP" \
    nsenter --net="/run/netns/$1" unshare --mount --pid --cgroup --uts --ipc --fork --propagation private \
    sh "$base/boot.sh" "$base" "$WORK" "$SYSROOT_PATH" </dev/null >"$WORK/sysroot.log" 2>&1 &
  SYSROOT_OUTER=$!
  for _ in $(seq 50); do
    SYSROOT_PID=$(pgrep -P "$SYSROOT_OUTER" | head -1)
    [ -n "$SYSROOT_PID" ] && [ "$(cat "/proc/$SYSROOT_PID/comm" 2>/dev/null)" = systemd ] && break
    kill -0 "$SYSROOT_OUTER" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$SYSROOT_PID" ] || [ "$(cat "/proc/$SYSROOT_PID/comm" 2>/dev/null)" != systemd ]; then
    SYSROOT_WHY="the service manager did not start: $(cat "$WORK/sysroot.log")"
    return 1
  fi
  for _ in $(seq $((DEADLINE * 5))); do
    state=$(sysroot_run systemctl is-system-running 2>/dev/null)
    case "$state" in
      running) return 0 ;;
      degraded)
        SYSROOT_WHY="the system started degraded: $(sysroot_run systemctl --failed --no-legend --plain)"
        return 1 ;;
    esac
    sleep 0.2
  done
  SYSROOT_WHY="the system did not finish starting in $DEADLINE s (state: $state)"
  return 1
}

# sysroot_run COMMAND...: runs the command in the system, as root, with a
# clean environment, for at most DEADLINE seconds.
sysroot_run() {
  timeout -k 2 "$DEADLINE" nsenter --target="$SYSROOT_PID" --mount --uts --ipc --net --pid --cgroup \
    --root --wd=/ env -i PATH="$SYSROOT_PATH" LANG=C.UTF-8 "$@"
}

# sysroot_stop: shuts the system down (killing it after 10 s) and removes
# its cgroups; its mounts went with its mount namespace. False, with what
# was left in SYSROOT_WHY, when something stayed behind.
sysroot_stop() {
  local left=
  [ -n "$SYSROOT_OUTER" ] || return 0
  # What the service manager takes for the power-off request.
  kill -s RTMIN+4 "$SYSROOT_PID" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$SYSROOT_OUTER" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$SYSROOT_OUTER" 2>/dev/null; then
    left="the system did not power off in 10 s; "
    # PID 1 of a pid namespace takes all of it along.
    kill -9 "$SYSROOT_PID" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$SYSROOT_OUTER" 2>/dev/null || break; sleep 0.1; done
  fi
  wait "$SYSROOT_OUTER" 2>/dev/null
  if [ -n "$SYSROOT_CGROUP" ]; then
    for _ in $(seq 20); do
      find "$SYSROOT_CGROUP" -depth -type d -exec rmdir {} + 2>/dev/null
      [ -d "$SYSROOT_CGROUP" ] || break
      sleep 0.1
    done
    [ -d "$SYSROOT_CGROUP" ] && left+="its cgroup $SYSROOT_CGROUP; "
  fi
  grep -q " $WORK/sysroot" /proc/self/mountinfo && left+="mounts below $WORK/sysroot; "
  SYSROOT_OUTER=
  SYSROOT_PID=
  SYSROOT_CGROUP=
  [ -z "$left" ] && return 0
  # shellcheck disable=SC2034  # for the sourcing script
  SYSROOT_WHY=${left%; }
  return 1
}
