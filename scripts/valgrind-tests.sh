#!/usr/bin/env bash
# Runs the Linux test programs under valgrind memcheck, each against fresh
# simulated instruments; fails on any memory error or leak.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/quietly.sh
scripts/install-deps.sh all
quietly cmake --preset linux
quietly cmake --build --preset linux
bin=build/linux/bin
memcheck=(valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible
          --show-leak-kinds=definite,indirect,possible)
status=0
for test in unit_tests serial_posix_tests serial_port_tests exchange_tests operations_tests c_interface_tests \
            fault_matrix_tests; do
  echo "== $test"
  tests/run_with_sim.sh --sim "$bin/varek-sim" --instruments 2 -- "${memcheck[@]}" "$bin/$test" --gtest_brief=1 ||
    status=1
done
echo "== soak (20000 exchanges)"
tests/run_with_sim.sh --sim "$bin/varek-sim" -- bash -c "${memcheck[*]} $bin/soak \"\$VAREK_SIM_C_PORT\" 20000" || status=1
exit $status
