// vxnn's CSV reading, as the train command uses it: the table, the plan of
// the fields (the last column as the target), the variable list and the raw
// records. The promises checked:
//   - unusable input is refused with the program's one input error, never a
//     crash or another exception;
//   - a table that reads has distinct, non-empty column names and every row
//     as wide as the header, and written back as CSV it reads back the same;
//   - the variable list built from it holds one variable per planned field.
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzCommon.h"
#include "data/CsvTable.h"
#include "data/Dataset.h"
#include "data/Records.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace vxnn;
  std::istringstream in(fuzz::Bytes(data, size));
  CsvTable table;
  try {
    table = ReadCsv(in, "fuzz");
  } catch (const InputError&) {
    return 0;
  }
  fuzz::Check(!table.fHeader.empty(), "a table that reads has columns");
  const std::set<std::string> names(table.fHeader.begin(), table.fHeader.end());
  fuzz::Check(names.size() == table.fHeader.size() && names.count("") == 0,
              "column names are distinct and not empty");
  for (const auto& row : table.fRows)
    fuzz::Check(row.size() == table.fHeader.size(), "every row is as wide as the header");

  std::stringstream written;
  WriteCsvRow(written, table.fHeader);
  for (const auto& row : table.fRows) WriteCsvRow(written, row);
  const CsvTable back = ReadCsv(written, "written");
  fuzz::Check(back.fHeader == table.fHeader && back.fRows == table.fRows,
              "a table written as CSV reads back the same");

  try {
    DescribeOptions options;
    options.fTargets = {table.fHeader.back()};
    const std::vector<FieldPlan> plan = PlanFields(table, options);
    NNVarList list = BuildVarList(table, plan, options);
    fuzz::Check(list.Size() == plan.size(), "one variable per planned field");
    RecordMaker maker(list, table.fHeader, true, "fuzz");
    VXCommon_1_2::Record record(static_cast<int>(list.Size()));
    for (const auto& row : table.fRows) maker.Make(row, record, true);
  } catch (const InputError&) {
  }
  return 0;
}
