#!/usr/bin/env bash
# Checks that the README's test command works on a freshly installed Debian 12: builds a minimal
# bookworm root with debootstrap, clones the committed HEAD of this repository into it, and runs
# `bash scripts/test.sh` there in a chroot. Reports the result and the time taken.
#
# The root, the clone and every package installed in it are made anew and deleted afterwards, so
# a package missing from scripts/install-deps.sh cannot hide: every package is still installed
# by the scripts in the root. Two things are kept between runs, neither of which can stand in for
# an installed package:
# - the downloaded .deb files (a cache outside the root that debootstrap and the root's apt read
#   before going to the mirror; apt checks each file against the mirror's index);
# - the compiler cache: the host's ccache is shared with the root, keyed by the compiler's content
#   and paths relative to the source, so the root's identical compiler reuses the host's objects.
#   A missing header still fails the compile (ccache checks every header it recorded), and
#   nothing is linked from the cache.
# Needs root (or sudo) and network access to the Debian mirror.
#
# Usage: scripts/fresh-machine-check.sh
# Environment: TAVO_DEBIAN_MIRROR (default http://deb.debian.org/debian),
#              TAVO_FRESH_WORK_DIR (parent of the temporary root, default /var/tmp),
#              TAVO_FRESH_DEB_CACHE (the .deb cache, default /var/cache/tavo-fresh-machine/debs;
#                                    "none" downloads everything),
#              TAVO_FRESH_CCACHE_DIR (the compiler cache shared with the root, default the host's
#                                     own ccache directory; "none" compiles from scratch).
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"

if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=TAVO_DEBIAN_MIRROR,TAVO_FRESH_WORK_DIR,TAVO_FRESH_DEB_CACHE,TAVO_FRESH_CCACHE_DIR bash "$0" "$@"
fi

mirror="${TAVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
revision="$(git -C "${repo}" rev-parse HEAD)"
started="$(date +%s)"
work="$(mktemp -d "${TAVO_FRESH_WORK_DIR:-/var/tmp}/tavo-fresh-machine.XXXXXX")"
root="${work}/root"
mounts=()
phase="setup"

deb_cache="${TAVO_FRESH_DEB_CACHE:-/var/cache/tavo-fresh-machine/debs}"
[ "${deb_cache}" = none ] && deb_cache=""
host_ccache="${TAVO_FRESH_CCACHE_DIR:-}"
if [ -z "${host_ccache}" ] && command -v ccache >/dev/null 2>&1; then
  host_ccache="$(ccache -k cache_dir 2>/dev/null || true)"
fi
[ "${host_ccache}" = none ] && host_ccache=""

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

# Marks the end of a phase with the time it took, so that a slow run shows where.
phase_started="$(date +%s)"
next_phase() {
  local now
  now="$(date +%s)"
  echo "fresh-machine-check: ${phase} took $((now - phase_started)) s"
  phase_started="${now}"
  phase="$1"
}

# Adds the .deb files in the root's apt cache that the cache lacks. Each file goes in under a
# temporary name first, so that a run beside this one never reads half a file.
keep_debs() {
  [ -n "${deb_cache}" ] || return 0
  local deb
  for deb in "${root}"/var/cache/apt/archives/*.deb; do
    [ -f "${deb}" ] || continue
    if [ ! -f "${deb_cache}/${deb##*/}" ]; then
      cp "${deb}" "${deb_cache}/.${deb##*/}.$$" && mv "${deb_cache}/.${deb##*/}.$$" "${deb_cache}/${deb##*/}"
    fi
  done
}

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

next_phase "debootstrap"
echo "fresh-machine-check: minimal bookworm root in ${root}"
debootstrap_cache=()
if [ -n "${deb_cache}" ]; then
  mkdir -p "${deb_cache}"
  debootstrap_cache=(--cache-dir="${deb_cache}")
  echo "fresh-machine-check: .deb cache ${deb_cache}"
fi
debootstrap "${debootstrap_cache[@]}" --variant=minbase bookworm "${root}" "${mirror}" \
  >"${work}/debootstrap.log" 2>&1 || {
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

# The root's apt keeps what it downloads (Debian's default; a container image may say otherwise),
# and starts from the files cached before. dpkg skips its fsync calls: the root is thrown away.
echo 'Binary::apt::APT::Keep-Downloaded-Packages "true";' >"${root}/etc/apt/apt.conf.d/90tavo-keep-debs"
echo force-unsafe-io >"${root}/etc/dpkg/dpkg.cfg.d/90tavo-unsafe-io"
if [ -n "${deb_cache}" ]; then
  mkdir -p "${root}/var/cache/apt/archives"
  # debootstrap has already put its own files there (the same files, linked): only the others.
  for deb in "${deb_cache}"/*.deb; do
    [ -e "${deb}" ] || continue
    target="${root}/var/cache/apt/archives/${deb##*/}"
    [ -e "${target}" ] || cp -l "${deb}" "${target}" 2>/dev/null || cp "${deb}" "${target}"
  done
fi

next_phase "cloning"
# A clone holds exactly what is committed; the checkout is detached at this worktree's HEAD.
git clone -q --no-local --no-checkout "${repo}" "${root}/src"
git -C "${root}/src" checkout -q --detach "${revision}"

mount_into_root /proc -t proc proc
mount_into_root /sys -t sysfs sysfs
mount_into_root /dev --rbind /dev
mount --make-rslave "${root}/dev"
ccache_env=()
if [ -n "${host_ccache}" ] && [ -d "${host_ccache}" ]; then
  mount_into_root /var/cache/tavo-ccache --bind "${host_ccache}"
  # The same keys as .ci/run's builds on the host: compiler by content, paths relative to the
  # source folder, the build folder's own path left out.
  ccache_env=(CCACHE_DIR=/var/cache/tavo-ccache CCACHE_BASEDIR=/src CCACHE_COMPILERCHECK=content
    CCACHE_NOHASHDIR=true CCACHE_STATSLOG=/var/log/tavo-ccache-stats.log)
  echo "fresh-machine-check: sharing the compiler cache ${host_ccache}"
fi

next_phase "the test command"
echo "fresh-machine-check: running 'bash scripts/test.sh' in the chroot"
status=0
chroot "${root}" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  LANG=C.UTF-8 "${ccache_env[@]}" /bin/bash -c 'cd /src && bash scripts/test.sh' || status=$?
if [ -f "${root}/var/log/tavo-ccache-stats.log" ]; then
  echo "fresh-machine-check: compiler cache in the root:"
  chroot "${root}" /usr/bin/env CCACHE_DIR=/var/cache/tavo-ccache \
    CCACHE_STATSLOG=/var/log/tavo-ccache-stats.log ccache --show-log-stats 2>&1 |
    grep -E -i "hits|misses" || true
fi
keep_debs
[ "${status}" -eq 0 ] || exit "${status}"
next_phase "done"
