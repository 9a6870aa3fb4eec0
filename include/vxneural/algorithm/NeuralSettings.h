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

/// The settings every network shares, whatever its kind.
///
/// Copies are memberwise: the call-back pointers are copied, never owned.
///
/// Reading (binary "NS" block, XML object "NeuralSettings" at level 2): a wrong
/// tag, a failed value or an implausible one (a count or enumeration out of
/// range, output units that are not the sum of the category counts) writes
/// "Error reading NeuralSettings!\n" to standard error and throws a new
/// VXNeural::IOException by pointer; the settings are then unchanged. The
/// call-backs, names, UI settings, the XML-as-retraining flag and the
/// temporary-file directory are not stored and keep their values on reading.
class NeuralSettings {
 public:
  /// How a PMML export names the normalization of a combined output layer:
  /// none (the layer's own), "softmax" or "simplemax".
  enum CONFIDENCE_METHOD { kConfidenceNone = 0, kConfidenceSoftMax = 1, kConfidenceSimpleMax = 2 };
  /// Name and value pairs of host settings, in the host's order.
  using UISettings = std::vector<std::pair<std::string, std::string>>;

  /// All fields zero, null or empty, except the default-name and
  /// XML-as-retraining flags (true). Used before reading a saved object.
  NeuralSettings();
  /// Runs SetAllParameters with the same arguments. outputCategories holds one
  /// entry per output variable: its category count, 1 for a continuous one.
  NeuralSettings(VXNNCommon::AlgorithmType type, int inputs,
                 const std::vector<int>& outputCategories, int trainRecords);
  /// Memberwise copy (the call-backs are shared, not owned).
  NeuralSettings(const NeuralSettings&) = default;
  /// Memberwise assignment (the call-backs are shared, not owned).
  NeuralSettings& operator=(const NeuralSettings&) = default;
  /// Owns nothing that needs releasing beyond its members.
  virtual ~NeuralSettings();

  /// Progress reports skipped between two that reach the listener (0: every
  /// report; the report of the stop always goes through).
  virtual void SetNSkippedReports(int n);
  /// Stores units for hidden layer `layer` (counted from 1) and sets the
  /// user-set flag; a layer outside 1..GetNumHiddenLayers() is ignored.
  virtual void SetNumHiddenUnits(int units, int layer);
  /// Only for MLP settings; refuses SoftMax (with a two-line warning on
  /// standard error) unless every output is categorical. Sigmoid switches the
  /// output standardisation to min/range, TanH to its symmetric form.
  virtual void SetActivFnOutputLayer(VXNNCommon::ActivationFunction f);
  /// How many encoded records are kept in memory; a larger source goes to a
  /// temporary file. 1000 in settings built for a model.
  virtual void SetMaxRecordsInMemory(long n);
  /// The number of training records each pass reads.
  virtual void SetNTrainRecords(int n);
  /// The number of test records each pass reads.
  virtual void SetNTestRecords(int n);
  /// The missing value here; MLPSettings gives its weight range.
  virtual double GetRandomWeightRangeLo() const;
  /// The missing value here; MLPSettings gives its weight range.
  virtual double GetRandomWeightRangeHi() const;
  /// Writes the binary "NS" block; returns the bytes written.
  virtual int WriteObject(std::ostream& out) const;
  /// Reads the binary "NS" block; returns the bytes read (failure: see the
  /// class comment).
  virtual int ReadObject(std::istream& in);
  /// Writes the XML object "NeuralSettings"; returns what the writer counts.
  virtual int WriteObjectXML(std::ostream& out) const;
  /// Reads the XML object "NeuralSettings" (failure: see the class comment).
  virtual int ReadObjectXML(std::istream& in);
  /// A readable listing of every field, for diagnostics.
  virtual void Display(std::ostream& out) const;

