#!/usr/bin/env python3
"""Checks the JSON documents vxnn writes against their schemas.

docs/schema/ holds one JSON Schema (draft 2020-12) for each summary vxnn
writes as JSON: `train --json` (train-summary.schema.json), `eval --json`
(eval-summary.schema.json) and `inspect --json` (model-summary.schema.json).
The schemas are strict (every member named, no other allowed), so a
member the program writes and the schema does not know fails here, as
does one the schema requires and the program left out, or a value of
another type.

Each schema is first checked as a schema of its draft. Then vxnn runs
over cases chosen so that between them every optional member is written
at least once with a value and once without: perceptron and RBF network,
categorical and continuous targets, --network auto, the size selection
and the library's architecture search, importance from every record and
from a sample, a refit and none, no test records, missing values imputed
and dropped, records read from temporary files, eval on clean and on
damaged data, and inspect with and without --weights. Every output is
validated; every error is printed with the case and where in the
document it is. Exit status 1 on any error.

--dump DIR writes every case's text and JSON output to DIR instead of
validating (one file per case and form), so that two builds of vxnn can
be compared output for output.

Needs the jsonschema module (Debian's python3-jsonschema), 4.10 or newer;
exits 77 (CTest: skipped) without it.
"""

import argparse
import csv
import json
import os
import subprocess
import sys
import tempfile

SCHEMAS = {
    "train": "train-summary.schema.json",
    "eval": "eval-summary.schema.json",
    "inspect": "model-summary.schema.json",
}

# (name, arguments after "vxnn train"); {work} is the folder of the run.
# Every case trains without a progress bar; the models they save feed the
# eval and inspect cases below.
TRAIN_CASES = [
    ("mlp_categorical", ["data/iris.csv", "--target", "species", "-o", "{work}/mlp.model"]),
    ("rbf_categorical_xml", ["data/iris.csv", "--target", "species", "--network", "rbf",
                             "--format", "xml", "-o", "{work}/rbf.model"]),
    ("mlp_continuous_no_test", ["data/diabetes.csv", "--target", "progression",
                                "--test-fraction", "0", "--no-importance",
                                "-o", "{work}/cont.model"]),
    ("rbf_continuous_rule", ["data/diabetes.csv", "--target", "progression", "--network", "rbf",
                             "--size-selection", "rule", "--no-save"]),
    ("auto", ["data/wine.csv", "--target", "cultivar", "--network", "auto", "--no-save"]),
    ("auto_no_test", ["data/iris.csv", "--target", "species", "--network", "auto",
                      "--test-fraction", "0", "--no-save"]),
    ("mixed_targets_two_layers", ["data/iris.csv", "--target", "species", "--target",
                                  "petal_width", "--hidden-layers", "2", "--hidden-units",
                                  "4,3", "--no-refit", "--no-save"]),
    ("no_hidden_layer", ["data/iris.csv", "--target", "species", "--hidden-layers", "0",
                         "--no-save"]),
    ("architecture_search", ["data/iris.csv", "--target", "species", "--select-architecture",
                             "--max-hidden-units", "4", "--max-selection-time", "20",
                             "--no-save"]),
    ("rbf_architecture_search", ["data/iris.csv", "--target", "species", "--network", "rbf",
                                 "--select-architecture", "--min-hidden-units", "3",
                                 "--max-hidden-units", "6", "--no-save"]),
    ("minibatch_sampled_importance", ["data/iris.csv", "--target", "species", "--method", "gd",
                                      "--training-type", "minibatch", "--mini-batch-size", "20",
                                      "--hidden-units", "4", "--importance-sample", "40",
                                      "--no-save"]),
    ("temporary_files", ["data/diabetes.csv", "--target", "progression", "--memory-budget", "50",
                         "--hidden-units", "3", "--categorical", "sex", "--no-save"]),
    ("whole_number_target", ["data/diabetes.csv", "--target", "sex", "--hidden-units", "3",
                             "--no-importance", "--no-save"]),
    ("auto_options_leave_out", ["data/iris.csv", "--target", "species", "--network", "auto",
                                "--hidden-units", "4", "--no-save"]),
    ("auto_continuous", ["data/diabetes.csv", "--target", "progression", "--network", "auto",
                         "--size-selection", "rule", "--no-importance", "--no-save"]),
    ("missing_imputed", ["{work}/missing.csv", "--target", "species", "--continuous",
                         "petal_width", "--hidden-units", "3", "-o", "{work}/missing.model"]),
    ("missing_dropped", ["{work}/missing.csv", "--target", "species", "--missing-inputs", "drop",
                         "--missing", "sepal_length=999", "--hidden-units", "3", "--no-save"]),
]

