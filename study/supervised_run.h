// One run of a supervised sweep (--supervised): the reference individuals' memberships
// (mixture) or ancestry proportions (admixture) held at their population's cluster — exactly
// 1 there and 0 elsewhere — after the start and after every EM step, so that cluster k is
// reference population k in every run; the other individuals are estimated as usual.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "study/starts.h"
#include "study/study.h"

// As the model's own run routine (study/model.h), with settings.referenceCluster holding the
// reference cluster of every individual (-1: estimated). The mixture part runs plain EM
// (EmIteration) with the references held after every iteration; the admixture model then runs
// its EM (--acceleration, --stop) from it, as RunAdmixtureRun does.
RunRecord RunSupervisedRun(const StartContext& context, const StartMethod& start,
                           const RunRecord& planned, const SweepSettings& settings, int32_t A,
                           const std::vector<int32_t>& J, int32_t engineThreads);

// Reads settings.supervisedFile (data/supervision_file.h) against the input's names into
// settings.referenceCluster and referencePopulations, and sets the sweep's K to the number of
// reference populations: a --k that differs ends the run with one line.
void ApplySupervision(const std::vector<std::string>& names, SweepSettings& settings);
