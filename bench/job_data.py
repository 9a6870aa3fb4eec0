#!/usr/bin/python3
"""Writes the whole-job benchmark's CSV file: 20 numeric inputs, one text
input of 8 categories and a 4-class target, with about 1% of the numeric
cells empty (missing), as a new user's file would have them.

The class is the largest of four scores, each a linear rule of the inputs,
a term of the category and a bend (a product of two inputs), plus noise,
so that a linear model falls short of what a hidden layer can learn. The
seed fixes the file: the same arguments give the same bytes.

usage: bench/job_data.py ROWS OUT.csv [SEED]
"""
import sys

import numpy as np


def main():
    rows = int(sys.argv[1])
    out = sys.argv[2]
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 2026
    rng = np.random.default_rng(seed)
    x = rng.normal(size=(rows, 20))
    cat = rng.integers(0, 8, size=rows)
    w = rng.normal(size=(20, 4)) * 0.6
    cw = rng.normal(size=(8, 4))
    scores = x @ w + cw[cat]
    scores[:, 0] += 1.5 * x[:, 0] * x[:, 1]
    scores[:, 1] += 1.5 * np.tanh(2.0 * x[:, 2]) * x[:, 3]
    scores[:, 2] += 0.8 * x[:, 4] ** 2
    scores += rng.gumbel(size=scores.shape) * 0.7
    y = scores.argmax(axis=1)
    missing = rng.random(size=x.shape) < 0.01
    labels = np.array(["alpha", "beta", "gamma", "delta"])
    cats = np.array(["c%d" % i for i in range(8)])
    with open(out, "w") as f:
        f.write(",".join(["x%d" % (i + 1) for i in range(20)] + ["group", "class"]) + "\n")
        chunk = 100000
        for start in range(0, rows, chunk):
            stop = min(rows, start + chunk)
            cells = np.char.mod("%.5g", x[start:stop])
            cells[missing[start:stop]] = ""
            lines = [",".join(r) for r in cells.tolist()]
            f.write("".join(line + "," + c + "," + t + "\n"
                            for line, c, t in zip(lines, cats[cat[start:stop]],
                                                  labels[y[start:stop]])))


if __name__ == "__main__":
    main()
