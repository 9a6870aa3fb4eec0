"""The estimators as a Python user meets them: the same model as `vxnn
train` on the same table, pandas frames with categories and missing
values, the saved forms and pickling, scikit-learn's tools, progress,
cancellation, and the errors bad input gets."""

import os
import pickle
import signal
import subprocess
import sys
import threading
import time
import xml.etree.ElementTree as ET
from pathlib import Path

import numpy as np
import pandas as pd
import pytest
from sklearn.base import clone
from sklearn.exceptions import NotFittedError
from sklearn.model_selection import GridSearchCV, cross_val_score
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler

import vxneural

DATA = Path(__file__).resolve().parents[2] / "data"
PROGRAM = os.environ.get("VXNN_PROGRAM")


def iris():
    frame = pd.read_csv(DATA / "iris.csv")
    return frame.drop(columns="species"), frame["species"]


def messy_frame():
    """iris with a categorical column and missing values in several
    columns, as pandas holds them: NaN in numbers, None in categories."""
    X, y = iris()
    rng = np.random.RandomState(3)
    X = X.copy()
    colour = np.where(X["petal_length"] > 4.5, "dark", np.where(X["sepal_width"] > 3.2, "pale", "mid"))
    noise = rng.rand(len(X)) < 0.15
    colour[noise] = rng.choice(["dark", "pale", "mid"], noise.sum())
    X["colour"] = pd.Categorical(colour)
    X.loc[rng.rand(len(X)) < 0.1, "sepal_width"] = np.nan
    X.loc[rng.rand(len(X)) < 0.1, "colour"] = None
    X["petal_width"] = X["petal_width"].astype(object)
    X.loc[rng.rand(len(X)) < 0.05, "petal_width"] = None
    X["petal_width"] = pd.to_numeric(X["petal_width"])
    return X, y


def run(*args):
    return subprocess.run([PROGRAM, *map(str, args)], check=True, capture_output=True, text=True)


needs_program = pytest.mark.skipif(PROGRAM is None, reason="VXNN_PROGRAM names the vxnn program")


@needs_program
@pytest.mark.parametrize("cls, target, kind_option", [
    (vxneural.MLPClassifier, "species", []),
    (vxneural.RBFClassifier, "species", ["--network", "rbf"]),
])
def test_frame_with_categories_and_missing_values_is_vxnn_trains_model(tmp_path, cls, target,
                                                                       kind_option):
    X, y = messy_frame()
    est = cls().fit(X, y)
    # The same table as a CSV file: empty cells where values are missing.
    csv = tmp_path / "messy.csv"
    X.assign(species=y).to_csv(csv, index=False)
    model = tmp_path / "messy.model"
    run("train", csv, "--target", target, "-o", model, "--no-progress", *kind_option)
    theirs = vxneural.load(model)
    assert type(theirs) is cls
    assert list(theirs.classes_) == list(est.classes_) == ["setosa", "versicolor", "virginica"]
    assert list(theirs.feature_names_in_) == list(X.columns)
    # The same weights give the same numbers, bit for bit.
    np.testing.assert_array_equal(theirs.predict_proba(X), est.predict_proba(X))
    # And `vxnn score` reads the cells as the estimator reads the frame.
    run("score", model, csv, "-o", tmp_path / "scored.csv")
    scored = pd.read_csv(tmp_path / "scored.csv")
    assert list(scored["predicted_species"]) == list(est.predict(X))
    if cls is vxneural.MLPClassifier:
        columns = [f"probability_species_{c}" for c in est.classes_]
        np.testing.assert_allclose(scored[columns].to_numpy(), est.predict_proba(X), rtol=1e-5,
                                   atol=1e-9)


@needs_program
@pytest.mark.parametrize("cls, options", [
    (vxneural.MLPRegressor, []),
    (vxneural.RBFRegressor, ["--network", "rbf"]),
])
def test_regressor_saved_by_python_is_read_by_vxnn(tmp_path, cls, options):
    frame = pd.read_csv(DATA / "diabetes.csv")
    X, y = frame.drop(columns="progression"), frame["progression"]
    est = cls(random_state=7).fit(X, y)
    est.save(tmp_path / "py.model")
    csv = tmp_path / "diabetes.csv"
    frame.to_csv(csv, index=False)
    run("score", tmp_path / "py.model", csv, "-o", tmp_path / "scored.csv")
    scored = pd.read_csv(tmp_path / "scored.csv")
    np.testing.assert_allclose(scored["predicted_progression"], est.predict(X), rtol=1e-5)
    # vxnn train with the same seeds trains the same model.
    seeds = ["--partition-seed", "7"] + ([] if options else ["--seed", "7", "--sampling-seed", "7"])
    run("train", csv, "--target", "progression", "-o", tmp_path / "vx.model", "--no-progress",
        *options, *seeds)
    np.testing.assert_array_equal(vxneural.load(tmp_path / "vx.model").predict(X), est.predict(X))


