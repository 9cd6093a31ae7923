#!/usr/bin/env bash
# Fails unless the library exports every function of the C interface under
# its plain, undecorated name. Reads varek.dll's export table or
# libvarek.so's dynamic symbols.
set -euo pipefail
library=$1
case "$library" in
  *.dll) exported=$(x86_64-w64-mingw32-objdump -p "$library" |
                    awk '/\[Ordinal\/Name Pointer\] Table/ {table=1; next} table && NF == 0 {table=0} table {print $NF}') ;;
  *) exported=$(nm -D --defined-only "$library" | awk '{print $NF}') ;;
esac
status=0
for name in varek_init varek_close varek_set_trigger varek_set_trigger_freq varek_set_output_channel \
            varek_set_delay varek_set_pulse_width varek_set_global_output varek_software_trigger \
            varek_read_temperature varek_read_timing_config; do
  if grep -qx "$name" <<<"$exported"; then echo "exported: $name"; else echo "MISSING: $name" >&2; status=1; fi
done
exit $status
