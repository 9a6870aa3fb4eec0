// What a model needs to be built and trained: network shape, data handling,
// random seeds and the host's call-backs. The common base of MLPSettings and
// RBFSettings.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxneural/VXNNCommon.h"

// Copies are memberwise: the call-back pointers are copied, never owned.
//
// Reading (binary "NS" block, XML object "NeuralSettings" at level 2): a wrong
// tag, a failed value or an implausible one (a count or enumeration out of
// range, output units that are not the sum of the category counts) writes
// "Error reading NeuralSettings!\n" to standard error and throws a new
// VXNeural::IOException by pointer; the settings are then unchanged. The
// call-backs, names, UI settings, the XML-as-retraining flag and the
// temporary-file directory are not stored and keep their values on reading.
class NeuralSettings {
 public:
  enum CONFIDENCE_METHOD { kConfidenceNone = 0, kConfidenceSoftMax = 1, kConfidenceSimpleMax = 2 };
  using UISettings = std::vector<std::pair<std::string, std::string>>;

  // All fields zero, null or empty, except the default-name and
  // XML-as-retraining flags (true). Used before reading a saved object.
  NeuralSettings();
  // Runs SetAllParameters with the same arguments. outputCategories holds one
  // entry per output variable: its category count, 1 for a continuous one.
  NeuralSettings(VXNNCommon::AlgorithmType type, int inputs,
                 const std::vector<int>& outputCategories, int trainRecords);
  NeuralSettings(const NeuralSettings&) = default;
  NeuralSettings& operator=(const NeuralSettings&) = default;
  virtual ~NeuralSettings();

  virtual void SetNSkippedReports(int n);
  // Stores units for hidden layer `layer` (counted from 1) and sets the
  // user-set flag; a layer outside 1..GetNumHiddenLayers() is ignored.
  virtual void SetNumHiddenUnits(int units, int layer);
  // Only for MLP settings; refuses SoftMax (with a two-line warning on
  // standard error) unless every output is categorical. Sigmoid switches the
  // output standardisation to min/range, TanH to its symmetric form.
  virtual void SetActivFnOutputLayer(VXNNCommon::ActivationFunction f);
  virtual void SetMaxRecordsInMemory(long n);
  virtual void SetNTrainRecords(int n);
  virtual void SetNTestRecords(int n);
  // The missing value here; MLPSettings gives its weight range.
  virtual double GetRandomWeightRangeLo() const;
  virtual double GetRandomWeightRangeHi() const;
  virtual int WriteObject(std::ostream& out) const;
  virtual int ReadObject(std::istream& in);
  virtual int WriteObjectXML(std::ostream& out) const;
  virtual int ReadObjectXML(std::istream& in);
  virtual void Display(std::ostream& out) const;

  // Call-backs, not owned.
  VXCommon_1_2::ProgressListener* GetProgressListener() const { return fProgressListener; }
  void SetProgressListener(VXCommon_1_2::ProgressListener* listener) {
    fProgressListener = listener;
  }
  void RemoveProgressListener() { fProgressListener = nullptr; }
  VXCommon_1_2::VXQueryCancel* GetCancelPointer() const { return fCancel; }
  void SetCancelPointer(VXCommon_1_2::VXQueryCancel* cancel) { fCancel = cancel; }
  VXCommon_1_2::VXTempFileNameMaker* GetTempFileNameMaker() const { return fTempFileNameMaker; }
  void SetTempFileNameMaker(VXCommon_1_2::VXTempFileNameMaker* maker) {
    fTempFileNameMaker = maker;
  }

  const UISettings& GetUISettings() const { return fUISettings; }
  // An empty vector leaves the stored one in place.
  void SetUISettings(const UISettings& settings);

  bool GetListWiseDeletion() const { return fbListWiseDeletion; }
  void SetListWiseDeletion(bool v) { fbListWiseDeletion = v; }
  // True and both outputs written when the default name is in use or a name
  // is stored; false and nothing written otherwise.
  bool GetModelName(bool& useDefault, std::string& name) const;
  // useDefault true: use the default name (the name is not stored). False
  // with a non-empty name: store it. False with an empty name: refused.
  bool SetModelName(bool useDefault, const std::string& name);
  bool GetComputeSensitivity() const { return fbComputeSensitivity; }
  void SetComputeSensitivity(bool v) { fbComputeSensitivity = v; }
  CONFIDENCE_METHOD GetConfidenceMethod() const { return feConfidenceMethod; }
  void SetConfidenceMethod(const CONFIDENCE_METHOD& method) { feConfidenceMethod = method; }
  bool GetOutputMEInfo() const { return fbOutputMEInfo; }
  void SetOutputMEInfo(bool v) { fbOutputMEInfo = v; }
  bool GetInputXMLAsRetraining() const { return fbInputXMLAsRetraining; }
  void SetInputXMLAsRetraining(bool v) { fbInputXMLAsRetraining = v; }

  int GetNSkippedReports() const { return fNSkippedReports; }
  VXNNCommon::AlgorithmType GetAlgorithmType() const { return fAlgorithmType; }
  // Number of network input units (encoded inputs).
  int GetNumInputs() const { return fNInputs; }
  int GetNumOutVars() const { return fNOutVars; }
  // One unit per category, one per continuous output.
  int GetNumOutUnits() const { return fNOutUnits; }
  int GetNumHiddenLayers() const { return fNHiddenLayers; }
  // layer counted from 1; -1 when there is no such layer.
  int GetNumHiddenUnits(int layer) const;
  bool GetUserSetNHidUnits() const { return fbUserSetNHidUnits; }
  const std::vector<int>& GetNumOutCategories() const { return fNOutCategories; }
  std::vector<int> GetNOutCats() const { return fNOutCategories; }