# (name, command and arguments).
OTHER_CASES = [
    ("eval_categorical", ["eval", "{work}/mlp.model", "data/iris.csv"]),
    ("eval_rbf", ["eval", "{work}/rbf.model", "data/iris.csv"]),
    ("eval_continuous", ["eval", "{work}/cont.model", "data/diabetes.csv"]),
    ("eval_damaged", ["eval", "{work}/missing.model", "{work}/damaged.csv"]),
    ("eval_damaged_dropped", ["eval", "{work}/missing.model", "{work}/damaged.csv",
                              "--missing-inputs", "drop", "--unknown-categories", "drop"]),
    ("inspect_mlp", ["inspect", "{work}/mlp.model"]),
    ("inspect_mlp_weights", ["inspect", "{work}/mlp.model", "--weights"]),
    ("inspect_rbf", ["inspect", "{work}/rbf.model"]),
    ("inspect_rbf_weights", ["inspect", "{work}/rbf.model", "--weights"]),
    ("inspect_continuous", ["inspect", "{work}/cont.model"]),
]


# Members of a schema that no case writes, with why: every other member the
# schemas name must appear in some document, so that a case list that
# stops covering a member is noticed.
NOT_COVERED = {
    # Records of a training file left out for an unknown category or for
    # text in a numeric column: no case here provokes one (a single row of
    # a new category, on either side of the split, is not left out).
    "train: data.left_out_of_training.unknown_category",
    "train: data.left_out_of_training.not_a_number",
    "train: data.left_out_of_test.unknown_category",
    "train: data.left_out_of_test.not_a_number",
    # A candidate size none of whose folds the library could fit.
    "train: size_selection[].candidates[].left_out",
}


def schema_members(node, path, defs, found):
    """Adds to found the path of every member the schema node names."""
    if isinstance(node, list):
        for n in node:
            schema_members(n, path, defs, found)
        return
    if not isinstance(node, dict):
        return
    if "$ref" in node:
        schema_members(defs[node["$ref"].split("/")[-1]], path, defs, found)
    for key, sub in node.get("properties", {}).items():
        member = path + "." + key if path else key
        found.add(member)
        schema_members(sub, member, defs, found)
    if "items" in node:
        schema_members(node["items"], path + "[]", defs, found)
    for key in ("anyOf", "oneOf", "allOf", "then", "else"):
        if key in node:
            schema_members(node[key], path, defs, found)


def document_members(value, path, found):
    """Adds to found the path of every member of a document."""
    if isinstance(value, dict):
        for key, sub in value.items():
            member = path + "." + key if path else key
            found.add(member)
            document_members(sub, member, found)
    elif isinstance(value, list):
        for sub in value:
            document_members(sub, path + "[]", found)


def write_data(root, work):
    """The iris table with gaps, codes and damage, for the missing-value cases."""
    with open(os.path.join(root, "data", "iris.csv"), newline="") as f:
        rows = list(csv.reader(f))
    header, body = rows[0], rows[1:]
    missing = [list(r) for r in body]
    for i, row in enumerate(missing):
        if i % 9 == 4:
            row[1] = ""  # sepal_width missing
        if i % 13 == 6:
            row[0] = "999"  # a declared missing code in the drop case
        if i % 31 == 8:
            row[3] = "nan"  # a non-finite number, counted as missing
    with open(os.path.join(work, "missing.csv"), "w", newline="") as f:
        csv.writer(f).writerows([header] + missing)
    damaged = [list(r) for r in body[::5]]
    damaged[0][2] = "long"  # text in a numeric column
    damaged[1][1] = ""  # a missing input
    damaged[2][4] = "rose"  # a category the model never saw
    damaged[3][4] = ""  # a missing target
    with open(os.path.join(work, "damaged.csv"), "w", newline="") as f:
        csv.writer(f).writerows([header] + damaged)


