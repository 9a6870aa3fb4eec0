// Writes the seed corpora of the fuzz targets: saved models of every kind
// and state (MLP and RBF; untrained and trained; with a variable list, over
// raw records, and without, over encoded ones; each optimizer), both stream
// forms, from the shipped data sets; their variable lists alone; and the
// data sets themselves, cut short, for the CSV reader.
//
//   make_fuzz_seeds <data folder> <corpus folder>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "data/CsvTable.h"
#include "data/Dataset.h"
#include "data/Records.h"
#include "training/Training.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/algorithm/RBFFactory.h"
#include "vxneural/data/NNDataPreparator.h"

namespace fs = std::filesystem;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;

namespace {

fs::path gCorpus;

void Write(const std::string& target, const std::string& name, const std::string& bytes) {
  const fs::path dir = gCorpus / target;
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary) << bytes;
}

struct DataSet {
  std::string fName;
  vxnn::CsvTable fTable;
  std::unique_ptr<NNVarList> fList;
  std::vector<Record> fRecords;
};

DataSet Load(const fs::path& path, const std::string& target, int maxRows) {
  DataSet d;
  d.fName = path.stem().string();
  d.fTable = vxnn::ReadCsvFile(path.string());
  // Every k-th row, so that each class of a sorted file is kept.
  const std::size_t all = d.fTable.fRows.size(), keep = std::min<std::size_t>(all, maxRows);
  std::vector<std::vector<std::string>> rows;
  for (std::size_t i = 0; i < keep; ++i) rows.push_back(d.fTable.fRows[i * all / keep]);
  d.fTable.fRows = rows;
  vxnn::DescribeOptions options;
  options.fTargets = {target};
  const auto plan = vxnn::PlanFields(d.fTable, options);
  d.fList = std::make_unique<NNVarList>(vxnn::BuildVarList(d.fTable, plan, options));
  vxnn::RecordMaker maker(*d.fList, d.fTable.fHeader, true, d.fName);
  for (const auto& row : d.fTable.fRows) {
    Record r(static_cast<int>(d.fList->Size()));
    if (!maker.Make(row, r, true)) d.fRecords.push_back(r);
  }
  return d;
}

// Saves the algorithm in both forms under prefix, for the targets of kind.
void SaveBoth(const INeuralAlgorithm& a, const std::string& kind, const std::string& prefix) {
  std::ostringstream binary, xml;
  if (!a.SaveState(binary).IsOK() || !a.SaveStateXML(xml).IsOK()) {
    std::cerr << "cannot save " << prefix << "\n";
    return;
  }
  Write(kind + "_restore_binary", prefix, binary.str());
  Write(kind + "_restore_xml", prefix, xml.str());
  if (prefix == "iris_scg_trained" || prefix == "iris_trained" ||
      prefix == "iris_encoded_untrained")
    Write("xml_stream", kind + "_" + prefix, xml.str());
}

// Untrained and trained saves of what make builds.
void Both(const std::string& kind, const std::string& prefix,
          const std::function<INeuralAlgorithm*()>& make, bool select = false) {
  std::unique_ptr<INeuralAlgorithm> a(make());
  if (!a) {
    std::cerr << "cannot build " << prefix << "\n";
    return;
  }
  SaveBoth(*a, kind, prefix + "_untrained");
  const auto status = select ? a->SelectArchitecture() : a->Train(-1, -1);
  if (status.IsError()) std::cerr << "cannot train " << prefix << "\n";
  SaveBoth(*a, kind, prefix + "_trained");
}

