#!/usr/bin/env python3
"""How long a ghost lasts when someone stands still in the first frames and then leaves.

A still figure stands in the first PRESENT frames of a static, slightly noisy room and is then
gone: a red one (blue, green, red 40, 60, 200) and a white one. The frames are piped to kinetiscan-play --raw - (top-down, as ffmpeg writes them) under
each warm-up setting, and the table gives the frames from the figure's leaving until no region
overlaps where it stood. Usage: scripts/warmup_ghost.py [path/to/kinetiscan-play]
"""
import csv
import os
import random
import subprocess
import sys
import tempfile

WIDTH, HEIGHT = 160, 120
PRESENT = 60  # 3 s at the plug-in's 20 frames a second
FRAMES = 1500
FIGURE = (60, 30, 30, 60)  # x, y, width, height, top-down


def frames(colour):
    rng = random.Random(7)
    room = bytearray()
    for y in range(HEIGHT):
        for x in range(WIDTH):
            level = 90 if (x // 8 + y // 8) % 2 else 120
            room += bytes((level, level + 10, level - 10))
    noisy = []
    for _ in range(8):
        frame = bytearray(room)
        for i in range(len(frame)):
            frame[i] = max(0, min(255, frame[i] + rng.randint(-3, 3)))
        noisy.append(frame)
    x0, y0, w, h = FIGURE
    for n in range(FRAMES):
        frame = bytearray(noisy[n % len(noisy)])
        if n < PRESENT:
            for y in range(y0, y0 + h):
                frame[(y * WIDTH + x0) * 3:(y * WIDTH + x0 + w) * 3] = bytes(colour) * w
        yield bytes(frame)


def ghost_frames(program, arguments, colour, out):
    with subprocess.Popen([program, "--raw", "-", "--raw-order", "top-down", "--out", out,
                           "--rate", "0", "--gif-every", "0", "--png-at", "none", "--quiet"] +
                          arguments, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL) as run:
        for frame in frames(colour):
            run.stdin.write(frame)
        run.stdin.close()
        if run.wait() != 0:
            sys.exit("kinetiscan-play failed for " + " ".join(arguments))
    x0, y0, w, h = FIGURE
    last = None
    with open(os.path.join(out, "regions.csv")) as regions:
        for row in csv.DictReader(regions):
            x, y, bw, bh = (int(row[k]) for k in ("x", "y", "width", "height"))
            if x < x0 + w and x + bw > x0 and y < y0 + h and y + bh > y0:
                if int(row["frame"]) >= PRESENT:
                    last = int(row["frame"])
    return 0 if last is None else last - PRESENT + 1


def main():
    program = sys.argv[1] if len(sys.argv) > 1 else "build/native/bin/kinetiscan-play"
    settings = [["--warmup", "0"], ["--warmup", "20"], ["--warmup", "40"], ["--warmup", "80"],
                ["--warmup", "100"], ["--warmup", "200"], ["--at", "%d" % PRESENT, "adapt"]]
    with tempfile.TemporaryDirectory() as scratch:
        print("| setting | ghost frames, a red figure | ghost frames, a white figure |")
        print("|---|---|---|")
        for setting in settings:
            ghosts = [ghost_frames(program, setting, colour, os.path.join(scratch, "out"))
                      for colour in ((40, 60, 200), (240, 240, 240))]
            print("| `%s` | %d | %d |" % (" ".join(setting), ghosts[0], ghosts[1]), flush=True)


if __name__ == "__main__":
    main()
