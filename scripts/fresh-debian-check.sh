#!/usr/bin/env bash
# Proves that a bare Debian 12 with only git and make can build and test the
# project: `make` itself must install everything else. Not part of CI (it
# needs debootstrap, mounts and a few minutes); run it after changing what
# the build needs.
#
# Usage: scripts/fresh-debian-check.sh [MAKE TARGETS...]   (default: test)
#        scripts/fresh-debian-check.sh --ci
#   The second form runs the whole .ci/run there, each step's time printed,
#   as CI's fresh machine would.
#        scripts/fresh-debian-check.sh --deb build/vornackle_*.deb
#   The second form installs the package into the bare system instead (no
#   compiler, no -dev packages), checks that every library the program needs
#   came with its declared dependencies and that its data files are in place,
#   then removes it again.
# Environment: VN_FRESH_DIR (default /srv/vn-fresh) keeps the pristine base
# system between runs; each run works in a new copy of it. VN_FRESH_SECURITY=1
# adds bookworm-security to its apt sources, as an installed Debian has them
# (newer Chromium, Wine and the like); debootstrap's base has bookworm alone.
# Needs root.
set -euo pipefail

deb=
ci=
if [[ ${1:-} == --deb ]]; then
    deb=$(realpath "$2")
    set --
elif [[ ${1:-} == --ci ]]; then
    ci=1
    set --
fi
targets=("${@:-test}")
repo=$(cd "$(dirname "$0")/.." && pwd)
base_dir=${VN_FRESH_DIR:-/srv/vn-fresh}
base="$base_dir/base.tar"

if [[ $(id -u) -ne 0 ]]; then
    echo "fresh-debian-check: needs root (debootstrap, chroot, mounts)" >&2
    exit 1
fi

if [[ ! -f "$base" ]]; then
    command -v debootstrap >/dev/null || "$repo/scripts/install-deps.sh" fresh
    echo "fresh-debian-check: making the base system (once)"
    if [[ ! -x "$base_dir/root/usr/bin/apt-get" ]]; then
        rm -rf "$base_dir/root"
        debootstrap --variant=minbase bookworm "$base_dir/root"
    fi
    chroot "$base_dir/root" bash -c \
        'apt-get update -q && apt-get install -y -q --no-install-recommends git make && apt-get clean'
    tar -C "$base_dir/root" -cf "$base" .
    rm -rf "$base_dir/root"
fi

work=$(mktemp -d "$base_dir/run.XXXXXX")
mounts=()
cleanup() {
    local m
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount -l "${mounts[i]}" 2>/dev/null || true
    done
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

tar -C "$work" -xf "$base"
if [[ ${VN_FRESH_SECURITY:-} == 1 ]]; then
    echo 'deb http://deb.debian.org/debian-security bookworm-security main' \
        >"$work/etc/apt/sources.list.d/security.list"
fi
cp /etc/resolv.conf "$work/etc/resolv.conf"
for fs in proc sys dev dev/pts; do
    mkdir -p "$work/$fs"
    case $fs in
    proc) mount -t proc proc "$work/proc" ;;
    sys) mount -t sysfs sys "$work/sys" ;;
    dev) mount --bind /dev "$work/dev" ;;
    dev/pts) mount -t devpts devpts "$work/dev/pts" ;;
    esac
    mounts+=("$work/$fs")
done
mkdir -p "$work/dev/shm" "$work/mnt/repo"
mount -t tmpfs tmpfs "$work/dev/shm" && mounts+=("$work/dev/shm")
mount --bind -o ro "$repo" "$work/mnt/repo" && mounts+=("$work/mnt/repo")

run_inside() {
    chroot "$work" env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        CI=true LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive bash -c "set -euo pipefail; $1" </dev/null
}

if [[ -n "$deb" ]]; then
    cp "$deb" "$work/root/"
    name=$(basename "$deb")
    echo "fresh-debian-check: installing $name in a bare bookworm"
    run_inside "
        apt-get update -q
        apt-get install -y -q /root/$name
        missing=\$(ldd /usr/games/vornackle | grep 'not found' || true)
        if [[ -n \"\$missing\" ]]; then echo \"libraries not installed: \$missing\" >&2; exit 1; fi
        for f in /usr/share/vornackle/playersprite.bmp /usr/share/doc/vornackle/FONT-LICENSE \
                 /usr/share/applications/vornackle.desktop; do test -f \$f; done
        dpkg -r vornackle
        test ! -e /usr/games/vornackle
    "
    echo "fresh-debian-check: package installed, complete, and removed cleanly"
    exit 0
fi

# The clone takes what is committed, as CI's fresh clone does.
command="make ${targets[*]}"
[[ -n "$ci" ]] && command="bash .ci/run"
echo "fresh-debian-check: $command in a bare bookworm${VN_FRESH_SECURITY:+ with its security updates}"
started=$SECONDS
run_inside "
    git config --global --add safe.directory /mnt/repo
    git clone -q /mnt/repo /root/vornackle
    cd /root/vornackle
    $command
"
echo "fresh-debian-check: $command took $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
echo "fresh-debian-check: passed"
