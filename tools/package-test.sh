#!/usr/bin/env bash
# The Debian package end to end. Packs it with cpack from the build folder,
# checks what it holds and what it depends on, installs it with dpkg into a
# clean root (its maintainer scripts give vask-bridge its capability), and
# runs two computers from that root on the real LAN, each in its own network
# namespace on one Linux bridge, each as an ordinary user: the packaged
# `vask` command starts the messenger (whose vask-host starts the bridge)
# and opens its page in a recording browser; the two people then chat
# through their pages. A second `vask` opens the same page and starts
# nothing; `vask --stop` ends the messenger and the partner sees it go.
# ALPHA's computer then becomes a system booted by systemd over an
# overlay of / (tools/sysroot-lib.sh): the package installed there by dpkg,
# the bridge's unit enabled and started, ALPHA's vask using that bridge to
# chat with BRAVO, the unit stopped, the package removed and purged, the
# system powered off. Last, dpkg removes the package and leaves nothing
# behind.
#
#   tools/package-test.sh [BUILD_DIR]    (as root; default build/linux)
#
# Prints "skipped: <reason>" and exits 0 where namespaces cannot be made.
set -u

SCRIPT=package-test
# shellcheck source=tools/netns-lib.sh
. "$(dirname "$0")/netns-lib.sh"
# shellcheck source=tools/sysroot-lib.sh
. "$(dirname "$0")/sysroot-lib.sh"
netns_build_dir "${1:-}"
TAG=vp$$
SUBNET=10.213.9
# shellcheck disable=SC2034  # the helpers' waits last at most this long
DEADLINE=${PACKAGE_TEST_DEADLINE:-30}
PERSON_UID=65534  # nobody: no home, no privileges

netns_require
netns_built "$BUILD/vask-host" "$BUILD/vask-bridge" "$BUILD/libvask.so" "$BUILD/CPackConfig.cmake"
for tool in cpack dpkg dpkg-deb dpkg-shlibdeps file python3 setpriv getcap setcap; do
  command -v "$tool" >/dev/null || { echo "$SCRIPT: $tool is needed (tools/install-deps.sh lan)"; exit 1; }
done

netns_begin vask-package "${PACKAGE_TEST_KEEP:-}"
trap 'sysroot_stop; netns_cleanup' EXIT
# The people's homes lie below WORK.
chmod 755 "$WORK"

# 1. The package.
(cd "$BUILD" && cpack -G DEB -B "$WORK/pkg") >"$WORK/cpack.log" 2>&1 ||
  { cat "$WORK/cpack.log"; fail "cpack could not make the package"; exit 1; }
DEB=$(ls "$WORK"/pkg/vask_*.deb 2>/dev/null | head -1)
[ -n "$DEB" ] || { cat "$WORK/cpack.log"; fail "cpack made no vask_*.deb"; exit 1; }
pass "cpack made $(basename "$DEB")"

dpkg-deb -c "$DEB" | awk '{print $6}' | sed 's|^\./|/|' >"$WORK/contents"
missing=()
for f in /usr/bin/vask /usr/bin/vask-host /usr/bin/vask-bridge /usr/lib/vask/vask-host \
  /usr/lib/vask/vask-bridge /usr/lib/vask/libvask.so /usr/lib/vask/libvaskwin32.so /usr/lib/vask/doc/Vask.html \
  /lib/systemd/system/vask-bridge@.service /usr/share/applications/vask.desktop \
  /usr/share/icons/hicolor/scalable/apps/vask.svg /usr/share/doc/vask/real-lan.md; do
  grep -qx "$f" "$WORK/contents" || missing+=("$f")