  /// Call-backs, not owned.
  VXCommon_1_2::ProgressListener* GetProgressListener() const { return fProgressListener; }
  /// The listener the optimizers report progress to; not owned.
  void SetProgressListener(VXCommon_1_2::ProgressListener* listener) {
    fProgressListener = listener;
  }
  /// Forgets the progress listener.
  void RemoveProgressListener() { fProgressListener = nullptr; }
  /// The host's cancel object; null when none. Not owned.
  VXCommon_1_2::VXQueryCancel* GetCancelPointer() const { return fCancel; }
  /// Sets the host's cancel object (null: none); not owned.
  void SetCancelPointer(VXCommon_1_2::VXQueryCancel* cancel) { fCancel = cancel; }
  /// The host's maker of temporary file names; null when none. Not owned.
  VXCommon_1_2::VXTempFileNameMaker* GetTempFileNameMaker() const { return fTempFileNameMaker; }
  /// Sets the maker of temporary file names (null: none); not owned.
  void SetTempFileNameMaker(VXCommon_1_2::VXTempFileNameMaker* maker) {
    fTempFileNameMaker = maker;
  }

  /// The host settings; empty when none were given.
  const UISettings& GetUISettings() const { return fUISettings; }
  /// An empty vector leaves the stored one in place.
  void SetUISettings(const UISettings& settings);

  /// The list-wise deletion flag (false by default): the host's record of
  /// whether it dropped records with a missing value before training. The
  /// library never reads it (the data preparator encodes the records it is
  /// given, whatever the flag); it is saved with the model and compared by
  /// operator== so that the host's choice travels with the model.
  bool GetListWiseDeletion() const { return fbListWiseDeletion; }
  /// Sets the list-wise deletion flag.
  void SetListWiseDeletion(bool v) { fbListWiseDeletion = v; }
  /// True and both outputs written when the default name is in use or a name
  /// is stored; false and nothing written otherwise.
  bool GetModelName(bool& useDefault, std::string& name) const;
  /// useDefault true: use the default name (the name is not stored). False
  /// with a non-empty name: store it. False with an empty name: refused.
  bool SetModelName(bool useDefault, const std::string& name);
  /// Whether predictor importance is computed (false by default).
  bool GetComputeSensitivity() const { return fbComputeSensitivity; }
  /// Sets whether predictor importance is computed.
  void SetComputeSensitivity(bool v) { fbComputeSensitivity = v; }
  /// The confidence method a PMML export names; kConfidenceNone by default.
  CONFIDENCE_METHOD GetConfidenceMethod() const { return feConfidenceMethod; }
  /// Sets the confidence method a PMML export names.
  void SetConfidenceMethod(const CONFIDENCE_METHOD& method) { feConfidenceMethod = method; }
  /// Whether a PMML export adds the model-explanation information (false by
  /// default).
  bool GetOutputMEInfo() const { return fbOutputMEInfo; }
  /// Sets whether a PMML export adds the model-explanation information.
  void SetOutputMEInfo(bool v) { fbOutputMEInfo = v; }
  /// The XML-as-retraining flag (true by default), kept for the host: the
  /// library never reads it and does not save it, so settings read from a
  /// saved model have it true again and a host that wants false sets it
  /// after restoring.
  bool GetInputXMLAsRetraining() const { return fbInputXMLAsRetraining; }
  /// Sets the XML-as-retraining flag.
  void SetInputXMLAsRetraining(bool v) { fbInputXMLAsRetraining = v; }

  /// Progress reports skipped between two that reach the listener.
  int GetNSkippedReports() const { return fNSkippedReports; }
  /// MLP or RBF (unknown in default-built settings).
  VXNNCommon::AlgorithmType GetAlgorithmType() const { return fAlgorithmType; }
  /// Number of network input units (encoded inputs).
  int GetNumInputs() const { return fNInputs; }
  /// Number of output (target) variables.
  int GetNumOutVars() const { return fNOutVars; }
  /// Number of output units: one per category, one per continuous output.
  int GetNumOutUnits() const { return fNOutUnits; }
  /// Number of hidden layers.
  int GetNumHiddenLayers() const { return fNHiddenLayers; }
  /// layer counted from 1; -1 when there is no such layer.
  int GetNumHiddenUnits(int layer) const;
  /// True once SetNumHiddenUnits has stored a count.
  bool GetUserSetNHidUnits() const { return fbUserSetNHidUnits; }
  /// The category count of each output variable (1 for a continuous one).
  const std::vector<int>& GetNumOutCategories() const { return fNOutCategories; }
  /// The category counts of GetNumOutCategories, as a copy.
  std::vector<int> GetNOutCats() const { return fNOutCategories; }