def cases(work):
    """(name, command, arguments, whether JSON) of every run, in order."""
    runs = []
    for name, args in TRAIN_CASES:
        args = [a.format(work=work) for a in args]
        for json_form in (True, False):
            extra = ["--json"] if json_form else []
            runs.append((name, "train", ["train"] + args + ["--no-progress"] + extra, json_form))
    for name, args in OTHER_CASES:
        args = [a.format(work=work) for a in args]
        for json_form in (True, False):
            runs.append((name, args[0], args + (["--json"] if json_form else []), json_form))
    return runs


def run(vxnn, root, args):
    done = subprocess.run([vxnn] + args, cwd=root, capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise RuntimeError("vxnn " + " ".join(args) + " failed (" + str(done.returncode) +
                           "):\n" + done.stderr)
    return done.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", required=True, help="the source tree (data/, docs/schema/)")
    parser.add_argument("--vxnn", required=True, help="the vxnn program to run")
    parser.add_argument("--dump", help="write every output to this folder instead")
    parser.add_argument("--work", help="the folder for models and data (default: a new one)")
    options = parser.parse_args()
    root = os.path.abspath(options.root)
    vxnn = os.path.abspath(options.vxnn)
    if not options.dump:
        try:
            import jsonschema  # pylint: disable=import-outside-toplevel
        except ImportError:
            print("skipped: no jsonschema module (Debian's python3-jsonschema)")
            return 77

    schemas = {}
    validators = {}
    errors = 0
    for command, file_name in SCHEMAS.items() if not options.dump else ():
        path = os.path.join(root, "docs", "schema", file_name)
        with open(path) as f:
            schemas[command] = json.load(f)
        try:
            jsonschema.Draft202012Validator.check_schema(schemas[command])
        except jsonschema.exceptions.SchemaError as e:
            print(file_name + ": not a valid draft 2020-12 schema: " + e.message)
            errors += 1
        else:
            validators[command] = jsonschema.Draft202012Validator(schemas[command])
    if errors:
        return 1  # documents are not validated against a broken schema

    with tempfile.TemporaryDirectory() as scratch:
        work = os.path.abspath(options.work) if options.work else scratch
        os.makedirs(work, exist_ok=True)
        write_data(root, work)
        checked = 0
        seen = {}
        for name, command, args, json_form in cases(work):
            out = run(vxnn, root, args)
            if options.dump:
                os.makedirs(options.dump, exist_ok=True)
                suffix = ".json" if json_form else ".txt"
                with open(os.path.join(options.dump, name + suffix), "w") as f:
                    f.write(out)
                continue
            if not json_form:
                continue
            document = json.loads(out)
            checked += 1
            document_members(document, "", seen.setdefault(command, set()))
            for e in sorted(validators[command].iter_errors(document), key=lambda e: [str(p) for p in e.path]):
                where = "/".join(str(p) for p in e.absolute_path) or "(the document)"
                print(name + ": " + where + ": " + e.message)
                errors += 1
    if options.dump:
        return 0
    for command, schema in schemas.items():
        named = set()
        schema_members(schema, "", schema.get("$defs", {}), named)
        for entry in sorted(NOT_COVERED):
            if entry.startswith(command + ": ") and entry[len(command) + 2:] not in named:
                print(entry + ": listed as not covered, but the schema has no such member")
                errors += 1
        for member in sorted(named - seen.get(command, set())):
            if command + ": " + member not in NOT_COVERED:
                print(command + ": " + member + ": in the schema, written by no case")
                errors += 1
    print(str(checked) + " documents checked against " + str(len(schemas)) + " schemas, " +
          str(errors) + " errors")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