def test_pickled_model_predicts_identically_in_a_fresh_process(tmp_path):
    X, y = messy_frame()
    est = vxneural.MLPClassifier(hidden_layer_sizes=(6,), random_state=1).fit(X, y)
    (tmp_path / "est.pkl").write_bytes(pickle.dumps(est))
    X.to_pickle(tmp_path / "X.pkl")
    script = (
        "import pickle, sys, numpy as np, pandas as pd\n"
        "est = pickle.loads(open(sys.argv[1], 'rb').read())\n"
        "np.save(sys.argv[3], est.predict_proba(pd.read_pickle(sys.argv[2])))\n")
    subprocess.run([sys.executable, "-c", script, tmp_path / "est.pkl", tmp_path / "X.pkl",
                    tmp_path / "p.npy"], check=True, env=os.environ)
    np.testing.assert_array_equal(np.load(tmp_path / "p.npy"), est.predict_proba(X))
    again = pickle.loads(pickle.dumps(est))
    assert again.get_params() == est.get_params()
    np.testing.assert_array_equal(again.feature_importances_, est.feature_importances_)


def test_saved_forms_and_pmml(tmp_path):
    X, y = iris()
    est = vxneural.MLPClassifier(hidden_layer_sizes=(5,), random_state=2).fit(X, y)
    for fmt in ("binary", "xml"):
        est.save(tmp_path / f"m.{fmt}", format=fmt)
        back = vxneural.MLPClassifier.load(tmp_path / f"m.{fmt}")
        np.testing.assert_allclose(back.predict_proba(X), est.predict_proba(X), rtol=1e-12)
        assert back.n_features_in_ == 4 and back.n_hidden_units_ == 5
    est.export_pmml(tmp_path / "m.pmml")
    root = ET.parse(tmp_path / "m.pmml").getroot()
    assert root.tag.endswith("PMML") and root.get("version") == "4.0"
    fields = {f.get("name") for f in root.iter() if f.tag.endswith("DataField")}
    assert fields == {"sepal_length", "sepal_width", "petal_length", "petal_width", "species"}
    with pytest.raises(ValueError, match="not a vxnn model"):
        (tmp_path / "junk").write_text("hello")
        vxneural.load(tmp_path / "junk")
    with pytest.raises(ValueError, match="predicts a class"):
        vxneural.MLPRegressor.load(tmp_path / "m.binary")
    with pytest.raises(ValueError):
        pickle.loads(pickle.dumps(est).replace(b"MLPSet", b"XLPSet"))


def test_fitted_attributes():
    X, y = messy_frame()
    X = X.assign(constant=1.0)
    est = vxneural.MLPClassifier(random_state=3).fit(X, y)
    assert est.n_features_in_ == 6
    assert list(est.feature_names_in_) == list(X.columns)
    assert est.feature_importances_.shape == (6,)
    assert est.feature_importances_[5] == 0.0  # a constant column is not used
    assert est.feature_importances_.sum() == pytest.approx(1.0)
    assert est.n_iter_ >= 1 and est.n_hidden_units_ >= 1
    assert len(est.loss_curve_) >= 1 and np.all(np.isfinite(est.loss_curve_))
    p = est.predict_proba(X)
    assert p.shape == (150, 3)
    np.testing.assert_allclose(p.sum(axis=1), 1.0)
    np.testing.assert_array_equal(est.predict(X), est.classes_[p.argmax(axis=1)])
    rbf = vxneural.RBFClassifier().fit(X, y).predict_proba(X)
    assert (rbf >= 0).all()
    np.testing.assert_allclose(rbf.sum(axis=1), 1.0)


def test_categories_from_numpy_text_and_object_columns_match_pandas():
    X, y = messy_frame()
    from_frame = vxneural.MLPClassifier(random_state=4).fit(X, y).predict_proba(X)
    # An object array holding numbers (NaN missing) and text (None missing).
    values = X.astype(object).where(X.notna(), None).to_numpy()
    values[:, :4] = X.iloc[:, :4].to_numpy()
    from_array = vxneural.MLPClassifier(random_state=4).fit(values, y).predict_proba(values)
    np.testing.assert_array_equal(from_array, from_frame)


