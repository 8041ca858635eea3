"""The boosted text detector ("model.dat"): a soft cascade of small trees,
each over at most two features, a feature being the oriented-gradient
energy in a rectangle of the window on one of four channels, divided by the
rectangle's area and the window's grey-level spread. It learns text against
non-text strips of 18 rows, as the orientation driver scales each candidate
line before it asks the detector."""
import struct

import numpy as np

W, H = 24, 16  # window; the strip is 18 rows, the window's rows are 2 .. H + 1
STRIP = 18


def grad_maps(strip):
    """The detector's four integral gradient maps of one strip (h x w)."""
    g = strip.astype(np.int64)
    h, w = g.shape
    maps = np.zeros((4, h, w), np.float64)
    if h < 3 or w < 3:
        return maps
    tl, tc, tr = g[:-2, :-2], g[:-2, 1:-1], g[:-2, 2:]
    ml, mr = g[1:-1, :-2], g[1:-1, 2:]
    bl, bc, br = g[2:, :-2], g[2:, 1:-1], g[2:, 2:]
    gx = (tr + 2 * mr + br) - (tl + 2 * ml + bl)
    gy = (tl + 2 * tc + tr) - (bl + 2 * bc + br)
    a, b = np.abs(gx), np.abs(gy)
    same = (gx > 0) == (gy > 0)
    e = np.zeros((4,) + gx.shape, np.float64)
    e[0] += np.where(gy == 0, a, 0)
    e[2] += np.where((gx == 0) & (gy != 0), b, 0)
    both = (gx != 0) & (gy != 0)
    diag = np.where(a > b, 1.414 * b, np.where(a < b, 1.414 * a, 1.414 * a))
    e[0] += np.where(both & (a > b), a - b, 0)
    e[2] += np.where(both & (a < b), b - a, 0)
    e[1] += np.where(both & same, diag, 0)
    e[3] += np.where(both & ~same, diag, 0)
    maps[:, 1:-1, 1:-1] = np.cumsum(np.cumsum(e, axis=1), axis=2)
    maps[:, 1:-1, -1] = maps[:, 1:-1, -2]
    maps[:, -1, :] = maps[:, -2, :]
    return maps


def random_features(rng, n):
    """(channel, x, y, w, h) rectangles inside the window."""
    out = []
    while len(out) < n:
        w, h = int(rng.integers(2, W + 1)), int(rng.integers(2, H + 1))
        x, y = int(rng.integers(0, W - w + 1)), int(rng.integers(0, H - h + 1))
        out.append((int(rng.integers(4)), x, y, w, h))
    return out


