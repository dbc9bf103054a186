#!/usr/bin/env python3
"""Holds many connections open against an HTTP server, for bench/server/attack.sh.

  hold.py slow PORT COUNT SECONDS READY_FILE   COUNT connections sending a request head a byte a
                                               second (reopened when the server closes them)
  hold.py idle PORT COUNT SECONDS READY_FILE   COUNT connections that each ask GET /healthz once,
                                               read the answer and then stay idle (kept alive)

READY_FILE is written once all COUNT are open (slow: or each has been opened once, against a server
that closes some of one address's connections to make room for more); at the end one line of
counts is printed.
"""
import asyncio
import signal
import sys

HEAD = b"GET /healthz HTTP/1.1\r\nHost: x\r\n" + b"X-Slow: " + b"a" * 4000 + b"\r\n\r\n"
OPENING_AT_ONCE = 400


class Counts:
    open = 0
    opened = 0
    closed_by_server = 0
    failed = 0


async def connect(port, gate):
    async with gate:
        return await asyncio.open_connection("127.0.0.1", port)


async def slow(port, counts, gate, stop):
    while not stop.is_set():
        try:
            reader, writer = await connect(port, gate)
        except OSError:
            counts.failed += 1
            await asyncio.sleep(0.5)
            continue
        counts.open += 1
        counts.opened += 1
        try:
            for byte in HEAD:
                if stop.is_set():
                    break
                writer.write(bytes([byte]))
                await writer.drain()
                try:
                    # Any answer or a hang-up: the server ended this slow head.
                    await asyncio.wait_for(reader.read(1024), timeout=1.0)
                    counts.closed_by_server += 1
                    break
                except asyncio.TimeoutError:
                    pass
        except OSError:
            counts.closed_by_server += 1
        finally:
            counts.open -= 1
            writer.close()


async def idle(port, counts, gate, stop):
    try:
        reader, writer = await connect(port, gate)
        writer.write(b"GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n")
        await writer.drain()
        head = await reader.readuntil(b"\r\n\r\n")
        length = 0
        for line in head.split(b"\r\n"):
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":")[1])
        await reader.readexactly(length)
    except (OSError, asyncio.IncompleteReadError):
        counts.failed += 1
        return
    counts.open += 1
    counts.opened += 1
    try:
        done = asyncio.ensure_future(stop.wait())
        closed = asyncio.ensure_future(reader.read(1))
        await asyncio.wait({done, closed}, return_when=asyncio.FIRST_COMPLETED)
        if closed.done():
            counts.closed_by_server += 1
        closed.cancel()
        done.cancel()
    finally:
        counts.open -= 1
        writer.close()


async def main():
    mode, port, count, seconds, ready_file = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
    counts = Counts()
    gate = asyncio.Semaphore(OPENING_AT_ONCE)
    stop = asyncio.Event()
    task = slow if mode == "slow" else idle
    tasks = [asyncio.ensure_future(task(port, counts, gate, stop)) for _ in range(count)]
    loop = asyncio.get_running_loop()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    deadline = loop.time() + seconds
    ready = False
    least_open = count
    while loop.time() < deadline and not stop.is_set():
        await asyncio.sleep(0.2)
        if stop.is_set():
            break
        if not ready and (counts.open >= count * 0.99 or (mode == "slow" and counts.opened >= count)):
            ready = True
            with open(ready_file, "w") as f:
                f.write("ready\n")
        if ready:
            least_open = min(least_open, counts.open)
    stop.set()
    await asyncio.gather(*tasks, return_exceptions=True)
    print(f"{mode}: {count} wanted, ready={ready}, fewest open once ready {least_open if ready else 0}, "
          f"opened {counts.opened}, closed by the server {counts.closed_by_server}, failed {counts.failed}", flush=True)


asyncio.run(main())
