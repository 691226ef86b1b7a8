#include "app/sweep_em_options.h"

#include "cluster/accelerated_em.h"
#include "data/messages.h"
#include "study/record_text.h"

void AddEmOptions(CLI::App& app, SweepSettings& settings) {
  app.add_option("--acceleration", settings.acceleration,
                 "EM after the annealing: squarem (extrapolated EM steps) or none (plain EM, as "
                 "the classic command; default squarem)")
      ->type_name("NAME");
  app.add_option("--stop", settings.stop,
                 "how --tolerance is read: absolute (a gain of the log-likelihood) or per-copy "
                 "(a gain per observed allele copy; default absolute)")
      ->type_name("RULE");
}

void CheckEmOptions(const CLI::App& app, SweepSettings& settings) {
  Acceleration acceleration;
  if (!ParseAcceleration(settings.acceleration, acceleration)) {
    FailRun("emclade-sweep: --acceleration: expected squarem or none, got \"" +
            settings.acceleration + "\"");
  }
  StoppingRule rule;
  if (!ParseStoppingRule(settings.stop, rule)) {
    FailRun("emclade-sweep: --stop: expected absolute or per-copy, got \"" + settings.stop + "\"");
  }
  if (rule == StoppingRule::kPerCopy && app.get_option("--tolerance")->count() == 0) {
    settings.tolerance = kPerCopyTolerance;
  }
}
