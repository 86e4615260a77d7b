#!/usr/bin/env bash
# Checks that the README's test command works on a freshly installed Debian 12: builds a minimal
# bookworm root with debootstrap, clones the committed HEAD of this repository into it, and runs
# `bash scripts/test.sh` there in a chroot. Reports the result and the time taken.
#
# Nothing is kept between runs: the root, the clone and every package installed in it are made
# anew and deleted afterwards, so a package missing from scripts/install-deps.sh cannot hide.
# Needs root (or sudo) and network access to the Debian mirror.
#
# Usage: scripts/fresh-machine-check.sh
# Environment: TAVO_DEBIAN_MIRROR (default http://deb.debian.org/debian),
#              TAVO_FRESH_WORK_DIR (parent of the temporary root, default /var/tmp).
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"

if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=TAVO_DEBIAN_MIRROR,TAVO_FRESH_WORK_DIR bash "$0" "$@"
fi

mirror="${TAVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
revision="$(git -C "${repo}" rev-parse HEAD)"
started="$(date +%s)"
work="$(mktemp -d "${TAVO_FRESH_WORK_DIR:-/var/tmp}/tavo-fresh-machine.XXXXXX")"
root="${work}/root"
mounts=()
phase="setup"

elapsed() {
  local seconds=$(($(date +%s) - started))
  printf '%dm%02ds' $((seconds / 60)) $((seconds % 60))
}

# True while anything is still mounted at or below the root.
mounted_below_root() {
  awk -v root="${root}" '$2 == root || index($2, root "/") == 1 { found = 1 } END { exit !found }' \
    /proc/self/mounts
}

finish() {
  local status=$?
  trap - EXIT INT TERM
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount -R "${mounts[i]}" 2>/dev/null || umount -R -l "${mounts[i]}" 2>/dev/null || true
  done
  # Never delete through a mount that is still there: /dev is the host's own.
  if mounted_below_root; then
    echo "fresh-machine-check: mounts remain under ${root}; left it in place" >&2
    status=1
  else
    rm -rf "${work}"
  fi
  if [ "${status}" -eq 0 ]; then
    echo "fresh-machine-check: PASSED in $(elapsed) (revision ${revision})"
  else
    echo "fresh-machine-check: FAILED during ${phase} after $(elapsed) (revision ${revision})" >&2
  fi
  exit "${status}"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_into_root() {
  local target="${root}$1"; shift
  mkdir -p "${target}"
  mount "$@" "${target}"
  mounts+=("${target}")
}

phase="installing debootstrap"
if ! command -v debootstrap >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends debootstrap
fi

phase="debootstrap"
echo "fresh-machine-check: minimal bookworm root in ${root}"
debootstrap --variant=minbase bookworm "${root}" "${mirror}" >"${work}/debootstrap.log" 2>&1 || {
  tail -n 30 "${work}/debootstrap.log" >&2
  exit 1
}
cp /etc/resolv.conf "${root}/etc/resolv.conf"
# The network's own certificate authorities (a TLS-inspecting egress, say) belong to this
# machine, not to the project: the root trusts them as the host does, once ca-certificates is
# installed there.
if [ -d /usr/local/share/ca-certificates ]; then
  mkdir -p "${root}/usr/local/share/ca-certificates"
  cp -r /usr/local/share/ca-certificates/. "${root}/usr/local/share/ca-certificates/"
fi

phase="cloning"
# A clone holds exactly what is committed; the checkout is detached at this worktree's HEAD.
git clone -q --no-local --no-checkout "${repo}" "${root}/src"
git -C "${root}/src" checkout -q --detach "${revision}"

mount_into_root /proc -t proc proc
mount_into_root /sys -t sysfs sysfs
mount_into_root /dev --rbind /dev
mount --make-rslave "${root}/dev"

phase="the test command"
echo "fresh-machine-check: running 'bash scripts/test.sh' in the chroot"
chroot "${root}" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  LANG=C.UTF-8 /bin/bash -c 'cd /src && bash scripts/test.sh'
phase="done"