done
[ ${#missing[@]} -eq 0 ] && pass "the package holds the programs, the plug-in, the help, the unit and the desktop entry" ||
  fail "the package lacks ${missing[*]}"
# Nothing of the build or the tests is packed.
extra=$(grep -E 'test|bench|fuzz|\.a$|/include/' "$WORK/contents" || true)
[ -z "$extra" ] && pass "nothing else is packed" || fail "packed besides: $extra"
depends=$(dpkg-deb -f "$DEB" Depends)
for need in libc6 libsqlite3-0 libreadline8 libstdc++6 libcap2-bin; do
  [[ "$depends" == *"$need"* ]] || fail "Depends lacks $need: $depends"
done
pass "Depends: $depends"

# 2. Installed by dpkg into a clean root, maintainer scripts run against it.
ROOT=$WORK/root
mkdir -p "$ROOT/var/lib/dpkg/info" "$ROOT/var/lib/dpkg/updates" "$ROOT/var/lib/dpkg/triggers"
touch "$ROOT/var/lib/dpkg/status" "$ROOT/var/lib/dpkg/available"
dpkg_root() { dpkg --root="$ROOT" --force-script-chrootless --force-depends --log=/dev/null "$@"; }
dpkg_root -i "$DEB" >"$WORK/dpkg-install.log" 2>&1 &&
  pass "dpkg installs the package into a clean root" ||
  { cat "$WORK/dpkg-install.log"; fail "dpkg could not install the package"; exit 1; }
BRIDGE=$ROOT/usr/lib/vask/vask-bridge
getcap "$BRIDGE" | grep -q cap_net_bind_service &&
  pass "the package's postinst gave vask-bridge cap_net_bind_service" ||
  fail "vask-bridge has no cap_net_bind_service after the install ($(cat "$WORK/dpkg-install.log"))"
# The programs find their libraries in their own folder, never in the build.
for program in vask-host vask-bridge libvask.so libvaskwin32.so; do
  file=$ROOT/usr/lib/vask/$program
  runpath=$(readelf -d "$file" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p')
  case "$runpath" in
    '' | '$ORIGIN') ;;
    *) fail "$program has the run path $runpath" ;;
  esac
  if ldd "$file" | grep -q 'not found'; then fail "$program lacks libraries: $(ldd "$file" | grep 'not found')"; fi
done
[ "$(readlink -f "$ROOT/usr/bin/vask-host")" = "$ROOT/usr/lib/vask/vask-host" ] &&
  pass "/usr/bin/vask-host leads to /usr/lib/vask" || fail "/usr/bin/vask-host does not lead to /usr/lib/vask"
if command -v systemd-analyze >/dev/null; then
  # The unit as the system would read it, with its program where it lies here.
  sed "s|/usr/lib/vask/|$ROOT/usr/lib/vask/|" "$ROOT/lib/systemd/system/vask-bridge@.service" \
    >"$WORK/vask-bridge@1000.service"
  if systemd-analyze verify "$WORK/vask-bridge@1000.service" >"$WORK/unit.log" 2>&1 ||
     ! grep -v -e 'user-runtime-dir@' -e 'network-online' "$WORK/unit.log" | grep -q .; then
    pass "systemd-analyze accepts the bridge's unit"
  else
    fail "systemd-analyze: $(cat "$WORK/unit.log")"
  fi
fi
grep -q '^Exec=vask$' "$ROOT/usr/share/applications/vask.desktop" &&
  grep -q '^Icon=vask$' "$ROOT/usr/share/applications/vask.desktop" &&
  pass "the desktop entry runs vask" || fail "the desktop entry does not run vask with its icon"

# 3. Two people, ALPHA and BRAVO, on the real LAN.
netns_lan "$SUBNET" "${TAG}n0" "${TAG}n1"
NAMES=(ALPHA BRAVO)
# The browser writes down what it was asked to open.
cat >"$WORK/browser" <<'EOF'
#!/bin/sh
echo "$1" >>"$HOME/opened"
EOF
chmod 755 "$WORK/browser"
for i in 0 1; do
  mkdir -p "$WORK/home$i" "$WORK/run$i"
  chown "$PERSON_UID:$PERSON_UID" "$WORK/home$i" "$WORK/run$i"
  chmod 700 "$WORK/home$i" "$WORK/run$i"
done

as_person() {  # index command...: in the person's namespace, as that person
  local i=$1
  shift
  ip netns exec "${TAG}n$i" setpriv --reuid="$PERSON_UID" --regid="$PERSON_UID" --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$WORK/home$i" XDG_RUNTIME_DIR="$WORK/run$i" LANG=C.UTF-8 \
    COMPUTERNAME="${NAMES[$i]}" VASK_BROWSER="$WORK/browser" "$@"
}

# The page's interface: commands by POST, events read from the event stream
# into a file of JSON lines.
cat >"$WORK/page.py" <<'EOF'
import json, sys, urllib.parse, urllib.request
url = urllib.parse.urlsplit(sys.argv[2])
token = urllib.parse.parse_qs(url.query)["token"][0]
base = "http://%s" % url.netloc
if sys.argv[1] == "events":
    request = urllib.request.Request(base + "/events", headers={"X-Vask-Token": token})
    with urllib.request.urlopen(request) as stream, open(sys.argv[3], "a") as out:
        for line in stream:
            line = line.decode("utf-8", "replace")
            if line.startswith("data: "):
                out.write(line[6:].rstrip("\n") + "\n")
                out.flush()
else:
    request = urllib.request.Request(base + "/api/command", data=sys.argv[3].encode("utf-8"), method="POST",
                                     headers={"X-Vask-Token": token, "Content-Type": "application/json"})
    with urllib.request.urlopen(request) as reply:
        sys.exit(0 if reply.status == 202 else 1)
EOF
URL=()
page() {  # index json
  ip netns exec "${TAG}n$1" python3 "$WORK/page.py" command "${URL[$1]}" "$2" ||
    fail "${NAMES[$1]}'s page refused $2"
}
events() { echo "$WORK/events$1.jsonl"; }

# wait_new FILE SKIP EXPRESSION: as wait_json, among the lines after the
# first SKIP.
wait_new() {
  tail -n +"$(($2 + 1))" -F "$1" 2>/dev/null >"$1.new" &
  local tail_pid=$! result=0
  wait_json "$1.new" "$3" || result=1
  kill "$tail_pid" 2>/dev/null
  return $result
}

# Without its capability the bridge cannot have the ports: vask says why
# and how to mend it, and leaves nothing running.
setcap -r "$BRIDGE"
if as_person 1 "$ROOT/usr/bin/vask" >"$WORK/vask-nocap.out" 2>&1; then
  fail "vask succeeded with a bridge that cannot bind its ports"
else
  grep -q "setcap cap_net_bind_service=+ep $BRIDGE" "$WORK/vask-nocap.out" &&
    grep -q "systemctl enable --now vask-bridge@$PERSON_UID.service" "$WORK/vask-nocap.out" &&
    pass "without the capability vask fails and says how to give the bridge its ports" ||
    fail "vask without the capability did not say how to mend it: $(cat "$WORK/vask-nocap.out")"
fi
[ -z "$(ip netns pids "${TAG}n1")" ] && pass "the failed start left nothing running" ||
  fail "the failed start left processes running"
rm -f "$WORK/home1/opened"
# The package's own postinst gives it back.
DPKG_ROOT=$ROOT "$ROOT/var/lib/dpkg/info/vask.postinst" configure
getcap "$BRIDGE" | grep -q cap_net_bind_service || fail "the postinst run again did not give the capability back"

for i in 0 1; do
  as_person "$i" "$ROOT/usr/bin/vask" >"$WORK/vask$i.out" 2>&1
  code=$?
  # The browser is started in the background.
  wait_grep "$WORK/home$i/opened" . 5
  URL[$i]=$(head -1 "$WORK/home$i/opened" 2>/dev/null)
  if [ $code -ne 0 ] || [ -z "${URL[$i]}" ]; then
    cat "$WORK/vask$i.out"
    fail "vask did not start ${NAMES[$i]}'s messenger and open its page"
    exit 1
  fi
  pass "vask started ${NAMES[$i]} as an ordinary user and opened ${URL[$i]%%\?*}"
  ip netns exec "${TAG}n$i" python3 "$WORK/page.py" events "${URL[$i]}" "$(events "$i")" \
    2>"$WORK/stream$i.log" &
  PIDS+=($!)
done
for i in 0 1; do
  lan=$WORK/run$i/vask-lan-$PERSON_UID
  bridge_pid=$(ip netns pids "${TAG}n$i" | while read -r pid; do
    [ "$(readlink "/proc/$pid/exe")" = "$BRIDGE" ] && echo "$pid"; done)
  [ -n "$bridge_pid" ] && [ "$(stat -c %u "/proc/$bridge_pid")" = "$PERSON_UID" ] &&
    pass "${NAMES[$i]}'s vask-host started the packaged bridge as the person" ||
    fail "no packaged bridge runs as the person in ${NAMES[$i]}'s namespace"
  echo "$lan" >"$WORK/lan$i"
done
sleep 1

# Both online, each the other's contact.
page 0 '{"command":"status","status":64,"text":"przy biurku"}'
page 1 '{"command":"status","status":64}'
for i in 0 1; do
  wait_grep "$(cat "$WORK/lan$i")/.bridge.log" "serving ${NAMES[$i]} " ||
    fail "${NAMES[$i]}'s bridge never served it"
done
sleep 1
page 0 '{"command":"add","computer":"BRAVO"}'
page 1 '{"command":"add","computer":"ALPHA"}'
wait_json "$(events 1)" 'e.get("event") == "contact-status" and e.get("address") == "ALPHA" and e.get("status") == 64' &&
  pass "BRAVO's page shows ALPHA available" || fail "BRAVO's page never showed ALPHA's status"

# The chat, both ways.
page 0 '{"command":"send","to":"BRAVO","text":"Dzień dobry z pakietu"}'
wait_json "$(events 1)" 'e.get("event") == "message" and e.get("from") == "ALPHA" and "Dzień dobry z pakietu" in e.get("body", "")' &&
  pass "BRAVO's page received ALPHA's message" || fail "BRAVO's page did not receive ALPHA's message"
wait_json "$(events 0)" 'e.get("event") == "send-result" and e.get("sent") in (1, True)' &&
  pass "ALPHA's page reports the message sent" || fail "ALPHA's page does not report the message sent"
page 1 '{"command":"send","to":"ALPHA","text":"Witaj, ALPHA"}'
wait_json "$(events 0)" 'e.get("event") == "message" and e.get("from") == "BRAVO" and "Witaj, ALPHA" in e.get("body", "")' &&
  pass "ALPHA's page received BRAVO's answer" || fail "ALPHA's page did not receive BRAVO's answer"

# vask again: the same page, no second messenger.
hosts() {  # index: the packaged hosts running in the namespace
  ip netns pids "${TAG}n$1" | while read -r pid; do
    [ "$(readlink "/proc/$pid/exe")" = "$ROOT/usr/lib/vask/vask-host" ] && echo "$pid"; done | wc -l
}
[ "$(hosts 0)" = 1 ] || fail "ALPHA's namespace runs $(hosts 0) hosts, not one"
as_person 0 "$ROOT/usr/bin/vask" >"$WORK/vask0-again.out" 2>&1
again=$?
for _ in $(seq 50); do [ "$(wc -l <"$WORK/home0/opened")" -ge 2 ] && break; sleep 0.1; done
[ "$again" = 0 ] && [ "$(wc -l <"$WORK/home0/opened")" = 2 ] &&
  [ "$(tail -1 "$WORK/home0/opened")" = "${URL[0]}" ] &&
  [ "$(hosts 0)" = 1 ] &&
  pass "a second vask opens the same page and starts nothing" ||
  fail "a second vask did not just open the page again ($(cat "$WORK/vask0-again.out"))"

# vask --stop: ALPHA goes offline, and BRAVO sees it.
seen=$(wc -l <"$(events 1)")
as_person 0 "$ROOT/usr/bin/vask" --stop >"$WORK/vask0-stop.out" 2>&1 &&
  wait_new "$(events 1)" "$seen" 'e.get("event") == "contact-status" and e.get("address") == "ALPHA" and e.get("status") == 0' &&
  pass "vask --stop ends ALPHA's messenger and BRAVO sees it offline" ||
  fail "vask --stop: BRAVO never saw ALPHA offline ($(cat "$WORK/vask0-stop.out"))"

# 4. The bridge as a system service. ALPHA's computer becomes a system
# booted by the service manager, with the package installed by dpkg; the
# service runs ALPHA's bridge, ALPHA's messenger uses it, and ALPHA and
# BRAVO (whose bridge vask-host still starts) chat through it.
service_test() {
  local why unit=vask-bridge@$PERSON_UID.service lan=/run/user/$PERSON_UID/vask-lan-$PERSON_UID
  local reloads main seen left
  why=$(sysroot_missing)
  [ -z "$why" ] || { echo "skipped: the bridge as a service: $why"; return; }
  # ALPHA's earlier bridge and page go: the ports are the service's now.
  for pid in $(ip netns pids "${TAG}n0"); do kill "$pid" 2>/dev/null; done
  for _ in $(seq 50); do [ -z "$(ip netns pids "${TAG}n0")" ] && break; sleep 0.1; done
  sysroot_boot "${TAG}n0" ||
    { fail "the service manager could not boot a system in ALPHA's namespace: $SYSROOT_WHY"; return; }
  pass "the service manager runs as PID 1 of a system over an overlay of / in ALPHA's namespace"

  # Installed as on a machine: the postinst runs where the manager runs.
  reloads=$(sysroot_run journalctl -o cat _PID=1 | grep -c '^Reloading')
  if ! sysroot_run dpkg -i "$DEB" >"$WORK/sysroot-install.log" 2>&1; then
    fail "dpkg could not install the package in the booted system: $(cat "$WORK/sysroot-install.log")"
    return
  fi
  [ "$(sysroot_run journalctl -o cat _PID=1 | grep -c '^Reloading')" -gt "$reloads" ] &&
    pass "dpkg installs the package in the booted system and its postinst reloads the manager" ||
    fail "the postinst did not reload the service manager"

  # As real-lan.md tells the administrator to.
  sysroot_run systemctl enable --now "$unit" >"$WORK/unit-start.log" 2>&1 ||
    fail "systemctl enable --now $unit: $(cat "$WORK/unit-start.log")"
  for _ in $(seq $((DEADLINE * 10))); do
    sysroot_run test -S "$lan/.bridge" && break
    sleep 0.1
  done
  main=$(sysroot_run systemctl show -P MainPID "$unit")
  if [ "$(sysroot_run systemctl is-active "$unit")" = active ] && sysroot_run test -S "$lan/.bridge" &&
     [ "$(sysroot_run stat -c %u "/proc/$main")" = "$PERSON_UID" ] &&
     [ "$(sysroot_run readlink "/proc/$main/exe")" = /usr/lib/vask/vask-bridge ]; then
    pass "systemctl enable --now $unit runs the bridge as the person, listening in $lan"
  else
    fail "$unit does not serve $lan: $(sysroot_run systemctl status --no-pager "$unit" 2>&1)"
    sysroot_run journalctl -o cat --no-pager -u "$unit" | tail -n 20
    return
  fi

  # ALPHA's messenger in the booted system finds the running bridge.
  mv "$(events 0)" "$WORK/events0-before.jsonl"
  rm -f "$WORK/home0/opened"
  sysroot_run setpriv --reuid="$PERSON_UID" --regid="$PERSON_UID" --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$WORK/home0" XDG_RUNTIME_DIR="/run/user/$PERSON_UID" LANG=C.UTF-8 \
    COMPUTERNAME=ALPHA VASK_BROWSER="$WORK/browser" /usr/bin/vask >"$WORK/vask0-service.out" 2>&1 ||
    { fail "vask could not start ALPHA beside the service's bridge: $(cat "$WORK/vask0-service.out")"; return; }
  wait_grep "$WORK/home0/opened" . 5
  URL[0]=$(head -1 "$WORK/home0/opened" 2>/dev/null)
  ip netns exec "${TAG}n0" python3 "$WORK/page.py" events "${URL[0]}" "$(events 0)" 2>"$WORK/stream0b.log" &
  PIDS+=($!)
  [ "$(sysroot_run pgrep -x vask-bridge)" = "$main" ] && sysroot_run test ! -e "$lan/.bridge.log" &&
    pass "ALPHA's vask-host uses the service's bridge and starts none" ||
    fail "ALPHA's vask-host did not use the service's bridge (bridges: $(sysroot_run pgrep -x -a vask-bridge))"
  page 0 '{"command":"status","status":64}'
  for _ in $(seq $((DEADLINE * 5))); do
    sysroot_run journalctl -o cat -u "$unit" | grep -q '^vask-bridge .* serving ALPHA ' && break
    sleep 0.2
  done
  sysroot_run journalctl -o cat -u "$unit" | grep -q '^vask-bridge .* serving ALPHA ' &&
    pass "the service's bridge serves ALPHA and logs to the journal" ||
    fail "the service's bridge never logged serving ALPHA in the journal"
  seen=$(wc -l <"$(events 1)")
  page 0 '{"command":"send","to":"BRAVO","text":"Przez usługę systemu"}'
  wait_new "$(events 1)" "$seen" 'e.get("event") == "message" and e.get("from") == "ALPHA" and "Przez usługę systemu" in e.get("body", "")' &&
    pass "BRAVO received ALPHA's message through the service's bridge" ||
    fail "BRAVO did not receive ALPHA's message through the service's bridge"
  page 1 '{"command":"send","to":"ALPHA","text":"Odebrane"}'
  wait_json "$(events 0)" 'e.get("event") == "message" and e.get("from") == "BRAVO" and "Odebrane" in e.get("body", "")' &&
    pass "ALPHA received BRAVO's answer through the service's bridge" ||
    fail "ALPHA did not receive BRAVO's answer through the service's bridge"

  # systemctl stop ends the bridge, which releases its names first.
  sysroot_run systemctl stop "$unit" >"$WORK/unit-stop.log" 2>&1 || fail "systemctl stop $unit: $(cat "$WORK/unit-stop.log")"
  [ "$(sysroot_run systemctl is-active "$unit")" = inactive ] && [ -z "$(sysroot_run pgrep -x vask-bridge)" ] &&
    sysroot_run journalctl -o cat -u "$unit" | grep -q 'stopping: releasing the names' &&
    pass "systemctl stop ends the bridge, which releases its names" ||
    fail "after systemctl stop: $(sysroot_run systemctl is-active "$unit"), bridges $(sysroot_run pgrep -x -a vask-bridge)"

  # Removing the package stops a running bridge; purging forgets it was enabled.
  sysroot_run systemctl start "$unit" || fail "systemctl start $unit failed the second time"
  sysroot_run dpkg -r vask >"$WORK/sysroot-remove.log" 2>&1 ||
    fail "dpkg -r in the booted system: $(cat "$WORK/sysroot-remove.log")"
  [ -z "$(sysroot_run pgrep -x vask-bridge)" ] && [ "$(sysroot_run systemctl is-active "$unit")" != active ] &&
    pass "removing the package stops the running service" ||
    fail "the service's bridge outlived the package: $(sysroot_run pgrep -x -a vask-bridge)"
  sysroot_run dpkg -P vask >>"$WORK/sysroot-remove.log" 2>&1 || fail "dpkg -P in the booted system failed"
  left=$(sysroot_run find /etc/systemd /lib/systemd/system -name 'vask-bridge@*')
  [ -z "$left" ] && pass "purging the package leaves no unit and no enablement behind" ||
    fail "left by the purge: $left"

  sysroot_stop && pass "the booted system powers off leaving no process, mount or cgroup" ||
    fail "the booted system left $SYSROOT_WHY"
}
service_test

# 5. Removal leaves nothing of the package.
for pid in $(netns_pids); do kill "$pid" 2>/dev/null; done
sleep 1
dpkg_root -P vask >"$WORK/dpkg-remove.log" 2>&1 || fail "dpkg could not remove the package: $(cat "$WORK/dpkg-remove.log")"
left=$(cd "$ROOT" && find usr lib -type f -o -type l 2>/dev/null)
[ -z "$left" ] && pass "dpkg removes every file of the package" || fail "left after removal: $left"

if [ "$FAILED" = 0 ]; then echo "package-test: passed"; else echo "package-test: FAILED"; fi
exit "$FAILED"