def test_unseen_categories_are_imputed_or_refused():
    X, y = messy_frame()
    est = vxneural.MLPClassifier(random_state=5).fit(X, y)
    row = X.iloc[[60]].copy()
    categories = list(X["colour"].cat.categories) + ["violet"]
    missing = row.copy()
    row["colour"] = pd.Categorical(["violet"], categories=categories)
    missing["colour"] = pd.Categorical([None], categories=categories)
    # An unknown category counts as a missing value.
    np.testing.assert_array_equal(est.predict_proba(row), est.predict_proba(missing))
    strict = clone(est).set_params(handle_unknown="error").fit(X, y)
    with pytest.raises(ValueError, match='column "colour": category "violet" was not seen'):
        strict.predict(row)
    strict.predict(missing)


@pytest.mark.parametrize("call, error, match", [
    (lambda e, X, y: e.predict(X), NotFittedError, "not fitted"),
    (lambda e, X, y: e.fit(X.to_numpy()[:, 0], y), ValueError, "2D array"),
    (lambda e, X, y: e.fit(X.assign(sepal_width=np.inf), y), ValueError, "infinity"),
    (lambda e, X, y: e.fit(X, y[:-1]), ValueError, "inconsistent numbers of samples"),
    (lambda e, X, y: e.fit(X, np.full(len(y), "a")), ValueError, "one class"),
    (lambda e, X, y: e.fit(X, y, sample_weight=np.full(len(y), 0.5)), ValueError,
     "whole numbers"),
    (lambda e, X, y: e.fit(X, y, sample_weight=-np.ones(len(y))), ValueError, "negative"),
    (lambda e, X, y: e.fit(X.iloc[:1], y[:1]), ValueError, "n_samples = 1"),
    (lambda e, X, y: e.set_params(hidden_layer_sizes=(0,)).fit(X, y), ValueError,
     "hidden_layer_sizes"),
    (lambda e, X, y: e.set_params(validation_fraction=1.0).fit(X, y), ValueError,
     "validation_fraction"),
    (lambda e, X, y: e.set_params(batch_size=10).fit(X, y), ValueError,
     "solver scg trains in batch only; use solver gd"),
    (lambda e, X, y: e.fit(X.assign(when=pd.Timestamp("2020-01-01")), y), ValueError, "dtype"),
])
def test_bad_input_gets_the_expected_exception(call, error, match):
    X, y = iris()
    est = vxneural.MLPClassifier()
    with pytest.raises(error, match=match):
        call(est, X, y)
    with pytest.raises(NotFittedError):
        est.predict(X)


def test_bad_input_at_predict():
    X, y = iris()
    est = vxneural.MLPClassifier(hidden_layer_sizes=(3,)).fit(X, y)
    with pytest.raises(ValueError, match="X has 3 features, but MLPClassifier is expecting 4"):
        est.predict(X.to_numpy()[:, :3])
    with pytest.raises(ValueError, match="infinity"):
        est.predict(X.to_numpy() * np.inf)
    with pytest.raises(ValueError, match="feature names should match"):
        est.predict(X.rename(columns={"sepal_length": "other"}))


@pytest.mark.parametrize("scaling", ["standard", "range"])
def test_missing_inputs_take_the_training_mean_or_most_frequent_category(scaling):
    # Without held-out rows every row is a training row, so the model's mean
    # is the column's. (Scaled to -1..1 the mean is not the middle of the
    # range, which a missing value left to the network would read.)
    X, y = messy_frame()
    est = vxneural.MLPClassifier(hidden_layer_sizes=(3,), validation_fraction=0.0,
                                 input_scaling=scaling).fit(X, y)
    row = X.iloc[[0]].copy()
    gap, filled = row.copy(), row.copy()
    gap[["sepal_width", "colour"]] = [np.nan, None]
    filled["sepal_width"] = X["sepal_width"].mean()
    filled["colour"] = X["colour"].value_counts().idxmax()
    np.testing.assert_allclose(est.predict_proba(gap), est.predict_proba(filled), rtol=1e-12)


