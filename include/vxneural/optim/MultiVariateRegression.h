// Multivariate weighted least squares by the sweep operator: one pass of
// cross-product accumulation over weighted records, then all regression
// coefficients of every dependent variable at once.
#pragma once

#include <iosfwd>
#include <valarray>
#include <vector>

/// The model has p regressors (the constant 1 first when it is in the model)
/// and q dependent variables. Records add w * z z^T to the packed lower
/// triangle of the (p + q) x (p + q) cross-product matrix, z = (1 when the
/// constant is in, x, y); memory is (p + q)(p + q + 1) / 2 doubles whatever
/// the number of records, and nothing is allocated per record.
///
/// Collinear regressors are not an error. A regressor whose sum of squares
/// is below the tolerance times the largest one, or whose residual sum of
/// squares after the pivots already swept is no more than the tolerance
/// times its own, or whose sweep would blow up the inverse of a pivot
/// already swept, is not swept: its coefficients are 0 and the fit is that
/// of the other regressors. (A constant input column is thus absorbed by the
/// constant term when that is in the model.)
///
/// Saved forms: binary "MVR" with p, the constant flag, q, the tolerance,
/// the packed matrix (count and values), the case count, the pivot flags
/// (count and flags), the q x p coefficients, the residual sums (count and
/// values) and the status; XML object "MultiVariateRegression" with the same
/// values. Readers fail with "Error reading MultiVariateRegression!\n" /
/// "Failure reading MultiVariateRegression!\n", throw a new
/// VXNeural::IOException by pointer and leave the object unchanged.
class MultiVariateRegression {
 public:
  /// 0 initial, 1 cross-products built, 2 coefficients estimated.
  enum Status { kInitial = 0, kMatrixBuilt = 1, kEstimated = 2 };

  /// An empty model (no regressors, no dependent variables) for readers.
  MultiVariateRegression();
  /// nRegressors without the constant; with the constant, p is one more.
  /// Negative counts are taken as 0. Everything starts at 0, status initial.
  MultiVariateRegression(int nRegressors, bool constant, int nDependent);
  /// A full copy: sums, pivots, coefficients and status.
  MultiVariateRegression(const MultiVariateRegression&) = default;
  /// A full copy: sums, pivots, coefficients and status.
  MultiVariateRegression& operator=(const MultiVariateRegression&) = default;
  /// Destroys the model.
  ~MultiVariateRegression();

  /// Accumulates one record: x holds the regressors without the constant, y
  /// the dependent values; nx and ny must be at least the model's counts
  /// (extra values are ignored; a shorter record is ignored). A weight that
  /// is not above 0 (or NaN) is ignored. Returns the case count.
  int AddRecord(const double* x, int nx, const double* y, int ny, double w);
  /// Takes a record added earlier out again (accumulation with weight -w).
  /// Removing from a model with one case resets it. Returns the case count.
  int RemoveRecord(const double* x, int nx, const double* y, int ny, double w);
  /// Adds the sums of `cases` records with weight 1 formed elsewhere: packed
  /// holds the (p + q)(p + q + 1) / 2 entries of their sum of z z^T in the
  /// matrix's own layout. The case count grows by cases; with cases above 0
  /// the status becomes 1. Nothing happens for cases <= 0.
  void AddCrossProducts(const double* packed, int cases);
  /// Matrix, case count, pivots, coefficients and residual sums to 0; status
  /// initial.
  void Reset();
  /// Estimates all coefficients and residual sums of squares; returns the
  /// number of pivots swept. With keepMatrix the cross-products stay, so more
  /// records continue the same fit; otherwise they and the case count are
  /// cleared and new records start a new fit.
  int EstimateCoefficients(bool keepMatrix);

  /// The p coefficients of dependent variable t (the constant's first when it
  /// is in the model) copied to dest; nothing for a t out of range.
  void GetCoefficients(int t, double* dest) const;
  /// Residual sum of squares of dependent variable t (0 out of range).
  double GetResidualSumOfSquares(int t) const;
  /// q predictions for the regressors x (without the constant).
  void Predict(const double* x, double* out) const;

  /// p, including the constant.
  int GetNumRegressors() const { return fNRegressors; }
  /// True when the constant is in the model.
  bool HasConstant() const { return fConstant; }
  /// q, the number of dependent variables.
  int GetNumDependent() const { return fNDependent; }
  /// The records accumulated (added minus removed, plus AddCrossProducts'
  /// cases).
  int GetCaseCount() const { return fCaseCount; }
  /// The tolerance the sweep tests pivots against.
  double GetTolerance() const { return fTolerance; }
  /// Initial, cross-products built or coefficients estimated.
  Status GetStatus() const { return static_cast<Status>(fStatus); }
  /// The diagonal of the first p rows: the weighted sums of squares of the
  /// regressors (the constant's is the total weight).
  std::vector<double> GetDiagonal() const;
  /// One flag per regressor: swept by the last estimate.
  const std::vector<bool>& GetSweptPivots() const { return fSwept; }
  /// The packed (p + q)(p + q + 1) / 2 cross-product matrix.
  const std::valarray<double>& GetMatrix() const { return fMatrix; }

  /// Writes the binary form (see the class comment); returns the bytes
  /// written.
  int WriteObject(std::ostream& out) const;
  /// Reads the binary form; returns the bytes read. Fails as the class
  /// comment says.
  int ReadObject(std::istream& in);
  /// Writes the XML object at nesting level `level`; returns the values
  /// written.
  int WriteObjectXML(std::ostream& out, int level) const;
  /// Reads the XML form; returns the values read. Fails as the class comment
  /// says.
  int ReadObjectXML(std::istream& in);
  /// A readable listing of the counts, matrix, pivots and coefficients.
  void Display(std::ostream& out) const;

 private:
  struct Saved;
  template <typename Reader>
  static Saved ReadSaved(Reader& r);
  void Adopt(Saved& saved);
  template <typename Writer>
  void PutFields(Writer& w) const;
  void Accumulate(const double* x, const double* y, double w);
  /// Sweeps pivot k (0-based) of a; d holds the regressors' sums of squares
  /// before any sweep. Returns whether a pivot not swept before was swept.
  bool Sweep(std::valarray<double>& a, const std::vector<double>& d, int k);

  int fNRegressors;
  bool fConstant;
  int fNDependent;
  double fTolerance;
  std::valarray<double> fMatrix;
  int fCaseCount;
  std::vector<bool> fSwept;
  std::vector<std::valarray<double>> fCoefficients;
  std::valarray<double> fResidualSS;
  int fStatus;
  /// Working vector of one record's z, sized once.
  std::valarray<double> fZ;
};
