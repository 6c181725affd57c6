#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes a data file for the end-to-end benchmark: N rows, P predictors X1..XP
and a response Y = sum of smooth functions of the X plus noise (seed 7).
usage: make_big_data.py N P OUTFILE"""
import math
import random
import sys

n, p, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
rng = random.Random(7)
funcs = [math.sin, lambda v: v * v, math.exp, abs, lambda v: v ** 3, math.cos,
         lambda v: math.log(1.5 + v), math.tanh, lambda v: v, lambda v: math.sqrt(1.0 + v * v)]
with open(out, "w") as f:
    f.write("\t".join([f"X{j + 1}" for j in range(p)] + ["Y"]) + "\n")
    for _ in range(n):
        xs = [rng.uniform(-1.0, 1.0) for _ in range(p)]
        y = sum(funcs[j % len(funcs)](x) for j, x in enumerate(xs)) + rng.gauss(0.0, 0.1)
        f.write("\t".join(f"{x:.6f}" for x in xs) + f"\t{y:.6f}\n")
