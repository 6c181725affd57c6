#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Makes examples/reaction_rates.dat and the same numbers as reaction_rates.csv
(quoted names with their units): 200 simulated reaction-rate measurements.

RATE = A * exp(-E / (R * T)) * P**0.5 * k(CATALYST) * exp(noise), with
A = 2.0e6 mol/(L s), E = 50 kJ/mol, R = 8.314 J/(mol K), temperatures of
300..400 K, pressures of 0.5..5 bar, three catalysts (codes 1, 2, 3 with
activity factors 1.0, 1.6 and 0.7) and log-normal noise of 5 per cent.
Seed 20261208; run it again to get the same file byte for byte.
"""
import math
import random

random.seed(20261208)
A, E, R = 2.0e6, 50_000.0, 8.314
ACTIVITY = {1: 1.0, 2: 1.6, 3: 0.7}

lines = ["T\tP\tCATALYST\tRATE"]
for _ in range(200):
    t = random.uniform(300.0, 400.0)
    p = random.uniform(0.5, 5.0)
    c = random.choice((1, 2, 3))
    rate = A * math.exp(-E / (R * t)) * math.sqrt(p) * ACTIVITY[c] * math.exp(random.gauss(0.0, 0.05))
    lines.append(f"{t:.2f}\t{p:.3f}\t{c}\t{rate:.5e}")

with open(__file__.replace("make_reaction_rates.py", "reaction_rates.dat"), "w") as f:
    f.write("\n".join(lines) + "\n")

csv = ['"T [K]","P [bar]","CATALYST","RATE [mol/(L s)]"']
csv += [line.replace("\t", ",") for line in lines[1:]]
with open(__file__.replace("make_reaction_rates.py", "reaction_rates.csv"), "w") as f:
    f.write("\r\n".join(csv) + "\r\n")
