#include "report/HtmlReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <sstream>

#include "commands/Commands.h"
#include "data/Records.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"

namespace vxnn {

namespace {

// Numbers for people ("0.1234") and for coordinates ("12.5").
std::string Num(double v) {
  if (VXMV::IsMissing(v) || !std::isfinite(v)) return "n/a";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}
std::string Px(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}
std::string Percent(double fraction) {
  char buf[32];
  // Wide data spreads importance thin: small shares keep two decimals.
  std::snprintf(buf, sizeof buf, fraction < 0.01 ? "%.2f%%" : "%.1f%%", 100.0 * fraction);
  return buf;
}

// Colours: one hue for positive values, one for negative; strength grows
// with the size. Blue and orange stay apart for most kinds of colour
// blindness.
std::string Blend(int r, int g, int b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  const auto mix = [t](int c) { return static_cast<int>(std::lround(255 + (c - 255) * t)); };
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", mix(r), mix(g), mix(b));
  return buf;
}
std::string Diverging(double t) { return t >= 0 ? Blend(37, 99, 235, t) : Blend(234, 88, 12, -t); }
const char* kPositive = "#2563eb";
const char* kNegative = "#ea580c";

bool Usable(double v) { return !VXMV::IsMissing(v) && std::isfinite(v); }

// Axis labels a reader can interpolate between: steps of 1, 2 or 5 times a
// power of ten (at least minStep), about kTickIntervals of them, the first
// tick at or below lo and the last at or above hi, so that the axis spans
// exactly its labelled range. Needs lo < hi, both finite.
constexpr int kTickIntervals = 5;
std::vector<double> RoundTicks(double lo, double hi, double minStep = 0.0) {
  const double raw = (hi - lo) / kTickIntervals;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10 * power;
  for (const double m : {1.0, 2.0, 5.0})
    if (m * power >= raw) {
      step = m * power;
      break;
    }
  step = std::max(step, minStep);
  // The slack keeps a bound that is a multiple of the step (0.3 / 0.1 is
  // 2.9999999999999996, 0.07 / 0.01 is 7.000000000000001) from gaining a
  // tick beyond it.
  const double first = std::floor(lo / step + 1e-9), last = std::ceil(hi / step - 1e-9);
  std::vector<double> ticks;
  // Counted, not stepped: far from 0 a range narrower than the precision of
  // its values gives multiples too large to count by adding one.
  for (int k = 0; k <= 2 * kTickIntervals + 2 && first + k <= last; ++k)
    ticks.push_back((first + k) * step);
  if (ticks.size() < 2 || !(ticks.back() > ticks.front())) return {lo, hi};
  return ticks;
}

// ---- the network ----------------------------------------------------------

bool IsRbfHidden(const NNStructure& s, int layer) {
  return s.GetAlgorithmType() == VXNNCommon::kRBF && layer > 0 && layer + 1 < s.GetNumLayers();
}

// "petal_length", "species = setosa", "bias", or "" for a hidden unit.
std::string UnitLabel(const NNStructure& s, int layer, int unit) {
  if (s.IsBiasUnit(layer, unit)) return "bias";
  const std::string name = s.GetVariableName(layer, unit);
  const int category = s.GetVariableCatNum(layer, unit);
  if (name.empty() || category < 0) return name;
  const NNVarList* list = s.GetVariableList();
  const int v = list ? list->FindVariable(name) : -1;
  const std::string label = v >= 0 ? CategoryLabel(*list->GetVarAt(v), category) : "";
  return name + " = " + (label.empty() ? "#" + std::to_string(category) : label);
}

// The weight that joins unit `lower` of layer l-1 to unit u of layer l (a
// unit's parameters follow the units of the layer below, bias first), or
// the missing value when there is none or it is an RBF centre coordinate.
double Weight(const NNStructure& s, int l, int u, int lower) {
  if (IsRbfHidden(s, l)) return VXMV::gMissingValue;
  const std::vector<double>& p = s.GetVecParm(l, u);
  return lower < static_cast<int>(p.size()) ? p[static_cast<std::size_t>(lower)]
                                            : VXMV::gMissingValue;
}

// The units of a layer that are drawn: all of them when few, else those
// with the largest weights in and out, and a count of the rest.
struct DrawnLayer {
  std::vector<int> fUnits;
  int fHidden = 0;
  int Rows() const { return static_cast<int>(fUnits.size()) + (fHidden > 0 ? 1 : 0); }
};

DrawnLayer ChooseUnits(const NNStructure& s, int l) {
  DrawnLayer d;
  const int n = s.GetNumUnits(l);
  d.fUnits.resize(static_cast<std::size_t>(n));
  std::iota(d.fUnits.begin(), d.fUnits.end(), 0);
  if (n <= kMaxUnitsDrawn) return d;
  std::vector<double> score(static_cast<std::size_t>(n), 0.0);
  for (int u = 0; u < n; ++u) {
    double& sc = score[static_cast<std::size_t>(u)];
    if (l > 0)
      for (int i = 0; i < s.GetNumUnits(l - 1); ++i) {
        const double w = Weight(s, l, u, i);
        if (Usable(w)) sc += std::fabs(w);
      }
    if (l + 1 < s.GetNumLayers())
      for (int v = 0; v < s.GetNumUnits(l + 1); ++v) {
        const double w = Weight(s, l + 1, v, u);
        if (Usable(w)) sc += std::fabs(w);
      }
  }
  std::stable_sort(d.fUnits.begin(), d.fUnits.end(), [&score](int a, int b) {
    return score[static_cast<std::size_t>(a)] > score[static_cast<std::size_t>(b)];
  });
  d.fUnits.resize(kMaxUnitsDrawn - 1);
  std::sort(d.fUnits.begin(), d.fUnits.end());
  d.fHidden = n - (kMaxUnitsDrawn - 1);
  return d;
}

void NetworkSvg(std::ostream& o, const NNStructure& s) {
  const int layers = s.GetNumLayers();
  std::vector<DrawnLayer> drawn;
  int rows = 1;
  for (int l = 0; l < layers; ++l) {
    drawn.push_back(ChooseUnits(s, l));
    rows = std::max(rows, drawn.back().Rows());
  }
  const double rowH = 26, radius = 8, labelW = 190, colW = 190;
  const double width = 2 * labelW + colW * (layers - 1), height = rows * rowH + 40;
  const auto x = [&](int l) { return labelW + colW * l; };
  // Row positions, each layer centred on the tallest.
  std::vector<std::vector<double>> y(static_cast<std::size_t>(layers));
  for (int l = 0; l < layers; ++l) {
    const DrawnLayer& d = drawn[static_cast<std::size_t>(l)];
    const double top = 30 + (rows - d.Rows()) * rowH / 2 + rowH / 2;
    for (int r = 0; r < d.Rows(); ++r) y[static_cast<std::size_t>(l)].push_back(top + r * rowH);
  }

  o << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"network\" width=\"" << Px(width)
    << "\" height=\"" << Px(height) << "\" viewBox=\"0 0 " << Px(width) << " " << Px(height)
    << "\" role=\"img\">\n";
  for (int l = 0; l < layers; ++l) {
    const char* role = l == 0 ? "inputs" : l + 1 == layers ? "outputs" : "hidden";
    o << "<text class=\"layer\" x=\"" << Px(x(l)) << "\" y=\"16\">" << role << " ("
      << s.GetNumUnits(l) << ")</text>\n";
  }
  // Connections, the strongest drawn last so that they stay on top.
  for (int l = 1; l < layers; ++l) {
    const DrawnLayer& lo = drawn[static_cast<std::size_t>(l - 1)];
    const DrawnLayer& hi = drawn[static_cast<std::size_t>(l)];
    struct Edge {
      double fSize;
      double fWeight;
      std::size_t fFrom, fTo;
    };
    std::vector<Edge> edges;
    double largest = 0.0;
    for (std::size_t b = 0; b < hi.fUnits.size(); ++b) {
      if (s.GetVecParm(l, hi.fUnits[b]).empty()) continue;  // a bias unit has no inputs
      for (std::size_t a = 0; a < lo.fUnits.size(); ++a) {
        const double w = Weight(s, l, hi.fUnits[b], lo.fUnits[a]);
        if (IsRbfHidden(s, l)) {
          if (!s.IsBiasUnit(l - 1, lo.fUnits[a])) edges.push_back({0.0, 0.0, a, b});
          continue;
        }
        if (!Usable(w)) continue;
        edges.push_back({std::fabs(w), w, a, b});
        largest = std::max(largest, std::fabs(w));
      }
    }
    std::stable_sort(edges.begin(), edges.end(),
                     [](const Edge& p, const Edge& q) { return p.fSize < q.fSize; });
    if (!IsRbfHidden(s, l) && edges.size() > kMaxWeightsDrawn)
      edges.erase(edges.begin(), edges.end() - kMaxWeightsDrawn);
    for (const Edge& e : edges) {
      o << "<line x1=\"" << Px(x(l - 1)) << "\" y1=\"" << Px(y[l - 1][e.fFrom]) << "\" x2=\""
        << Px(x(l)) << "\" y2=\"" << Px(y[l][e.fTo]) << "\"";
      if (IsRbfHidden(s, l)) {
        o << " class=\"link\"/>\n";
        continue;
      }
      const double t = largest > 0 ? e.fSize / largest : 0.0;
      o << " class=\"weight\" stroke=\"" << (e.fWeight >= 0 ? kPositive : kNegative)
        << "\" stroke-width=\"" << Px(0.4 + 3.6 * t) << "\" stroke-opacity=\""
        << Px(0.15 + 0.75 * t) << "\"><title>" << Num(e.fWeight) << "</title></line>\n";
    }
  }
  // Units, with the variables' names beside the inputs and the outputs.
  for (int l = 0; l < layers; ++l) {
    const DrawnLayer& d = drawn[static_cast<std::size_t>(l)];
    for (std::size_t r = 0; r < d.fUnits.size(); ++r) {
      const int u = d.fUnits[r];
      const bool bias = s.IsBiasUnit(l, u);
      const std::string label = UnitLabel(s, l, u);
      std::string kind = bias ? "bias" : l == 0 ? "in" : l + 1 == layers ? "out" : "hid";
      if (IsRbfHidden(s, l) && !bias) kind = "centre";
      o << "<circle class=\"unit " << kind << "\" cx=\"" << Px(x(l)) << "\" cy=\"" << Px(y[l][r])
        << "\" r=\"" << Px(bias ? radius * 0.7 : radius) << "\"><title>"
        << HtmlEscape(label.empty() ? "hidden unit " + std::to_string(u) : label);
      if (IsRbfHidden(s, l) && !bias) o << ", width " << Num(s.GetWidth(l, u));
      o << "</title></circle>\n";
      if (label.empty()) continue;
      const bool right = l + 1 == layers;
      const bool inner = l > 0 && !right;
      o << "<text class=\"" << (bias ? "unitlabel small" : "unitlabel") << "\" x=\""
        << Px(x(l) + (right || inner ? radius + 5 : -radius - 5)) << "\" y=\"" << Px(y[l][r] + 4)
        << "\"" << (right || inner ? "" : " text-anchor=\"end\"") << ">" << HtmlEscape(label)
        << "</text>\n";
    }
    if (d.fHidden > 0) {
      const double yy = y[static_cast<std::size_t>(l)].back();
      o << "<rect class=\"more\" x=\"" << Px(x(l) - 26) << "\" y=\"" << Px(yy - 9)
        << "\" width=\"52\" height=\"18\" rx=\"9\"/><text class=\"moretext\" x=\"" << Px(x(l))
        << "\" y=\"" << Px(yy + 4) << "\" text-anchor=\"middle\">+" << d.fHidden << "</text>\n";
    }
  }
  o << "</svg>\n";
}

// The RBF centres: one row per centre, one column per input unit, coloured
// by the coordinate (inputs are standardised, so the colours compare).
void CentreTable(std::ostream& o, const NNStructure& s, int l) {
  std::vector<int> centres;
  for (int u = 0; u < s.GetNumUnits(l); ++u)
    if (!s.IsBiasUnit(l, u)) centres.push_back(u);
  const int inputs = std::min(s.GetNumUnits(0), kMaxCentresShown);
  const std::size_t shown = std::min<std::size_t>(centres.size(), kMaxCentresShown);
  double largest = 0.0;
  for (std::size_t c = 0; c < shown; ++c)
    for (double v : s.GetVecParm(l, centres[c]))
      if (Usable(v)) largest = std::max(largest, std::fabs(v));
  o << "<h3>Centres</h3>\n<table class=\"centres\"><tr><th>centre</th>";
  for (int i = 0; i < inputs; ++i)
    o << "<th class=\"vert\">" << HtmlEscape(UnitLabel(s, 0, i)) << "</th>";
  o << "<th>width</th></tr>\n";
  for (std::size_t c = 0; c < shown; ++c) {
    const std::vector<double>& p = s.GetVecParm(l, centres[c]);
    o << "<tr><th>" << c + 1 << "</th>";
    for (int i = 0; i < inputs; ++i) {
      const double v =
          i < static_cast<int>(p.size()) ? p[static_cast<std::size_t>(i)] : VXMV::gMissingValue;
      o << "<td style=\"background:"
        << (Usable(v) && largest > 0 ? Diverging(v / largest) : std::string("#ffffff"))
        << "\" title=\"" << Num(v) << "\"></td>";
    }
    o << "<td class=\"num\">" << Num(s.GetWidth(l, centres[c])) << "</td></tr>\n";
  }
  o << "</table>\n";
  if (shown < centres.size() || inputs < s.GetNumUnits(0))
    o << "<p class=\"note\">Shown: " << shown << " of " << centres.size() << " centres, " << inputs
      << " of " << s.GetNumUnits(0) << " input units.</p>\n";
}

void NetworkSection(std::ostream& o, const NNStructure& s) {
  o << "<section><h2>Network</h2>\n";
  if (s.IsEmpty() || s.GetNumLayers() < 2) {
    o << "<p class=\"note\">The model has no network to draw.</p></section>\n";
    return;
  }
  const bool rbf = s.GetAlgorithmType() == VXNNCommon::kRBF;
  o << "<p class=\"note\">" << HtmlEscape(VXNNCommon::DisplayText(s.GetAlgorithmType()));
  // Without a hidden layer the layer below the outputs is the inputs,
  // whose activation says nothing.
  if (s.GetNumLayers() > 2)
    o << "; hidden activation " << HtmlEscape(VXNNCommon::DisplayText(s.GetActivFnHiddenLayer()));
  o << "; output activation " << HtmlEscape(VXNNCommon::DisplayText(s.GetActivFnOutputLayer()))
    << ". Coloured lines are weights: <span style=\"color:" << kPositive
    << "\">blue positive</span>, <span style=\"color:" << kNegative
    << "\">orange negative</span>, wider and darker the larger they are within their layer "
       "(hover for the value).";
  if (rbf)
    o << " Grey lines join each centre to the inputs it is placed in; the table below gives "
         "its coordinates (blue positive, orange negative) and its width.";
  bool capped = false, crowded = false;
  for (int l = 0; l < s.GetNumLayers(); ++l) {
    capped = capped || s.GetNumUnits(l) > kMaxUnitsDrawn;
    if (l > 0)
      crowded = crowded || static_cast<std::size_t>(std::min(s.GetNumUnits(l - 1), kMaxUnitsDrawn) *
                                                    std::min(s.GetNumUnits(l), kMaxUnitsDrawn)) >
                               kMaxWeightsDrawn;
  }
  if (capped)
    o << " Layers of more than " << kMaxUnitsDrawn << " units show the " << kMaxUnitsDrawn - 1
      << " with the largest weights; the node marked + counts the others.";
  if (crowded) o << " Between two layers the " << kMaxWeightsDrawn << " largest weights are drawn.";
  o << "</p>\n<div class=\"scroll\">\n";
  NetworkSvg(o, s);
  o << "</div>\n";
  for (int l = 1; l + 1 < s.GetNumLayers(); ++l)
    if (IsRbfHidden(s, l)) CentreTable(o, s, l);
  o << "</section>\n";
}

// ---- importance -----------------------------------------------------------

void ImportanceSection(std::ostream& o, const ReportPage& p) {
  o << "<section><h2>Predictor importance</h2>\n";
  if (p.fImportance.empty()) {
    o << "<p class=\"note\">" << HtmlEscape(p.fImportanceNote) << "</p></section>\n";
    return;
  }
  if (!p.fImportanceNote.empty())
    o << "<p class=\"note\">" << HtmlEscape(p.fImportanceNote) << "</p>\n";
  const std::size_t shown = std::min<std::size_t>(p.fImportance.size(), kMaxImportanceBars);
  double largest = 0.0;
  for (const auto& [name, v] : p.fImportance)
    if (Usable(v)) largest = std::max(largest, v);
  const double rowH = 22, labelW = 220, barW = 420;
  o << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"importance\" width=\""
    << Px(labelW + barW + 80) << "\" height=\"" << Px(shown * rowH + 6) << "\" role=\"img\">\n";
  for (std::size_t i = 0; i < shown; ++i) {
    const auto& [name, v] = p.fImportance[i];
    const double w = Usable(v) && largest > 0 ? barW * v / largest : 0.0;
    const double y = i * rowH + 3;
    o << "<text class=\"barlabel\" x=\"" << Px(labelW - 8) << "\" y=\"" << Px(y + 15)
      << "\" text-anchor=\"end\">" << HtmlEscape(name) << "</text><rect class=\"bar\" x=\""
      << Px(labelW) << "\" y=\"" << Px(y + 2) << "\" width=\"" << Px(std::max(w, 1.0))
      << "\" height=\"" << Px(rowH - 6) << "\"><title>" << HtmlEscape(name) << ": " << Num(v)
      << "</title></rect><text class=\"barvalue\" x=\"" << Px(labelW + w + 6) << "\" y=\""
      << Px(y + 15) << "\">" << (Usable(v) ? Percent(v) : "n/a") << "</text>\n";
  }
  o << "</svg>\n";
  if (shown < p.fImportance.size()) {
    double rest = 0.0;
    for (std::size_t i = shown; i < p.fImportance.size(); ++i)
      if (Usable(p.fImportance[i].second)) rest += p.fImportance[i].second;
    o << "<p class=\"note\">" << p.fImportance.size() - shown << " more inputs, " << Percent(rest)
      << " of the importance together.</p>\n";
  }
  o << "</section>\n";
}

// ---- figures per target ----------------------------------------------------

constexpr std::size_t kMaxCategoriesDrawn = 40;

void ConfusionTable(std::ostream& o, const TargetFigures& t) {
  o << "<h3>" << HtmlEscape(t.fName) << ": " << Num(t.fPercentCorrect) << "% correct</h3>\n";
  const std::size_t n = t.fCategories.size();
  if (n > kMaxCategoriesDrawn || t.fConfusion.size() != n) {
    o << "<p class=\"note\">" << n << " categories: too many to draw the confusion matrix; "
      << "vxnn eval prints it.</p>\n";
    return;
  }
  o << "<table class=\"confusion\"><tr><th class=\"corner\">actual \\ predicted</th>";
  for (const auto& c : t.fCategories) o << "<th>" << HtmlEscape(c) << "</th>";
  o << "</tr>\n";
  for (std::size_t r = 0; r < n; ++r) {
    int total = 0;
    for (int v : t.fConfusion[r]) total += v;
    o << "<tr><th>" << HtmlEscape(t.fCategories[r]) << "</th>";
    for (std::size_t c = 0; c < n && c < t.fConfusion[r].size(); ++c) {
      const int v = t.fConfusion[r][c];
      const double share = total > 0 ? static_cast<double>(v) / total : 0.0;
      o << "<td class=\"" << (r == c ? "cell diag" : "cell") << "\" style=\"background:"
        << (r == c ? Blend(37, 99, 235, share) : Blend(234, 88, 12, share))
        << (share > 0.55 ? ";color:#fff" : "") << "\" title=\"" << Percent(share) << " of "
        << HtmlEscape(t.fCategories[r]) << "\">" << v << "</td>";
    }
    o << "</tr>\n";
  }
  o << "</table>\n";
}

void ScatterSvg(std::ostream& o, const ScatterSeries& s, double relativeError) {
  o << "<h3>" << HtmlEscape(s.fTarget) << ": relative error " << Num(relativeError) << "</h3>\n";
  if (s.fPoints.empty()) {
    o << "<p class=\"note\">No record could be scored.</p>\n";
    return;
  }
  double lo = s.fPoints.front().first, hi = lo;
  for (const auto& [a, p] : s.fPoints) {
    lo = std::min({lo, a, p});
    hi = std::max({hi, a, p});
  }
  if (!(hi > lo)) {
    lo -= 1;
    hi += 1;
  }
  // Both axes share one range, so that the dashed diagonal is the line of
  // perfect predictions.
  const std::vector<double> ticks = RoundTicks(lo, hi);
  lo = ticks.front();
  hi = ticks.back();
  const double size = 360, left = 60, top = 12, plot = size - left - 12, bottom = top + plot;
  const auto sx = [&](double v) { return left + (v - lo) / (hi - lo) * plot; };
  const auto sy = [&](double v) { return top + plot - (v - lo) / (hi - lo) * plot; };
  o << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"scatter\" width=\"" << Px(size)
    << "\" height=\"" << Px(bottom + 44) << "\" role=\"img\">\n"
    << "<rect class=\"frame\" x=\"" << Px(left) << "\" y=\"" << Px(top) << "\" width=\"" << Px(plot)
    << "\" height=\"" << Px(plot) << "\"/>\n"
    << "<line class=\"ideal\" x1=\"" << Px(sx(lo)) << "\" y1=\"" << Px(sy(lo)) << "\" x2=\""
    << Px(sx(hi)) << "\" y2=\"" << Px(sy(hi)) << "\"/>\n";
  for (const auto& [a, p] : s.fPoints)
    o << "<circle class=\"pt\" cx=\"" << Px(sx(a)) << "\" cy=\"" << Px(sy(p)) << "\" r=\"2.2\"/>\n";
  for (const double v : ticks) {
    o << "<text class=\"tick\" x=\"" << Px(sx(v)) << "\" y=\"" << Px(bottom + 18)
      << "\" text-anchor=\"middle\">" << Num(v) << "</text>"
      << "<text class=\"tick\" x=\"" << Px(left - 8) << "\" y=\"" << Px(sy(v) + 4)
      << "\" text-anchor=\"end\">" << Num(v) << "</text>\n";
  }
  o << "<text class=\"axis\" x=\"" << Px(left + plot / 2) << "\" y=\"" << Px(bottom + 38)
    << "\" text-anchor=\"middle\">actual</text><text class=\"axis\" x=\"12\" y=\""
    << Px(top + plot / 2) << "\" text-anchor=\"middle\" transform=\"rotate(-90 12 "
    << Px(top + plot / 2) << ")\">predicted</text>\n</svg>\n";
  if (s.fPoints.size() < s.fRecords)
    o << "<p class=\"note\">" << s.fPoints.size() << " of " << s.fRecords
      << " records drawn, evenly spaced.</p>\n";
}

void FiguresSection(std::ostream& o, const ReportPage& p) {
  o << "<section><h2>Predictions on " << HtmlEscape(p.fFiguresOn) << "</h2>\n<div class=\"row\">";
  for (const TargetFigures& t : p.fTargets) {
    o << "<div class=\"panel\">\n";
    if (t.fCategorical) {
      ConfusionTable(o, t);
    } else {
      const auto s = std::find_if(p.fScatter.begin(), p.fScatter.end(),
                                  [&t](const ScatterSeries& x) { return x.fTarget == t.fName; });
      if (s != p.fScatter.end())
        ScatterSvg(o, *s, t.fRelativeError);
      else
        o << "<h3>" << HtmlEscape(t.fName) << ": relative error " << Num(t.fRelativeError)
          << "</h3>\n";
    }
    o << "</div>\n";
  }
  o << "</div></section>\n";
}

// ---- error curve -------------------------------------------------------------

void CurveSection(std::ostream& o, const ReportPage& p) {
  o << "<section><h2>Error per data pass</h2>\n";
  // Average error per record, so that the two sets compare.
  std::vector<std::pair<double, double>> train, test;
  const std::size_t stride = (p.fCurve.size() + kMaxCurvePoints - 1) / kMaxCurvePoints;
  for (std::size_t i = 0; i < p.fCurve.size(); ++i) {
    if (i % std::max<std::size_t>(stride, 1) != 0 && i + 1 != p.fCurve.size()) continue;
    const TrainingStep& s = p.fCurve[i];
    if (Usable(s.fTrainError) && p.fTrainRecords > 0)
      train.emplace_back(s.fDataPasses, s.fTrainError / p.fTrainRecords);
    if (Usable(s.fTestError) && p.fTestRecords > 0)
      test.emplace_back(s.fDataPasses, s.fTestError / p.fTestRecords);
  }
  if (train.empty() && test.empty()) {
    o << "<p class=\"note\">" << HtmlEscape(p.fCurveNote) << "</p></section>\n";
    return;
  }
  double x0 = 1e300, x1 = -1e300, y1 = 0.0;
  for (const auto* series : {&train, &test})
    for (const auto& [x, y] : *series) {
      x0 = std::min(x0, x);
      x1 = std::max(x1, x);
      y1 = std::max(y1, y);
    }
  if (!(x1 > x0)) x1 = x0 + 1;
  if (!(y1 > 0)) y1 = 1;
  // Data passes are whole numbers; the error axis starts at 0.
  const std::vector<double> xTicks = RoundTicks(x0, x1, 1.0), yTicks = RoundTicks(0.0, y1);
  x0 = xTicks.front();
  x1 = xTicks.back();
  y1 = yTicks.back();
  const double w = 720, h = 280, left = 64, right = 16, top = 14, bottom = 40;
  const auto sx = [&](double v) { return left + (v - x0) / (x1 - x0) * (w - left - right); };
  const auto sy = [&](double v) { return top + (1 - v / y1) * (h - top - bottom); };
  o << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"curve\" width=\"" << Px(w)
    << "\" height=\"" << Px(h) << "\" role=\"img\">\n";
  for (const double v : yTicks) {
    o << "<line class=\"grid\" x1=\"" << Px(left) << "\" x2=\"" << Px(w - right) << "\" y1=\""
      << Px(sy(v)) << "\" y2=\"" << Px(sy(v)) << "\"/><text class=\"tick\" x=\"" << Px(left - 6)
      << "\" y=\"" << Px(sy(v) + 4) << "\" text-anchor=\"end\">" << Num(v) << "</text>\n";
  }
  for (const double v : xTicks)
    o << "<text class=\"tick\" x=\"" << Px(sx(v)) << "\" y=\"" << Px(h - bottom + 16)
      << "\" text-anchor=\"middle\">" << Num(v) << "</text>\n";
  o << "<text class=\"axis\" x=\"" << Px((left + w - right) / 2) << "\" y=\"" << Px(h - 6)
    << "\" text-anchor=\"middle\">data passes</text>\n";
  const auto line = [&](const std::vector<std::pair<double, double>>& pts, const char* cls) {
    if (pts.empty()) return;
    o << "<polyline class=\"" << cls << "\" points=\"";
    for (const auto& [x, y] : pts) o << Px(sx(x)) << "," << Px(sy(y)) << " ";
    o << "\"/>\n";
  };
  line(train, "train");
  line(test, "test");
  if (!test.empty()) {
    const auto best = std::min_element(
        test.begin(), test.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    o << "<circle class=\"best\" cx=\"" << Px(sx(best->first)) << "\" cy=\"" << Px(sy(best->second))
      << "\" r=\"4\"><title>lowest test error " << Num(best->second) << " after "
      << Num(best->first) << " passes</title></circle>\n";
  }
  o << "</svg>\n<p class=\"legend\"><span class=\"key train\"></span>training records ";
  if (!test.empty()) o << "<span class=\"key test\"></span>test records (the dot: lowest)";
  o << " &#8212; the error summed over the records divided by their number.</p>\n</section>\n";
}

const char* kStyle = R"(
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;
 margin:0;background:#f5f6f8;color:#1f2933}
header{background:#1f2937;color:#f9fafb;padding:20px 32px}
header h1{margin:0;font-size:22px;font-weight:600}
header p{margin:6px 0 0;color:#cbd5e1;font-size:14px}
main{padding:16px 32px 40px;max-width:1200px}
section{background:#fff;border-radius:8px;padding:14px 20px;margin:16px 0;
 box-shadow:0 1px 3px rgba(0,0,0,.08)}
h2{font-size:17px;margin:0 0 8px}
h3{font-size:15px;margin:8px 0}
.cards{display:flex;flex-wrap:wrap;gap:12px;margin-top:16px}
.card{background:#fff;border-radius:8px;padding:10px 16px;min-width:150px;
 box-shadow:0 1px 3px rgba(0,0,0,.08)}
.card .label{font-size:12px;color:#52606d}
.card .value{font-size:22px;font-weight:600}
.note,.legend{font-size:13px;color:#52606d}
.scroll{overflow-x:auto}
.row{display:flex;flex-wrap:wrap;gap:24px}
.panel{min-width:300px}
svg text{font-size:12px;fill:#1f2933}
svg .layer{font-weight:600;text-anchor:middle;fill:#52606d}
svg .small{font-size:10px;fill:#7b8794}
.unit{stroke:#1f2933;stroke-width:1}
.in{fill:#e0e7ff}.hid{fill:#fde68a}.out{fill:#bbf7d0}.centre{fill:#fbcfe8}.bias{fill:#e5e7eb}
.link{stroke:#9aa5b1;stroke-width:.6;stroke-opacity:.5}
.more{fill:#f3f4f6;stroke:#9aa5b1}
.bar{fill:#2563eb}
.frame{fill:none;stroke:#cbd2d9}
.ideal{stroke:#9aa5b1;stroke-dasharray:4 3}
.pt{fill:#2563eb;fill-opacity:.55}
.grid{stroke:#e4e7eb}
polyline{fill:none;stroke-width:2}
polyline.train,.key.train{stroke:#2563eb;background:#2563eb}
polyline.test,.key.test{stroke:#ea580c;background:#ea580c}
.best{fill:#ea580c}
.key{display:inline-block;width:18px;height:4px;margin:0 6px 3px 10px;vertical-align:middle}
table{border-collapse:collapse;font-size:13px}
.confusion th,.confusion td{border:1px solid #e4e7eb;padding:6px 10px;text-align:center}
.confusion .corner{font-weight:normal;color:#52606d;font-size:11px}
.confusion .diag{font-weight:700}
.centres td{width:16px;height:16px;border:1px solid #fff}
.centres th{font-weight:normal;font-size:11px;padding:2px 4px}
.centres .vert{writing-mode:vertical-rl;transform:rotate(180deg);height:90px;text-align:left}
.centres .num{padding-left:8px}
pre{font-size:12px;background:#f8fafc;padding:12px;border-radius:6px;overflow-x:auto}
)";

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void WriteHtmlReport(std::ostream& o, const ReportPage& p) {
  // Well-formed as XML too, so that any XML tool can read the page.
  o << "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n"
    << "<meta charset=\"utf-8\"/>\n<meta name=\"viewport\" content=\"width=device-width\"/>\n"
    << "<title>" << HtmlEscape(p.fTitle) << "</title>\n<style>" << kStyle
    << "</style>\n</head>\n<body>\n<header><h1>" << HtmlEscape(p.fTitle) << "</h1><p>"
    << HtmlEscape(p.fSubtitle) << "</p></header>\n<main>\n<div class=\"cards\">\n";
  for (const auto& [label, value] : p.fHeadline)
    o << "<div class=\"card\"><div class=\"label\">" << HtmlEscape(label)
      << "</div><div class=\"value\">" << HtmlEscape(value) << "</div></div>\n";
  o << "</div>\n";
  if (p.fStructure)
    NetworkSection(o, *p.fStructure);
  else
    NetworkSection(o, NNStructure());
  ImportanceSection(o, p);
  FiguresSection(o, p);
  CurveSection(o, p);
  o << "<section><h2>Summary</h2>\n<pre>" << HtmlEscape(p.fSummaryText)
    << "</pre></section>\n</main>\n</body>\n</html>\n";
}

void SaveHtmlReport(const ReportPage& page, const std::string& path, std::ostream& standardOutput) {
  std::ostringstream text;
  WriteHtmlReport(text, page);
  WriteOutput(path, text.str(), standardOutput, kDocumentFailure);
}

std::vector<ScatterSeries> PredictedVsActual(INeuralAlgorithm& a, const NNVarList& list,
                                             VXCommon_1_2::MultiPassRecordIter& records,
                                             std::size_t maxPoints) {
  // Output k of a scored record belongs to the k-th Output variable.
  std::vector<int> outputIndex, variable;
  std::vector<ScatterSeries> series;
  int k = 0;
  for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
    if (list.GetVariableRole(v) != INNVariable::kOutput) continue;
    if (list.GetVarAt(v)->GetMeasureLevel() == INNVariable::kContinuous) {
      outputIndex.push_back(k);
      variable.push_back(v);
      series.push_back({list.GetVarAt(v)->GetVariableName(), {}, 0});
    }
    ++k;
  }
  if (series.empty() || maxPoints == 0) return series;
  // Every stride-th record is kept; when the points overflow, every other
  // one is dropped and the stride doubles, so memory stays bounded and the
  // points stay evenly spread over the file.
  std::size_t stride = 1, index = 0;
  ScoringRecord inputs(list);
  records.Rewind();
  while (const VXCommon_1_2::Record* r = records.Next()) {
    const NNOutputList& out = a.Score(inputs.Of(*r));
    if (out.IsMissing()) continue;
    const bool keep = index++ % stride == 0;
    for (std::size_t s = 0; s < series.size(); ++s) {
      ++series[s].fRecords;
      const auto* o = dynamic_cast<const NNContOutput*>(out.GetOutputAt(outputIndex[s]));
      if (keep && o) series[s].fPoints.emplace_back((*r)[variable[s]], o->GetRealOutput());
    }
    if (keep && series.front().fPoints.size() > maxPoints) {
      for (ScatterSeries& s : series) {
        std::size_t j = 0;
        for (std::size_t i = 0; i < s.fPoints.size(); i += 2) s.fPoints[j++] = s.fPoints[i];
        s.fPoints.resize(j);
      }
      stride *= 2;
    }
  }
  records.Rewind();
  return series;
}

ReportPage TrainingReport(const TrainResult& r, const SavedAs& saved,
                          const std::vector<TrainingStep>& steps) {
  ReportPage p;
  p.fTitle = "vxnn model of " + r.fSource;
  const bool test = r.fTest.fRecords > 0;
  const SetFigures& figures = test ? r.fTest : r.fTrain;
  // A refitted model learnt the test records too; its figures are the
  // held-out run's.
  p.fSubtitle = DescribeNetwork(*r.fAlgorithm) + "; trained on " +
                std::to_string(r.fHeldOutModel ? r.fRefitRecords : r.fTrain.fRecords) + " records" +
                (r.fHeldOutModel
                     ? " (refitted; figures from the run on " + std::to_string(r.fTrain.fRecords) +
                           ", tested on " + std::to_string(r.fTest.fRecords) + ")"
                 : test ? ", tested on " + std::to_string(r.fTest.fRecords)
                        : std::string());
  std::ostringstream summary;
  PrintTrainSummary(summary, r, saved);
  p.fSummaryText = summary.str();
  p.fStructure.reset(r.fAlgorithm->GetStructure());

  p.fTargets = TargetsOf(*r.fList, figures.fStats);
  const std::string set = test ? " (test)" : " (training)";
  for (const TargetFigures& t : p.fTargets)
    p.fHeadline.emplace_back(t.fName + set, t.fCategorical ? Num(t.fPercentCorrect) + "% correct"
                                                           : "rel. error " + Num(t.fRelativeError));
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f s", r.fWallSeconds);
  p.fHeadline.emplace_back("training time", seconds);
  p.fFiguresOn = test ? "the " + std::to_string(r.fTest.fRecords) + " test records"
                      : "the " + std::to_string(r.fTrain.fRecords) +
                            " training records (there is no test set)";
  VXCommon_1_2::MultiPassRecordIter* source = test ? r.fTestSource.get() : r.fTrainSource.get();
  // A refitted model has learnt the test records: the held-out run's model
  // draws them, as it gave every other figure.
  if (source) p.fScatter = PredictedVsActual(r.MeasuredModel(), *r.fList, *source);

  if (!r.fImportance.empty()) {
    p.fImportance = RankImportance(*r.fList, r.fImportance);
    const std::string sample = ImportanceSampleText(r);
    if (!sample.empty()) p.fImportanceNote = "From " + sample + " (fixed seed).";
  } else
    p.fImportanceNote = "Not computed (the model was trained with --no-importance).";

  p.fCurve = steps;
  p.fTrainRecords = r.fTrain.fRecords;
  p.fTestRecords = r.fTest.fRecords;
  p.fCurveNote = r.fKind == NetworkKind::kRBF
                     ? "An RBF network is fitted in one go (clustering places the centres, least "
                       "squares solves the output weights), so there is no error per data pass."
                     : "The training made no progress report.";
  return p;
}

}  // namespace vxnn
