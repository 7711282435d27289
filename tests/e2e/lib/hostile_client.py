#!/usr/bin/env python3
"""A hostile client against kestrova-service on loopback.

hostile_client.py HOST PORT PID WORK
Each check prints one line; a failed check exits 1 at once. Every loop is
bounded in count and time; the whole run takes about a minute.
Limits asserted: answers (status and timing) and the service's resident
memory from /proc/PID/status.
"""
import base64
import os
import select
import socket
import sys
import threading
import time
import urllib.parse

HOST, PORT, PID, WORK = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
MIB = 1 << 20
MAX_BODY = 16 * MIB
# Peak memory one request may add, as a multiple of its body (stated in the README).
MEMORY_MULTIPLE = 8
SEP = "[;]"


def fail(msg):
    print("FAIL: " + msg, flush=True)
    sys.exit(1)


def ok(msg):
    print("ok: " + msg, flush=True)


def memory():
    """(VmHWM, VmRSS) of the service in bytes."""
    vals = {}
    with open("/proc/%d/status" % PID) as f:
        for line in f:
            k, _, v = line.partition(":")
            if k in ("VmHWM", "VmRSS"):
                vals[k] = int(v.split()[0]) * 1024
    return vals["VmHWM"], vals["VmRSS"]


def connect(source="127.0.0.1", timeout=30):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    s.bind((source, 0))
    s.connect((HOST, PORT))
    return s


def read_answer(s, limit=30):
    """Everything until the server closes or `limit` seconds pass."""
    s.settimeout(limit)
    data = b""
    end = time.time() + limit
    try:
        while time.time() < end:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
            if b"\r\n\r\n" in data:
                head, _, rest = data.partition(b"\r\n\r\n")
                for line in head.split(b"\r\n"):
                    if line.lower().startswith(b"content-length:") and len(rest) >= int(line.split(b":")[1]):
                        return data
    except (socket.timeout, ConnectionResetError):
        pass
    return data


def status_of(answer):
    try:
        return int(answer.split(b" ", 2)[1])
    except (IndexError, ValueError):
        return 0


def send_all(s, data, deadline):
    """Sends what the server takes until `deadline`; False when it stopped taking."""
    try:
        view = memoryview(data)
        while view and time.time() < deadline:
            n = s.send(view[:65536])
            view = view[n:]
        return True
    except (BrokenPipeError, ConnectionResetError, socket.timeout):
        return False


def flood(s, piece, most, seconds):
    """Sends `piece` again and again until the server answers, `most` bytes
    are sent or `seconds` pass; returns the bytes sent."""
    sent, deadline = 0, time.time() + seconds
    try:
        while time.time() < deadline and sent < most:
            readable, _, _ = select.select([s], [], [], 0)
            if readable:
                break
            s.sendall(piece)
            sent += len(piece)
    except (BrokenPipeError, ConnectionResetError):
        pass
    return sent


def request(method, path, body=b"", headers=None, source="127.0.0.1", limit=30):
    s = connect(source)
    head = "%s %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" % (method, path)
    for k, v in (headers or {}).items():
        head += "%s: %s\r\n" % (k, v)
    if body or method == "POST":
        head += "Content-Length: %d\r\n" % len(body)
    s.sendall(head.encode() + b"\r\n")
    send_all(s, body, time.time() + limit)
    started = time.time()
    answer = read_answer(s, limit)
    s.close()
    return status_of(answer), answer, time.time() - started


def b64(text):
    return base64.b64encode(text.encode("cp1252")).decode()


def entry(n, name="Device", date="11-18-2019"):
    return "\r\ndriver_%d=%s" % (n, SEP.join([name, "1.0", "Maker", date, "PCI\\VEN_1,", "x", "Net", "oem1.inf",
                                               "PCI\\VEN_10EC&DEV_8168,", "", "", "0"]))


def form(scanid, data, log="log"):
    pairs = [("drivers", b64(data + "\r\n\r\nCaption=x")), ("hwid", b64("WD-1")), ("scanid", scanid),
             ("setup_api_log", log)]
    return urllib.parse.urlencode(pairs).encode()


