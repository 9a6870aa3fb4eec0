// The state objects of MLPAlgorithm, by the names the MLP driver gives them.
// The states are those every driver shares.
#pragma once

#include "algorithm/AlgorithmContext.h"

using MLPContext = AlgorithmContext;
using MLPInitContext = InitContext;
using MLPSaveContext = SaveContext;
using MLPFailedRestartContext = FailedRestartContext;
using MLPCancelContext = CancelContext;
using MLPTrainingContext = TrainingContext;
using MLPTrainedContext = TrainedContext;
using MLPExpertContext = ExpertContext;
