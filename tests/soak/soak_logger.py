#!/usr/bin/env python3
"""Fault soak of vostral-logger (not in CI; ./run soak-logger [--minutes N]).

The simulated LV51 on USB sends a ramp (every PM2.5 value unique) and logs what it delivered
(--sent-log); the logger runs under a supervisor loop that restarts it when it dies, and meets:
replugs, a broker restart, SIGHUP, kill -9, a full disk (its folder on a small tmpfs) and a wall
clock stepped forward 2 minutes and back 1 minute (libfaketime, monotonic clock untouched).
At the end every sent PM2.5 value must be in the day files (YYYY-MM-DD.csv, YYYY-MM-DD-2.csv, ...)
once, with times never going back within a file, except values sent inside these windows: a
replug (from the pull until AFTER_PLUG s after the plug-in), the kill -9 (SYNC s before it until
1 s after the restarted logger found the sensor), the start (until 1 s after the logger first found
it) and the stop. A full disk loses nothing: the logger's queue holds the readings until the filler
is gone. "Found" is read from the logger's messages. A shorter run brings the faults closer together.
"""
import argparse, collections, contextlib, datetime, glob, os, shutil, signal, socket, subprocess, sys, tempfile, threading, time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
REPLUG_DELAY = 3.0   # s the sensor stays out
AFTER_PLUG = 5.0     # s a replugged sensor may take to be found again (the logger looks every 2 s)
SYNC = 5             # the logger's --sync: what a kill -9 may lose
# Restart=on-failure: a logger that dies is started again, one that stopped cleanly ends the loop.
# The launcher put umockdev's library in LD_PRELOAD; faketime's goes after it, for the logger only.
SUPERVISOR = r'''
while :; do
  LD_PRELOAD="$LD_PRELOAD:$FAKETIME_LIB" "$@" & echo $! > "$PIDFILE"
  wait $!; rc=$?
  echo "supervisor: logger exited with $rc" >&2
  [ $rc -eq 0 ] && exit 0
  sleep 1
done
'''


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_broker(work, port):
    conf = os.path.join(work, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\npersistence false\n")
    return subprocess.Popen(["mosquitto", "-c", conf], stdout=subprocess.DEVNULL,
                            stderr=open(os.path.join(work, "mosquitto.log"), "a"))


def write_atomic(path, text):
    # A reader between truncate and write would see no offset: the clock would jump for a moment.
    with open(path + ".new", "w") as f:
        f.write(text)
    os.replace(path + ".new", path)


def fill(path):
    # Down to the last byte: tmpfs takes small appends into a page it already gave out.
    fd = os.open(path, os.O_WRONLY | os.O_CREAT, 0o644)
    for size in (1 << 20, 4096, 1):
        try:
            while True:
                os.write(fd, b"\0" * size)
        except OSError:
            pass
    os.close(fd)


def read_csv_files(out):
    """{value: count}, files, [(file, time before, time after)] where a file's times go back."""
    recorded, backwards, unreadable = collections.Counter(), [], 0
    files = sorted(glob.glob(os.path.join(out, "20*.csv")))
    for path in files:
        last = None
        with open(path, encoding="utf-8", errors="replace") as f:
            rows = f.read().split("\n")[1:]   # the header first
        for row in filter(None, rows):
            fields = row.split(",")
            try:
                t, value = datetime.datetime.fromisoformat(fields[0]), round(float(fields[1]) * 10)
            except (ValueError, IndexError):
                unreadable += 1
                continue
            if last is not None and t < last:
                backwards.append((os.path.basename(path), last.isoformat(), t.isoformat()))
            last = t
            recorded[value] += 1
    return recorded, files, backwards, unreadable


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--minutes", type=float, default=20, help="real time of the run (at least 2)")
    ap.add_argument("--build", default=os.environ.get("VOSTRAL_BUILD_DIR", os.path.join(ROOT, "build")))
    ap.add_argument("--work", help="folder of the run's files (default: a new one in /tmp)")
    a = ap.parse_args()
    total = max(2.0, a.minutes) * 60
    work = a.work or tempfile.mkdtemp(prefix="soak-logger-")
    out, sent_log, stamp, pidfile = (os.path.join(work, n) for n in ("out", "sent.txt", "faketime", "logger.pid"))
    os.makedirs(out, exist_ok=True)
    for p in (sent_log, pidfile):
        with contextlib.suppress(FileNotFoundError):
            os.remove(p)
    logger = os.path.join(a.build, "logger", "vostral-logger")
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16m", "tmpfs", out],
                             stderr=subprocess.PIPE, text=True)
    if mounted.returncode != 0:
        print(f"soak: no tmpfs for the out folder ({mounted.stderr.strip()}): the full disk is skipped")
    have_faketime = os.path.exists(FAKETIME)
    if not have_faketime:
        print(f"soak: {FAKETIME} is missing (package faketime): the clock steps are skipped")
    write_atomic(stamp, "+0\n")
    extra = ["--clock-wait", "0"] if "--clock-wait" in subprocess.run(
        [logger, "--help"], capture_output=True, text=True).stdout else []
    if not extra:
        print("soak: this logger has no --clock-wait; it runs without")

    at = lambda fraction: round(total * fraction, 1)
    replugs = [at(0.10), at(0.45), at(0.85)]
    fill_s = min(60.0, total / 6)
    port = free_port()
    broker = [start_broker(work, port)]
    # NO_FAKE_STAT: libfaketime reads the stamp file through umockdev's fopen, whose fstat would
    # come back into libfaketime and wait on its own lock for ever.
    env = dict(os.environ, FAKETIME_LIB=FAKETIME if have_faketime else "", FAKETIME_TIMESTAMP_FILE=stamp,
               FAKETIME_NO_CACHE="1", NO_FAKE_STAT="1", FAKETIME_DONT_FAKE_MONOTONIC="1", PIDFILE=pidfile)
    env.pop("LD_PRELOAD", None)
    cmd = [os.path.join(a.build, "sim", "vostral-sensor-sim"), "--type", "130", "--name", "LV51",
           "--readings", "ramp:0,0.1", "--sent-log", sent_log,
           "--replug-after", ",".join(str(int(r * 1000)) for r in replugs),
           "--replug-delay", str(int(REPLUG_DELAY * 1000)), "--", "/bin/sh", "-c", SUPERVISOR, "supervisor",
           logger, "--out", out, "--sync", str(SYNC), *extra, "--mqtt", f"mqtt://127.0.0.1:{port}"]
    wall_offset = time.time() - time.monotonic()   # the real clock; only the logger's is stepped
    t0 = time.monotonic()
    launcher = subprocess.Popen(cmd, env=env, stderr=subprocess.PIPE, start_new_session=True)
    said = []   # (monotonic, line) of the logger and the supervisor

    def read_stderr():
        with open(os.path.join(work, "logger.log"), "w") as log:
            for raw in launcher.stderr:
                said.append((time.monotonic(), raw.decode(errors="replace").rstrip("\n")))
                log.write(f"{said[-1][0] - t0:8.1f} {said[-1][1]}\n")
                log.flush()
    reader = threading.Thread(target=read_stderr, daemon=True)
    reader.start()
    logger_pid = lambda: int(open(pidfile).read())

    def restart_broker():
        broker[0].terminate()
        broker[0].wait()
        time.sleep(3)
        broker[0] = start_broker(work, port)
    plan = [(at(0.20), "broker back (down 3 s)", restart_broker),
            (at(0.27), "SIGHUP", lambda: os.kill(logger_pid(), signal.SIGHUP)),
            (at(0.35), "kill -9", lambda: os.kill(logger_pid(), signal.SIGKILL))]

    def free_disk():
        # tmpfs takes appends into the day file's last page until that is full (about a minute of
        # lines): the disk stays full until the logger said it cannot write, or fill_s longer.
        full, deadline = max(t for t, n in faults if n == "disk full"), time.monotonic() + fill_s
        while time.monotonic() < deadline and not any(t > full and "tries again" in l for t, l in said):
            time.sleep(0.5)
        os.remove(os.path.join(out, "filler"))
    if mounted.returncode == 0:
        plan += [(at(0.55), "disk full", lambda: fill(os.path.join(out, "filler"))),
                 (at(0.55) + fill_s, "filler removed", free_disk)]
    if have_faketime:
        plan += [(at(0.65), "clock +2 min", lambda: write_atomic(stamp, "+120\n")),
                 (at(0.75), "clock -1 min", lambda: write_atomic(stamp, "+60\n"))]
    faults = [(t0 + r, "pull") for r in replugs] + [(t0 + r + REPLUG_DELAY, "plug in") for r in replugs]
    try:
        for when, name, action in sorted(plan, key=lambda p: p[0]) + [(total, "stop", None)]:
            time.sleep(max(0.0, t0 + when - time.monotonic()))
            if launcher.poll() is not None:
                print(f"soak: the launcher ended early with {launcher.returncode}")
                break
            if action:
                action()
            faults.append((time.monotonic(), name))   # when it took effect
        os.kill(logger_pid(), signal.SIGTERM)   # exits 0: the supervisor and the launcher end too
        launcher.wait(timeout=60)
    except (subprocess.TimeoutExpired, OSError) as e:
        print(f"soak: {e}; stopping everything")
        with contextlib.suppress(OSError):
            os.killpg(launcher.pid, signal.SIGKILL)
        launcher.wait()
    finally:
        broker[0].terminate()
    reader.join(timeout=5)

    recorded, files, backwards, unreadable = read_csv_files(out)
    if mounted.returncode == 0:
        shutil.copytree(out, os.path.join(work, "files"), dirs_exist_ok=True)
        subprocess.run(["umount", out])
    found = [t for t, line in said if line.startswith("sensor back after")
             or (line.startswith("sensor ") and "(serial" in line)]
    found_after = lambda t: next((f for f in found if f > t), t + 30)
    windows = [(t0, found_after(t0) + 1)]
    windows += [(t - SYNC - 1, found_after(t) + 1) for t, n in faults if n == "kill -9"]
    windows += [(t0 + r, t0 + r + REPLUG_DELAY + AFTER_PLUG) for r in replugs]
    windows += [(t, float("inf")) for t, n in faults if n == "stop"]
    sent = []
    for line in open(sent_log) if os.path.exists(sent_log) else []:
        f = line.split()
        if len(f) == 5 and f[2] == "pm":
            sent.append((int(f[0]) / 1000 - wall_offset, int(f[3])))
    missing = [(t, v) for t, v in sent if recorded[v] == 0]
    inside = [(t, v) for t, v in missing if any(s <= t <= e for s, e in windows)]
    outside = [m for m in missing if m not in inside]
    duplicates = sum(c - 1 for c in recorded.values() if c > 1)
    never_sent = sorted(set(recorded) - {v for _, v in sent})

    print("fault times (s from the start, monotonic):")
    for t, name in sorted(faults):
        print(f"  {t - t0:8.1f}  {name}")
    print(f"sent {len(sent)}, recorded {sum(recorded.values())}, missing inside windows {len(inside)}, "
          f"missing outside windows {len(outside)}, duplicates {duplicates}, files {len(files)} "
          f"({', '.join(os.path.basename(f) for f in files)})")
    for t, v in outside[:10]:
        print(f"  missing outside the windows: PM2.5 {v / 10:.1f} sent at {t - t0:.1f} s")
    for name, before, after in backwards[:10]:
        print(f"  time goes back in {name}: {before} then {after}")
    if never_sent or unreadable:
        print(f"  recorded but never sent: {len(never_sent)} {never_sent[:10]}; unreadable lines: {unreadable}")
    ok = sent and not outside and not duplicates and not backwards and not never_sent
    print(f"soak: {'passed' if ok else 'FAILED'} (files and logs in {work})")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