def test_sample_weight_counts_rows():
    X, y = iris()
    w = np.where(np.arange(len(y)) % 3 == 0, 2, 1)
    w[5] = 0
    weighted = vxneural.MLPClassifier(random_state=6).fit(X, y, sample_weight=w)
    rows = np.repeat(np.arange(len(y)), w)
    repeated = vxneural.MLPClassifier(random_state=6).fit(X.iloc[rows], y.iloc[rows])
    np.testing.assert_array_equal(weighted.predict_proba(X), repeated.predict_proba(X))


def test_works_with_sklearns_tools():
    X, y = iris()
    scores = cross_val_score(vxneural.MLPClassifier(), X, y, cv=5)
    assert scores.shape == (5,) and scores.mean() > 0.9
    grid = GridSearchCV(vxneural.RBFClassifier(), {"n_centers": [3, 12]}, cv=3).fit(X, y)
    assert grid.best_params_["n_centers"] in (3, 12)
    pipe = make_pipeline(StandardScaler(), vxneural.MLPRegressor(hidden_layer_sizes=(4,)))
    frame = pd.read_csv(DATA / "diabetes.csv")
    pipe.fit(frame.drop(columns="progression"), frame["progression"])
    assert pipe.score(frame.drop(columns="progression"), frame["progression"]) > 0.4
    est = vxneural.MLPClassifier(hidden_layer_sizes=(7, 3), activation="logistic")
    copy = clone(est)
    assert copy.get_params() == est.get_params() and not hasattr(copy, "classes_")


def test_progress_reaches_the_callback_and_verbose(capsys):
    X, y = iris()
    events = []
    est = vxneural.MLPClassifier(hidden_layer_sizes=(4,), callback=events.append, verbose=1)
    est.fit(X, y)
    phases = {e["phase"] for e in events}
    assert {"training", "refitting"} <= phases
    training = [e for e in events if e["phase"] == "training"]
    passes = [e["data_passes"] for e in training]
    assert passes == sorted(passes)
    # The loss curve is the training run's error per training record, one
    # point per pass reported (the last report of a pass counts).
    last = {e["data_passes"]: e["train_error"] for e in training}
    ratio = np.asarray(list(last.values())) / np.asarray(est.loss_curve_)
    n_train = round(ratio[0])
    assert 90 <= n_train <= 120  # about 70% of the 150 rows
    np.testing.assert_allclose(ratio, n_train)
    printed = capsys.readouterr().out.splitlines()
    assert len(printed) == len(events) and printed[0].startswith(events[0]["phase"] + ": pass")


def test_the_size_selection_reports_too():
    X, y = iris()
    events = []
    vxneural.MLPClassifier(callback=events.append).fit(X, y)
    phases = [e["phase"] for e in events]
    # The folds' fits (side by side), then the run measured, then the refit.
    first_training = phases.index("training")
    assert set(phases[:first_training]) == {"cross-validating"}
    assert set(phases[first_training:]) == {"training", "refitting"}
    assert phases[-1] == "refitting"


def test_callback_exception_stops_the_fit():
    X, y = iris()

    def stop(event):
        raise RuntimeError("enough")
    est = vxneural.MLPClassifier(callback=stop)
    with pytest.raises(RuntimeError, match="enough"):
        est.fit(X, y)
    with pytest.raises(NotFittedError):
        est.predict(X)


def big_problem(rows=40000):
    rng = np.random.RandomState(0)
    X = rng.normal(size=(rows, 20))
    y = (X[:, 0] + np.sin(3 * X[:, 1]) + 0.3 * rng.normal(size=rows) > 0).astype(int)
    return X, y


def test_interrupt_cancels_and_removes_temporary_files(tmp_path, monkeypatch):
    # The records beyond the library's memory budget go to temporary files,
    # which the cancelled fit must remove.
    monkeypatch.setenv("TMPDIR", str(tmp_path))
    X, y = big_problem()
    seen = []
    interrupted = []

    def watch(event):
        seen.append(len(os.listdir(tmp_path)))
        if event["phase"] == "training" and event["data_passes"] >= 4 and not interrupted:
            interrupted.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)
    # Left alone, this fit would train for its whole max_time (nothing
    # else stops it), then refit for as long: the interrupt must end it.
    est = vxneural.MLPClassifier(hidden_layer_sizes=(30,), callback=watch, size_selection="rule",
                                 early_stopping=False, tol=0.0, max_iter=100000, max_time=30)
    with pytest.raises(KeyboardInterrupt):
        est.fit(X, y)
    assert time.monotonic() - interrupted[0] < 15
    assert max(seen) > 0, "the fit should have spilled records to temporary files"
    assert os.listdir(tmp_path) == []
    with pytest.raises(NotFittedError):
        est.predict(X)


