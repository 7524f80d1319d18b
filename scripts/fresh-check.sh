#!/usr/bin/env bash
# The README's two commands as a new user meets them: a minimal Debian 12 root (debootstrap
# --variant=minbase, from the mirror this machine's apt uses), git and make installed in it, a
# clone of this repository's HEAD, then `make demo` and `make test` as root inside. Prints each
# command's exit code and time; fails if either fails. Needs root; takes about 20 minutes.
#
#   scripts/fresh-check.sh
#
# Environment: FRESH_ROOT where the root goes (default /var/tmp/velmora-fresh-root, outside the
# tree it mounts; made anew each run and removed after it unless FRESH_KEEP=1), FRESH_COMMANDS the
# make targets to run (default "demo test").
# Logs: build/fresh-check/<target>.log.
set -euo pipefail

cd "$(dirname "$0")/.."
repo=$PWD
root=${FRESH_ROOT:-/var/tmp/velmora-fresh-root}
logs=$repo/build/fresh-check
read -r -a commands <<<"${FRESH_COMMANDS:-demo test}"

[ "$(id -u)" -eq 0 ] || { echo "fresh-check.sh: needs root (debootstrap, chroot)" >&2; exit 2; }
export DEBIAN_FRONTEND=noninteractive
command -v debootstrap >/dev/null || { apt-get update -qq && apt-get install -y -qq debootstrap; }

# The Debian suites this machine's apt reads: the first is the one debootstrap installs from.
mapfile -t sources < <(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' |
    awk '$2 ~ /^bookworm/' | sort -u)
[ ${#sources[@]} -gt 0 ] || { echo "fresh-check.sh: this machine's apt reads no bookworm suite" >&2; exit 2; }
mirror=$(printf '%s\n' "${sources[@]}" | awk '$2 == "bookworm" { print $1; exit }')

unmount_all() {
    # Deepest first; lazily, so that a process still ending inside does not keep one busy.
    mounted | sort -r | while read -r m; do umount -l "$m"; done
}
mounted() { findmnt -rn -o TARGET | grep -F "$root/" || true; }
finish() {
    unmount_all
    [ "${FRESH_KEEP:-0}" = 1 ] || rm -rf --one-file-system "$root"
}
trap finish EXIT
unmount_all
if [ -n "$(mounted)" ]; then
    echo "fresh-check.sh: something is still mounted under $root" >&2
    exit 1
fi
rm -rf --one-file-system "$root"
mkdir -p "$root" "$logs"

echo "== debootstrap bookworm from $mirror into $root =="
start=$(date +%s)
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$logs/debootstrap.log" 2>&1 ||
    { tail -20 "$logs/debootstrap.log"; exit 1; }
printf 'deb %s\n' "${sources[@]}" >"$root/etc/apt/sources.list"
# The machine's Acquire settings (a snapshot mirror's validity dates, say) apply inside too.
grep -l '^Acquire::' /etc/apt/apt.conf.d/* 2>/dev/null | xargs -r cp -t "$root/etc/apt/apt.conf.d/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d" # no services start inside
chmod +x "$root/usr/sbin/policy-rc.d"

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
mount -t tmpfs tmpfs "$root/dev/shm"
mkdir -p "$root/mnt/origin"
mount --bind "$repo" "$root/mnt/origin"
mount -o remount,bind,ro "$root/mnt/origin"

inside() {
    chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        DEBIAN_FRONTEND=noninteractive bash -c "$1"
}
inside 'apt-get update -qq && apt-get install -y -qq git make' >"$logs/setup.log" 2>&1 ||
    { tail -20 "$logs/setup.log"; exit 1; }
inside 'git clone -q /mnt/origin /root/velmora && git -C /root/velmora log -1 --format="%h %s"'
echo "root ready in $(($(date +%s) - start)) s"

status=0
results=()
for c in "${commands[@]}"; do
    echo "== make $c (log: $logs/$c.log) =="
    t0=$(date +%s)
    rc=0
    inside "cd /root/velmora && make $c" >"$logs/$c.log" 2>&1 || rc=$?
    seconds=$(($(date +%s) - t0))
    results+=("$(printf 'make %-6s exit %d in %d min %02d s' "$c" "$rc" $((seconds / 60)) $((seconds % 60)))")
    if [ "$rc" -ne 0 ]; then
        tail -40 "$logs/$c.log"
        status=1
    fi
done
echo "== fresh Debian 12 root: $(inside '. /etc/os-release; echo "$PRETTY_NAME"') =="
printf '  %s\n' "${results[@]}"
exit $status
