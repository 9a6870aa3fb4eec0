"""One full gradient pass (forward pass, error, back-propagation, every
weight's gradient) over the same number of records and the same network
shapes, by our kernels and by the peers, in one run; prints each rate in
record x weight per second, its ratio to the best peer, and our kernels'
rates beside the core's peak. Started by bench/compare_pass.sh, which builds
the programs and passes their paths; see bench/README.md.

Peers (each on one thread, double precision):
- numpy on OpenBLAS: the pass written with whole-batch matrix products, as
  scikit-learn's MLP computes its loss gradient;
- PyTorch: a two-layer model, its summed loss and autograd's backward;
- FANN: one batch training epoch (its gradient pass plus one update).

An RBF pass (hidden distances and activations, output layer, error) is set
against a plain vectorised numpy version of the same computation.
"""

import argparse
import json
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True
# One BLAS thread, whatever the library would choose.
for var in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[var] = "1"

import numpy as np  # noqa: E402

RECORDS = 1797
SHAPES = [(64, 32, 10), (64, 128, 10), (200, 50, 1)]
RBF_SHAPES = [(64, 100, 10), (200, 50, 1)]


def weights(shape):
    i, h, o = shape
    return h * (i + 1) + o * (h + 1)


def data(shape, seed=7):
    i, _, o = shape
    rng = np.random.default_rng(seed)
    x = rng.uniform(-1, 1, (RECORDS, i))
    if o == 1:
        y = rng.uniform(-1, 1, (RECORDS, 1))
    else:
        y = np.eye(o)[rng.integers(0, o, RECORDS)]
    return x, y


def best_seconds(fn, passes, repeats):
    """The best over repeats of the processor time of one pass."""
    fn()
    best = float("inf")
    for _ in range(repeats):
        t0 = time.process_time()
        for _ in range(passes):
            fn()
        best = min(best, (time.process_time() - t0) / passes)
    return best


def numpy_pass(shape, passes, repeats):
    i, h, o = shape
    x, y = data(shape)
    rng = np.random.default_rng(1)
    w1, b1 = rng.uniform(-0.5, 0.5, (i, h)), rng.uniform(-0.5, 0.5, h)
    w2, b2 = rng.uniform(-0.5, 0.5, (h, o)), rng.uniform(-0.5, 0.5, o)
    classify = o > 1

    def run():
        a = np.tanh(x @ w1 + b1)
        z = a @ w2 + b2
        if classify:
            z -= z.max(axis=1, keepdims=True)
            p = np.exp(z)
            p /= p.sum(axis=1, keepdims=True)
            loss = -np.sum(y * np.log(np.maximum(p, 1e-300)))
        else:
            p = z
            loss = 0.5 * np.sum((p - y) ** 2)
        d2 = p - y
        g2, gb2 = a.T @ d2, d2.sum(axis=0)
        d1 = (d2 @ w2.T) * (1.0 - a * a)
        g1, gb1 = x.T @ d1, d1.sum(axis=0)
        return loss, g1, gb1, g2, gb2

    return best_seconds(run, passes, repeats)


def torch_pass(shape, passes, repeats):
    try:
        import torch
    except ImportError:
        return None
    torch.set_num_threads(1)
    i, h, o = shape
    x, y = data(shape)
    torch.manual_seed(1)
    model = torch.nn.Sequential(
        torch.nn.Linear(i, h), torch.nn.Tanh(), torch.nn.Linear(h, o)
    ).double()
    xt = torch.from_numpy(x)
    if o > 1:
        labels = torch.from_numpy(y.argmax(axis=1))

        def loss_of(out):
            return torch.nn.functional.cross_entropy(out, labels, reduction="sum")
    else:
        yt = torch.from_numpy(y)

        def loss_of(out):
            return 0.5 * ((out - yt) ** 2).sum()

    def run():
        model.zero_grad(set_to_none=False)
        loss_of(model(xt)).backward()

    return best_seconds(run, passes, repeats)


def fann_pass(program, shape, passes, repeats):
    if not program:
        return None
    i, h, o = shape
    out = subprocess.run(
        [program, str(i), str(h), str(o), str(RECORDS), str(passes), str(repeats)],
        check=True, capture_output=True, text=True).stdout
    fields = dict(f.split("=") for f in out.split())
    return float(fields["seconds_per_pass"])


