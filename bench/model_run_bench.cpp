// One straight-ramp model run on a section of the size users fit: 5 beds of
// 50 points, 10 dips and 5 fault points, slip 100, with slip increments 0.1
// and 1 (the restoration's step count is slip / increment), under
// probability scoring without and with error propagation.  The run state is
// built here directly; the section spans the fault tip so that points lie
// in the hanging wall, the footwall and the trishear zone.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "foldquest/state/run_state.hpp"
#include "foldquest/driver/choose.hpp"

namespace {

fq::RunState section(double increment, int propagate) {
  fq::RunState st;
  auto& o = st.options;
  o.dattypes[fq::Options::dattype_beds - 1] = 1;
  o.dattypes[fq::Options::dattype_dips - 1] = 1;
  o.dattypes[fq::Options::dattype_faultpts - 1] = 1;
  o.tiptosolve = 2;
  o.faulttype = 1;
  o.fittype = 1;
  o.resulttype = 2;
  o.propagate = propagate;
  auto& p = st.parameters;
  p.nparams = 7;
  p.slip_sense = -1;  // a thrust restored backwards
  p.increment = -increment;
  p.v0 = p.increment;
  p.regdipcos = 1;
  p.sigma_bed = 2;
  p.sigma_dip = 3;
  p.sigma_fault = 5;
  auto& d = st.data;
  for (int b = 0; b < 5; ++b) {
    fq::Bed bed;
    bed.ident = "bed" + std::to_string(b + 1);
    for (int i = 0; i < 50; ++i) bed.pts.push_back({-400.0 + 16.0 * i, -150.0 + 60.0 * b});
    bed.npts = 50;
    d.beds.push_back(bed);
  }
  d.nbeds = 5;
  for (int i = 0; i < 10; ++i) {
    d.dip_pos.push_back({-300.0 + 60.0 * i, -30.0 + 10.0 * i});
    d.dips.push_back((i % 3 - 1) * 0.2);
  }
  d.ndips = 10;
  for (int i = 1; i <= 5; ++i) d.faultpts.push_back({-40.0 * i * 0.8660254, -40.0 * i * 0.5});
  d.nfaultpts = 5;
  return st;
}

// Tip (0, 0), slip 100, ramp 30, phi 30, P/S 1.5, s 1.
const std::vector<double> kModel{0, 0, 100, 30, 30, 1.5, 1};

void StraightRampModelRun(benchmark::State& st) {
  const double increment = static_cast<double>(st.range(0)) / 10;
  const fq::RunState run = section(increment, static_cast<int>(st.range(1)));
  double score = 0;
  for (auto _ : st) {
    fq::choose_fault_model(run, score, kModel);
    benchmark::DoNotOptimize(score);
  }
  st.counters["models/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
  st.SetLabel("score " + std::to_string(score));
}
BENCHMARK(StraightRampModelRun)
    ->ArgNames({"increment_tenths", "propagate"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
