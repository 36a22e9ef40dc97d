#!/usr/bin/env bash
# Runs the vector-math tests with glibc's SSE2 exp and log: the tunable hides
# AVX2 and FMA from glibc's own choice of variant (not from the CPU checks of
# tov_sr), so the self-check must turn the vector exp and log off while the
# array interfaces still equal the scalar calls.
#   tools/run_vector_math_sse2.sh [BUILD_DIR]    (default: build/vec)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/vec}
GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA "$build/tov_sr_tests" --gtest_filter='Vector*' \
  --gtest_brief=1
