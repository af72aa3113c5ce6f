#!/usr/bin/env python3
"""Random mouse and keyboard input on the bench, reproducible from a seed.

Starts pravel under its own Xvfb display with a window manager (openbox),
then for SECONDS sends clicks at random places of the bench's visible
windows, random keys and hostile texts ("1e400", "-1", "nan", ...), through
the display as a user would. At the end the bench must still run, close on
a window-manager close, exit with status 0, and its error output must hold
no sanitizer report.

    monkey.py PRAVEL [--seed N] [--seconds S] [--workdir DIR]

Prints the seed, the actions sent and the verdict; exit status 0 when the
bench survived and closed cleanly.
"""
import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HOSTILE = ["1e400", "-1", "nan", "inf", "0", "18446744073709551615",
           "-9223372036854775808", "abc", "", " 12 ", "4095", "99999999999999999999"]
KEYS = ["Return", "Escape", "Tab", "shift+Tab", "space", "ctrl+r", "Up", "Down",
        "Left", "Right", "BackSpace", "Delete", "Home", "End"]


def run(*args, env=None, check=False):
    return subprocess.run(args, env=env, check=check, capture_output=True, text=True)


def free_display():
    for n in range(90, 190):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return f":{n}"
    raise SystemExit("no free display number")


def windows_of(pid, env):
    """The visible windows of the process, with their geometry."""
    found = run("xdotool", "search", "--onlyvisible", "--pid", str(pid), env=env).stdout.split()
    result = []
    for wid in found:
        geometry = run("xdotool", "getwindowgeometry", wid, env=env).stdout
        position = re.search(r"Position: (-?\d+),(-?\d+)", geometry)
        size = re.search(r"Geometry: (\d+)x(\d+)", geometry)
        if position and size and int(size.group(1)) > 20 and int(size.group(2)) > 20:
            result.append((wid, int(position.group(1)), int(position.group(2)),
                           int(size.group(1)), int(size.group(2))))
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("pravel")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--workdir")
    options = parser.parse_args()
    rng = random.Random(options.seed)
    pravel = os.path.abspath(options.pravel)
    workdir = options.workdir or tempfile.mkdtemp(prefix="monkey_")
    os.makedirs(workdir, exist_ok=True)
    # Something to open and program: a bitstream, a recording, a sequence.
    subprocess.run([pravel, "--sample-bitstream", os.path.join(workdir, "bits/sample.bit")],
                   check=True, capture_output=True)

    display = free_display()
    env = dict(os.environ, DISPLAY=display)
    env.setdefault("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=0")
    env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1")
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1600x1200x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    wm = subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    errors_path = os.path.join(workdir, "pravel.stderr")
    errors = open(errors_path, "w")
    bench = subprocess.Popen([pravel], cwd=workdir, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=errors)
    actions = {"click": 0, "key": 0, "text": 0, "menu": 0}
    verdict = []
    try:
        deadline = time.time() + 20
        while time.time() < deadline and not windows_of(bench.pid, env):
            time.sleep(0.2)
        end = time.time() + options.seconds
        while time.time() < end:
            if bench.poll() is not None:
                verdict.append(f"the bench ended during the run (status {bench.returncode})")
                break
            shown = windows_of(bench.pid, env)
            if not shown:
                time.sleep(0.1)
                continue
            wid, x, y, w, h = rng.choice(shown)
            kind = rng.choices(["click", "key", "text", "menu"], weights=[6, 3, 2, 1])[0]
            if kind == "click":
                px, py = x + rng.randrange(w), y + rng.randrange(h)
                run("xdotool", "mousemove", str(px), str(py), "click",
                    str(rng.choice([1, 1, 1, 3])), env=env)
            elif kind == "key":
                run("xdotool", "key", "--clearmodifiers", rng.choice(KEYS), env=env)
            elif kind == "text":
                run("xdotool", "key", "ctrl+a", env=env)
                run("xdotool", "type", "--delay", "5", rng.choice(HOSTILE), env=env)
            else:
                # The menu bar of the main window sits at its top left.
                run("xdotool", "mousemove", str(x + rng.randrange(10, 260)), str(y + 12),
                    "click", "1", env=env)
            actions[kind] += 1
            time.sleep(rng.uniform(0.02, 0.15))
        alive = bench.poll() is None
        if alive:
            # Dialogs away, then the main window closed through the window manager.
            for _ in range(4):
                run("xdotool", "key", "Escape", env=env)
                time.sleep(0.2)
            for _ in range(10):
                if bench.poll() is not None:
                    break
                run("wmctrl", "-c", "Pravel - AER sensor bench", env=env)
                time.sleep(1)
                run("xdotool", "key", "Escape", env=env)
            try:
                bench.wait(timeout=30)
            except subprocess.TimeoutExpired:
                verdict.append("the bench did not close within 30 s of a close request")
                bench.kill()
                bench.wait()
        if bench.returncode not in (0, None) and not verdict:
            verdict.append(f"the bench exited with status {bench.returncode}")
    finally:
        if bench.poll() is None:
            bench.kill()
        errors.close()
        wm.send_signal(signal.SIGTERM)
        xvfb.send_signal(signal.SIGTERM)
        wm.wait()
        xvfb.wait()
    text = open(errors_path, errors="replace").read()
    for marker in ("ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer"):
        if marker in text:
            verdict.append(f"sanitizer report in {errors_path}: {marker}")
    logged_errors = len(re.findall(r" error ", text))
    print(f"seed {options.seed}, {options.seconds:g} s: {sum(actions.values())} actions "
          f"({actions['click']} clicks, {actions['key']} keys, {actions['text']} texts, "
          f"{actions['menu']} menu clicks); {logged_errors} error records told to the user; "
          f"exit status {bench.returncode}")
    if verdict:
        print("FAILED: " + "; ".join(verdict))
        return 1
    print("The bench survived, closed on request and exited cleanly.")
    if not options.workdir:
        shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