  VXNNCommon::ActivationFunction GetActivFnHiddenLayer() const { return fActivFnHidden; }
  // MLP accepts TanH or Sigmoid, RBF the two radial bases; anything else is
  // ignored.
  void SetActivFnHiddenLayer(VXNNCommon::ActivationFunction f);
  VXNNCommon::ActivationFunction GetActivFnOutputLayer() const { return fActivFnOutput; }
  VXNNCommon::Standardization GetStandInputs() const { return fStandInputs; }
  void SetStandInputs(VXNNCommon::Standardization s) { fStandInputs = s; }
  VXNNCommon::Standardization GetStandOutputs() const { return fStandOutputs; }
  // Refuses (false) mean/std-dev and the symmetric range while the output
  // activation is Sigmoid, whose outputs lie in (0, 1).
  bool SetStandOutputs(VXNNCommon::Standardization s);
  VXNNCommon::TrainingType GetTrainType() const { return fTrainType; }

  unsigned int GetRandomSeed() const { return fRandomSeed; }
  void SetRandomSeed(unsigned int seed) { fRandomSeed = seed; }
  unsigned int GetRandomSeedSampling() const { return fRandomSeedSampling; }
  void SetRandomSeedSampling(unsigned int seed) { fRandomSeedSampling = seed; }
  bool GetUsePortableRNG() const { return fbUsePortableRNG; }
  void SetUsePortableRNG(bool v) { fbUsePortableRNG = v; }
  int GetModelID() const { return fModelID; }
  // Negative ids are ignored.
  void SetModelID(int id);

  long GetMaxRecordsInMemory() const { return fMaxRecordsInMemory; }
  int GetNTrainRecords() const { return fNTrainRecords; }
  int GetNTestRecords() const { return fNTestRecords; }
  // True when the settings were built from a variable list.
  bool GetHasVarList() const { return fbHasVarList; }
  void SetHasVarList(bool v) { fbHasVarList = v; }
  const std::string& GetTempFileDir() const { return fTempFileDir; }
  // An empty string is ignored.
  void SetTempFileDir(const std::string& dir);

  // Compares what shapes and feeds the model; seeds, portable flag,
  // call-backs, names, the variable-list flag and UI settings are left out.
  bool operator==(const NeuralSettings& other) const;
  bool operator!=(const NeuralSettings& other) const { return !(*this == other); }

  // Default size of hidden layer 1 or 2 of an MLP for the current inputs,
  // output units and training records.
  int MLPDefNHiddenUnits(int layer) const;

 protected:
  void SetAllParameters(VXNNCommon::AlgorithmType type, int inputs,
                        const std::vector<int>& outputCategories, int trainRecords);
  // Read the "NS" block straight into this object, value by value; a
  // derived reader calls them on a copy that it commits only when the whole
  // object has been read.
  int ReadBase(std::istream& in);
  int ReadBaseXML(std::istream& in);

  VXCommon_1_2::ProgressListener* fProgressListener = nullptr;
  VXCommon_1_2::VXQueryCancel* fCancel = nullptr;
  UISettings fUISettings;
  bool fbListWiseDeletion = false;
  bool fbUseDefaultName = true;
  std::string fModelName;
  bool fbComputeSensitivity = false;
  CONFIDENCE_METHOD feConfidenceMethod = kConfidenceNone;
  bool fbOutputMEInfo = false;
  bool fbInputXMLAsRetraining = true;
  int fNSkippedReports = 0;
  VXNNCommon::AlgorithmType fAlgorithmType = VXNNCommon::kUnknownAlgorithm;
  int fNInputs = 0;
  int fNOutVars = 0;
  int fNOutUnits = 0;
  int fNHiddenLayers = 0;
  std::vector<int> fNHiddenUnits;
  bool fbUserSetNHidUnits = false;
  std::vector<int> fNOutCategories;
  VXNNCommon::ActivationFunction fActivFnHidden = VXNNCommon::kTanH;
  VXNNCommon::ActivationFunction fActivFnOutput = VXNNCommon::kTanH;
  VXNNCommon::Standardization fStandInputs = VXNNCommon::kNoStandardization;
  VXNNCommon::Standardization fStandOutputs = VXNNCommon::kNoStandardization;
  VXNNCommon::TrainingType fTrainType = VXNNCommon::kBatch;
  unsigned int fRandomSeed = 0;
  int fModelID = 0;
  unsigned int fRandomSeedSampling = 0;
  bool fbUsePortableRNG = false;
  long fMaxRecordsInMemory = 0;
  VXCommon_1_2::VXTempFileNameMaker* fTempFileNameMaker = nullptr;
  int fNTrainRecords = 0;
  int fNTestRecords = 0;
  bool fbHasVarList = false;
  std::string fTempFileDir;

 private:
  // The stored fields in their saved order, for either saved form.
  template <typename Out>
  void PutFields(Out& out) const;
  template <typename In>
  void GetFields(In& in);
};
