#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the small data files of the golden analyses into inputs/.

Each file is simulated from a known model with a fixed seed, so running this
again gives the same files byte for byte. The values are rounded to a few
digits when written: the analyses read the files, not these floats.

  arrhenius.dat  40 rows: K = 5e7 * exp(-6000 / T) * C**0.8 * exp(noise 3 %)
  arrhenius_new.dat  new rows for its model: inside the fitted ranges,
                 beyond them, and one with a missing value
  viscosity.dat  36 rows: ETA = 0.02 * exp(1800 / T) * (1 + 0.004 * P) * exp(noise 1 %)
  yield.csv      30 rows in R's write.csv layout (a nameless first column of
                 row names), a site label S1..S3, an ISO date and a dose
  mixed.dat      60 rows: HOUR (0..1, a phase), CAT (codes 1..4), DOSE, TEMP
  smooth.dat     50 rows: Y = X1**2 + sin(3 * X2) + noise 0.05
  linear.dat     20 rows: Y = 1.5 + 2 A - 0.5 B exactly
"""
import math
import os
import random

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "inputs")


def write(name, lines, end="\n"):
    with open(os.path.join(HERE, name), "w", newline="") as f:
        f.write(end.join(lines) + end)


def arrhenius(rng):
    lines = ["T C K"]
    for i in range(40):
        t = 300.0 + 120.0 * i / 39.0
        c = rng.uniform(0.1, 2.0)
        k = 5e7 * math.exp(-6000.0 / t) * c**0.8 * math.exp(rng.gauss(0.0, 0.03))
        lines.append(f"{t:.1f} {c:.3f} {k:.5g}")
    write("arrhenius.dat", lines)
    write("arrhenius_new.dat",
          ["T C", "310 0.5", "350 1.0", "400 1.5", "290 1.0", "430 2.5", "360 NA"])


def viscosity(rng):
    lines = ["TEMP\tPRESS\tETA"]
    for i in range(36):
        t = 280.0 + 10.0 * (i % 9)
        p = 1.0 + 50.0 * (i // 9) + rng.uniform(0.0, 5.0)
        eta = 0.02 * math.exp(1800.0 / t) * (1.0 + 0.004 * p) * math.exp(rng.gauss(0.0, 0.01))
        lines.append(f"{t:.0f}\t{p:.2f}\t{eta:.5g}")
    write("viscosity.dat", lines)


def yield_csv(rng):
    effect = {"S1": 0.0, "S2": 4.0, "S3": -2.5}
    lines = ['"","site","date","dose","yield"']
    for i in range(30):
        site = ("S1", "S2", "S3")[i % 3]
        day = 1 + (7 * i) % 28
        month = 1 + i // 10
        dose = 0.5 + 0.25 * (i % 8)
        y = 50.0 + effect[site] + 12.0 * math.sqrt(dose) + rng.gauss(0.0, 0.5)
        lines.append(f'"r{i + 1:02d}","{site}",2024-{month:02d}-{day:02d},{dose:.2f},{y:.2f}')
    write("yield.csv", lines, "\r\n")


def mixed(rng):
    effect = {1: 0.0, 2: 1.2, 3: -0.8, 4: 0.5}
    lines = ["HOUR CAT DOSE TEMP Y"]
    for i in range(60):
        hour = (i * 0.618034) % 1.0
        cat = 1 + (i * 7) % 4
        dose = rng.uniform(0.0, 10.0)
        temp = rng.uniform(20.0, 80.0)
        y = (math.sin(2.0 * math.pi * hour) + effect[cat] + 0.3 * dose
             + (temp - 50.0) ** 2 / 400.0 + rng.gauss(0.0, 0.1))
        lines.append(f"{hour:.4f} {cat} {dose:.3f} {temp:.2f} {y:.4f}")
    write("mixed.dat", lines)


def smooth(rng):
    lines = ["X1 X2 Y"]
    for _ in range(50):
        x1 = rng.uniform(-1.0, 1.0)
        x2 = rng.uniform(0.0, 2.0)
        y = x1 * x1 + math.sin(3.0 * x2) + rng.gauss(0.0, 0.05)
        lines.append(f"{x1:.4f} {x2:.4f} {y:.4f}")
    write("smooth.dat", lines)


def linear():
    # Whole and half numbers: every value and the response are exact in the file.
    lines = ["A B Y"]
    for i in range(20):
        a = i + 1
        b = (i * 7) % 20
        y = 1.5 + 2 * a - 0.5 * b
        lines.append(f"{a} {b} {y:g}")
    write("linear.dat", lines)


os.makedirs(HERE, exist_ok=True)
rng = random.Random(20261209)
arrhenius(rng)
viscosity(rng)
yield_csv(rng)
mixed(rng)
smooth(rng)
linear()
