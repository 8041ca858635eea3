"""Reader of the patch dump's records."""
import numpy as np


def read(path):
    """(windows, strips): windows a list of (page, pair, orientation,
    squeezed, H x W uint8), strips a list of (page, h x w uint8)."""
    data = open(path, "rb").read()
    windows, strips = [], []
    pos = 0
    head = np.dtype([("page", "<i4"), ("kind", "i1"), ("pair", "i1"), ("orient", "i1"), ("squeeze", "i1"),
                     ("w", "<i2"), ("h", "<i2")])
    while pos < len(data):
        r = np.frombuffer(data, head, 1, pos)[0]
        pos += head.itemsize
        n = int(r["w"]) * int(r["h"])
        img = np.frombuffer(data, np.uint8, n, pos).reshape(int(r["h"]), int(r["w"]))
        pos += n
        if r["kind"] == 0:
            windows.append((int(r["page"]), int(r["pair"]), int(r["orient"]), int(r["squeeze"]), img))
        else:
            strips.append((int(r["page"]), img))
    return windows, strips
