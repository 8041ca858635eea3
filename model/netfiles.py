"""The script-and-direction net and its files in the classifier's formats:
model text (LF line ends), one weight file per blob (4-byte header, then
little-endian single floats), batch norm folded into the convolutions."""
import os
import struct

import numpy as np
import torch
from torch import nn

HEIGHT, WIDTH = 21, 81  # the patch height:width of the patch search
CHANNELS = (8, 16, 32)
INPUT_SCALE = 64.0  # the training's input scale, folded into the first convolution


class Net(nn.Module):
    def __init__(self, outputs=25, channels=CHANNELS):
        super().__init__()
        self.channels = tuple(channels)
        layers = []
        c_in = 1
        for c in self.channels:
            layers += [nn.Conv2d(c_in, c, 3, padding=1), nn.BatchNorm2d(c), nn.ReLU(),
                       nn.MaxPool2d(2, 2, ceil_mode=True)]
            c_in = c
        self.features = nn.Sequential(*layers)
        h, w = HEIGHT, WIDTH
        for _ in self.channels:
            h, w = (h + 1) // 2, (w + 1) // 2
        self.flat = c_in * h * w
        self.fc = nn.Linear(self.flat, outputs)

    def forward(self, x):  # x: mean-subtracted pixels, N x 1 x H x W
        return self.fc(self.features(x / INPUT_SCALE).flatten(1))


def _blob(path, values):
    values = np.asarray(values, dtype="<f4").ravel()
    with open(path, "wb") as f:
        f.write(struct.pack("<i", values.size))
        f.write(values.tobytes())


def _model_text(rotate, title, channels):
    lines = ["# " + title, "votes=1", "[data]", "type=data", "outputs=data", "channels=1",
             "height=%d" % HEIGHT, "width=%d" % WIDTH]
    src = "data"
    if rotate:
        lines += ["[rotate]", "type=rotate", "inputs=data", "outputs=rotated"]
        src = "rotated"
    for i, c in enumerate(channels, 1):
        lines += ["[conv%d]" % i, "type=conv", "inputs=" + src, "outputs=conv%d" % i, "filters=%d" % c,
                  "windowSize=3", "windowStride=1", "padding=1", "weights=conv%d_w.bin" % i,
                  "biases=conv%d_b.bin" % i,
                  "[relu%d]" % i, "type=neuron", "neuronType=RELU", "inputs=conv%d" % i, "outputs=conv%d" % i,
                  "[pool%d]" % i, "type=pool", "poolType=MAX", "inputs=conv%d" % i, "outputs=pool%d" % i,
                  "windowSize=2", "windowStride=2"]
        src = "pool%d" % i
    lines += ["[fc]", "type=fc", "inputs=" + src, "outputs=fc", "filters=25", "weights=fc_w.bin",
              "biases=fc_b.bin", "[prob]", "type=softmax", "inputs=fc", "outputs=prob"]
    return "\n".join(lines) + "\n"


def export(net, engine_dir, title):
    """Writes model/model.txt, model/rotate_model.txt and model/weights/."""
    net = net.eval()
    weights = os.path.join(engine_dir, "model", "weights")
    os.makedirs(weights, exist_ok=True)
    convs = [m for m in net.features if isinstance(m, nn.Conv2d)]
    bns = [m for m in net.features if isinstance(m, nn.BatchNorm2d)]
    with torch.no_grad():
        for i, (conv, bn) in enumerate(zip(convs, bns), 1):
            k = bn.weight / torch.sqrt(bn.running_var + bn.eps)
            w = conv.weight * k.view(-1, 1, 1, 1)
            b = (conv.bias - bn.running_mean) * k + bn.bias
            if i == 1:
                w = w / INPUT_SCALE
            _blob(os.path.join(weights, "conv%d_w.bin" % i), w.numpy())
            _blob(os.path.join(weights, "conv%d_b.bin" % i), b.numpy())
        _blob(os.path.join(weights, "fc_w.bin"), net.fc.weight.numpy())
        _blob(os.path.join(weights, "fc_b.bin"), net.fc.bias.numpy())
    for name, rotate in (("model.txt", False), ("rotate_model.txt", True)):
        with open(os.path.join(engine_dir, "model", name), "w", newline="\n") as f:
            f.write(_model_text(rotate, title + (" (turned a half turn first)" if rotate else ""), net.channels))