def test_fit_releases_the_interpreter():
    X, y = big_problem(20000)
    ticks = []
    done = threading.Event()

    def count():
        while not done.is_set():
            ticks.append(1)
            time.sleep(0.001)
    thread = threading.Thread(target=count)
    thread.start()
    started = time.monotonic()
    vxneural.MLPClassifier(hidden_layer_sizes=(20,), size_selection="rule").fit(X, y)
    seconds = time.monotonic() - started
    done.set()
    thread.join()
    # The other thread ran throughout the fit, not only between its calls.
    assert len(ticks) > 0.1 * seconds / 0.0011


@pytest.mark.parametrize("value, text", [
    (6, "6"), (6.0, "6"), (np.float32(6.0), "6"), (-2.0, "-2"), (0.5, "0.5"), (0.1, "0.1"),
    (1e20, "1e+20"), (2.0**53, "9007199254740992"), (1e16, "1e+16"), (True, "True"), ("x", "x"),
])
def test_category_texts_are_those_a_csv_file_holds(value, text):
    from vxneural._estimators import _label_text
    assert _label_text(value) == text


def test_numbers_read_as_categories_of_text():
    # A column of text at fit ("rotary" among the numbers) and of numbers at
    # predict: 6 must find the category "6".
    X, y = iris()
    X = X.assign(cylinders=np.where(X["petal_width"] > 1.5, "6",
                                    np.where(X["sepal_length"] > 7.5, "rotary", "4")))
    est = vxneural.MLPClassifier(hidden_layer_sizes=(4,), handle_unknown="error").fit(X, y)
    as_numbers = X.assign(cylinders=X["cylinders"].replace("rotary", "4").astype(np.int64))
    as_text = as_numbers.assign(cylinders=as_numbers["cylinders"].astype(str))
    np.testing.assert_array_equal(est.predict_proba(as_numbers), est.predict_proba(as_text))
    with pytest.raises(ValueError, match='category "5" was not seen'):
        est.predict(as_numbers.assign(cylinders=5))


@pytest.mark.filterwarnings("ignore:X does not have valid feature names")
def test_rows_of_an_array_read_in_place_as_columns_are_read():
    # A C-ordered float array goes to the library chunk by chunk where it
    # lies (4096 rows to a chunk); a chunk with a missing value is copied
    # and filled. Either way the outputs are those of the frame's columns.
    X, y = iris()
    big = pd.concat([X] * 40, ignore_index=True)
    est = vxneural.MLPClassifier(hidden_layer_sizes=(5,), validation_fraction=0.0).fit(X, y)
    array = np.ascontiguousarray(big.to_numpy())
    array[4100, 2] = np.nan
    frame = pd.DataFrame(array, columns=X.columns)
    np.testing.assert_array_equal(est.predict_proba(array), est.predict_proba(frame))
    filled = array.copy()
    filled[4100, 2] = X["petal_length"].mean()
    np.testing.assert_allclose(est.predict_proba(array)[4100], est.predict_proba(filled)[4100],
                               rtol=1e-12)
    array[5000, 0] = -np.inf
    with pytest.raises(ValueError, match="infinity"):
        est.predict_proba(array)


@pytest.mark.parametrize("estimator", [vxneural.MLPClassifier, vxneural.RBFClassifier])
def test_the_model_is_the_same_for_any_thread_count(estimator):
    X, y = messy_frame()
    X = pd.concat([X] * 4, ignore_index=True)  # several blocks of records
    y = pd.concat([y] * 4, ignore_index=True)
    before = vxneural.get_threads()
    saved = {}
    try:
        for threads in (1, 3):
            vxneural.set_threads(threads)
            assert vxneural.get_threads() == threads
            model = estimator(hidden_layer_sizes=(5,)) if estimator is vxneural.MLPClassifier \
                else estimator(n_centers=6)
            saved[threads] = model.fit(X, y).predict_proba(X)
    finally:
        vxneural.set_threads(before)
    np.testing.assert_array_equal(saved[1], saved[3])


@pytest.mark.parametrize("threads", [0, -1, 257])
def test_set_threads_refuses_counts_out_of_range(threads):
    before = vxneural.get_threads()
    with pytest.raises(ValueError, match="between 1 and 256"):
        vxneural.set_threads(threads)
    assert vxneural.get_threads() == before
