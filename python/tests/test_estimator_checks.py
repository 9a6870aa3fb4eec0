"""scikit-learn's own checks of an estimator, for the four estimators. The
one check each expects to fail is named, with its reason, in the
estimators' _more_tags (_xfail_checks), and reported as xfail here."""

from sklearn.utils.estimator_checks import parametrize_with_checks

import vxneural


@parametrize_with_checks([vxneural.MLPClassifier(), vxneural.MLPRegressor(),
                          vxneural.RBFClassifier(), vxneural.RBFRegressor()])
def test_sklearn_checks(estimator, check):
    check(estimator)
