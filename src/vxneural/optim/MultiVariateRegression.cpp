#include "vxneural/optim/MultiVariateRegression.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <utility>

#include "network/ArrayData.h"
#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"

using VXNeural::detail::Data;

namespace {

constexpr const char* kClassName = "MultiVariateRegression";
constexpr const char* kBinaryTag = "MVR";
constexpr double kDefaultTolerance = 1e-8;
// Beyond this many regressors and dependent variables together the packed
// matrix would pass the element ceiling of the readers.
constexpr int kMaxColumns = 23000;

// Entry (r, c) of the packed lower triangle, either order.
inline std::size_t At(int r, int c) {
  if (r < c) std::swap(r, c);
  return static_cast<std::size_t>(r) * static_cast<std::size_t>(r + 1) / 2 +
         static_cast<std::size_t>(c);
}

std::size_t PackedSize(int n) {
  return static_cast<std::size_t>(n) * static_cast<std::size_t>(n + 1) / 2;
}

}  // namespace

struct MultiVariateRegression::Saved {
  int p = 0;
  bool constant = false;
  int q = 0;
  double tolerance = kDefaultTolerance;
  std::vector<double> matrix;
  int caseCount = 0;
  std::vector<int> swept;
  std::vector<double> coefficients;
  std::vector<double> residuals;
  int status = 0;
};

MultiVariateRegression::MultiVariateRegression() : MultiVariateRegression(0, false, 0) {}

MultiVariateRegression::MultiVariateRegression(int nRegressors, bool constant, int nDependent)
    : fNRegressors(std::max(nRegressors, 0) + (constant ? 1 : 0)),
      fConstant(constant),
      fNDependent(std::max(nDependent, 0)),
      fTolerance(kDefaultTolerance),
      fMatrix(0.0, PackedSize(fNRegressors + fNDependent)),
      fCaseCount(0),
      fSwept(static_cast<std::size_t>(fNRegressors), false),
      fCoefficients(static_cast<std::size_t>(fNDependent),
                    std::valarray<double>(0.0, static_cast<std::size_t>(fNRegressors))),
      fResidualSS(0.0, static_cast<std::size_t>(fNDependent)),
      fStatus(kInitial),
      fZ(0.0, static_cast<std::size_t>(fNRegressors + fNDependent)) {}

MultiVariateRegression::~MultiVariateRegression() = default;

void MultiVariateRegression::Accumulate(const double* x, const double* y, double w) {
  const int p = fNRegressors;
  const int lead = fConstant ? 1 : 0;
  const int n = p + fNDependent;
  double* z = Data(fZ);
  if (fConstant) z[0] = 1.0;
  for (int i = lead; i < p; ++i) z[i] = x[i - lead];
  for (int t = 0; t < fNDependent; ++t) z[p + t] = y[t];
  double* a = Data(fMatrix);
  for (int r = 0; r < n; ++r) {
    const double wz = w * z[r];
    double* row = a + At(r, 0);
    for (int c = 0; c <= r; ++c) row[c] += wz * z[c];
  }
}

int MultiVariateRegression::AddRecord(const double* x, int nx, const double* y, int ny, double w) {
  const int regressors = fNRegressors - (fConstant ? 1 : 0);
  // Written so that NaN fails too.
  if (!(w > 0.0) || nx < regressors || ny < fNDependent) return fCaseCount;
  Accumulate(x, y, w);
  ++fCaseCount;
  fStatus = kMatrixBuilt;
  return fCaseCount;
}

int MultiVariateRegression::RemoveRecord(const double* x, int nx, const double* y, int ny,
                                         double w) {
  const int regressors = fNRegressors - (fConstant ? 1 : 0);
  if (!(w > 0.0) || nx < regressors || ny < fNDependent) return fCaseCount;
  // Taking the last case out leaves nothing to fit; subtracting it would
  // leave rounding residue instead of zeros.
  if (fCaseCount <= 1) {
    Reset();
    return fCaseCount;
  }
  Accumulate(x, y, -w);
  --fCaseCount;
  fStatus = kMatrixBuilt;
  return fCaseCount;
}

void MultiVariateRegression::AddCrossProducts(const double* packed, int cases) {
  if (cases <= 0) return;
  double* a = Data(fMatrix);
  const std::size_t n = fMatrix.size();
  for (std::size_t i = 0; i < n; ++i) a[i] += packed[i];
  fCaseCount += cases;
  fStatus = kMatrixBuilt;
}

void MultiVariateRegression::Reset() {
  fMatrix = 0.0;
  fCaseCount = 0;
  std::fill(fSwept.begin(), fSwept.end(), false);
  for (auto& b : fCoefficients) b = 0.0;
  fResidualSS = 0.0;
  fStatus = kInitial;
}

std::vector<double> MultiVariateRegression::GetDiagonal() const {
  std::vector<double> d(static_cast<std::size_t>(fNRegressors));
  for (int k = 0; k < fNRegressors; ++k) d[static_cast<std::size_t>(k)] = fMatrix[At(k, k)];
  return d;
}

