// The variables a clustering model is built over.
#pragma once

#include <cstddef>
#include <vector>

#include "vxcluster/ClusterStatus.h"

/// One clustering variable: continuous (a real value per record) or
/// categorical (a category number 1 .. n per record, or -1 for none).
class ClusterVar {
 public:
  /// How a variable's values are read. Both categorical levels are treated the
  /// same way (category numbers 1 .. n, multinomial likelihood); they are kept
  /// apart only so that a caller can say where the categories came from.
  enum MeasureLevel {
    kUnknown = 0,
    kContinuous = 1,
    kNumericCategorical = 2,  ///< categories coded from numbers
    kStringCategorical = 3,   ///< categories coded from texts
  };

  /// The variable's level.
  MeasureLevel GetMeasureLevel() const { return fMeasureLevel; }
  /// Whether the level is kContinuous.
  bool IsContinuous() const { return fMeasureLevel == kContinuous; }
  /// Number of categories; 0 for a continuous variable.
  int GetNumCategories() const { return fNCategories; }
  ///@{
  /// Continuous only (see ClusterVarList::AddContVar); 0 and 1 otherwise.
  double GetLocation() const { return fLocation; }
  double GetScale() const { return fScale; }
  ///@}

 private:
  friend class ClusterVarList;
  MeasureLevel fMeasureLevel = kUnknown;
  int fNCategories = 0;
  double fLocation = 0.0;
  double fScale = 1.0;
};

/// An ordered list of clustering variables, numbered from 0 in the order they
/// are added; records hold one value per variable in that order. The list is a
/// value: ClusterModel keeps its own copy.
class ClusterVarList {
 public:
  /// expectedSize is only a capacity hint; the list starts empty.
  explicit ClusterVarList(int expectedSize = 0);

  /// Appends a continuous variable. location and scale describe where its
  /// values lie and how far they spread (for instance its mean and standard
  /// deviation, or 0 and 1 for values already standardised); the model keeps
  /// running means and spreads, which need no centre for accuracy, so location
  /// is only checked and kept, and scale sets the
  /// size below which differences in spread stop counting (the variance floor
  /// of ClusterSettings is a fraction of scale squared), so that a cluster of
  /// identical values does not have an infinitely good fit. Refused (error
  /// kClusterInvalidVarList) when location is not finite or scale is not finite
  /// and positive.
  VXCommon_1_2::VXStatus AddContVar(double location, double scale);

  /// Appends a categorical variable with nCategories categories, numbered
  /// 1 .. nCategories in the records. level must be kNumericCategorical or
  /// kStringCategorical and nCategories at least 1; otherwise refused (error
  /// kClusterInvalidVarList).
  VXCommon_1_2::VXStatus AddCatVar(int nCategories, ClusterVar::MeasureLevel level);

  /// A refused addition appends nothing but marks the list invalid: a model
  /// built over an invalid list refuses every operation, so that a caller who
  /// ignored the refusal cannot cluster with shifted variable numbers.
  /// GetStatus returns the first refusal (datum 1: the variable number it would
  /// have had), or OK.
  VXCommon_1_2::VXStatus GetStatus() const { return fStatus; }
  /// No refusal, and at least one variable.
  bool IsValid() const { return fStatus.IsOK() && !fVars.empty(); }

  /// The number of variables.
  int Size() const { return static_cast<int>(fVars.size()); }
  /// Variable i, 0 <= i < Size().
  const ClusterVar& GetVar(int i) const { return fVars[static_cast<std::size_t>(i)]; }
  ///@{
  /// How many of the variables are continuous, and how many categorical.
  int GetNumContVars() const;
  int GetNumCatVars() const { return Size() - GetNumContVars(); }
  ///@}

 private:
  VXCommon_1_2::VXStatus Refuse();

  std::vector<ClusterVar> fVars;
  VXCommon_1_2::VXStatus fStatus;
};
