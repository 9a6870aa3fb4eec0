// The definitions of NeuralAlgorithmWith, included by the one source file
// of each driver, which instantiates it for its optimizer type.
#pragma once

#include <istream>
#include <memory>
#include <ostream>

#include "vxneural/algorithm/NeuralAlgorithmBase.h"

template <class Optimizer>
void NeuralAlgorithmWith<Optimizer>::DestroyOptimizer() {
  delete fOptimizer;
  fOptimizer = nullptr;
}

template <class Optimizer>
bool NeuralAlgorithmWith<Optimizer>::BuildOptimizer() {
  fOptimizer = CreateOptimizer(fNetwork);
  return fOptimizer != nullptr;
}

template <class Optimizer>
bool NeuralAlgorithmWith<Optimizer>::RestoreOptimizer(std::istream& in, bool xml,
                                                      NNetwork& network) {
  std::unique_ptr<Optimizer> optimizer(CreateOptimizer(&network));
  if (!optimizer) return false;
  if (xml) {
    optimizer->ReadObjectXML(in);
  } else {
    optimizer->ReadObject(in);
  }
  fOptimizer = optimizer.release();
  return true;
}

template <class Optimizer>
int NeuralAlgorithmWith<Optimizer>::WriteOptimizer(std::ostream& out, bool xml) const {
  return xml ? fOptimizer->WriteObjectXML(out) : fOptimizer->WriteObject(out);
}

template <class Optimizer>
void NeuralAlgorithmWith<Optimizer>::DisplayOptimizer(std::ostream& out) const {
  fOptimizer->Display(out);
}
