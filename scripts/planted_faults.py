#!/usr/bin/env python3
"""Planted-fault run: how many deliberate bugs does the test suite catch?

Each entry of FAULTS is one realistic bug planted in important code: an exact
piece of text in a source file and what it becomes. For each fault the script
applies it, rebuilds every target of the build folder, runs the whole suite
with ctest, records whether any test failed (caught) or none did (missed), and
puts the file back, whatever happens (Ctrl-C, a kill, a build error).

A fault whose text is not found exactly once, or whose tree does not compile,
is an error in the table, not a catch: it is reported as "error". A fault may
change several places of one file at once (old and new texts as tuples of the
same length): a field order swapped in a writer and its reader alike.

    scripts/planted_faults.py --root . --build build --out results.json
    scripts/planted_faults.py --only vxcluster       # one library
    scripts/planted_faults.py --only vxneural/optim  # one subsystem
    scripts/planted_faults.py --ids data-kept-zero,optim-scg-lambda

The table is fixed: the same faults are planted before and after a change of
the test suite, so that the two shares can be compared. Faults planted by hand
for one question come from a file of their own (--table). With --full every
test runs after a failure and the results list every test that failed: which
tests are the only ones to catch a fault.

    scripts/planted_faults.py --full --out matrix.json
    scripts/planted_faults.py --full --table hand.json --out hand-results.json
    scripts/planted_faults.py --catchers matrix.json hand-results.json

--check builds nothing: it looks every fault of the fixed table and of the
given tables up in its file and fails if any text is not found exactly once,
naming the file where a moved text is found now. CTest runs it over every
table in bench/planted_faults, so that a change of the code a fault aims at
moves the fault with it.

    scripts/planted_faults.py --check bench/planted_faults/*-table.json
"""

import argparse
import json
import os
import signal
import subprocess
import sys
import time

