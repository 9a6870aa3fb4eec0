#!/usr/bin/python3
"""The clustering library's automatic cluster count against a Gaussian mixture
chosen by BIC, on planted data (see bench/README.md, bench/cluster_count.sh).

Every case is drawn with fixed seeds (1 .. --seeds), its records shuffled,
written as a CSV and clustered twice:
  vxcluster  bench/cluster_count (default ClusterSettings, PreCluster, then
             AutoCluster(--least, --most), each record assigned by
             ClusterModel::AssignRecord);
  mixture    scikit-learn's GaussianMixture with its defaults (full
             covariances unless --covariance says otherwise, one k-means
             start), fitted for every count from
             --least to --most, the count of least BIC kept. Categorical
             columns are one-hot coded for it (one 0/1 column per category).
The table gives, per case, the true count, the count found (mean and
min-max over the seeds, and how many seeds found the true count), the
adjusted Rand index of the labels against the planted ones (mean and
min-max) and the mean wall time per run (vxcluster: the whole program run,
reading the CSV included; mixture: all its fits).
"""

import argparse
import os
import platform
import subprocess
import sys
import time

# One BLAS thread: the machine is shared and the fits are small.
for name in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(name, "1")

import numpy as np  # noqa: E402
from sklearn.metrics import adjusted_rand_score  # noqa: E402
from sklearn.mixture import GaussianMixture  # noqa: E402


# ---------------------------------------------------------------- planted data
# Every generator returns (continuous block or None, categorical block of codes
# 1..n or None, true labels). Continuous clusters have their own spread per
# axis (0.6 .. 1.4), so neither side gets spherical clusters for free.


def separated_centres(rng, k, dims, min_gap):
    """k centres whose pairwise distances are all at least min_gap."""
    half = min_gap * max(1.0, k ** (1.0 / dims))
    while True:
        centres = rng.uniform(-half, half, size=(k, dims))
        if k == 1:
            return centres
        gaps = np.linalg.norm(centres[:, None, :] - centres[None, :, :], axis=2)
        if gaps[np.triu_indices(k, 1)].min() >= min_gap:
            return centres


def gaussian_block(rng, centres, sizes):
    parts, labels = [], []
    for j, (centre, n) in enumerate(zip(centres, sizes)):
        spread = rng.uniform(0.6, 1.4, size=len(centre))
        parts.append(centre + spread * rng.standard_normal((n, len(centre))))
        labels.append(np.full(n, j))
    return np.vstack(parts), np.concatenate(labels)


def categorical_block(rng, labels, k, n_vars, n_cats, p_main):
    """Per cluster and variable one main category (drawn with probability
    p_main, the others sharing the rest); clusters get different main
    categories on each variable where n_cats allows."""
    codes = np.empty((len(labels), n_vars), dtype=int)
    for v in range(n_vars):
        main = rng.permutation(np.resize(np.arange(n_cats), k))
        for j in range(k):
            rows = np.flatnonzero(labels == j)
            probs = np.full(n_cats, (1.0 - p_main) / (n_cats - 1))
            probs[main[j]] = p_main
            codes[rows, v] = rng.choice(n_cats, size=len(rows), p=probs) + 1
    return codes


def separated(k):
    def make(rng):
        cont, labels = gaussian_block(rng, separated_centres(rng, k, 3, 8.0), [200] * k)
        return cont, None, labels

    return make


def unequal(rng):
    cont, labels = gaussian_block(rng, separated_centres(rng, 3, 3, 8.0), [2000, 300, 50])
    return cont, None, labels


def overlapping(rng):
    # Three clusters on a triangle of side 3.5 (spreads 0.6 .. 1.4): their
    # tails mix, but the three modes are plain to see.
    angles = rng.uniform(0, 2 * np.pi) + np.array([0, 2, 4]) * np.pi / 3
    centres = (3.5 / np.sqrt(3)) * np.column_stack([np.cos(angles), np.sin(angles)])
    cont, labels = gaussian_block(rng, centres, [400] * 3)
    return cont, None, labels


