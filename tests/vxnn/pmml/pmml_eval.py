#!/usr/bin/python3
"""A small PMML 4.0 NeuralNetwork scorer, written from the standard's
element semantics, used to check exported documents independently.

Usage: pmml_eval.py MODEL.pmml DATA.csv

Prints one line per CSV record: for every NeuralOutput in document order,
the neuron's value when the output names a category of the target
(NormDiscrete), or the value mapped back into the target's units
(NormContinuous), as repr() floats separated by spaces.

A field's value is missing when its cell is empty, when it equals one of the
field's Value elements with property "missing", or when it lies in the
missing range the exporter declares with its own extensions
("invalidRangeLower" and "invalidRangeUpper", ends included). A missing
input takes its MiningField's missingValueReplacement.
"""
import csv
import math
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://www.dmg.org/PMML-4_0"}


def q(tag):
    return "{%s}%s" % (NS["p"], tag)


def numeric(data_type):
    return data_type not in ("string", "boolean")


class Fields:
    """Data fields of one record and the derived fields defined on them."""

    def __init__(self, root, model):
        self.types = {}
        self.missing = {}  # name: values with property "missing"
        self.ranges = {}  # name: (lower or None, upper or None)
        for f in root.iter(q("DataField")):
            name, data_type = f.get("name"), f.get("dataType")
            self.types[name] = data_type
            self.missing[name] = [
                self.parse(data_type, v.get("value"))
                for v in f.findall(q("Value")) if v.get("property") == "missing"]
            ends = {e.get("name"): float(e.get("value"))
                    for e in f.findall(q("Extension"))}
            if "invalidRangeLower" in ends or "invalidRangeUpper" in ends:
                self.ranges[name] = (ends.get("invalidRangeLower"),
                                     ends.get("invalidRangeUpper"))
        self.replacements = {
            m.get("name"): m.get("missingValueReplacement")
            for m in model.find(q("MiningSchema")).findall(q("MiningField"))
            if m.get("missingValueReplacement") is not None}
        self.derived = {}
        td = root.find(q("TransformationDictionary"))
        if td is not None:
            for d in td.findall(q("DerivedField")):
                self.derived[d.get("name")] = d

    @staticmethod
    def parse(data_type, text):
        return float(text) if numeric(data_type) else text

    def is_missing(self, name, value):
        if value in self.missing.get(name, []):
            return True
        if name not in self.ranges:
            return False
        lower, upper = self.ranges[name]
        return ((lower is None or value >= lower) and
                (upper is None or value <= upper))

    def raw(self, name, record):
        data_type = self.types.get(name, "double")
        text = record.get(name, "")
        value = None if text == "" else self.parse(data_type, text)
        if value is not None and self.is_missing(name, value):
            value = None
        if value is None and name in self.replacements:
            value = self.parse(data_type, self.replacements[name])
        return value

    def value(self, name, record):
        if name in self.derived:
            return self.expression(expr_of(self.derived[name]), record)
        return self.raw(name, record)

    def expression(self, e, record):
        tag = e.tag.split("}")[1]
        if tag == "FieldRef":
            v = self.value(e.get("field"), record)
            if v is None and e.get("mapMissingTo") is not None:
                return float(e.get("mapMissingTo"))
            return v
        if tag == "NormContinuous":
            x = self.value(e.get("field"), record)
            if x is None:
                m = e.get("mapMissingTo")
                return None if m is None else float(m)
            return norm_continuous(e, x)
        if tag == "NormDiscrete":
            x = self.value(e.get("field"), record)
            if x is None:
                m = e.get("mapMissingTo")
                return None if m is None else float(m)
            target = e.get("value")
            if isinstance(x, float):
                return 1.0 if x == float(target) else 0.0
            return 1.0 if x == target else 0.0
        if tag == "Constant":
            return float(e.text)
        raise ValueError("unsupported expression " + tag)


def expr_of(derived):
    for child in derived:
        if child.tag.split("}")[1] != "Extension":
            return child
    raise ValueError("derived field without expression")