bool MultiVariateRegression::Sweep(std::valarray<double>& a, const std::vector<double>& d, int k) {
  const std::size_t kk = At(k, k);
  const double pivot = a[kk];
  const bool wasSwept = fSwept[static_cast<std::size_t>(k)];
  if (!wasSwept) {
    // What is left of the regressor after the pivots already swept is no
    // more than rounding of its own sum of squares: collinear.
    if (d[static_cast<std::size_t>(k)] * fTolerance >= pivot) return false;
    // Sweeping k would drive the inverse diagonal of a swept pivot i to
    // 1 / (tolerance * D_i): the two are nearly collinear.
    for (int i = 0; i < fNRegressors; ++i) {
      if (i == k || !fSwept[static_cast<std::size_t>(i)]) continue;
      const double aik = a[At(i, k)];
      if ((a[At(i, i)] - aik * aik / pivot) * fTolerance * d[static_cast<std::size_t>(i)] <= -1.0)
        return false;
    }
  }
  const int n = fNRegressors + fNDependent;
  const double dk = -1.0 / pivot;
  const double scale = std::fabs(dk);
  a[kk] = dk;
  for (int j = 0; j < n; ++j) {
    if (j == k) continue;
    const std::size_t jk = At(j, k);
    double t = a[jk];
    a[jk] = scale * t;
    if (dk < 0.0) t = -t;
    for (int i = 0; i <= j; ++i) {
      if (i == k) continue;
      a[At(j, i)] += a[At(i, k)] * t;
    }
  }
  fSwept[static_cast<std::size_t>(k)] = !wasSwept;
  return !wasSwept;
}

int MultiVariateRegression::EstimateCoefficients(bool keepMatrix) {
  const int p = fNRegressors;
  std::fill(fSwept.begin(), fSwept.end(), false);
  std::vector<double> d = GetDiagonal();
  const double largest = d.empty() ? 0.0 : *std::max_element(d.begin(), d.end());
  for (double& dk : d)
    if (dk < fTolerance * largest) dk = 0.0;
  std::valarray<double> kept;
  if (keepMatrix) kept = fMatrix;
  int swept = 0;
  for (int k = 0; k < p; ++k)
    if (d[static_cast<std::size_t>(k)] > 0.0 && Sweep(fMatrix, d, k)) ++swept;
  for (int t = 0; t < fNDependent; ++t) {
    std::valarray<double>& b = fCoefficients[static_cast<std::size_t>(t)];
    for (int i = 0; i < p; ++i)
      b[static_cast<std::size_t>(i)] =
          fSwept[static_cast<std::size_t>(i)] ? fMatrix[At(p + t, i)] : 0.0;
    // An exact fit can leave a rounding residue below 0.
    fResidualSS[static_cast<std::size_t>(t)] = std::max(fMatrix[At(p + t, p + t)], 0.0);
  }
  if (keepMatrix) {
    fMatrix = std::move(kept);
  } else {
    fMatrix = 0.0;
    fCaseCount = 0;
  }
  fStatus = kEstimated;
  return swept;
}

void MultiVariateRegression::GetCoefficients(int t, double* dest) const {
  if (t < 0 || t >= fNDependent) return;
  const std::valarray<double>& b = fCoefficients[static_cast<std::size_t>(t)];
  std::copy(std::begin(b), std::end(b), dest);
}

double MultiVariateRegression::GetResidualSumOfSquares(int t) const {
  return t >= 0 && t < fNDependent ? fResidualSS[static_cast<std::size_t>(t)] : 0.0;
}

void MultiVariateRegression::Predict(const double* x, double* out) const {
  const int lead = fConstant ? 1 : 0;
  for (int t = 0; t < fNDependent; ++t) {
    const std::valarray<double>& b = fCoefficients[static_cast<std::size_t>(t)];
    double s = fConstant ? b[0] : 0.0;
    for (int i = lead; i < fNRegressors; ++i) s += x[i - lead] * b[static_cast<std::size_t>(i)];
    out[t] = s;
  }
}

template <typename Writer>
void MultiVariateRegression::PutFields(Writer& w) const {
  w.Int(fNRegressors).Int(fConstant ? 1 : 0).Int(fNDependent).Double(fTolerance);
  w.Int(static_cast<int>(fMatrix.size())).Doubles(Data(fMatrix), fMatrix.size());
  w.Int(fCaseCount).Int(static_cast<int>(fSwept.size()));
  for (bool s : fSwept) w.Int(s ? 1 : 0);
  for (const auto& b : fCoefficients) w.Doubles(Data(b), b.size());
  w.Int(static_cast<int>(fResidualSS.size())).Doubles(Data(fResidualSS), fResidualSS.size());
  w.Int(fStatus);
}