def rbf_numpy_pass(shape, passes, repeats):
    """Normalised radial units: squared distances to every centre through one
    matrix product, softmax-like normalisation, output layer, error."""
    i, h, o = shape
    x, y = data(shape)
    rng = np.random.default_rng(2)
    c = rng.uniform(-1, 1, (h, i))
    inv_var = 1.0 / rng.uniform(0.5, 2.0, h)
    w = rng.uniform(-1, 1, (h, o))

    def run():
        d = (x * x).sum(axis=1)[:, None] - 2.0 * (x @ c.T) + (c * c).sum(axis=1)[None, :]
        z = -0.5 * d * inv_var
        z -= z.max(axis=1, keepdims=True)
        a = np.exp(z)
        a /= a.sum(axis=1, keepdims=True)
        out = a @ w
        return 0.5 * np.sum((y - out) ** 2)

    return best_seconds(run, passes, repeats)


def our_rates(programs):
    """record x weight/s of each (pass, shape, kernel), and peak FLOP/s of
    each kernel, from the Google Benchmark programs' JSON output."""
    rates, peaks = {}, {}
    found = []
    for program in programs:
        out = subprocess.run(
            [program, "--benchmark_filter=^(GradientPass|RBFPass|Peak)/",
             "--benchmark_format=json", "--benchmark_min_time=0.5"],
            check=True, capture_output=True, text=True).stdout
        found += json.loads(out)["benchmarks"]
    for b in found:
        parts = b["name"].split("/")
        if parts[0] == "Peak":
            peaks[parts[1]] = b["FLOP/s"]
        else:
            rates[(parts[0], parts[1], parts[2])] = b["record_weights/s"]
    return rates, peaks


def flops_per_record_weight(shape):
    """Multiply-adds as the bench programs count them (two operations each):
    forward and gradient every weight, deltas every non-bias weight above
    the first layer; per weight."""
    i, h, o = shape
    w = weights(shape)
    return (4.0 * w + 2.0 * (o * h)) / w


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--bench", required=True, help="bench_network program")
    p.add_argument("--bench-rbf", required=True, help="bench_rbf program")
    p.add_argument("--fann-pass", help="fann_pass program")
    p.add_argument("--passes", type=int, default=20)
    p.add_argument("--repeats", type=int, default=5)
    a = p.parse_args()

    rates, peaks = our_rates([a.bench, a.bench_rbf])
    kernels = sorted({k for (_, _, k) in rates}, key=lambda k: ["reference", "baseline", "avx2", "avx512"].index(k))
    print(f"One gradient pass over {RECORDS} records, one thread, fp64; "
          "record x weight / s (G), ratio to the best peer")
    print(f"{'shape':<10} {'system':<26} {'G rw/s':>8} {'vs best peer':>13} {'% of peak':>10}")
    for shape in SHAPES:
        name = "-".join(map(str, shape))
        w = weights(shape)
        peers = {
            "numpy+OpenBLAS": numpy_pass(shape, a.passes, a.repeats),
            "PyTorch": torch_pass(shape, a.passes, a.repeats),
            "FANN batch epoch": fann_pass(a.fann_pass, shape, a.passes, a.repeats),
        }
        peer_rates = {k: RECORDS * w / s for k, s in peers.items() if s}
        best = max(peer_rates.values())
        for k, r in peer_rates.items():
            print(f"{name:<10} {k:<26} {r / 1e9:8.3f} {r / best:12.2f}x {'':>10}")
        for k in kernels:
            r = rates[("GradientPass", name, k)]
            peak = peaks.get(k)
            share = f"{100 * r * flops_per_record_weight(shape) / peak:9.0f}%" if peak else ""
            print(f"{name:<10} {'vxneural ' + k:<26} {r / 1e9:8.3f} {r / best:12.2f}x {share:>10}")
    print()
    print("Core peak, FLOP/s measured by a register-only multiply-add loop of each kernel's "
          "instructions; as record x weight / s at the flops per record x weight of 64-32-10:")
    for k, f in peaks.items():
        print(f"  {k:<10} {f / 1e9:7.1f} GFLOP/s  = {f / flops_per_record_weight(SHAPES[0]) / 1e9:6.2f} G rw/s")
    print()
    print("RBF pass (normalised units: distances, activations, outputs, error); "
          "record x weight / s (G) with weights = centres + widths + output weights")
    for shape in RBF_SHAPES:
        name = "-".join(map(str, shape))
        i, h, o = shape
        w = h * (i + 1) + o * h
        ref = RECORDS * w / rbf_numpy_pass(shape, a.passes, a.repeats)
        print(f"{name:<10} {'numpy+OpenBLAS':<26} {ref / 1e9:8.3f} {1.0:12.2f}x")
        for k in kernels:
            r = rates.get(("RBFPass", name, k))
            if r:
                print(f"{name:<10} {'vxneural ' + k:<26} {r / 1e9:8.3f} {r / ref:12.2f}x")


if __name__ == "__main__":
    main()
