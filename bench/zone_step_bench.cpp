// Zone-step benchmarks: the restoration of one 100-point bed through the
// straight-ramp kernel (ramp 30 degrees, phi 30, P/S 2, slip 100), at
// increments 1 and 0.1, for s = 1 and s = 1.7, with and without the
// covariance carry, and with the reference kernel (always pow) beside the
// batched one on the AVX2 and on the AVX-512 path in the same run (a path
// the processor lacks falls back to the next narrower one: the label says
// which ran).
//
// Counters:
//   ns/point-step  CPU nanoseconds (this thread) per point and per nominal step
//                  (points x slip / increment)
//   ratio          reference time / this time, when the reference case of
//                  the same configuration ran earlier in this process
//
// The bed is horizontal in map coordinates, 20 above the tip, from 100
// behind to 100 ahead of it: most of its points cross the trishear zone.
#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "foldquest/models/trishear_straight.hpp"

namespace {

using Powers = fq::TrishearZone::Powers;

std::vector<fq::Vec2> bed_in_tip_frame() {
  const double a = 30.0 * 3.1415927410125732 / 180.0;
  std::vector<fq::Vec2> pts;
  for (int i = 0; i < 100; ++i) {
    const double x = -100.0 + 2.0 * i, y = 20.0;
    pts.push_back({x * std::cos(a) + y * std::sin(a), -x * std::sin(a) + y * std::cos(a)});
  }
  return pts;
}

// CPU time of the calling thread: a busy machine (other processes on the
// same cores) does not count against the kernel.
double thread_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

std::map<std::tuple<int, int, bool>, double>& reference_ns() {
  static std::map<std::tuple<int, int, bool>, double> m;
  return m;
}

const char* path_name(fq::ZoneVectorPath p) {
  switch (p) {
    case fq::ZoneVectorPath::reference: return "reference";
    case fq::ZoneVectorPath::portable: return "portable";
    case fq::ZoneVectorPath::avx2: return "avx2";
    case fq::ZoneVectorPath::avx512: return "avx512";
  }
  return "?";
}

// range(0): increment in tenths; range(1): s in tenths; range(2): 1 with
// covariances; range(3): the path (0 reference, 2 AVX2, 3 AVX-512).
void RestoreBed(benchmark::State& st) {
  const double inc = -static_cast<double>(st.range(0)) / 10;
  const double s = static_cast<double>(st.range(1)) / 10;
  const bool cov = st.range(2) != 0;
  const bool reference = st.range(3) == 0;
  const fq::ZoneVectorPath saved = fq::zone_vector_path();
  fq::set_zone_vector_path(reference ? fq::ZoneVectorPath::reference
                           : st.range(3) == 3 ? fq::ZoneVectorPath::avx512
                                              : fq::ZoneVectorPath::avx2);
  st.SetLabel(path_name(fq::zone_vector_path()));
  const double m = std::tan(30.0 * 3.1415927410125732 / 180.0);
  const fq::TrishearStr k(inc, m, -100.0, inc, 2.0, s, reference ? Powers::reference : Powers::fast,
                          /*batched=*/!reference);
  const std::vector<fq::Vec2> bed = bed_in_tip_frame();
  std::vector<fq::Vec2> work(bed.size());
  std::vector<fq::Mat2> c(cov ? bed.size() : 0);
  double seconds = 0;
  for (auto _ : st) {
    work = bed;
    for (fq::Mat2& x : c) x = {1, 0, 0, 1};
    const double t0 = thread_cpu_seconds();
    benchmark::DoNotOptimize(fq::trishear_func(k, work, c));
    benchmark::ClobberMemory();
    seconds += thread_cpu_seconds() - t0;
  }
  fq::set_zone_vector_path(saved);
  if (st.iterations() == 0) return;
  const double point_steps = static_cast<double>(bed.size()) * (100.0 / std::abs(inc));
  const double ns = seconds * 1e9 / (static_cast<double>(st.iterations()) * point_steps);
  st.counters["ns/point-step"] = ns;
  const auto key = std::make_tuple(static_cast<int>(st.range(0)), static_cast<int>(st.range(1)), cov);
  if (reference) {
    reference_ns()[key] = ns;
  } else if (auto it = reference_ns().find(key); it != reference_ns().end() && ns > 0) {
    st.counters["ratio"] = it->second / ns;
  }
}

}  // namespace

BENCHMARK(RestoreBed)
    ->ArgNames({"inc_tenths", "s_tenths", "cov", "path"})
    ->ArgsProduct({{10, 1}, {10, 17}, {0, 1}, {0, 2, 3}})
    ->Unit(benchmark::kMicrosecond);