// Both saved forms hold the same values in the same order. Every count
// must agree with p and q before anything is allocated for it.
template <typename Reader>
MultiVariateRegression::Saved MultiVariateRegression::ReadSaved(Reader& r) {
  Saved s;
  s.p = r.Int();
  const int constant = r.Int();
  s.q = r.Int();
  s.tolerance = r.Double();
  if (s.p < 0 || s.q < 0 || s.p > kMaxColumns || s.q > kMaxColumns - s.p) r.Fail();
  if (constant != 0 && constant != 1) r.Fail();
  s.constant = constant == 1;
  if (s.constant && s.p < 1) r.Fail();
  if (!(s.tolerance > 0.0) || !std::isfinite(s.tolerance)) r.Fail();
  const int m = r.Int();
  if (static_cast<std::size_t>(m) != PackedSize(s.p + s.q) || m < 0) r.Fail();
  s.matrix = r.Doubles(m);
  s.caseCount = r.Int();
  if (s.caseCount < 0) r.Fail();
  const int f = r.Int();
  if (f != s.p) r.Fail();
  s.swept = r.Ints(f);
  for (int flag : s.swept)
    if (flag != 0 && flag != 1) r.Fail();
  s.coefficients =
      r.Doubles(static_cast<int>(static_cast<std::int64_t>(s.p) * static_cast<std::int64_t>(s.q)));
  const int rCount = r.Int();
  if (rCount != s.q) r.Fail();
  s.residuals = r.Doubles(rCount);
  s.status = r.Int();
  if (s.status < kInitial || s.status > kEstimated) r.Fail();
  return s;
}

void MultiVariateRegression::Adopt(Saved& s) {
  MultiVariateRegression fresh(s.p - (s.constant ? 1 : 0), s.constant, s.q);
  fresh.fTolerance = s.tolerance;
  std::copy(s.matrix.begin(), s.matrix.end(), std::begin(fresh.fMatrix));
  fresh.fCaseCount = s.caseCount;
  for (std::size_t i = 0; i < s.swept.size(); ++i) fresh.fSwept[i] = s.swept[i] == 1;
  for (int t = 0; t < s.q; ++t)
    std::copy_n(s.coefficients.begin() + static_cast<std::ptrdiff_t>(t) * s.p, s.p,
                std::begin(fresh.fCoefficients[static_cast<std::size_t>(t)]));
  std::copy(s.residuals.begin(), s.residuals.end(), std::begin(fresh.fResidualSS));
  fresh.fStatus = s.status;
  *this = std::move(fresh);
}

int MultiVariateRegression::WriteObject(std::ostream& out) const {
  VXNeural::detail::BinWriter w(out);
  w.Tag(kBinaryTag);
  PutFields(w);
  return w.Bytes();
}

int MultiVariateRegression::ReadObject(std::istream& in) {
  VXNeural::detail::BinReader r(in, kClassName);
  r.ExpectTag(kBinaryTag);
  Saved s = ReadSaved(r);
  Adopt(s);
  return r.Bytes();
}

int MultiVariateRegression::WriteObjectXML(std::ostream& out, int level) const {
  VXNeural::detail::XmlWriter w(out, kClassName, level);
  PutFields(w);
  return w.End();
}

int MultiVariateRegression::ReadObjectXML(std::istream& in) {
  VXNeural::detail::XmlReader r(in, kClassName, kClassName);
  Saved s = ReadSaved(r);
  const int count = r.End();
  Adopt(s);
  return count;
}

void MultiVariateRegression::Display(std::ostream& out) const {
  using VXNeural::detail::ShowVector;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of MultiVariateRegression display\n";
  if (fConstant)
    out << "Number of regressors including constant = " << fNRegressors
        << "\nConstant is in the model\n";
  else
    out << "Number of regressors = " << fNRegressors << "\nConstant is NOT in the model\n";
  out << "Number of dependent variables = " << fNDependent << '\n';
  out << "Tolerance used in sweep operations = " << fTolerance << '\n';
  out << "Case count = " << fCaseCount << '\n';
  out << "X'*X matrix in valarray \n";
  if (fMatrix.size() == 0) out << "    <none>\n";
  const int n = fNRegressors + fNDependent;
  for (int r = 0; r < n && fMatrix.size() > 0; ++r) {
    out << "row " << r << " =";
    for (int c = 0; c <= r; ++c) out << ' ' << fMatrix[At(r, c)];
    out << '\n';
  }
  ShowVector(out, "Swept pivots", fSwept);
  out << "Regression coefficients\nVector of valarrays \n";
  for (std::size_t t = 0; t < fCoefficients.size(); ++t) {
    out << "valarray index = " << t << '\n';
    ShowVector(out, "", fCoefficients[t]);
  }
  ShowVector(out, "Residual Sums of Squares", fResidualSS);
  static const char* const kStatusLines[] = {"Status: initial", "Status: X'*X matrix built",
                                             "Status: regression coefficients estimated"};
  if (fStatus >= kInitial && fStatus <= kEstimated) out << kStatusLines[fStatus] << '\n';
  out << "End of MultiVariateRegression display\n";
}
