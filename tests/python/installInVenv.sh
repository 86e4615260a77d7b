#!/usr/bin/env bash
# Makes a fresh virtual environment at $2 with Debian's Python $1 (seeing the system's packages:
# numpy, pytest, scikit-image, OpenCV) and installs the bindings from $3 into it the way a user
# does, offline: no package index, Debian's setuptools as the build backend. Then checks that
# the package imported from elsewhere is the installed copy.
set -euo pipefail
python="$1" venv="$2" source="$3"
rm -rf "${venv}"
"${python}" -m venv --system-site-packages "${venv}"
# A copy of the source, so that the build leaves nothing in the source tree.
work="$(mktemp -d)"
trap 'rm -rf "${work}"' EXIT
cp -r "${source}" "${work}/python"
"${venv}/bin/pip" install --quiet --no-index --no-build-isolation --disable-pip-version-check \
  "${work}/python"
cd /
location="$("${venv}/bin/python" -c 'import tavo_headtracking; print(tavo_headtracking.__file__)')"
case "${location}" in
  "${venv}"/*) echo "installed: ${location}" ;;
  *) echo "the package imported is not the installed one: ${location}" >&2; exit 1 ;;
esac
