// The state objects of RBFAlgorithm, by the names the RBF driver gives them.
// The states are those every driver shares.
#pragma once

#include "algorithm/AlgorithmContext.h"

using RBFContext = AlgorithmContext;
using RBFInitContext = InitContext;
using RBFSaveContext = SaveContext;
using RBFFailedRestartContext = FailedRestartContext;
using RBFCancelContext = CancelContext;
using RBFTrainingContext = TrainingContext;
using RBFTrainedContext = TrainedContext;
using RBFExpertContext = ExpertContext;