// The records of d encoded as its network sees them.
std::vector<Record> Encoded(const DataSet& d, const NeuralSettings& settings) {
  VectorRecordIter raw = VectorRecordIter::Borrow(d.fRecords);
  NNDataPreparator preparator(*d.fList, settings, &raw, nullptr);
  preparator.Prepare(settings);
  std::vector<Record> encoded;
  for (const Record& r : d.fRecords) {
    Record e(preparator.GetRecordWidth());
    if (!preparator.EncodeRecord(r, e).IsError()) encoded.push_back(e);
  }
  return encoded;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_fuzz_seeds <data folder> <corpus folder>\n";
    return 2;
  }
  const fs::path data = argv[1];
  gCorpus = argv[2];
  std::vector<DataSet> sets;
  sets.push_back(Load(data / "iris.csv", "species", 60));
  sets.push_back(Load(data / "diabetes.csv", "progression", 60));
  sets.push_back(Load(data / "wine.csv", "cultivar", 60));

  for (const DataSet& d : sets) {
    std::ostringstream binary, xml;
    d.fList->WriteObject(binary);
    d.fList->WriteObjectXML(xml, 1);
    Write("varlist_binary", d.fName, binary.str());
    Write("varlist_xml", d.fName, xml.str());
    std::ostringstream csv;
    vxnn::WriteCsvRow(csv, d.fTable.fHeader);
    for (std::size_t r = 0; r < d.fTable.fRows.size() && r < 12; ++r)
      vxnn::WriteCsvRow(csv, d.fTable.fRows[r]);
    Write("csv", d.fName, csv.str());
  }

  // The targets that take their input as a little program start from a few
  // fixed byte strings.
  unsigned state = 12345;
  for (const char* target : {"xml_tree", "cluster"})
    for (int seed = 0; seed < 4; ++seed) {
      std::string bytes(64u << seed, '\0');
      for (char& c : bytes) c = static_cast<char>((state = state * 1664525u + 1013904223u) >> 24);
      Write(target, "seed" + std::to_string(seed), bytes);
    }

  const int n = static_cast<int>(sets[0].fRecords.size());
  struct MlpVariant {
    std::string fName;
    std::size_t fSet;
    std::function<void(vxnn::TrainOptions&)> fSet_options;
    bool fSelect;
  };
  const std::vector<MlpVariant> mlps = {
      {"iris_scg", 0, [](vxnn::TrainOptions&) {}, false},
      {"iris_gd_batch", 0, [](vxnn::TrainOptions& o) { o.fMethod = "gd"; }, false},
      {"iris_gd_minibatch", 0, [](vxnn::TrainOptions& o) { o.fTrainingType = "minibatch"; }, false},
      {"iris_gd_online", 0, [](vxnn::TrainOptions& o) { o.fTrainingType = "online"; }, false},
      {"iris_no_hidden", 0, [](vxnn::TrainOptions& o) { o.fHiddenLayers = 0; }, false},
      {"iris_search", 0, [](vxnn::TrainOptions& o) { o.fSelectArchitecture = true; }, true},
      {"diabetes_two_layers", 1,
       [](vxnn::TrainOptions& o) {
         o.fHiddenUnits = {3, 2};
       },
       false},
      {"wine_sigmoid", 2, [](vxnn::TrainOptions& o) { o.fHiddenActivation = "sigmoid"; }, false},
  };
  for (const MlpVariant& v : mlps) {
    const DataSet& d = sets[v.fSet];
    vxnn::TrainOptions options;
    options.fMaxDataPasses = 10;
    v.fSet_options(options);
    if (v.fSelect) options.fMaxDataPasses.reset();
    MLPSettings settings =
        vxnn::MakeSettings(options, *d.fList, static_cast<int>(d.fRecords.size()));
    VectorRecordIter train = VectorRecordIter::Borrow(d.fRecords);
    Both(
        "mlp", v.fName,
        [&] {
          MLPFactory factory;
          return factory.CreateNeuralAlgorithm(settings, *d.fList, train, nullptr, nullptr);
        },
        v.fSelect);
  }
  {
    const DataSet& d = sets[0];
    MLPSettings settings(d.fList->GetNumInputs(), d.fList->GetNOutputCats(), n);
    std::vector<Record> encoded = Encoded(d, settings);
    VectorRecordIter train = VectorRecordIter::Borrow(encoded);
    Both("mlp", "iris_encoded", [&] {
      MLPFactory factory;
      return factory.CreateNeuralAlgorithm(settings, train, nullptr);
    });
  }
  for (std::size_t s = 0; s < 2; ++s) {
    const DataSet& d = sets[s];
    vxnn::TrainOptions options;
    RBFSettings settings =
        vxnn::MakeRBFSettings(options, *d.fList, static_cast<int>(d.fRecords.size()));
    VectorRecordIter train = VectorRecordIter::Borrow(d.fRecords);
    Both("rbf", d.fName, [&] {
      RBFFactory factory;
      return factory.CreateNeuralAlgorithm(settings, *d.fList, train, nullptr, nullptr);
    });
  }
  {
    const DataSet& d = sets[0];
    RBFSettings settings(d.fList->GetNumInputs(), d.fList->GetNOutputCats(), n);
    std::vector<Record> encoded = Encoded(d, settings);
    VectorRecordIter train = VectorRecordIter::Borrow(encoded);
    Both("rbf", "iris_encoded", [&] {
      RBFFactory factory;
      return factory.CreateNeuralAlgorithm(settings, train, nullptr);
    });
  }
  return 0;
}