def points(norm):
    pts = [(float(p.get("orig")), float(p.get("norm")))
           for p in norm.findall(q("LinearNorm"))]
    return sorted(pts)


def interpolate(pts, x):
    """Piecewise-linear through pts (sorted by first); the end segments
    continue beyond the ends."""
    for i in range(1, len(pts)):
        if x <= pts[i][0] or i == len(pts) - 1:
            (a, fa), (b, fb) = pts[i - 1], pts[i]
            return fa + (x - a) / (b - a) * (fb - fa)
    raise ValueError("NormContinuous needs two LinearNorm elements")


def norm_continuous(e, x):
    pts = points(e)
    outliers = e.get("outliers", "asIs")
    if x < pts[0][0] or x > pts[-1][0]:
        if outliers == "asMissingValues":
            return None
        if outliers == "asExtremeValues":
            return pts[0][1] if x < pts[0][0] else pts[-1][1]
    return interpolate(pts, x)


def denorm_continuous(e, y):
    return interpolate(sorted((n, o) for o, n in points(e)), y)


def activate(name, z):
    if name == "threshold":
        return 1.0 if z > 0 else 0.0
    if name == "logistic":
        return 1.0 / (1.0 + math.exp(-z))
    table = {"tanh": math.tanh, "identity": lambda v: v, "exponential": math.exp,
             "reciprocal": lambda v: 1.0 / v, "square": lambda v: v * v,
             "Gauss": lambda v: math.exp(-v * v), "sine": math.sin,
             "cosine": math.cos, "Elliott": lambda v: v / (1.0 + abs(v)),
             "arctan": lambda v: 2.0 * math.atan(v) / math.pi}
    return table[name](z)


def normalize(method, values):
    if method == "softmax":
        m = max(values)
        e = [math.exp(v - m) for v in values]
        return [v / sum(e) for v in e]
    if method == "simplemax":
        return [v / sum(values) for v in values]
    return values


def layer_attr(layer, model, name, default):
    return layer.get(name, model.get(name, default))


def score(model, fields, record):
    values = {}
    for inp in model.find(q("NeuralInputs")).findall(q("NeuralInput")):
        values[inp.get("id")] = fields.expression(
            expr_of(inp.find(q("DerivedField"))), record)
    for layer in model.findall(q("NeuralLayer")):
        act = layer_attr(layer, model, "activationFunction", None)
        method = layer_attr(layer, model, "normalizationMethod", "none")
        ids, out = [], []
        for neuron in layer.findall(q("Neuron")):
            cons = [(values[c.get("from")], float(c.get("weight")))
                    for c in neuron.findall(q("Con"))]
            if act == "radialBasis":
                width = float(neuron.get("width", layer_attr(layer, model, "width", "nan")))
                altitude = float(neuron.get("altitude",
                                            layer_attr(layer, model, "altitude", "1")))
                z = sum((x - w) ** 2 for x, w in cons) / (2.0 * width * width)
                out.append(math.exp(len(cons) * math.log(altitude) - z))
            else:
                z = float(neuron.get("bias", "0")) + sum(x * w for x, w in cons)
                out.append(activate(act, z))
            ids.append(neuron.get("id"))
        values.update(zip(ids, normalize(method, out)))
    result = []
    for o in model.find(q("NeuralOutputs")).findall(q("NeuralOutput")):
        y = values[o.get("outputNeuron")]
        e = expr_of(o.find(q("DerivedField")))
        while e.tag == q("FieldRef"):  # follow the chain to the definition
            e = expr_of(fields.derived[e.get("field")])
        result.append(denorm_continuous(e, y) if e.tag == q("NormContinuous") else y)
    return result


def main(pmml_path, csv_path):
    root = ET.parse(pmml_path).getroot()
    model = root.find(q("NeuralNetwork"))
    fields = Fields(root, model)
    with open(csv_path, newline="") as f:
        for record in csv.DictReader(f):
            print(" ".join(repr(v) for v in score(model, fields, record)))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