FORM = {"Content-Type": "application/x-www-form-urlencoded"}


def post(body, **kw):
    return request("POST", "/report", body, dict(FORM, **kw.pop("headers", {})), **kw)


def healthy(limit=2.0):
    code, _, took = request("GET", "/healthz", limit=10)
    return code == 200 and took < limit


def reset_peak():
    """Starts a new peak (VmHWM) at the current resident size; returns that size."""
    with open("/proc/%d/clear_refs" % PID, "w") as f:
        f.write("5")
    return memory()[1]


def check_memory(before_hwm, body_size, what):
    hwm, rss = memory()
    grew = hwm - before_hwm
    bound = MEMORY_MULTIPLE * max(body_size, MIB)
    if grew > bound:
        fail("%s: peak memory grew by %d MiB, more than %d x its %d KiB body" %
             (what, grew // MIB, MEMORY_MULTIPLE, body_size // 1024))
    ok("%s: peak memory +%d MiB (bound %d MiB), resident %d MiB" % (what, grew // MIB, bound // MIB, rss // MIB))


t0 = time.time()
if not healthy():
    fail("/healthz before the run")

# 1. A date of 30,000 spaces: once a stack overflow in the reader.
body = form("A" * 32, entry(1, date=" " * 30000 + "1-1-2000"))
code, _, _ = post(body)
if code != 200 or not healthy():
    fail("the spaced date got %d, or the service died" % code)
ok("a 30,000-space date is read (200) and the service lives")

# 2. Header lines without end: refused at the header limit, memory flat.
hwm0 = reset_peak()
s = connect()
s.sendall(b"POST /report HTTP/1.1\r\nHost: x\r\n")
sent = flood(s, (b"X-Pad: " + b"a" * 100 + b"\r\n") * 100, 64 * MIB, 5)
answer = read_answer(s, 5)
s.close()
if status_of(answer) not in (400, 431):
    fail("endless headers: %d after %d KiB sent" % (status_of(answer), sent // 1024))
ok("endless headers refused %d after %d KiB" % (status_of(answer), sent // 1024))
check_memory(hwm0, 16 * 1024, "endless headers")

# 3. A chunked body past the limit, counted on the bytes read; a compressed one.
hwm0 = reset_peak()
s = connect()
s.sendall(b"POST /report HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
          b"Transfer-Encoding: chunked\r\n\r\n")
sent = flood(s, b"10000\r\n" + b"a" * 0x10000 + b"\r\n", 100 * MIB, 10)
answer = read_answer(s, 5)
s.close()
if status_of(answer) != 413:
    fail("a chunked 100 MiB body got %d after %d MiB" % (status_of(answer), sent // MIB))
ok("a chunked body stopped after %d MiB (%s)" % (sent // MIB, status_of(answer) or "closed"))
check_memory(hwm0, MAX_BODY, "chunked body")
code, _, _ = post(b"\x1f\x8b" + b"\0" * 100, headers={"Content-Encoding": "gzip"})
if code != 415:
    fail("a gzip body got %d" % code)
ok("a gzip body refused 415")

# 4. 16 MiB of a&a&a...: one field each, refused early, memory bounded.
hwm0 = reset_peak()
body = b"a&" * (MAX_BODY // 2 - 8)
code, answer, _ = post(body)
if code != 400 or b"fields" not in answer:
    fail("16 MiB of a&a& got %d" % code)
check_memory(hwm0, len(body), "16 MiB of a&a&")

# A whole report near the limit: the peak multiple for a real post.
hwm0 = reset_peak()
log = ("x" * 1000 + "\r\n") * (8 * 1024)  # 8 MiB of setup log
body = form("B" * 32, entry(1), log)
code, _, took = post(body)
if code != 200:
    fail("an 8 MiB report got %d" % code)
check_memory(hwm0, len(body), "an %d MiB report" % (len(body) // MIB))

# 5. One entry continued over many lines: linear, answered quickly.
data = "\r\ndriver_1=" + "x\r\n" * (5 * MIB // 3)
code, _, took = post(form("C" * 32, data), limit=30)
if code not in (200, 400) or took > 10:
    fail("a 5 MB continued entry: %d after %.1f s" % (code, took))
ok("a 5 MB continued entry answered %d in %.2f s" % (code, took))

# Devices beyond the cap: 413 with the reason.
data = "".join(entry(i + 1) for i in range(10001))
code, answer, _ = post(form("D" * 32, data))
if code != 413 or b"10000 devices" not in answer:
    fail("10,001 devices got %d" % code)
ok("10,001 devices refused 413")

# 6. 64 clients dribbling a byte a second, from four loopback addresses;
#    others are served promptly, and one address gets no more than its cap.
slow = []
stop = threading.Event()


def dribble(source):
    # The request line and headers a byte a second: they never end.
    try:
        s = connect(source)
        slow.append(s)
        for c in b"POST /report HTTP/1.1\r\nHost: x\r\n" + b"X" * 1000:
            if stop.is_set():
                break
            s.send(bytes([c]))
            stop.wait(1)
    except OSError:
        pass


threads = [threading.Thread(target=dribble, args=("127.0.0.%d" % (2 + i % 4),), daemon=True) for i in range(64)]
for t in threads:
    t.start()
time.sleep(1.5)
for _ in range(3):
    if not healthy(1.0):
        fail("/healthz slow or refused with 64 slow clients")
code, _, took = post(form("E" * 32, entry(1)))
if code != 200 or took > 2:
    fail("a post with 64 slow clients: %d in %.1f s" % (code, took))
ok("64 slow clients: /healthz and a post answered at once (%.2f s)" % took)
code, _, _ = request("GET", "/healthz", source="127.0.0.2")
if code != 429:
    fail("a 17th connection from one address got %d" % code)
ok("a 17th connection from one address refused 429")

# 12. An announced body that never comes: 408 within the body deadline (5 s here).
s = connect()
s.sendall(b"POST /report HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
          b"Content-Length: 1000\r\n\r\n")
started = time.time()
answer = read_answer(s, 20)
s.close()
if status_of(answer) != 408 or time.time() - started > 7:
    fail("a body that never comes: %d after %.1f s" % (status_of(answer), time.time() - started))
ok("a body that never comes: 408 after %.1f s" % (time.time() - started))

# 11. First post wins.
code, _, _ = post(form("E" * 32, entry(1), log="other"))
if code != 409:
    fail("another report under a stored scan id got %d" % code)
ok("another report under a stored scan id refused 409")

# 12. Cheap reads: a large stored report is rendered once per catalog.
data = "".join(entry(i + 1, name="Device %d" % i) for i in range(5000))
code, _, _ = post(form("F" * 32, data))
if code != 200:
    fail("a 5,000-device report got %d" % code)
took = []
for _ in range(3):
    code, _, t = request("GET", "/api/reports/" + "F" * 32)
    took.append(t)
if code != 200 or min(took[1:]) > took[0] / 2 + 0.05:
    fail("repeated reads of a large report are not cheaper: %s" % took)
ok("a 5,000-device report read in %.2f s, then %.3f s" % (took[0], min(took[1:])))

# 7. SIGTERM with the slow clients still connected: exit within the grace.
alive = sum(1 for t in threads if t.is_alive())
os.kill(PID, 15)
started = time.time()
while time.time() - started < 30:
    try:
        with open("/proc/%d/status" % PID) as f:
            if "\nState:\tZ" in f.read():
                break
    except FileNotFoundError:
        break
    time.sleep(0.1)
took = time.time() - started
stop.set()
if took > 13:
    fail("SIGTERM with %d slow clients: still running after %.1f s" % (alive, took))
ok("SIGTERM with %d slow clients connected: ended after %.1f s" % (alive, took))
print("hostile client done in %.0f s" % (time.time() - t0), flush=True)