  /// The hidden layers' activation function.
  VXNNCommon::ActivationFunction GetActivFnHiddenLayer() const { return fActivFnHidden; }
  /// MLP accepts TanH or Sigmoid, RBF the two radial bases; anything else is
  /// ignored.
  void SetActivFnHiddenLayer(VXNNCommon::ActivationFunction f);
  /// The output layer's activation function.
  VXNNCommon::ActivationFunction GetActivFnOutputLayer() const { return fActivFnOutput; }
  /// How continuous inputs are standardised.
  VXNNCommon::Standardization GetStandInputs() const { return fStandInputs; }
  /// Sets how continuous inputs are standardised (any value is taken).
  void SetStandInputs(VXNNCommon::Standardization s) { fStandInputs = s; }
  /// How continuous outputs are standardised.
  VXNNCommon::Standardization GetStandOutputs() const { return fStandOutputs; }
  /// Refuses (false) mean/std-dev and the symmetric range while the output
  /// activation is Sigmoid, whose outputs lie in (0, 1).
  bool SetStandOutputs(VXNNCommon::Standardization s);
  /// Batch, online or mini-batch training.
  VXNNCommon::TrainingType GetTrainType() const { return fTrainType; }

  /// The seed of the random initial weights.
  unsigned int GetRandomSeed() const { return fRandomSeed; }
  /// Sets the seed of the random initial weights.
  void SetRandomSeed(unsigned int seed) { fRandomSeed = seed; }
  /// The seed of the record sampling of the MLP's architecture search.
  unsigned int GetRandomSeedSampling() const { return fRandomSeedSampling; }
  /// Sets the seed of the record sampling.
  void SetRandomSeedSampling(unsigned int seed) { fRandomSeedSampling = seed; }
  /// Whether the portable random generator is used.
  bool GetUsePortableRNG() const { return fbUsePortableRNG; }
  /// Sets whether the portable random generator is used.
  void SetUsePortableRNG(bool v) { fbUsePortableRNG = v; }
  /// The model id a PMML export writes.
  int GetModelID() const { return fModelID; }
  /// Negative ids are ignored.
  void SetModelID(int id);

  /// How many encoded records are kept in memory.
  long GetMaxRecordsInMemory() const { return fMaxRecordsInMemory; }
  /// The number of training records each pass reads.
  int GetNTrainRecords() const { return fNTrainRecords; }
  /// The number of test records each pass reads.
  int GetNTestRecords() const { return fNTestRecords; }
  /// True when the settings were built from a variable list.
  bool GetHasVarList() const { return fbHasVarList; }
  /// Sets the variable-list flag (the algorithm sets it from its preparator).
  void SetHasVarList(bool v) { fbHasVarList = v; }
  /// The directory of temporary files; empty when none was set.
  const std::string& GetTempFileDir() const { return fTempFileDir; }
  /// An empty string is ignored.
  void SetTempFileDir(const std::string& dir);

  /// Compares what shapes and feeds the model; seeds, portable flag,
  /// call-backs, names, the variable-list flag and UI settings are left out.
  bool operator==(const NeuralSettings& other) const;
  /// The negation of operator==.
  bool operator!=(const NeuralSettings& other) const { return !(*this == other); }

  /// Default size of hidden layer 1 or 2 of an MLP for the current inputs,
  /// output units and training records.
  int MLPDefNHiddenUnits(int layer) const;

