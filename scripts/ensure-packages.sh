#!/usr/bin/env bash
# Makes sure the Debian packages a make target needs are installed.
#
# Usage: scripts/ensure-packages.sh GROUP...
#   build   compiler, CMake and GoogleTest
#   python  the interpreter, its headers and pybind11, for the Python package,
#           venv, pip, setuptools and wheel, to install it as users do, and
#           python3-mypy, whose stubtest its tests run
#   bench   Google Benchmark, plus the optional peer libraries and tools it
#           compares with (jq, Python and GNU time for bench/cli_bench.sh,
#           Debian's msgpack module for bench/python_bench.py)
#   fuzz    clang and its libFuzzer runtime
#   lint    clang-format and clang-tidy
#
# Everything present: returns at once, without touching apt. Something
# missing: as root it is installed; otherwise the script prints the apt-get
# line to run and fails if a required package is among the missing.
set -euo pipefail

required=()
optional=()
for group in "$@"; do
  case "$group" in
    build) required+=(g++ cmake make pkg-config libgtest-dev) ;;
    python)
      required+=(python3 python3-dev pybind11-dev)
      # pip install . into a fresh venv, as the install test does it
      required+=(python3-venv python3-pip python3-setuptools python3-wheel)
      # stubtest, which checks the package's type stubs (Debian's Python)
      required+=(python3-mypy)
      ;;
    bench)
      required+=(libbenchmark-dev)
      optional+=(rapidjson-dev nlohmann-json3-dev libmsgpack-cxx-dev
                 liblmdb-dev libleveldb-dev liblz4-dev zlib1g-dev libssl-dev
                 libsqlite3-dev jq python3 time
                 python3-msgpack)
      # The peer of quorvel.kv in bench/python_bench.py.
      optional+=(python3-gdbm)
      ;;
    fuzz) required+=(clang libclang-rt-14-dev) ;;
    lint) required+=(clang-format clang-tidy) ;;
    *)
      echo "ensure-packages: unknown group '$group' (build, python, bench, fuzz, lint)" >&2
      exit 2
      ;;
  esac
done
[ ${#required[@]} -eq 0 ] && [ ${#optional[@]} -eq 0 ] && exit 0

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "ensure-packages: not a Debian system; make sure these are installed:" \
       "${required[*]} ${optional[*]}" >&2
  exit 0
fi

# One dpkg-query call for all of them (it fails when any is unknown, which
# is expected); a package that was removed but left its configuration behind
# has another status, so it counts as missing too.
status="$(dpkg-query -W -f='${Package} ${Status}\n' \
            "${required[@]}" "${optional[@]}" 2>/dev/null || true)"
installed=" $(awk '$NF == "installed" { printf "%s ", $1 }' <<<"$status") "

missing_required=()
missing_optional=()
for p in "${required[@]}"; do
  [[ "$installed" == *" $p "* ]] || missing_required+=("$p")
done
for p in "${optional[@]}"; do
  [[ "$installed" == *" $p "* ]] || missing_optional+=("$p")
done
missing=("${missing_required[@]}" "${missing_optional[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "ensure-packages: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  if [ ${#missing_required[@]} -gt 0 ]; then
    apt-get install -y -q --no-install-recommends "${missing_required[@]}"
  fi
  # A peer that cannot be had only costs its column in the benchmark table.
  if [ ${#missing_optional[@]} -gt 0 ] &&
     ! apt-get install -y -q --no-install-recommends "${missing_optional[@]}"; then
    for p in "${missing_optional[@]}"; do
      apt-get install -y -q --no-install-recommends "$p" ||
        echo "ensure-packages: could not install $p; the benchmark skips it"
    done
  fi
  exit 0
fi

if [ ${#missing_optional[@]} -gt 0 ]; then
  echo "ensure-packages: optional benchmark peers missing: ${missing_optional[*]}"
  echo "  the benchmark skips them; to compare against them run:"
  echo "  sudo apt-get install -y ${missing_optional[*]}"
fi
if [ ${#missing_required[@]} -gt 0 ]; then
  echo "ensure-packages: missing required packages; run:" >&2
  echo "sudo apt-get install -y ${missing_required[*]}" >&2
  exit 1
fi
exit 0
