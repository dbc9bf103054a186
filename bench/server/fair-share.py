#!/usr/bin/env python3
"""One account's heavy or slow backup transfers beside other clients, against a running
cantorella-server. Each mode prints one line (statuses: a count per status, 0 = no answer).

    fair-share.py BASE TOKEN trickle COUNT RATE SECONDS
        COUNT uploads at once, each sending its body at RATE bytes a second for SECONDS.
    fair-share.py BASE TOKEN loops COUNT MEBIBYTES SECONDS
        COUNT clients uploading a backup of MEBIBYTES each, back to back, for SECONDS.
    fair-share.py BASE TOKEN stall COUNT SECONDS READY_FILE
        COUNT downloads that read the answer's head and then nothing more, held for SECONDS;
        READY_FILE is written once every head has come.
    fair-share.py spool PID FOLDER
        The bytes of the files PID holds open in FOLDER that have no name (spool copies).
"""
import asyncio
import http.client
import os
import sys
import threading
import time
from collections import Counter
from urllib.parse import urlparse


def address(base):
    url = urlparse(base)
    return url.hostname, url.port


def head(method, token, length=None):
    lines = [f"{method} /api/backup?namespace=en HTTP/1.1", "Host: 127.0.0.1", f"Authorization: Bearer {token}"]
    if length is not None:
        lines.append(f"Content-Length: {length}")
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


def statuses(counter):
    return ", ".join(f"{count} × {status}" for status, count in sorted(counter.items()))


async def trickle_one(host, port, token, rate, seconds, results):
    length = rate * seconds
    try:
        reader, writer = await asyncio.open_connection(host, port)
        writer.write(head("PUT", token, length))
        piece = b"x" * (rate // 10)
        sent = 0
        while sent < length:
            writer.write(piece[: length - sent])
            sent += min(len(piece), length - sent)
            await writer.drain()
            await asyncio.sleep(0.1)
        line = await asyncio.wait_for(reader.readline(), 60)
        results[int(line.split()[1]) if line else 0] += 1
        writer.close()
    except (OSError, asyncio.TimeoutError, ValueError, IndexError):
        results[0] += 1


def trickle(base, token, count, rate, seconds):
    host, port = address(base)
    results = Counter()

    async def run():
        await asyncio.gather(*(trickle_one(host, port, token, rate, seconds, results) for _ in range(count)))

    asyncio.run(run())
    print(f"{count} uploads at {rate} B/s for {seconds} s: {statuses(results)}")


def loops(base, token, count, mebibytes, seconds):
    host, port = address(base)
    body = b'{"library":"' + b"y" * (mebibytes * 1024 * 1024 - 16) + b'"}'
    results = Counter()
    lock = threading.Lock()
    until = time.monotonic() + seconds

    def client():
        while time.monotonic() < until:
            conn = http.client.HTTPConnection(host, port, timeout=600)
            try:
                conn.request("PUT", "/api/backup?namespace=en", body=body, headers={"Authorization": f"Bearer {token}"})
                answer = conn.getresponse()
                answer.read()
                status = answer.status
            except (OSError, http.client.HTTPException):
                status = 0
            conn.close()
            with lock:
                results[status] += 1

    threads = [threading.Thread(target=client) for _ in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    print(f"{count} upload loops of {mebibytes} MiB for {seconds} s: {sum(results.values())} uploads, {statuses(results)}")


def stall(base, token, count, seconds, ready_file):
    import socket
    host, port = address(base)
    held, results = [], Counter()
    for _ in range(count):
        sock = socket.create_connection((host, port))
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        sock.sendall(head("GET", token))
        received = b""
        while b"\r\n\r\n" not in received:
            got = sock.recv(1)
            if not got:
                break
            received += got
        results[int(received.split()[1]) if received else 0] += 1
        held.append(sock)
    with open(ready_file, "w") as ready:
        ready.write(f"{count} stalled downloads: {statuses(results)}\n")
    time.sleep(seconds)
    for sock in held:
        sock.close()


def spool(pid, folder):
    total = 0
    fds = f"/proc/{pid}/fd"
    for fd in os.listdir(fds):
        try:
            target = os.readlink(f"{fds}/{fd}")
        except OSError:
            continue
        # An unnamed file of the folder: "FOLDER/#inode (deleted)" or "FOLDER/.spool-… (deleted)".
        if target.startswith(folder + "/") and target.endswith(" (deleted)") and "-backups/" not in target:
            try:
                total += os.stat(f"{fds}/{fd}").st_size
            except OSError:
                pass
    print(total)


if __name__ == "__main__":
    if sys.argv[1] == "spool":
        spool(sys.argv[2], sys.argv[3])
    else:
        base, token, mode, *rest = sys.argv[1:]
        if mode == "trickle":
            trickle(base, token, int(rest[0]), int(rest[1]), int(rest[2]))
        elif mode == "loops":
            loops(base, token, int(rest[0]), int(rest[1]), int(rest[2]))
        elif mode == "stall":
            stall(base, token, int(rest[0]), int(rest[1]), rest[2])
