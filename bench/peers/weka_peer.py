"""The Weka peer of the comparison scripts (Debian package `weka`, 3.6):
its RBFNetwork (k-means centres with Gaussian basis functions under
logistic regression for classes, linear regression for a numeric target;
bench/compare_peers.sh part C and bench/real_data.sh) and its
MultilayerPerceptron (bench/real_data.sh), each with its defaults but the
number of clusters asked for.

    weka_peer.py --task class|regr --train FILE --test FILE [--model rbf|mlp]
                 [--clusters B] [--nominal COLUMN]... [--jar /usr/share/java/weka.jar]

The CSV files (header row, target last) are written as ARFF files beside
them. An input is nominal when it is named by --nominal or when one of its
cells in either file is not a number; its values are those of both files,
in order of appearance. Every other input is numeric. An empty cell is
written as '?', a missing value, which Weka's models replace themselves
(the training mean or most frequent value). The target is nominal (class)
or numeric (regr).

Weka trains on the training file once and saves the model, reporting the
time it took to build it; a second run loads the model and prints its
prediction for every test record (`-p 0`). This module returns the
predictions in file order, None where Weka gave none, so that the
comparison scripts score every library's predictions with one function.
compare.py imports predict(), real_data.py fit_predict(); the command line
prints the predictions and the seconds.
"""

import argparse
import csv
import os
import re
import subprocess

DEFAULT_JAR = "/usr/share/java/weka.jar"
CLASSIFIERS = {"rbf": "weka.classifiers.functions.RBFNetwork",
               "mlp": "weka.classifiers.functions.MultilayerPerceptron"}
RBF_DEFAULT_CLUSTERS = 2


def _rows(path):
    with open(path, newline="") as f:
        rows = [r for r in csv.reader(f) if r]
    return rows[0], rows[1:]


def _quote(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def _is_number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


def _values(bodies, column):
    """The distinct non-empty cells of a column, in order of appearance."""
    seen = {}
    for body in bodies:
        for r in body:
            v = r[column].strip()
            if v:
                seen.setdefault(v, None)
    return list(seen)


def _attributes(header, bodies, task, nominal):
    """Each column's ARFF type: a list of values (nominal) or None (numeric)."""
    kinds = []
    for c, name in enumerate(header[:-1]):
        values = _values(bodies, c)
        is_nominal = name in nominal or not all(_is_number(v) for v in values)
        kinds.append(values if is_nominal else None)
    kinds.append(_values(bodies, len(header) - 1) if task == "class" else None)
    return kinds


def _write_arff(path, header, body, kinds):
    with open(path, "w") as f:
        f.write("@relation split\n\n")
        for name, values in zip(header, kinds):
            kind = "numeric" if values is None else "{" + ",".join(map(_quote, values)) + "}"
            f.write(f"@attribute {_quote(name)} {kind}\n")
        f.write("\n@data\n")
        for r in body:
            cells = []
            for cell, values in zip(r, kinds):
                cell = cell.strip()
                cells.append("?" if not cell else cell if values is None else _quote(cell))
            f.write(",".join(cells) + "\n")


def _java(jar, classifier, arguments):
    command = ["java", "-Xmx1g", "-cp", jar, CLASSIFIERS[classifier]] + arguments
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def fit_predict(task, train, test, classifier="rbf", clusters=RBF_DEFAULT_CLUSTERS,
                nominal=(), jar=DEFAULT_JAR, options=()):
    """Weka's predictions for the test records (class labels or numbers,
    None where it gave none) and the seconds Weka reports for building the
    model."""
    header, train_body = _rows(train)
    _, test_body = _rows(test)
    kinds = _attributes(header, [train_body, test_body], task, set(nominal))
    arff = []
    for path, body in ((train, train_body), (test, test_body)):
        out = os.path.splitext(path)[0] + ".arff"
        _write_arff(out, header, body, kinds)
        arff.append(out)
    model = os.path.splitext(train)[0] + f".weka-{classifier}.model"
    extra = list(options)
    if classifier == "rbf":
        extra += ["-B", str(clusters)]
    # No test file and no cross-validation: the run only builds, saves and
    # times the model (and scores its own training records, not timed).
    built = _java(jar, classifier, ["-t", arff[0], "-d", model, "-no-cv", "-o"] + extra)
    seconds = re.search(r"Time taken to build model: ([0-9.eE+-]+) seconds", built)
    if not seconds:
        raise RuntimeError("weka did not report the time it took to build the model")
    out = _java(jar, classifier, ["-l", model, "-T", arff[1], "-p", "0"])
    predictions = []
    started = False
    for line in out.splitlines():
        fields = line.split()
        if fields[:1] == ["inst#"]:
            started = True
            continue
        if not started or not fields or not fields[0].isdigit():
            continue
        # inst#, actual, predicted, [error marker], ...: a nominal value is
        # written as index:label, the label cut to a few characters, so the
        # index (from 1) names it; '?' is no prediction.
        value = fields[2]
        if value == "?" or value.endswith(":?"):
            predictions.append(None)
        elif task == "class":
            predictions.append(kinds[-1][int(value.split(":", 1)[0]) - 1])
        else:
            predictions.append(float(value))
    if len(predictions) != len(test_body):
        raise RuntimeError(f"weka gave {len(predictions)} predictions for {len(test_body)} records")
    return predictions, float(seconds.group(1))


def predict(task, train, test, clusters=RBF_DEFAULT_CLUSTERS, jar=DEFAULT_JAR):
    """The RBF network's predictions for the test records: class labels or
    numbers."""
    return fit_predict(task, train, test, "rbf", clusters, (), jar)[0]


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--task", choices=["class", "regr"], required=True)
    p.add_argument("--train", required=True)
    p.add_argument("--test", required=True)
    p.add_argument("--model", choices=sorted(CLASSIFIERS), default="rbf")
    p.add_argument("--clusters", type=int, default=RBF_DEFAULT_CLUSTERS)
    p.add_argument("--nominal", action="append", default=[],
                   help="an input column of numeric codes to treat as nominal")
    p.add_argument("--jar", default=DEFAULT_JAR)
    a = p.parse_args()
    predictions, seconds = fit_predict(a.task, a.train, a.test, a.model, a.clusters, a.nominal,
                                       a.jar)
    for v in predictions:
        print("" if v is None else v)
    print(f"# {seconds:g} s to build the model")


if __name__ == "__main__":
    main()
