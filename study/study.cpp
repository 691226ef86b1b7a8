#include "study/study.h"

int32_t FindRun(const StudyRecord& study, int32_t K, int32_t replicate) {
  for (size_t i = 0; i < study.runs.size(); ++i) {
    if (study.runs[i].K == K && study.runs[i].replicate == replicate)
      return static_cast<int32_t>(i);
  }
  return -1;
}