def window_values(strip, features):
    """Feature values of every window the detector visits on this strip
    (windows whose spread counts), as an array n x len(features)."""
    h, w = strip.shape
    if h != STRIP:
        return np.zeros((0, len(features)), np.float32)
    step, last = W // 2, w - W - 1
    if last < 0:
        return np.zeros((0, len(features)), np.float32)
    xs = list(range(0, last, step)) + [last]
    ii = np.cumsum(np.cumsum(strip.astype(np.int64), 0), 1)
    sq = np.cumsum(np.cumsum(strip.astype(np.int64) ** 2, 0), 1)
    maps = grad_maps(strip)
    xs = np.asarray(xs)
    area = W * H
    s = ii[H + 1, xs + W] - ii[1, xs + W] - ii[H + 1, xs] + ii[1, xs]
    q = sq[H + 1, xs + W] - sq[1, xs + W] - sq[H + 1, xs] + sq[1, xs]
    m = (s // area).astype(np.float32)
    v = (q // area).astype(np.float32) - m * m
    keep = v >= 100
    xs, sigma = xs[keep], np.sqrt(v[keep])
    F = np.asarray(features)
    c, fx, fy, fw, fh = (F[:, i][None, :] for i in range(5))
    x0, y0 = xs[:, None] + fx, fy + 1
    total = maps[c, y0, x0] + maps[c, y0 + fh, x0 + fw] - maps[c, y0, x0 + fw] - maps[c, y0 + fh, x0]
    return (total / (fw * fh) / sigma[:, None]).astype(np.float32)


def _best_split(v, y, wts, bins=24):
    """Threshold on one feature minimising the Real AdaBoost Z; (z, threshold)."""
    qs = np.quantile(v, np.linspace(0.02, 0.98, bins))
    best = (np.inf, 0.0)
    for t in np.unique(qs):
        left = v < t
        z = 0.0
        for side in (left, ~left):
            wp = wts[side & (y == 1)].sum()
            wn = wts[side & (y == 0)].sum()
            z += 2 * np.sqrt(wp * wn)
        if z < best[0]:
            best = (z, float(t))
    return best


def _leaf(y, wts, mask):
    wp = wts[mask & (y == 1)].sum() + 1e-4
    wn = wts[mask & (y == 0)].sum() + 1e-4
    return float(np.clip(0.5 * np.log(wp / wn), -3, 3))


def train(X, y, features, stages, rng, log=print):
    """Real AdaBoost of two-level trees (root on feature A, both children on
    feature B); then the cascade's stage thresholds. Returns the stages."""
    n, f = X.shape
    wts = np.where(y == 1, 0.5 / max(1, y.sum()), 0.5 / max(1, (1 - y).sum()))
    score = np.zeros(n)
    trees = []
    for s in range(stages):
        cand = rng.choice(f, min(f, 120), replace=False)
        za = [(_best_split(X[:, a], y, wts), a) for a in cand]
        (_, ta), a = min(za, key=lambda t: t[0][0])
        left = X[:, a] < ta
        best = None
        for b in rng.choice(f, min(f, 60), replace=False):
            zl, tl = _best_split(X[left, b], y[left], wts[left]) if left.any() else (0.0, 0.0)
            zr, tr = _best_split(X[~left, b], y[~left], wts[~left]) if (~left).any() else (0.0, 0.0)
            if best is None or zl + zr < best[0]:
                best = (zl + zr, b, tl, tr)
        _, b, tl, tr = best
        ll, lr = left & (X[:, b] < tl), left & ~(X[:, b] < tl)
        rl, rr = ~left & (X[:, b] < tr), ~left & ~(X[:, b] < tr)
        leaves = [_leaf(y, wts, m) for m in (ll, lr, rl, rr)]
        h = np.select([ll, lr, rl, rr], leaves)
        score += h
        wts = wts * np.exp(-np.where(y == 1, 1, -1) * h)
        wts /= wts.sum()
        trees.append({"a": features[a], "b": features[b], "ta": ta, "tl": tl, "tr": tr, "leaves": leaves})
        if s % 5 == 4 or s == stages - 1:
            err = np.mean((score >= 0) != (y == 1))
            log("  detector stage %d: training error %.4f" % (s + 1, err))
    return trees


def write(path, trees, thresholds):
    """"model.dat" in the detector's format."""
    i32 = lambda *v: struct.pack("<%di" % len(v), *v)
    f32 = lambda *v: struct.pack("<%df" % len(v), *v)
    S = len(trees)
    out = [i32(W, H, 0, S)]
    for s, t in enumerate(trees):
        feats = [t["a"], t["b"]]
        block = i32(0, 2)
        for c, x, y, w, h in feats:
            block += i32(0, 0, x, y, w, h, 0) + i32(0, 0, 0) + i32(c) + i32(0, 0)
        # entries: 0 = B on the left branch, 1 = B on the right branch, 2 = root A (walked first)
        block += i32(3)
        block += i32(1) + f32(t["tl"]) + i32(-1, -2)
        block += i32(1) + f32(t["tr"]) + i32(-3, -4)
        block += i32(0) + f32(t["ta"]) + i32(0, 1)
        block += i32(5) + f32(0.0, *t["leaves"])
        reject = 0.4 * s / S
        block += f32(0.0, thresholds[s], 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, reject, 0.0)
        out.append(block)
    with open(path, "wb") as f:
        f.write(b"".join(out))


def evaluate(trees, values_by_feature):
    """Partial sums after each stage for windows given as a dict feature -> values."""
    n = len(next(iter(values_by_feature.values())))
    acc = np.zeros(n)
    partial = []
    for t in trees:
        a, b = values_by_feature[t["a"]], values_by_feature[t["b"]]
        left = a < t["ta"]
        lb = b < np.where(left, t["tl"], t["tr"])
        idx = np.where(left, np.where(lb, 0, 1), np.where(lb, 2, 3))
        acc = acc + np.asarray(t["leaves"])[idx]
        partial.append(acc.copy())
    return np.asarray(partial)  # stages x n
