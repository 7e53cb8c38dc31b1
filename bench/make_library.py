#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""Generates a synthetic sample library of empty files for benchmarks.

Nested packs and categories, 20 to 60 files a folder, mixed-case extensions, non-audio and hidden
files, hidden folders, accented, decomposed and full-width names. Deterministic for a given seed.

usage: make_library.py ROOT FILES [--seed N]
"""
import os
import random
import sys

CATEGORIES = ["Kicks", "Snares", "Hats", "Claps", "Percussion", "Bass", "Synth", "Pads",
              "Vocals", "FX", "Loops", "One Shots", "Toms", "Cymbals", "Keys"]
WORDS = ["Kick", "Snare", "Hat", "Clap", "Perc", "Bass", "Lead", "Pad", "Vox", "Riser", "Impact",
         "Loop", "Shot", "Tom", "Crash", "Ride", "Keys", "Pluck", "Chord", "Stab", "808", "909",
         "Café", "Crème", "Niño", "Ｄｅｅｐ", "Straße", "Éclat", "Cafe\u0301", "Grün"]
EXTENSIONS = ["wav", "WAV", "aif", "AIFF", "flac", "mp3", "m4a", "ogg", "Wav", "caf"]
OTHER = ["readme.txt", "cover.jpg", "license.pdf", "preset.fxp"]


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    root = sys.argv[1]
    target = int(sys.argv[2])
    seed = int(sys.argv[4]) if len(sys.argv) > 4 and sys.argv[3] == "--seed" else 7
    rng = random.Random(seed)
    made = 0
    pack = 0
    while made < target:
        pack += 1
        pack_dir = os.path.join(root, f"Pack {pack:04d} {rng.choice(WORDS)}")
        for category in rng.sample(CATEGORIES, rng.randint(3, 8)):
            for sub in range(rng.randint(1, 3)):
                folder = os.path.join(pack_dir, category, f"{category} {sub + 1}")
                os.makedirs(folder, exist_ok=True)
                for i in range(rng.randint(20, 60)):
                    name = f"{rng.choice(WORDS)} {rng.choice(WORDS)} {i + 1:02d}.{rng.choice(EXTENSIONS)}"
                    open(os.path.join(folder, name), "wb").close()
                    made += 1
                if rng.random() < 0.2:
                    open(os.path.join(folder, rng.choice(OTHER)), "wb").close()
                if rng.random() < 0.1:
                    open(os.path.join(folder, "._" + name), "wb").close()
                if made >= target:
                    break
            if made >= target:
                break
        if rng.random() < 0.05:
            hidden = os.path.join(pack_dir, ".cache")
            os.makedirs(hidden, exist_ok=True)
            open(os.path.join(hidden, "hidden.wav"), "wb").close()
    print(made)
    return 0


if __name__ == "__main__":
    sys.exit(main())