# (id, library, file, old text, new text, kind)
# Kinds: condition flipped, constant changed, off-by-one, dropped statement.
FAULTS = [
    # --- vxcommon: XML stream, XML text, records, host variable list
    ("common-entity-gt", "vxcommon", "src/vxcommon/XMLStream.cpp",
     "} else if (entity == \"gt\") {\n      out += '>';",
     "} else if (entity == \"gt\") {\n      out += '<';",
     "constant changed"),
    ("common-hex-odd", "vxcommon", "src/vxcommon/XmlText.cpp",
     "  if (hex.size() % 2 != 0) return false;\n", "",
     "dropped statement"),
    ("common-escape-lt", "vxcommon", "src/vxcommon/XmlText.cpp",
     "} else if (c == '<') {\n      out += \"&lt;\";",
     "} else if (c == '>') {\n      out += \"&lt;\";",
     "condition flipped"),
    ("common-vector-iter-end", "vxcommon", "src/vxcommon/Record.cpp",
     "if (fPos >= fRecords->size()) return nullptr;",
     "if (fPos > fRecords->size()) return nullptr;",
     "off-by-one"),
    ("common-varlist-index", "vxcommon", "src/vxcommon/VXVarList.cpp",
     "if (index < 0 || index >= Size()) return nullptr;",
     "if (index < 0 || index > Size()) return nullptr;",
     "off-by-one"),
    ("common-charref-hex", "vxcommon", "src/vxcommon/XMLStream.cpp",
     "if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;",
     "if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 9;",
     "off-by-one"),
    ("common-bool-false", "vxcommon", "src/vxcommon/XMLStream.cpp",
     "if (text == \"0\" || text == \"false\") {", "if (text == \"0\") {",
     "dropped statement"),
    # --- vxcluster: counts, assignment, likelihood, category range, tree
    ("cluster-least-count", "vxcluster", "src/vxcluster/ClusterModel.cpp",
     "if (least < 1 || most < least) {",
     "if (least < 0 || most < least) {",
     "off-by-one"),
    ("cluster-assign-nearest", "vxcluster", "src/vxcluster/ClusterModel.cpp",
     "if (best < 0 || d < bestDist) {",
     "if (best < 0 || d > bestDist) {",
     "condition flipped"),
    ("cluster-loglik-half", "vxcluster", "src/vxcluster/Summary.cpp",
     "ll -= 0.5 * n * std::log(sum);",
     "ll -= 0.25 * n * std::log(sum);",
     "constant changed"),
    ("cluster-category-range", "vxcluster", "src/vxcluster/Summary.cpp",
     "if (!(x >= 1.0 && x <= v.fNCategories && x == std::floor(x))) {",
     "if (!(x >= 1.0 && x < v.fNCategories && x == std::floor(x))) {",
     "off-by-one"),
    ("cluster-node-split", "vxcluster", "src/vxcluster/CFTree.cpp",
     "if (count <= fB) return Result::kDone;",
     "if (count < fB) return Result::kDone;",
     "off-by-one"),
    ("cluster-split-seed", "vxcluster", "src/vxcluster/CFTree.cpp",
     "(i != a && Dist(e, Slot(node, b)) < Dist(e, Slot(node, a)));",
     "(i != a && Dist(e, Slot(node, b)) > Dist(e, Slot(node, a)));",
     "condition flipped"),
    ("cluster-bic-least", "vxcluster", "src/vxcluster/ClusterModel.cpp",
     "if (best.empty() || bic < bestBic) {",
     "if (best.empty() || bic > bestBic) {",
     "condition flipped"),
    # --- vxneural/variables
    ("variables-symmetric-slope", "vxneural/variables",
     "src/vxneural/variables/NNLinearEncoder.cpp",
     "fSlope = 2.0 / (fMax - fMin);", "fSlope = 1.0 / (fMax - fMin);",
     "constant changed"),
    ("variables-usermissing-interval", "vxneural/variables",
     "src/vxneural/variables/NNNumericUserMissing.cpp",
     "return fHasInterval && fInterval.Contains(x);",
     "return !fHasInterval && fInterval.Contains(x);",
     "condition flipped"),
    ("variables-catnum-decode", "vxneural/variables",
     "src/vxneural/variables/NNCatNumEncoder.cpp",
     "if (code < 0 || code >= GetNumberOfCategories()) return VXMV::gMissingValue;",
     "if (code < 0 || code > GetNumberOfCategories()) return VXMV::gMissingValue;",
     "off-by-one"),
    # Field orders swapped alike in a writer and its reader: only a layout
    # test against a reference built field by field sees them.
    ("variables-contvar-binary-order", "vxneural/variables",
     "src/vxneural/variables/NNContVar.cpp",
     ("w.Tag(kTag);\n  WriteIdentity(w);\n  w.Double(fMean).Double(fVariance)",
      "r.ExpectTag(kTag);\n  ReadIdentity(r);\n  fMean = r.Double();\n  fVariance = r.Double();"),
     ("w.Tag(kTag);\n  WriteIdentity(w);\n  w.Double(fVariance).Double(fMean)",
      "r.ExpectTag(kTag);\n  ReadIdentity(r);\n  fVariance = r.Double();\n  fMean = r.Double();"),
     "field order swapped"),
    ("variables-contvar-xml-order", "vxneural/variables",
     "src/vxneural/variables/NNContVar.cpp",
     ("XmlWriter w(out, kClass, level);\n  WriteIdentity(w);\n  w.Double(fMean).Double(fVariance)",
      "XmlReader r(in, kClass, kClass);\n  ReadIdentity(r);\n  fMean = r.Double();\n"
      "  fVariance = r.Double();"),
     ("XmlWriter w(out, kClass, level);\n  WriteIdentity(w);\n  w.Double(fVariance).Double(fMean)",
      "XmlReader r(in, kClass, kClass);\n  ReadIdentity(r);\n  fVariance = r.Double();\n"
      "  fMean = r.Double();"),
     "field order swapped"),
    ("variables-catvar-xml-flags", "vxneural/variables", "src/vxneural/variables/NNCatVar.cpp",
     ("w.Bool(fBinaryFlag).Int(fBinaryFlagTrueIndex).Bool(fOrdinalFlag);",
      "fBinaryFlag = r.Bool();\n  fBinaryFlagTrueIndex = r.Int();\n  fOrdinalFlag = r.Bool();"),
     ("w.Bool(fOrdinalFlag).Int(fBinaryFlagTrueIndex).Bool(fBinaryFlag);",
      "fOrdinalFlag = r.Bool();\n  fBinaryFlagTrueIndex = r.Int();\n  fBinaryFlag = r.Bool();"),
     "field order swapped"),
    ("variables-name-unique", "vxneural/variables", "src/vxneural/variables/NNVarList.cpp",
     "return !name.empty() && FindVariable(name) == -1;", "return !name.empty();",
     "dropped statement"),
    ("variables-host-target-role", "vxneural/variables",
     "src/vxneural/variables/VXVarAdapter.cpp",
     "role == IVXVariable::kRoleTarget || role == IVXVariable::kRoleTargetPartition",
     "role == IVXVariable::kRoleTarget", "condition flipped"),
    ("variables-host-binary-flag", "vxneural/variables",
     "src/vxneural/variables/VXVarAdapter.cpp",
     "    cat->SetBinaryFlag(a.GetBinaryFlag(), a.GetBinaryTrueIndex());\n", "",
     "dropped statement"),
    ("variables-host-replacement", "vxneural/variables",
     "src/vxneural/variables/VXVarAdapter.cpp",
     "if (replacement != nullptr && !out.SetMissingValueReplacement(i, *replacement)) ok = false;",
     "(void)replacement;", "dropped statement"),
    # --- vxneural/data
    ("data-kept-zero", "vxneural/data", "src/vxneural/data/NNDataPreparator.cpp",
     "  if (pass.kept == 0) return fStatus = VXStatus(kNoRecordWritten, false);\n", "",
     "dropped statement"),
    ("data-memory-budget", "vxneural/data", "src/vxneural/data/NNDataPreparator.cpp",
     "nTrain, nTrain >= budget, kTrainingSourceNotGood,",
     "nTrain, nTrain > budget, kTrainingSourceNotGood,",
     "off-by-one"),
    ("data-buffer-index", "vxneural/data", "src/vxneural/data/RecordBufferIter.cpp",
     "if (h.index < 0 || h.index > h.count) return false;",
     "if (h.index < 0 || h.index >= h.count) return false;",
     "off-by-one"),
    ("data-buffer-xml-order", "vxneural/data", "src/vxneural/data/RecordBufferIter.cpp",
     (".Int(fCount).Int(fIndCurRecord).Int(fStatus);",
      "\"VXNeural::RecordBufferIter\", \"Error restoring \",\n                      \" from XML.\\n\");\n"
      "  Header h;\n  h.width = r.Int();\n  h.capacity = r.Int();\n  h.count = r.Int();\n"
      "  h.index = r.Int();\n  h.status = r.Int();"),
     (".Int(fCount).Int(fStatus).Int(fIndCurRecord);",
      "\"VXNeural::RecordBufferIter\", \"Error restoring \",\n                      \" from XML.\\n\");\n"
      "  Header h;\n  h.width = r.Int();\n  h.capacity = r.Int();\n  h.count = r.Int();\n"
      "  h.status = r.Int();\n  h.index = r.Int();"),
     "field order swapped"),
    ("data-partial-record", "vxneural/data", "src/vxneural/data/BinaryRecordIterator.cpp",
     "(std::ferror(fFile) || got % recordBytes != 0) ? kError : kEndOfData",
     "std::ferror(fFile) ? kError : kEndOfData", "dropped statement"),
    # --- vxneural/network
    ("network-sigmoid-derivative", "vxneural/network", "include/vxneural/network/MLPLayer.h",
     "        return (1.0 - y) * y;", "        return (2.0 - y) * y;",
     "constant changed"),
    ("network-bias-gradient", "vxneural/network", "src/vxneural/network/MLPLayer.cpp",
     "    gj[0] += dj;\n", "",
     "dropped statement"),
    ("network-rbf-exponent", "vxneural/network", "src/vxneural/network/RBFHiddenLayer.cpp",
     "z[j] = -0.5 * d;", "z[j] = -1.0 * d;",
     "constant changed"),
    ("network-sse-half", "vxneural/network", "src/vxneural/network/NNetwork.cpp",
     "      e += 0.5 * d * d;", "      e += d * d;",
     "constant changed"),
    ("network-rbf-hidden-order", "vxneural/network", "src/vxneural/network/RBFHiddenLayer.cpp",
     ("w.Int(fNUnits).Int(fNUnitsLower).Int(fActivFunc).Int(fNCenters);",
      "s.activation = r.Int();\n  s.centers = r.Int();"),
     ("w.Int(fNUnits).Int(fNUnitsLower).Int(fNCenters).Int(fActivFunc);",
      "s.centers = r.Int();\n  s.activation = r.Int();"),
     "field order swapped"),
    ("network-rbf-output-order", "vxneural/network", "src/vxneural/network/RBFOutputLayer.cpp",
     ("w.Int(fNUnits).Int(fNUnitsLower).Int(fActivFuncHidden);",
      "s.units = r.Int();\n  s.lower = r.Int();"),
     ("w.Int(fNUnitsLower).Int(fNUnits).Int(fActivFuncHidden);",
      "s.lower = r.Int();\n  s.units = r.Int();"),
     "field order swapped"),
    ("network-categ-first-max", "vxneural/network", "src/vxneural/network/NNCategOutput.cpp",
     "const bool greater = units[i] > max;", "const bool greater = units[i] >= max;",
     "off-by-one"),
    ("network-shuffle-range", "vxneural/network", "src/vxneural/network/VXRandom.cpp",
     "Uniform() * static_cast<double>(i + 1));", "Uniform() * static_cast<double>(i));",
     "off-by-one"),
    # --- vxneural/optim
    ("optim-scg-lambda", "vxneural/optim", "src/vxneural/optim/ScaledConjGrad.cpp",
     "lambda = 2.0 * (lambda - delta0 / pn2);", "lambda = 4.0 * (lambda - delta0 / pn2);",
     "constant changed"),
    ("optim-gd-halving", "vxneural/optim", "src/vxneural/optim/GradientDescentBatch.cpp",
     "eta *= 0.5;", "eta *= 0.25;",
     "constant changed"),
    ("optim-max-passes", "vxneural/optim", "src/vxneural/optim/IOptimizationAlgorithm.cpp",
     "if (dataPasses >= limits.maxNDataPasses) return VXNNCommon::kStoppedMaxDataPasses;",
     "if (dataPasses > limits.maxNDataPasses) return VXNNCommon::kStoppedMaxDataPasses;",
     "off-by-one"),
    ("optim-mvr-order", "vxneural/optim", "src/vxneural/optim/MultiVariateRegression.cpp",
     ("w.Int(fNRegressors).Int(fConstant ? 1 : 0).Int(fNDependent)",
      "s.p = r.Int();\n  const int constant = r.Int();\n  s.q = r.Int();"),
     ("w.Int(fNDependent).Int(fConstant ? 1 : 0).Int(fNRegressors)",
      "s.q = r.Int();\n  const int constant = r.Int();\n  s.p = r.Int();"),
     "field order swapped"),
    ("optim-solver-order", "vxneural/optim", "src/vxneural/optim/LinearOutputSolver.cpp",
     (".Double(fElapsedTime).Int(fNIterations);\n  w.Int(fNDataPasses).Int(fNRecordsProcessed)"
      ".Double(fEstError);\n  if (fRegression) w.Nested(fRegression->WriteObject(out));",
      ".Double(fElapsedTime).Int(fNIterations);\n  w.Int(fNDataPasses).Int(fNRecordsProcessed)"
      ".Double(fEstError);\n  if (fRegression) w.Nested(fRegression->WriteObjectXML(",
      "s.iterations = r.Int();\n  s.passes = r.Int();"),
     (".Double(fElapsedTime).Int(fNDataPasses);\n  w.Int(fNIterations).Int(fNRecordsProcessed)"
      ".Double(fEstError);\n  if (fRegression) w.Nested(fRegression->WriteObject(out));",
      ".Double(fElapsedTime).Int(fNDataPasses);\n  w.Int(fNIterations).Int(fNRecordsProcessed)"
      ".Double(fEstError);\n  if (fRegression) w.Nested(fRegression->WriteObjectXML(",
      "s.passes = r.Int();\n  s.iterations = r.Int();"),
     "field order swapped"),
    ("optim-batch-order", "vxneural/optim", "src/vxneural/optim/IOptimizationAlgorithm.cpp",
     ("w.Int(fNIterations).Int(fNDataPasses)",
      "s.nIterations = r.Int();\n  s.nDataPasses = r.Int();"),
     ("w.Int(fNDataPasses).Int(fNIterations)",
      "s.nDataPasses = r.Int();\n  s.nIterations = r.Int();"),
     "field order swapped"),
    ("optim-mbo-decay", "vxneural/optim", "src/vxneural/optim/GradientDescentMBO.cpp",
     "std::max(run.eta * run.decay, run.etaLow)", "std::min(run.eta * run.decay, run.etaLow)",
     "condition flipped"),
    ("optim-buffer-kept", "vxneural/optim", "src/vxneural/optim/IOptimizationAlgorithm.cpp",
     "  fRecordBuffer = std::move(s.buffer);",
     "  if (s.buffer) fRecordBuffer = std::move(s.buffer);", "condition flipped"),
    # --- vxneural/algorithm
    ("algorithm-weight-count-bias", "vxneural/algorithm",
     "src/vxneural/algorithm/MLPSettings.cpp",
     "n += (fNHiddenUnits[layers - 1] + 1.0) * fNOutUnits;",
     "n += (fNHiddenUnits[layers - 1] + 0.0) * fNOutUnits;",
     "off-by-one"),
    ("algorithm-cannot-save-severity", "vxneural/algorithm",
     "src/vxneural/algorithm/NeuralAlgorithmBase.cpp",
     "return Store(VXStatus(codes::kCannotSave, true));",
     "return Store(VXStatus(codes::kCannotSave, false));",
     "constant changed"),
    ("algorithm-anneal-halving", "vxneural/algorithm",
     "src/vxneural/algorithm/MLPInitializer.cpp",
     "    half *= 0.5;", "    half *= 0.25;",
     "constant changed"),
    ("algorithm-restore-trained", "vxneural/algorithm",
     "src/vxneural/algorithm/NeuralAlgorithmBase.cpp",
     "if (values.status == VXNNCommon::kTrained) {",
     "if (values.status != VXNNCommon::kTrained) {",
     "condition flipped"),
    ("algorithm-cancel-severity", "vxneural/algorithm",
     "src/vxneural/algorithm/NeuralAlgorithmBase.cpp",
     "fStatus = VXStatus(codes::kCancelled, false);",
     "fStatus = VXStatus(codes::kCancelled, true);",
     "constant changed"),
    ("algorithm-factory-no-records", "vxneural/algorithm",
     "src/vxneural/algorithm/NeuralFactoryImpl.h",
     "  if (settings.GetNTrainRecords() <= 0) {\n    fStatus = VXCommon_1_2::VXStatus(",
     "  if (settings.GetNTrainRecords() < 0) {\n    fStatus = VXCommon_1_2::VXStatus(",
     "off-by-one"),
    ("algorithm-sample-test-share", "vxneural/algorithm",
     "src/vxneural/algorithm/MLPInitializer.cpp",
     "  sizes.nTest = static_cast<int>(s) - sizes.nTrain;",
     "  sizes.nTest = static_cast<int>(s) - sizes.nTrain - 1;",
     "off-by-one"),
    ("algorithm-search-grow-limit", "vxneural/algorithm",
     "src/vxneural/algorithm/MLPInitializer.cpp",
     "if (fParts.nHiddenUnits >= maxUnits) break;",
     "if (fParts.nHiddenUnits > maxUnits) break;",
     "off-by-one"),
    ("algorithm-rbf-user-hidden", "vxneural/algorithm",
     "src/vxneural/algorithm/RBFAlgorithm.cpp",
     "std::min(fSettings.GetNumHiddenUnits(1), records)",
     "std::min(fSettings.GetNumHiddenUnits(1) + 1, records)",
     "off-by-one"),
    # --- vxneural/evaluation
    ("evaluation-misclassified", "vxneural/evaluation",
     "src/vxneural/evaluation/NNOutputStatistics.cpp",
     "if (predicted != target) s[at.misclassified + k] += 1.0;",
     "if (predicted == target) s[at.misclassified + k] += 1.0;",
     "condition flipped"),
    ("evaluation-deviation", "vxneural/evaluation",
     "src/vxneural/evaluation/NNOutputStatistics.cpp",
     "total[at.shiftedSquares + u] - d * d / count;",
     "total[at.shiftedSquares + u] - d * d / (count - 1.0);",
     "off-by-one"),
    ("evaluation-sensitivity-step", "vxneural/evaluation",
     "src/vxneural/evaluation/NNSensitivity.cpp",
     "/ (kContinuousProbes - 1);", "/ kContinuousProbes;",
     "off-by-one"),
    ("evaluation-confusion-transposed", "vxneural/evaluation",
     "src/vxneural/evaluation/NNOutputStatistics.cpp",
     "s[cell + Index(target * n + predicted)]",
     "s[cell + Index(predicted * n + target)]",
     "field order swapped"),
    ("evaluation-relative-error", "vxneural/evaluation",
     "src/vxneural/evaluation/NNOutputStatistics.cpp",
     "stats.fRelativeErrors[continuous] = total[at.squaredError + u] / squaredDeviation[u];",
     "stats.fRelativeErrors[continuous] = squaredDeviation[u] / total[at.squaredError + u];",
     "constant changed"),
    ("evaluation-record-width", "vxneural/evaluation",
     "src/vxneural/evaluation/NNOutputStatistics.cpp",
     "if (record->Size() < fWidth) continue;\n      ++fRead;",
     "if (record->Size() <= fWidth) continue;\n      ++fRead;",
     "off-by-one"),
    ("evaluation-invalid-target", "vxneural/evaluation",
     "src/vxneural/evaluation/NNOutputStatistics.cpp",
     "          invalidTarget = true;\n", "",
     "dropped statement"),
    ("evaluation-sensitivity-normalise", "vxneural/evaluation",
     "src/vxneural/evaluation/NNSensitivity.cpp",
     "    if (sum > 0.0)\n      for (double& v : importance) v /= sum;\n", "",
     "dropped statement"),
    ("evaluation-sensitivity-pairs", "vxneural/evaluation",
     "src/vxneural/evaluation/NNSensitivity.cpp",
     "for (int q = p + 1; q < probes; ++q) {", "for (int q = p + 2; q < probes; ++q) {",
     "off-by-one"),
    # --- vxneural/persist
    ("persist-binary-tag", "vxneural/persist", "src/vxneural/persist/BinaryIO.cpp",
     "  if (got.compare(0, n, tag, n) != 0) Fail();\n", "",
     "dropped statement"),
    ("persist-binary-remaining", "vxneural/persist", "src/vxneural/persist/BinaryIO.cpp",
     "  if (n > 0 && bytesEach > 0 && static_cast<std::size_t>(n) > Remaining() / bytesEach) Fail();\n",
     "",
     "dropped statement"),
    ("persist-pmml-norm", "vxneural/persist", "src/vxneural/persist/PMMLExport.cpp",
     "linear->AddAttribute(\"norm\", orig * enc->GetSlope() + enc->GetIntercept());",
     "linear->AddAttribute(\"norm\", orig);",
     "wrong argument"),
    ("persist-binary-int-order", "vxneural/persist", "src/vxneural/persist/BinaryIO.cpp",
     "u |= static_cast<uint32_t>(b[i]) << (8 * i);",
     "u |= static_cast<uint32_t>(b[i]) << (8 * (3 - i));",
     "constant changed"),
    ("persist-binary-negative-count", "vxneural/persist", "src/vxneural/persist/BinaryIO.cpp",
     "  if (n < 0 || n > maxCount) Fail();\n", "  if (n > maxCount) Fail();\n",
     "condition flipped"),
    ("persist-xml-remaining", "vxneural/persist", "src/vxneural/persist/XmlIO.cpp",
     "  if (n > 0 && static_cast<std::size_t>(n) > StreamRemaining(fIn) / kMinValueBytes) Fail();\n",
     "",
     "dropped statement"),
    ("persist-xml-start-name", "vxneural/persist", "src/vxneural/persist/XmlIO.cpp",
     "if (!VXXML_1_2::ParseStartObj(fIn, objectName)) Fail();",
     "VXXML_1_2::ParseStartObj(fIn, objectName);",
     "dropped statement"),
    ("persist-pmml-field-count", "vxneural/persist", "src/vxneural/persist/PMMLExport.cpp",
     "static_cast<double>(fields.size()));",
     "static_cast<double>(fields.size() + 1));",
     "off-by-one"),
    ("persist-pmml-softmax", "vxneural/persist", "src/vxneural/persist/PMMLExport.cpp",
     "if (method == NeuralSettings::kConfidenceSoftMax) copied = \"softmax\";",
     "if (method == NeuralSettings::kConfidenceSoftMax) copied = \"simplemax\";",
     "constant changed"),
    # --- vxnn: the command-line host
    ("vxnn-variance", "vxnn", "apps/vxnn/data/Dataset.cpp",
     "s.fN > 1 ? s.fM2 / (s.fN - 1) : 0.0;", "s.fN > 1 ? s.fM2 / s.fN : 0.0;",
     "off-by-one"),
    ("vxnn-category-levels", "vxnn", "apps/vxnn/data/Dataset.cpp",
     "!s.fDistinct.empty() && s.fDistinct.size() <= limit) {",
     "!s.fDistinct.empty() && s.fDistinct.size() < limit) {",
     "off-by-one"),
    ("vxnn-whole-inputs", "vxnn", "apps/vxnn/data/Dataset.cpp",
     "} else if (f.fTarget && s.fWhole &&", "} else if (s.fWhole &&",
     "condition flipped"),
    ("vxnn-csv-quote", "vxnn", "apps/vxnn/data/CsvTable.cpp",
     "    if (c == '\"') out += '\"';\n",
     "",
     "dropped statement"),
    # vxnn-csv-blank-line, a dropped skip of one-empty-field rows, left the
    # table with the statement itself: the parser skips blank lines, and a
    # line holding only "" is a row like any other. Its writer side instead:
    ("vxnn-csv-lone-empty", "vxnn", "apps/vxnn/data/CsvTable.cpp",
     " || (f.empty() && sole);",
     ";",
     "dropped statement"),
    ("vxnn-csv-ragged", "vxnn", "apps/vxnn/data/CsvTable.cpp",
     "  if (n != st->fHeader.size())\n", "  if (n > st->fHeader.size())\n",
     "condition flipped"),
    ("vxnn-impute-mean", "vxnn", "apps/vxnn/data/Records.cpp",
     "fill = cont->GetMean();",
     "fill = 0.0;",
     "constant changed"),
    ("vxnn-partition-draw", "vxnn", "apps/vxnn/data/Partition.cpp",
     "Below(fRng, left) < wanted) {", "Below(fRng, left) <= wanted) {",
     "off-by-one"),
    ("vxnn-json-imputed", "vxnn", "apps/vxnn/report/Figures.cpp",
     "j.Field(\"records\", c.fImputedRecords);", "j.Field(\"records\", c.fImputedCells);",
     "constant changed"),
    ("vxnn-usage-exit", "vxnn", "apps/vxnn/cli/Cli.cpp",
     "(see vxnn --help)\\n\";\n    return 2;",
     "(see vxnn --help)\\n\";\n    return 1;",
     "constant changed"),
]

