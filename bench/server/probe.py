#!/usr/bin/env python3
"""Probes an HTTP server as one more client would, for bench/server/shares.sh.

  probe.py PORT FROM COUNT INTERVAL

COUNT probes one after another, INTERVAL seconds apart: each opens a new connection from the
local address FROM (127.0.0.2 is another client than 127.0.0.1 on loopback) to 127.0.0.1:PORT,
asks GET /healthz and reads the answer whole. A probe is answered when a 200 came within 5 s.
Prints one line: probes, answered (and share), p50 and p99 of the answered probes' times.
"""
import socket
import sys
import time

REQUEST = b"GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"
PATIENCE = 5.0


def probe(port, source):
    start = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=PATIENCE, source_address=(source, 0)) as connection:
            connection.sendall(REQUEST)
            received = b""
            while time.monotonic() - start < PATIENCE:
                piece = connection.recv(4096)
                if not piece:
                    break
                received += piece
    except OSError:
        return None
    if not received.startswith(b"HTTP/1.1 200"):
        return None
    return (time.monotonic() - start) * 1000


def percentile(values, share):
    return values[min(len(values) - 1, int(len(values) * share))] if values else float("nan")


def main():
    port, source, count, interval = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
    times = []
    for _ in range(count):
        took = probe(port, source)
        if took is not None:
            times.append(took)
        time.sleep(interval)
    times.sort()
    print(f"{count} probes from {source}: {len(times)} answered ({100.0 * len(times) / count:.1f} %), "
          f"p50 {percentile(times, 0.5):.1f} ms, p99 {percentile(times, 0.99):.1f} ms", flush=True)


main()