 protected:
  /// Resets every field for a new model of `type` with `inputs` input units
  /// and one entry per output variable in outputCategories (its category count,
  /// 1 for a continuous one): the call-backs are cleared, one hidden layer.
  void SetAllParameters(VXNNCommon::AlgorithmType type, int inputs,
                        const std::vector<int>& outputCategories, int trainRecords);
  /// Read the "NS" block straight into this object, value by value; a
  /// derived reader calls them on a copy that it commits only when the whole
  /// object has been read.
  int ReadBase(std::istream& in);
  /// The XML form of ReadBase.
  int ReadBaseXML(std::istream& in);

  /// The progress listener; not owned.
  VXCommon_1_2::ProgressListener* fProgressListener = nullptr;
  /// The cancel object; not owned.
  VXCommon_1_2::VXQueryCancel* fCancel = nullptr;
  /// The host settings.
  UISettings fUISettings;
  /// See GetListWiseDeletion.
  bool fbListWiseDeletion = false;
  /// Whether the default model name is in use.
  bool fbUseDefaultName = true;
  /// The stored model name (when the default is not in use).
  std::string fModelName;
  /// See GetComputeSensitivity.
  bool fbComputeSensitivity = false;
  /// See GetConfidenceMethod.
  CONFIDENCE_METHOD feConfidenceMethod = kConfidenceNone;
  /// See GetOutputMEInfo.
  bool fbOutputMEInfo = false;
  /// See GetInputXMLAsRetraining.
  bool fbInputXMLAsRetraining = true;
  /// See GetNSkippedReports.
  int fNSkippedReports = 0;
  /// See GetAlgorithmType.
  VXNNCommon::AlgorithmType fAlgorithmType = VXNNCommon::kUnknownAlgorithm;
  /// See GetNumInputs.
  int fNInputs = 0;
  /// See GetNumOutVars.
  int fNOutVars = 0;
  /// See GetNumOutUnits.
  int fNOutUnits = 0;
  /// See GetNumHiddenLayers.
  int fNHiddenLayers = 0;
  /// The units of each hidden layer, layer 1 first.
  std::vector<int> fNHiddenUnits;
  /// See GetUserSetNHidUnits.
  bool fbUserSetNHidUnits = false;
  /// See GetNumOutCategories.
  std::vector<int> fNOutCategories;
  /// See GetActivFnHiddenLayer.
  VXNNCommon::ActivationFunction fActivFnHidden = VXNNCommon::kTanH;
  /// See GetActivFnOutputLayer.
  VXNNCommon::ActivationFunction fActivFnOutput = VXNNCommon::kTanH;
  /// See GetStandInputs.
  VXNNCommon::Standardization fStandInputs = VXNNCommon::kNoStandardization;
  /// See GetStandOutputs.
  VXNNCommon::Standardization fStandOutputs = VXNNCommon::kNoStandardization;
  /// See GetTrainType.
  VXNNCommon::TrainingType fTrainType = VXNNCommon::kBatch;
  /// See GetRandomSeed.
  unsigned int fRandomSeed = 0;
  /// See GetModelID.
  int fModelID = 0;
  /// See GetRandomSeedSampling.
  unsigned int fRandomSeedSampling = 0;
  /// See GetUsePortableRNG.
  bool fbUsePortableRNG = false;
  /// See GetMaxRecordsInMemory.
  long fMaxRecordsInMemory = 0;
  /// The maker of temporary file names; not owned.
  VXCommon_1_2::VXTempFileNameMaker* fTempFileNameMaker = nullptr;
  /// See GetNTrainRecords.
  int fNTrainRecords = 0;
  /// See GetNTestRecords.
  int fNTestRecords = 0;
  /// See GetHasVarList.
  bool fbHasVarList = false;
  /// See GetTempFileDir.
  std::string fTempFileDir;

 private:
  /// The stored fields in their saved order, for either saved form.
  template <typename Out>
  void PutFields(Out& out) const;
  template <typename In>
  void GetFields(In& in);
};