LIBRARIES = ["vxcommon", "vxcluster", "vxneural", "vxnn"]
BACKUP_NAME = "planted_fault.backup.json"


class Interrupted(Exception):
    pass


def on_signal(signum, _frame):
    raise Interrupted("signal %d" % signum)


def restore_leftover(build):
    """Puts back a file that an earlier, killed run left mutated."""
    path = os.path.join(build, BACKUP_NAME)
    if not os.path.exists(path):
        return
    with open(path, encoding="utf-8") as f:
        saved = json.load(f)
    with open(saved["path"], "w", encoding="utf-8", newline="") as f:
        f.write(saved["text"])
    os.remove(path)
    print("restored %s, left mutated by an earlier run" % saved["path"], flush=True)


def run(cmd, cwd, log):
    with open(log, "w", encoding="utf-8") as out:
        return subprocess.call(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT)


def failed_tests(log):
    """The names of the tests ctest lists as failed, in its order."""
    try:
        with open(log, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
    except OSError:
        return []
    for i, line in enumerate(lines):
        if line.startswith("The following tests FAILED"):
            # "	 25 - Suite.Case (Failed)"
            return [l.strip() for l in lines[i + 1:] if " - " in l]
    return []


def ctest(args, tag, include=None, exclude=None):
    """(passed, failed tests) of one ctest run in the build folder: with
    --full every test that failed, otherwise the first."""
    log = os.path.join(args.build, "planted_faults_logs", tag + ".test.log")
    cmd = ["ctest", "-j%d" % args.jobs, "--timeout", str(args.timeout)]
    if not args.full:
        cmd.append("--stop-on-failure")
    if include:
        cmd += ["-R", include]
    excluded = "|".join(x for x in (args.exclude, exclude) if x)
    if excluded:
        cmd += ["-E", excluded]
    passed = run(cmd, args.build, log) == 0
    return passed, [] if passed else failed_tests(log)


def build_and_test(args, tag):
    """(built, passed, failed tests) for the tree as it stands.

    With --dropped, the tests a slimmer suite leaves out are run only when
    the rest all pass, and passed is then a pair: (slim suite, whole suite).
    """
    logs = os.path.join(args.build, "planted_faults_logs")
    os.makedirs(logs, exist_ok=True)
    build_log = os.path.join(logs, tag + ".build.log")
    if run(["cmake", "--build", args.build, "-j%d" % args.jobs], args.root, build_log) != 0:
        return False, False, []
    if not args.dropped:
        return (True,) + ctest(args, tag)
    slim, failed = ctest(args, tag, exclude=args.dropped)
    if not slim:
        # The whole suite holds the slim one: the same test fails in both.
        return True, (False, False), failed
    whole, failed = ctest(args, tag + ".dropped", include=args.dropped)
    return True, (True, whole), failed


def plant(args, fault):
    fid, lib, rel, old, new, kind = fault
    path = os.path.join(args.root, rel)
    entry = {"id": fid, "library": lib, "file": rel, "kind": kind}
    with open(path, encoding="utf-8", newline="") as f:
        original = f.read()
    olds, news = (old, new) if isinstance(old, tuple) else ((old,), (new,))
    mutated = original
    for o, n in zip(olds, news):
        if mutated.count(o) != 1:
            entry.update(result="error", detail="text found %d times" % mutated.count(o))
            return entry
        mutated = mutated.replace(o, n)
    backup = os.path.join(args.build, BACKUP_NAME)
    with open(backup, "w", encoding="utf-8") as f:
        json.dump({"path": path, "text": original}, f)
    start = time.time()
    try:
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(mutated)
        built, passed, failed = build_and_test(args, fid)
    finally:
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(original)
        os.remove(backup)
    entry["seconds"] = round(time.time() - start, 1)
    # The first failed test names the catch; with --full the whole list is
    # kept too, which tells which tests are the only ones to catch a fault.
    if args.full and failed:
        entry["failed_tests"] = failed
    failed = failed[0] if failed else ""
    if not built:
        entry.update(result="error", detail="does not compile")
    elif isinstance(passed, tuple):
        slim = dict(entry, result="missed" if passed[0] else "caught")
        entry["result"] = "missed" if passed[1] else "caught"
        if failed:
            entry["failed_test"] = failed
            if not passed[0]:
                slim["failed_test"] = failed
        return entry, slim
    else:
        entry["result"] = "missed" if passed else "caught"
        if failed:
            entry["failed_test"] = failed
    return entry


def summarise(results):
    """Caught / scored per library, with the vxneural subsystems as well."""
    groups = {}
    for r in results:
        keys = [r["library"].split("/")[0]]
        if "/" in r["library"]:
            keys.append(r["library"])
        for key in keys + ["all"]:
            g = groups.setdefault(key, {"caught": 0, "missed": 0, "error": 0})
            g[r["result"]] += 1
    return groups


def share(g):
    scored = g["caught"] + g["missed"]
    text = "%d/%d" % (g["caught"], scored)
    if scored:
        text += " (%.0f%%)" % (100.0 * g["caught"] / scored)
    if g["error"]:
        text += ", %d table error(s)" % g["error"]
    return text


def compare(before_path, after_path):
    """Per library: caught before and after, on the faults both runs scored."""
    runs = []
    for path in (before_path, after_path):
        with open(path, encoding="utf-8") as f:
            runs.append({r["id"]: r for r in json.load(f)["faults"] if r["result"] != "error"})
    common = [fid for fid in runs[0] if fid in runs[1]]
    sums = [summarise([run[fid] for fid in common]) for run in runs]
    print("%-20s %-14s %s" % ("library", "before", "after"))
    for key in LIBRARIES + sorted(k for k in sums[0] if "/" in k) + ["all"]:
        if key in sums[0]:
            print("%-20s %-14s %s" % (key, share(sums[0][key]), share(sums[1][key])))
    lost = [fid for fid in common
            if runs[0][fid]["result"] == "caught" and runs[1][fid]["result"] == "missed"]
    print("caught before, missed after: %s" % (", ".join(lost) or "none"))
    return 1 if lost else 0


def test_case(name):
    """Suite.Case of a ctest name such as "25 - Prefix/Suite.Case/param (Failed)"."""
    name = name.split(" - ", 1)[-1].rsplit(" (", 1)[0]
    return next((part for part in name.split("/") if "." in part), name)


def catchers(paths):
    """Per test case of runs made with --full: the faults it catches, and
    those no other test case catches. A case that is the only catcher of a
    fault is not to be cut without another test taking that fault over."""
    caught, alone = {}, {}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            for r in json.load(f)["faults"]:
                if r["result"] == "caught" and "failed_tests" not in r:
                    print("%s: %s was run without --full" % (path, r["id"]), file=sys.stderr)
                    return 2
                cases = sorted({test_case(t) for t in r.get("failed_tests", [])})
                for c in cases:
                    caught.setdefault(c, []).append(r["id"])
                if len(cases) == 1:
                    alone.setdefault(cases[0], []).append(r["id"])
    print("%-72s %6s  %s" % ("test case", "caught", "caught by no other test"))
    for c in sorted(caught, key=lambda c: (-len(alone.get(c, [])), -len(caught[c]), c)):
        print("%-72s %6d  %s" % (c, len(caught[c]), ", ".join(alone.get(c, [])) or "-"))
    return 0


def read_table(path):
    """The faults of a JSON table, in the fixed table's tuple form."""
    with open(path, encoding="utf-8") as f:
        return [(e["id"], e["library"], e["file"],
                 tuple(e["old"]) if isinstance(e["old"], list) else e["old"],
                 tuple(e["new"]) if isinstance(e["new"], list) else e["new"], e["kind"])
                for e in json.load(f)]


def source_files(root):
    for top in ("src", "include", "apps", "python", "tests"):
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith((".h", ".cpp", ".in", ".py", ".txt", ".cmake")):
                    yield os.path.join(folder, name)


def check(root, tables):
    """Every fault's text found exactly once in its file; 1 if not."""
    sources = None
    bad = 0
    ids = {}
    for label, faults in [("fixed table", FAULTS)] + [(t, read_table(t)) for t in tables]:
        for fid, _, path, old, new, _ in faults:
            olds = old if isinstance(old, tuple) else (old,)
            news = new if isinstance(new, tuple) else (new,)
            problems = []
            if fid in ids:
                problems.append("id also in %s" % ids[fid])
            ids[fid] = label
            if len(olds) != len(news):
                problems.append("%d old texts, %d new" % (len(olds), len(news)))
            full = os.path.join(root, path)
            text = open(full, encoding="utf-8").read() if os.path.exists(full) else None
            for o in olds:
                n = text.count(o) if text is not None else 0
                if n == 1:
                    continue
                if n > 1:
                    problems.append("text found %d times" % n)
                    continue
                if sources is None:
                    sources = {}
                    for f in source_files(root):
                        with open(f, encoding="utf-8", errors="replace") as h:
                            sources[os.path.relpath(f, root)] = h.read()
                now = [f for f, t in sources.items() if t.count(o) == 1]
                problems.append("text not in %s%s" % (path, "; found once in " + ", ".join(now)
                                                      if now else ""))
            if problems:
                bad += 1
                print("%s: %s: %s" % (label, fid, "; ".join(problems)))
    print("%d faults out of place" % bad)
    return 1 if bad else 0


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--root", default=".", help="source tree (default: .)")
    p.add_argument("--build", default="build", help="configured build folder (default: build)")
    p.add_argument("--only", help="a library (vxcommon, vxcluster, vxneural, vxnn) or vxneural/<subsystem>")
    p.add_argument("--ids", help="comma-separated fault ids")
    p.add_argument("--out", help="results file (JSON), written after every fault")
    p.add_argument("--resume", action="store_true", help="keep the faults already in --out")
    p.add_argument("--jobs", type=int, default=2)
    p.add_argument("--timeout", type=int, default=120, help="per-test timeout, seconds")
    p.add_argument("--full", action="store_true", help="run every test even after a failure")
    p.add_argument("--exclude", help="ctest -E pattern of tests left out (the same in runs compared)")
    p.add_argument("--dropped", help="ctest -R pattern of the tests a slimmer suite leaves out: "
                   "each fault is then scored for both suites in one build")
    p.add_argument("--out-slim", help="results file of the slimmer suite (with --dropped)")
    p.add_argument("--dropped-file", help="read the --dropped pattern from this file")
    p.add_argument("--skip-clean", action="store_true", help="do not check the unmutated suite first")
    p.add_argument("--table", help="plant the faults of this JSON file instead of the fixed table: "
                   "a list of {id, library, file, old, new, kind}, old and new strings or "
                   "lists of strings of the same length")
    p.add_argument("--list", action="store_true", help="print the table and stop")
    p.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"),
                   help="compare two results files on the faults both ran, and stop")
    p.add_argument("--check", nargs="*", metavar="TABLE",
                   help="find every fault's text (fixed table and these tables) exactly once in "
                   "its file, build nothing, and stop")
    p.add_argument("--catchers", nargs="+", metavar="RESULTS",
                   help="per test case of results made with --full: the faults it catches "
                   "and those it alone catches, and stop")
    args = p.parse_args()
    if args.compare:
        return compare(*args.compare)
    if args.catchers:
        return catchers(args.catchers)
    if args.check is not None:
        return check(os.path.abspath(args.root), args.check)
    if args.dropped_file:
        with open(args.dropped_file, encoding="utf-8") as f:
            args.dropped = f.read().strip()
    args.root = os.path.abspath(args.root)
    args.build = os.path.abspath(os.path.join(args.root, args.build)
                                 if not os.path.isabs(args.build) else args.build)

    faults = FAULTS
    if args.table:
        # Faults planted by hand for one question, e.g. whether a test is the
        # only one to catch what it was written for; kept out of the fixed
        # table so that runs before and after a change stay comparable.
        faults = read_table(args.table)
    if args.only:
        faults = [f for f in faults if f[1] == args.only or f[1].startswith(args.only + "/")]
    if args.ids:
        # In the order given, so that a run stopped early has covered what
        # was asked first.
        by_id = {f[0]: f for f in faults}
        faults = [by_id[i] for i in args.ids.split(",") if i in by_id]
    if args.list:
        for f in faults:
            print("%-32s %-20s %-18s %s" % (f[0], f[1], f[5], f[2]))
        return 0
    if not faults:
        p.error("no fault selected")

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)
    restore_leftover(args.build)

    results = []
    if args.resume and args.out and os.path.exists(args.out):
        with open(args.out, encoding="utf-8") as f:
            results = [r for r in json.load(f)["faults"] if r["result"] != "error"]
    done = {r["id"] for r in results}

    slim_results = []
    if args.resume and args.out_slim and os.path.exists(args.out_slim):
        with open(args.out_slim, encoding="utf-8") as f:
            slim_results = [r for r in json.load(f)["faults"] if r["id"] in done]

    def save():
        for path, rs in ((args.out, results), (args.out_slim, slim_results)):
            if path:
                with open(path, "w", encoding="utf-8") as f:
                    json.dump({"faults": rs, "summary": summarise(rs)}, f, indent=1)
                    f.write("\n")

    try:
        if not args.skip_clean:
            built, passed, failed = build_and_test(args, "clean")
            if isinstance(passed, tuple):
                passed = all(passed)
            if not (built and passed):
                print("the unmutated tree does not %s (%s): fix it first"
                      % ("pass its tests" if built else "build", ", ".join(failed)),
                      file=sys.stderr)
                return 2
        for fault in faults:
            if fault[0] in done:
                continue
            entry = plant(args, fault)
            if isinstance(entry, tuple):
                entry, slim = entry
                slim_results.append(slim)
            elif args.dropped:
                slim_results.append(entry)
            results.append(entry)
            save()
            print("%-32s %-8s %s" % (entry["id"], entry["result"],
                                     entry.get("failed_test", entry.get("detail", ""))), flush=True)
            if args.dropped:
                print("%-32s %-8s (without the dropped tests)" % ("", slim_results[-1]["result"]),
                      flush=True)
    except (KeyboardInterrupt, Interrupted):
        print("interrupted; the tree is restored", file=sys.stderr)
        save()
        return 130

    groups = summarise(results)
    print("\ncaught per library:")
    for key in LIBRARIES + sorted(k for k in groups if "/" in k) + ["all"]:
        if key in groups:
            print("  %-20s %s" % (key, share(groups[key])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
