"""What a lab engineer would otherwise write: the same exchange with pySerial.
Discards stale input, writes the request, reads the head, length and body.

    pyserial_client.py PORT COUNT trigger|status|timeout
Prints the same line as exchange_client."""
import statistics
import sys
import time

import serial

REQUESTS = {
    "trigger": bytes([0xEB, 0x90, 0x06, 0x00, 0x14, 0x00, 0x00, 0x95, 0x01, 0xCC]),
    "status": bytes([0xEB, 0x90, 0x06, 0x00, 0xC1, 0x00, 0x00, 0x42, 0x02, 0xCC]),
}


def exchange(port, request):
    port.reset_input_buffer()
    port.write(request)
    head = port.read(4)
    if len(head) < 4 or head[:2] != b"\xeb\x90":
        return False
    length = head[2] | head[3] << 8
    return len(port.read(length)) == length


def main():
    name, count, kind = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    request = REQUESTS.get(kind, REQUESTS["trigger"])
    # serial_for_url opens device names and socket:// or rfc2217:// alike.
    with serial.serial_for_url(name, 115200, timeout=1.0) as port:
        latencies, failures = [], 0
        cpu_before = time.process_time()
        for _ in range(count):
            start = time.perf_counter()
            if not exchange(port, request):
                failures += 1
            latencies.append((time.perf_counter() - start) * 1e6)
        cpu_us = (time.process_time() - cpu_before) * 1e6 / count
    latencies.sort()
    p99 = latencies[min(len(latencies) - 1, len(latencies) * 99 // 100)]
    print(f"median_us={statistics.median(latencies):.1f} p99_us={p99:.1f} "
          f"cpu_us_per_exchange={cpu_us:.1f} failures={failures}")


if __name__ == "__main__":
    main()
