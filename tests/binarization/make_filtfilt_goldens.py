#!/usr/bin/python3
"""Writes filtfilt_goldens.h: zero-phase filtering of a few signals by
scipy.signal.filtfilt with the engine's histogram low-pass (and a third-order
filter), the reference the engine's forward-backward filter is tested with.
Run once; the output is committed."""
import numpy as np
from scipy import signal

B = [0.131106439916626, 0.262212879833252, 0.131106439916626]
A = [1, -0.747789178258503, 0.272214937925007]
b3, a3 = signal.butter(3, 0.3)

rng = np.random.default_rng(26)
hist = np.zeros(64)
hist[10:18] = [5, 40, 300, 900, 1200, 800, 200, 30]
hist[44:56] = [20, 100, 800, 3000, 6000, 7000, 5000, 2000, 500, 100, 30, 5]
cases = [
    ("bimodal", hist, B, A),
    ("noise", rng.uniform(0, 1000, 40), B, A),
    ("step", np.r_[np.zeros(15), np.full(15, 100.0)], B, A),
    ("third_order", rng.uniform(-5, 5, 50), list(b3), list(a3)),
]

def arr(v):
    return "{" + ", ".join(repr(float(x)) for x in v) + "}"

out = ["// Written by make_filtfilt_goldens.py (scipy.signal.filtfilt); do not edit.",
       "#include <vector>", "struct FiltfiltGolden { const char* name; std::vector<double> b, a, x, y; };",
       "static const FiltfiltGolden kFiltfiltGoldens[] = {"]
for name, x, b, a in cases:
    y = signal.filtfilt(b, a, x, padlen=3 * (len(b) - 1))  # the engine pads 3 (order - 1) samples
    out.append("  {\"%s\", %s, %s, %s, %s}," % (name, arr(b), arr(a), arr(x), arr(y)))
out.append("};")
open(__file__.replace("make_filtfilt_goldens.py", "filtfilt_goldens.h"), "w").write("\n".join(out) + "\n")
