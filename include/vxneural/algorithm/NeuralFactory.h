// What MLPFactory and RBFFactory share: the checks of the sources, the
// settings and the variable list, the data preparation, and the one- and
// two-step restores of saved models. The two factories differ only in their
// settings and algorithm classes.
#pragma once

#include <iosfwd>
#include <valarray>

#include "vxcommon/Record.h"
#include "vxcommon/VXVarList.h"
#include "vxneural/VXStatus.h"

class INeuralAlgorithm;
class NNVarList;

/// Each operation returns a new algorithm that the caller owns, or null with
/// the reason in GetStatus; after a refusal nothing the operation built
/// survives, and the caller still owns its settings, variable list and
/// sources. The sources must outlive the algorithm.
///
/// Refusals (error severity): 50006 (50007) a settings object or variable
/// list that does not read from the binary (XML) stream; 50009 the variable
/// list is not valid (constant or invalid variables, no input or no output);
/// 50010 the settings' number of inputs differs from the list's; 50011 the
/// settings' output category counts differ from the list's; 50012 the
/// settings have no training records; 50014 the training source is not good;
/// 50015 a test source is given but not good; 50016 the stream is not good;
/// 50017 finishing a restore without the settings (or the variable list they
/// require) from its first step. Statuses of the data preparation and of the
/// algorithm's construction come through unchanged.
///
/// Where a test source is given and the settings say fewer than 1 test
/// record, the test source is counted (read to its end and rewound) and the
/// count stored in the settings handed in.
///
/// Settings is MLPSettings or RBFSettings, Algorithm the matching driver; the
/// library holds both instances.
template <class Settings, class Algorithm>
class NeuralFactory {
 public:
  /// A factory with an OK status and nothing kept.
  NeuralFactory() = default;
  /// Not copyable: the factory owns what a first restore step keeps, and a
  /// copy would share that.
  NeuralFactory(const NeuralFactory&) = delete;
  /// Not assignable, for the same reason.
  NeuralFactory& operator=(const NeuralFactory&) = delete;
  /// Releases the settings and variable list a first restore step kept.
  ~NeuralFactory();

  /// Records already encoded (the network's inputs, then its targets).
  INeuralAlgorithm* CreateNeuralAlgorithm(Settings& settings,
                                          VXCommon_1_2::MultiPassRecordIter& train,
                                          VXCommon_1_2::MultiPassRecordIter* test);
  /// Raw records described by the variable list, encoded once by a data
  /// preparator that the algorithm keeps; weights (optional) are the
  /// starting weights in the network's flat order.
  INeuralAlgorithm* CreateNeuralAlgorithm(Settings& settings, NNVarList& varList,
                                          VXCommon_1_2::MultiPassRecordIter& train,
                                          VXCommon_1_2::MultiPassRecordIter* test,
                                          const std::valarray<double>* weights);
  /// The same over the host's own variable list, converted first (MLP
  /// factories apply the settings' correction to the continuous variables'
  /// statistics, RBF factories none). A list that does not convert whole
  /// gives null and leaves the status as it was.
  INeuralAlgorithm* CreateNeuralAlgorithm(Settings& settings,
                                          const VXCommon_1_2::VXVarList& hostList,
                                          VXCommon_1_2::MultiPassRecordIter& train,
                                          VXCommon_1_2::MultiPassRecordIter* test,
                                          const std::valarray<double>* weights);

  /// One-step restore of a model saved with SaveState. A model saved with a
  /// variable list is rebuilt over raw records from the sources, one without
  /// over encoded records.
  INeuralAlgorithm* RestoreNeuralAlgorithmFromBinary(std::istream& in,
                                                     VXCommon_1_2::MultiPassRecordIter& train,
                                                     VXCommon_1_2::MultiPassRecordIter* test);
  /// One-step restore of a model saved with SaveStateXML, as the binary
  /// form; the sources are not checked up front (the algorithm's own checks
  /// apply).
  INeuralAlgorithm* RestoreNeuralAlgorithmFromXML(std::istream& in,
                                                  VXCommon_1_2::MultiPassRecordIter& train,
                                                  VXCommon_1_2::MultiPassRecordIter* test);

  /// Two-step restore, first step, binary form. The first step reads the settings and, when the
  /// model has one, the variable list, keeps both, and returns the list (owned by the factory,
  /// valid until the second step or the factory's end; null when the model has none or on a
  /// refusal), so that the host can build sources to match. The second step reads the rest and
  /// releases what the first kept, whatever its outcome.
  const NNVarList* RestoreNNVarListFromBinary(std::istream& in);
  /// Two-step restore, first step, XML form (see RestoreNNVarListFromBinary).
  const NNVarList* RestoreNNVarListFromXML(std::istream& in);
  /// Two-step restore, second step, binary form: the algorithm over the
  /// sources, or null with the reason in GetStatus (50017 without a first
  /// step).
  INeuralAlgorithm* FinishRestoringAlgorithmFromBinary(std::istream& in,
                                                       VXCommon_1_2::MultiPassRecordIter& train,
                                                       VXCommon_1_2::MultiPassRecordIter* test);
  /// Two-step restore, second step, XML form (see
  /// FinishRestoringAlgorithmFromBinary).
  INeuralAlgorithm* FinishRestoringAlgorithmFromXML(std::istream& in,
                                                    VXCommon_1_2::MultiPassRecordIter& train,
                                                    VXCommon_1_2::MultiPassRecordIter* test);

  /// The outcome of the last operation: OK, or the reason it returned null.
  VXCommon_1_2::VXStatus GetStatus() const { return fStatus; }

 private:
  /// Checks common to every operation that takes sources.
  bool SourcesGood(VXCommon_1_2::MultiPassRecordIter& train,
                   VXCommon_1_2::MultiPassRecordIter* test);
  /// The stream is good, else 50016.
  bool StreamGood(std::istream& in);
  /// When the settings have no test record count, counts the test records
  /// into them; false with 50015 when the source fails while counted.
  bool CountTestRecords(Settings& settings, VXCommon_1_2::MultiPassRecordIter* test);
  /// Reads the settings and (when they say so) the variable list into the
  /// kept objects; false with the status set on a read failure. The XML
  /// form reads the document start first.
  bool ReadHead(std::istream& in, bool xml);
  /// Steps 3 to 5 of a restore from the kept settings and list, which it
  /// releases.
  INeuralAlgorithm* RestoreBody(std::istream& in, bool xml,
                                VXCommon_1_2::MultiPassRecordIter& train,
                                VXCommon_1_2::MultiPassRecordIter* test);
  /// The one-step restore in either stream form.
  INeuralAlgorithm* RestoreInOneStep(std::istream& in, bool xml,
                                     VXCommon_1_2::MultiPassRecordIter& train,
                                     VXCommon_1_2::MultiPassRecordIter* test);
  /// The first step of a two-step restore in either stream form.
  const NNVarList* StartRestoring(std::istream& in, bool xml);
  /// The second step of a restore in either stream form.
  INeuralAlgorithm* FinishRestoring(std::istream& in, bool xml,
                                    VXCommon_1_2::MultiPassRecordIter& train,
                                    VXCommon_1_2::MultiPassRecordIter* test);
  /// The algorithm, or null when its status (which becomes the factory's)
  /// is an error; it is then destroyed.
  INeuralAlgorithm* Hand(INeuralAlgorithm* algorithm);
  /// Deletes the kept variable list and settings.
  void ReleaseKept();

  NNVarList* fRestoredVarList = nullptr;
  Settings* fRestoredSettings = nullptr;
  VXCommon_1_2::VXStatus fStatus;
};
