#!/usr/bin/env python3
"""Whole runs with -plot, the picture checked by a real XML parser.

    check_svg.py <tauspan binary> <examples directory>
"""
import math
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

NS = "{http://www.w3.org/2000/svg}"
tauspan, examples = sys.argv[1], sys.argv[2]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(args, cwd):
    return subprocess.run([tauspan] + args, cwd=cwd, capture_output=True)


def rows(stdout):
    text = stdout.decode("utf-8", "replace")
    table = text.split("tau\tAVAR\tADEV\n", 1)[1]
    return [tuple(float(x) for x in line.split("\t")) for line in table.splitlines()
            if line.count("\t") == 2]


def elements(svg, cls):
    return [e for e in svg.iter() if e.get("class") == cls]


def decades_of(svg, cls):
    return [int(e.find(NS + "tspan").text) for e in elements(svg, cls)]


with tempfile.TemporaryDirectory() as d:
    # The bundled example: every row drawn, decades covering the data.
    shutil.copy(os.path.join(examples, "oscillator.dat"), d)
    r = run(["-plot", "-logtau", "oscillator.dat"], d)
    check(r.returncode == 0, "example run status")
    check(b"Writing a plot of the Allan deviation.\n" in r.stdout, "echo")
    check(r.stdout.endswith(b"Plot: oscillator_avar.svg\n"), "plot line")
    svg = ET.parse(os.path.join(d, "oscillator_avar.svg")).getroot()
    points = rows(r.stdout)
    check(len(svg.findall(f".//{NS}circle")) == len(points) == 100, "one circle per row")
    check(len(svg.find(f".//{NS}polyline").get("points").split()) == 100, "line through all")
    xs, ys = decades_of(svg, "x-label"), decades_of(svg, "y-label")
    taus, adevs = [p[0] for p in points], [p[2] for p in points]
    check(10 ** min(xs) <= min(taus) and max(taus) <= 10 ** max(xs), "x decades cover taus")
    check(10 ** min(ys) <= min(adevs) and max(adevs) <= 10 ** max(ys), "y decades cover adevs")
    check(len(elements(svg, "x-decade")) == max(xs) - min(xs) + 1, "a grid line per decade")
    title = elements(svg, "title")[0].text
    check("oscillator.dat" in title and "overlapped, logarithmic taus" in title, "title")
    check([e.text for e in elements(svg, "x-title")] == ["tau"], "x title")
    check([e.text for e in elements(svg, "y-title")] == ["Allan deviation"], "y title")
    check(not elements(svg, "left-out"), "nothing left out")

    # Taus of 0 and below give deviations of 0: left out, and counted.
    # A file name that is not UTF-8, with XML's markup characters.
    name = "w&<x\xe9.dat".encode("latin-1")
    with open(os.path.join(d.encode(), name), "w") as f:
        for i, v in enumerate([1, 3, 2, 5, 4, 6, 5, 7, 6, 8, 7, 9, 8, 10, 9, 11, 10, 12, 11, 13]):
            f.write(f"{i}\t{v}\n")
    r = subprocess.run([tauspan.encode(), b"-plot", b"-mintau", b"-2", b"-maxtau", b"4", b"-n",
                        b"7", name], cwd=d, capture_output=True)
    check(r.returncode == 0, "partial run status")
    svg = ET.parse(os.path.join(d.encode(), "w&<x\xe9_avar.svg".encode("latin-1"))).getroot()
    drawable = [p for p in rows(r.stdout) if p[0] > 0 and p[2] > 0 and math.isfinite(p[2])]
    check(len(rows(r.stdout)) == 7 and len(drawable) == 4, "the rows of the partial run")
    check(len(svg.findall(f".//{NS}circle")) == len(drawable), "drawable rows only")
    left = elements(svg, "left-out")
    check(len(left) == 1 and left[0].text.startswith("3 points left out"), "left-out note")
    check("w&<x\ufffd.dat" in elements(svg, "title")[0].text, "title of an odd file name")

    # Nothing drawable: no picture, a message, status 1; the result file stands.
    with open(os.path.join(d, "flat.dat"), "w") as f:
        f.writelines(f"{i}\t7\n" for i in range(30))
    r = run(["-plot", "flat.dat"], d)
    check(r.returncode == 1, "nothing drawable: status")
    check(r.stderr == b"tauspan: no plot for 'flat.dat': no tau with a positive, finite "
          b"deviation\n", "nothing drawable: message")
    check(not os.path.exists(os.path.join(d, "flat_avar.svg")), "nothing drawable: no file")
    check(os.path.exists(os.path.join(d, "flat_avar.dat")), "nothing drawable: result kept")

    # A picture that cannot be written: the result file still is.
    os.mkdir(os.path.join(d, "blocked_avar.svg"))
    shutil.copy(os.path.join(d, "oscillator.dat"), os.path.join(d, "blocked.dat"))
    r = run(["-plot", "-n", "3", "blocked.dat"], d)
    check(r.returncode == 1, "unwritable picture: status")
    check(r.stderr == b"tauspan: cannot create 'blocked_avar.svg': Is a directory\n",
          "unwritable picture: message")
    check(os.path.exists(os.path.join(d, "blocked_avar.dat")), "unwritable picture: result")
    leftovers = [n for n in os.listdir(d) if ".tmp-" in n]
    check(not leftovers, "no temporary files")

    # Without -plot, no picture.
    os.remove(os.path.join(d, "oscillator_avar.svg"))
    run(["-n", "2", "oscillator.dat"], d)
    check(not os.path.exists(os.path.join(d, "oscillator_avar.svg")), "no -plot, no picture")

print("ok" if not failures else f"{len(failures)} failures")
sys.exit(1 if failures else 0)
