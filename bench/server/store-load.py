#!/usr/bin/env python3
"""Load on a running cantorella-server's store: concurrent sign-ups, concurrent backup uploads, and
one refresh chain rotated many times. Prints one line per phase: how many requests, their statuses
(a count per status; 0 = no answer) and the latency p50/p99 in ms.

    store-load.py BASE ANONKEY signups CLIENTS SECONDS
    store-load.py BASE ANONKEY backups CLIENTS MEGABYTES ROUNDS
    store-load.py BASE ANONKEY refresh COUNT
"""
import http.client
import json
import sys
import threading
import time
import uuid
from collections import Counter
from urllib.parse import urlparse


def connection(base):
    url = urlparse(base)
    return http.client.HTTPConnection(url.hostname, url.port, timeout=300)


def request(conn, method, path, body, headers):
    """(status, seconds, parsed JSON or None); status 0 when the exchange failed."""
    started = time.monotonic()
    try:
        conn.request(method, path, body=body, headers=headers)
        answer = conn.getresponse()
        data = answer.read()
        status = answer.status
    except (OSError, http.client.HTTPException):
        conn.close()
        return 0, time.monotonic() - started, None
    try:
        parsed = json.loads(data) if data else None
    except ValueError:
        parsed = None
    return status, time.monotonic() - started, parsed


def sign_up(conn, anon, email):
    body = json.dumps({"email": email, "password": "bench-password"})
    return request(conn, "POST", "/auth/v1/signup", body, {"apikey": anon, "Content-Type": "application/json"})


def percentile(values, share):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(share * (len(ordered) - 1))))] * 1000


def report(name, results):
    statuses = Counter(status for status, _ in results)
    times = [seconds for _, seconds in results]
    shown = ", ".join("%d×%d" % (count, status) for status, count in sorted(statuses.items()))
    print("%-44s %6d requests  [%s]  p50 %8.1f ms  p99 %8.1f ms"
          % (name, len(results), shown, percentile(times, 0.5), percentile(times, 0.99)), flush=True)


def run_threads(count, work):
    start = threading.Barrier(count)
    results = []
    lock = threading.Lock()

    def body(index):
        start.wait()
        mine = work(index)
        with lock:
            results.extend(mine)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return results


def signups(base, anon, clients, seconds):
    deadline = [0.0]

    def work(index):
        conn = connection(base)
        mine = []
        while time.monotonic() < deadline[0]:
            status, took, _ = sign_up(conn, anon, "signup-%s@example.com" % uuid.uuid4().hex)
            mine.append((status, took))
            if status == 0:
                conn = connection(base)
        return mine

    deadline[0] = time.monotonic() + seconds
    report("%d clients signing up for %d s" % (clients, seconds), run_threads(clients, work))


def backups(base, anon, clients, megabytes, rounds):
    tokens = [None] * clients

    def prepare(index):
        conn = connection(base)
        for _ in range(20):  # past a 503 the sign-up is asked again
            status, _, answer = sign_up(conn, anon, "backup-%d-%s@example.com" % (index, uuid.uuid4().hex))
            if status == 200:
                tokens[index] = answer["access_token"]
                break
            time.sleep(0.5)
        return []

    run_threads(clients, prepare)
    ready = [t for t in tokens if t]
    document = ('{"namespaces":{"en":"' + "x" * (megabytes * 1000 * 1000 - 22) + '"}}').encode()

    def work(index):
        conn = connection(base)
        mine = []
        for _ in range(rounds):
            status, took, _ = request(conn, "PUT", "/api/backup?namespace=en", document,
                                      {"Authorization": "Bearer " + ready[index], "Content-Type": "application/json"})
            mine.append((status, took))
            if status == 0:
                conn = connection(base)
        return mine

    report("%d clients, %d × %d MB PUT each" % (len(ready), rounds, megabytes), run_threads(len(ready), work))


def refresh(base, anon, count):
    conn = connection(base)
    status, _, answer = sign_up(conn, anon, "refresh-%s@example.com" % uuid.uuid4().hex)
    if status != 200:
        sys.exit("sign-up for the refresh chain answered %d" % status)
    token = answer["refresh_token"]
    results = []
    for _ in range(count):
        status, took, answer = request(conn, "POST", "/auth/v1/token?grant_type=refresh_token",
                                       json.dumps({"refresh_token": token}),
                                       {"apikey": anon, "Content-Type": "application/json"})
        results.append((status, took))
        if status == 200:
            token = answer["refresh_token"]
        elif status == 0:
            conn = connection(base)
    report("%d refreshes of one chain, one after another" % count, results)


def main():
    base, anon, phase = sys.argv[1], sys.argv[2], sys.argv[3]
    numbers = [int(value) for value in sys.argv[4:]]
    {"signups": signups, "backups": backups, "refresh": refresh}[phase](base, anon, *numbers)


if __name__ == "__main__":
    main()
