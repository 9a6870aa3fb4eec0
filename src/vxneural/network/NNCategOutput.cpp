#include "vxneural/network/NNCategOutput.h"

#include <algorithm>
#include <ostream>

#include "persist/Display.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/variables/NNCatVar.h"

NNCategOutput::NNCategOutput(int nUnits)
    : fNUnits(std::max(nUnits, 0)),
      fOutputs(static_cast<std::size_t>(fNUnits), VXMV::gMissingValue),
      fMaxOutput(VXMV::gMissingValue),
      fWinningIndex(-1),
      fHasTie(false) {}

NNCategOutput::NNCategOutput(const NNCatVar* var)
    : NNCategOutput(var != nullptr ? var->GetNumberOfCategories() : 0) {}

double NNCategOutput::SetOutputs(const double* units) {
  fHasTie = false;
  fWinningIndex = 0;
  if (fNUnits == 0) {
    // Nothing to read: there is no unit 0 to take as the first maximum.
    fMaxOutput = VXMV::gMissingValue;
    return 0.0;
  }
  std::copy(units, units + fNUnits, fOutputs.begin());
  // The first largest unit, chosen without branches: which unit wins is
  // the data's whim, and a mispredicted branch per record would cost more
  // than the comparisons.
  double max = units[0];
  int winner = 0;
  for (int i = 1; i < fNUnits; ++i) {
    const bool greater = units[i] > max;
    winner = greater ? i : winner;
    max = greater ? units[i] : max;
  }
  fMaxOutput = max;
  fWinningIndex = winner;
  for (int i = winner + 1; i < fNUnits; ++i) {
    if (units[i] == max) {
      fHasTie = true;
      break;
    }
  }
  return static_cast<double>(winner);
}

void NNCategOutput::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of NNCategOutput display\n";
  ShowValue(out, "Number of units = ", fNUnits);
  VXNeural::detail::ShowVector(out, "Unit values", fOutputs);
  ShowValue(out, "Maximum value: ", fMaxOutput);
  out << "Index of first maximum value ";
  if (fWinningIndex == -1) {
    out << "is undefined\n";
  } else {
    out << "= " << fWinningIndex << '\n';
  }
  out << (fHasTie ? "There are other winners.\n" : "There are no other winners.\n");
  out << "End of NNCategOutput display\n";
}