def _read_blob(path):
    with open(path, "rb") as f:
        count = struct.unpack("<i", f.read(4))[0]
        values = np.frombuffer(f.read(), dtype="<f4")
    assert values.size == count, path
    return torch.from_numpy(values.copy())


def load(engine_dir):
    """A net holding an engine folder's weights: the batch norm folded into
    the convolutions stands as the identity (train it in eval mode)."""
    weights = os.path.join(engine_dir, "model", "weights")
    with open(os.path.join(engine_dir, "model", "model.txt")) as f:
        net = Net(channels=[int(l.split("=")[1]) for l in f if l.startswith("filters=")][:-1])
    convs = [m for m in net.features if isinstance(m, nn.Conv2d)]
    bns = [m for m in net.features if isinstance(m, nn.BatchNorm2d)]
    with torch.no_grad():
        for i, (conv, bn) in enumerate(zip(convs, bns), 1):
            w = _read_blob(os.path.join(weights, "conv%d_w.bin" % i)).view_as(conv.weight)
            conv.weight.copy_(w * INPUT_SCALE if i == 1 else w)
            conv.bias.copy_(_read_blob(os.path.join(weights, "conv%d_b.bin" % i)))
            bn.weight.fill_(1.0)
            bn.bias.zero_()
            bn.running_mean.zero_()
            bn.running_var.fill_(1.0 - bn.eps)
        net.fc.weight.copy_(_read_blob(os.path.join(weights, "fc_w.bin")).view_as(net.fc.weight))
        net.fc.bias.copy_(_read_blob(os.path.join(weights, "fc_b.bin")))
    return net.eval()


def widen(net, channels, seed=0):
    """A net with more filters in each convolution that answers as `net`
    does: the new filters start small and random, and what reads them (the
    next convolution, the fully connected layer) starts at zero, so training
    on from it begins where `net` stands."""
    wide = Net(channels=channels)
    g = torch.Generator().manual_seed(seed)
    convs = [m for m in net.features if isinstance(m, nn.Conv2d)]
    wconvs = [m for m in wide.features if isinstance(m, nn.Conv2d)]
    bns = [m for m in net.features if isinstance(m, nn.BatchNorm2d)]
    wbns = [m for m in wide.features if isinstance(m, nn.BatchNorm2d)]
    with torch.no_grad():
        for conv, wc, bn, wb in zip(convs, wconvs, bns, wbns):
            o, i = conv.weight.shape[:2]
            wc.weight.copy_(torch.randn(wc.weight.shape, generator=g) * 0.05 * conv.weight.std())
            wc.weight[:, i:] = 0  # new inputs are read with zero weight
            wc.weight[:o, :i] = conv.weight
            wc.bias.zero_()
            wc.bias[:o] = conv.bias
            for name in ("weight", "bias", "running_mean", "running_var"):
                getattr(wb, name).copy_(torch.cat([getattr(bn, name), getattr(wb, name)[o:]]))
            wb.running_var[o:] = 1.0 - wb.eps
            wb.weight[o:] = 1.0
        c_old, c_new = net.channels[-1], wide.channels[-1]
        hw = net.flat // c_old
        fw = torch.zeros(net.fc.weight.shape[0], c_new, hw)
        fw[:, :c_old] = net.fc.weight.view(-1, c_old, hw)
        wide.fc.weight.copy_(fw.view(-1, c_new * hw))
        wide.fc.bias.copy_(net.fc.bias)
    return wide.eval()
