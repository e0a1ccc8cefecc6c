#!/usr/bin/env python3
"""Writes gyro.dat: 800 s of a simulated rate gyro sampled at 10 Hz, in deg/s,
with white rate noise (angle random walk), flicker rate noise (bias
instability) and a random walk of the rate, for the -noise example.

    python3 examples/make_gyro.py > examples/gyro.dat

The flicker is a sum of first-order Gauss-Markov processes with correlation
times 10^(2/3) apart from 0.1 s to 10^4 s, each of variance
B^2 ln(10^(2/3)) / pi: their spectra add up to B^2 / (pi f) (one-sided) in
between, whose Allan deviation is 0.664 B.
"""
import math
import random

N = 8000
TAU0 = 0.1             # s
ARW = 1.3e-3           # N, deg/s/sqrt(Hz) = 0.078 deg/sqrt(h)
BIAS = 2e-3            # B, deg/s = 7.2 deg/h
RRW = 5e-4             # K, deg/s/sqrt(s) = 108 deg/h/sqrt(h)
random.seed(20261209)
print("# Simulated rate gyro, 10 Hz, deg/s")
print(f"# N {ARW} deg/s/sqrt(Hz), B {BIAS} deg/s, K {RRW} deg/s/sqrt(s)")
print("# time_s\trate_deg_s")
ratio = 10 ** (2 / 3)
var = BIAS * BIAS * math.log(ratio) / math.pi
processes = []
t = TAU0
while t <= 1e4:
    a = math.exp(-TAU0 / t)
    processes.append([a, math.sqrt(var * (1 - a * a)), random.gauss(0, math.sqrt(var))])
    t *= ratio
walk = 0.0
for i in range(N):
    y = 0.5 + walk + random.gauss(0, ARW / math.sqrt(TAU0))
    for p in processes:
        y += p[2]
        p[2] = p[0] * p[2] + random.gauss(0, p[1])
    walk += random.gauss(0, RRW * math.sqrt(TAU0))
    print(f"{i * TAU0:.1f}\t{y:.7f}")