def categorical(k):
    def make(rng):
        labels = np.repeat(np.arange(k), 1200 // k)
        return None, categorical_block(rng, labels, k, 6, 4, 0.7), labels

    return make


def mixed(rng):
    cont, labels = gaussian_block(rng, separated_centres(rng, 3, 2, 4.0), [400] * 3)
    return cont, categorical_block(rng, labels, 3, 3, 4, 0.6), labels


CASES = (
    [("separated k=%d" % k, k, separated(k)) for k in range(1, 11)]
    + [
        ("unequal 2000/300/50", 3, unequal),
        ("overlapping", 3, overlapping),
        ("categorical 6x4", 3, categorical(3)),
        ("categorical 6x4, one", 1, categorical(1)),
        ("mixed 2 cont + 3x4 cat", 3, mixed),
    ]
)


# ------------------------------------------------------------------ the models


def run_vxcluster(program, path, n_cont, n_cat, least, most):
    cmd = [program, path, "--least", str(least), "--most", str(most)]
    if n_cat:
        cmd += ["--categorical", ",".join(str(n_cont + c) for c in range(n_cat))]
    start = time.perf_counter()
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout.split()
    seconds = time.perf_counter() - start
    assert out[0] == "clusters"
    return int(out[1]), np.array([int(v) for v in out[2:]]), seconds


def run_mixture(x, least, most, seed, covariance):
    start = time.perf_counter()
    best = None
    for k in range(least, min(most, len(x)) + 1):
        gm = GaussianMixture(n_components=k, covariance_type=covariance,
                             random_state=seed).fit(x)
        bic = gm.bic(x)
        if best is None or bic < best[0]:
            best = (bic, k, gm)
    labels = best[2].predict(x)
    return best[1], labels, time.perf_counter() - start


def one_hot(codes):
    cols = []
    for v in range(codes.shape[1]):
        n = codes[:, v].max()
        cols.append((codes[:, v][:, None] == np.arange(1, n + 1)[None, :]).astype(float))
    return np.hstack(cols)


# ----------------------------------------------------------------------- table


def spread(values, fmt):
    values = np.asarray(values, dtype=float)
    return (fmt + " (" + fmt + "-" + fmt + ")") % (values.mean(), values.min(), values.max())


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--program", required=True, help="the cluster_count program")
    ap.add_argument("--work", required=True, help="folder for the CSV files")
    ap.add_argument("--seeds", type=int, default=5)
    ap.add_argument("--least", type=int, default=1)
    ap.add_argument("--most", type=int, default=15)
    ap.add_argument("--covariance", default="full", choices=["full", "tied", "diag", "spherical"],
                    help="the mixture's covariance type (default full, its own default)")
    ap.add_argument("--only", default="", help="run the cases whose name contains this")
    args = ap.parse_args()

    load = os.getloadavg()
    print("Machine: %s, %d cores; load %.2f (1 min), %.2f (5 min)"
          % (platform.machine(), os.cpu_count(), load[0], load[1]))
    print("numpy %s, scikit-learn %s; seeds 1..%d; counts tried %d..%d; mixture covariance %s"
          % (np.__version__, __import__("sklearn").__version__, args.seeds, args.least,
             args.most, args.covariance))
    print()
    head = ("%-22s %4s  %-9s %-16s %5s %-21s %6s" % ("case", "true", "model", "count found",
                                                    "right", "adjusted Rand", "sec"))
    print(head)
    print("-" * len(head))
    sys.stdout.flush()

    for name, true_k, make in CASES:
        if args.only not in name:
            continue
        found = {"vxcluster": [], "mixture": []}
        ari = {"vxcluster": [], "mixture": []}
        secs = {"vxcluster": [], "mixture": []}
        for seed in range(1, args.seeds + 1):
            rng = np.random.default_rng(seed)
            cont, cat, labels = make(rng)
            order = rng.permutation(len(labels))
            labels = labels[order]
            blocks = []
            if cont is not None:
                cont = cont[order]
                blocks.append(cont)
            if cat is not None:
                cat = cat[order]
                blocks.append(cat.astype(float))
            table = np.hstack(blocks)
            path = os.path.join(args.work, "case.csv")
            np.savetxt(path, table, delimiter=",", fmt="%.9g")
            n_cont = 0 if cont is None else cont.shape[1]
            n_cat = 0 if cat is None else cat.shape[1]

            k, got, s = run_vxcluster(args.program, path, n_cont, n_cat, args.least, args.most)
            found["vxcluster"].append(k)
            ari["vxcluster"].append(adjusted_rand_score(labels, got))
            secs["vxcluster"].append(s)

            x = cont if cat is None else (one_hot(cat) if cont is None
                                          else np.hstack([cont, one_hot(cat)]))
            k, got, s = run_mixture(x, args.least, args.most, seed, args.covariance)
            found["mixture"].append(k)
            ari["mixture"].append(adjusted_rand_score(labels, got))
            secs["mixture"].append(s)

        for i, model in enumerate(("vxcluster", "mixture")):
            right = sum(1 for k in found[model] if k == true_k)
            print("%-22s %4s  %-9s %-16s %3d/%d %-21s %6.2f"
                  % (name if i == 0 else "", true_k if i == 0 else "", model,
                     spread(found[model], "%.1f"), right, args.seeds,
                     spread(ari[model], "%.2f"), np.mean(secs[model])))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
