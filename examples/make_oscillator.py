#!/usr/bin/env python3
"""Writes oscillator.dat: a simulated 10 MHz oscillator compared once a second
with a reference, as fractional frequency offset in parts per billion, with
white frequency noise and a random walk of the frequency on top.

    python3 examples/make_oscillator.py > examples/oscillator.dat
"""
import random

N = 4000
random.seed(20261208)
print("# Simulated 10 MHz oscillator against a reference, 1 s gate")
print("# white FM noise 2 ppb rms per reading, random-walk FM 0.03 ppb per step")
print("# time_s\toffset_ppb")
walk = 0.0
for i in range(N):
    walk += random.gauss(0.0, 0.03)
    y = 12.3 + walk + random.gauss(0.0, 2.0)
    print(f"{i}\t{y:.4f}")
