"""The RBF network peer of bench/compare_peers.sh (part C): Weka's
RBFNetwork (Debian package `weka`, 3.6), k-means centres with Gaussian
basis functions under logistic regression (classes) or linear regression
(a numeric target).

    weka_peer.py --task class|regr --train FILE --test FILE [--clusters B]
                 [--jar /usr/share/java/weka.jar]

The CSV files (header row, numeric inputs, target last) are written as
ARFF files beside them: every input numeric, the target nominal (its
values from both files, in order of appearance) or numeric. Weka then
trains on the training file and prints its prediction for every test
record (`-p 0`); this module returns them in file order, so that
compare.py scores every library's predictions with one function.
compare.py imports predict(); the command line prints the predictions.
"""

import argparse
import csv
import os
import subprocess

DEFAULT_JAR = "/usr/share/java/weka.jar"


def _rows(path):
    with open(path, newline="") as f:
        rows = [r for r in csv.reader(f) if r]
    return rows[0], rows[1:]


def _quote(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def _write_arff(path, header, body, task, classes):
    with open(path, "w") as f:
        f.write("@relation split\n\n")
        for name in header[:-1]:
            f.write(f"@attribute {_quote(name)} numeric\n")
        if task == "class":
            f.write(f"@attribute {_quote(header[-1])} {{{','.join(_quote(c) for c in classes)}}}\n")
        else:
            f.write(f"@attribute {_quote(header[-1])} numeric\n")
        f.write("\n@data\n")
        for r in body:
            cells = r[:-1] + [_quote(r[-1].strip()) if task == "class" else r[-1]]
            f.write(",".join(cells) + "\n")


def predict(task, train, test, clusters=2, jar=DEFAULT_JAR):
    """Weka's predictions for the test records: class labels or numbers."""
    header, train_body = _rows(train)
    _, test_body = _rows(test)
    classes = []
    if task == "class":
        for r in train_body + test_body:
            if r[-1].strip() not in classes:
                classes.append(r[-1].strip())
    arff = []
    for path, body in ((train, train_body), (test, test_body)):
        out = os.path.splitext(path)[0] + ".arff"
        _write_arff(out, header, body, task, classes)
        arff.append(out)
    command = ["java", "-Xmx512m", "-cp", jar, "weka.classifiers.functions.RBFNetwork",
               "-t", arff[0], "-T", arff[1], "-p", "0", "-B", str(clusters)]
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
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
        # index (from 1) names it.
        value = fields[2]
        if task == "class":
            predictions.append(classes[int(value.split(":", 1)[0]) - 1])
        else:
            predictions.append(float(value))
    if len(predictions) != len(test_body):
        raise RuntimeError(f"weka gave {len(predictions)} predictions for {len(test_body)} records")
    return predictions


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--task", choices=["class", "regr"], required=True)
    p.add_argument("--train", required=True)
    p.add_argument("--test", required=True)
    p.add_argument("--clusters", type=int, default=2)
    p.add_argument("--jar", default=DEFAULT_JAR)
    a = p.parse_args()
    for v in predict(a.task, a.train, a.test, a.clusters, a.jar):
        print(v)


if __name__ == "__main__":
    main()
