#!/usr/bin/env python3
"""Writes oscillator.dat: a simulated 10 MHz oscillator read by a counter once
a second, with white frequency noise and a random walk on top.

    python3 examples/make_oscillator.py > examples/oscillator.dat
"""
import random

N = 4000
random.seed(20261208)
print("# Simulated 10 MHz oscillator, frequency readings from a counter")
print("# gate time 1 s; white FM noise 2e-3 Hz rms, random-walk FM 1e-4 Hz/sqrt(s)")
print("# time_s\tfrequency_Hz")
walk = 0.0
for i in range(N):
    walk += random.gauss(0.0, 1e-4)
    f = 10_000_000.0 + 0.0123 + walk + random.gauss(0.0, 2e-3)
    print(f"{i}\t{f:.6f}")
