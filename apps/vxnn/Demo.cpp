#include "Demo.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "CsvTable.h"
#include "Dataset.h"
#include "EmbeddedData.h"
#include "vxcommon/Callbacks.h"
#include "vxcommon/XMLStream.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/VXNNCommon.h"

namespace vxnn {

namespace {

std::string DisplayOf(const NNVarList& list) {
  std::ostringstream s;
  list.Display(s);
  return s.str();
}

// Removes the file when it goes out of scope, whatever happened.
struct TempFile {
  std::string fPath;
  ~TempFile() { std::remove(fPath.c_str()); }
};

bool RoundTripBinary(const NNVarList& list, const std::string& path, NNVarList& back) {
  {
    std::fstream out(path, std::ios::out | std::ios::binary | std::ios::trunc);
    list.WriteObject(out);
    if (!out) return false;
  }
  std::fstream in(path, std::ios::in | std::ios::binary);
  try {
    back.ReadObject(in);
  } catch (VXNeural::IOException* e) {
    delete e;
    return false;
  }
  return true;
}

bool RoundTripXML(const NNVarList& list, const std::string& path, NNVarList& back) {
  {
    std::ofstream out(path);
    std::unique_ptr<VXXML_1_2::XMLDocType> doc(
        VXXML_1_2::XMLDocType::Create(VXXML_1_2::kRootName, "savexml.dtd", 0));
    doc->Write(out);
    VXXML_1_2::StartRoot(out, "vxnn demo variable list");
    list.WriteObjectXML(out, 1);
    VXXML_1_2::EndRoot(out);
    if (!out) return false;
  }
  std::ifstream in(path);
  if (!VXXML_1_2::ParseStartXML(in)) return false;
  try {
    back.ReadObjectXML(in);
  } catch (VXNeural::IOException* e) {
    delete e;
    return false;
  }
  return VXXML_1_2::ParseEndXML(in);
}

}  // namespace

int RunDemo(std::ostream& out) {
  std::istringstream csv(kIrisCsv);
  const CsvTable table = ReadCsv(csv, "iris.csv");
  DescribeOptions options;
  options.fTargets = {"species"};
  NNVarList list = BuildVarList(table, PlanFields(table, options), options);
  // Inputs to [-1, 1] by their range: what training will use.
  list.SetupContEncoders(VXNNCommon::kMinRangeSymmetric, VXNNCommon::kMinRange);

  out << "Iris: " << table.fRows.size() << " records, " << list.Size() << " fields, "
      << list.GetNumInputVars() << " inputs (" << list.GetNumInputs() << " network input units)\n";
  list.Display(out);

  VXCommon_1_2::VXDefaultTempFileNameMaker names;
  TempFile binFile{names.GetTempFileName()}, xmlFile{names.GetTempFileName()};
  NNVarList fromBinary, fromXML;
  const std::string original = DisplayOf(list);
  const bool binOK = RoundTripBinary(list, binFile.fPath, fromBinary) &&
                     DisplayOf(fromBinary) == original;
  const bool xmlOK = RoundTripXML(list, xmlFile.fPath, fromXML) && DisplayOf(fromXML) == original;
  out << "\nBinary saved form: " << (binOK ? "restored identically" : "FAILED") << "\n";
  out << "XML saved form:    " << (xmlOK ? "restored identically" : "FAILED") << "\n";
  return binOK && xmlOK ? 0 : 1;
}

}  // namespace vxnn
