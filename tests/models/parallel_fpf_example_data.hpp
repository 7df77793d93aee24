// The synthetic data set of examples/kink_fold, made from a known model:
// three beds and a growth stratum, horizontal before faulting, carried
// FORWARD with the kink-fold kernels (a thrust whose tip propagated up the
// upper segment from above the bend), dips measured on two of them, points
// on both fault segments, then a little Gaussian noise.  The noise comes
// from std::mt19937_64 (a sequence the C++ standard fixes) through the bend
// example's Box-Muller transform, so the files are the same on every run.
//
// The true model (metres, degrees; "Tip position is: (2) Final"):
//   final tip (2000, -300); slip 300; upper segment at 35 degrees, lower
//   segment at 10 degrees; bend at y = -900; growth stratum deposited after
//   180 m of slip (growth slip 120).
#pragma once

#include <array>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "foldquest/state/run_state.hpp"
#include "foldquest/models/parallel_fpf_run.hpp"
#include "tests/models/trishear_bend_example_data.hpp"

namespace fqtest::kink_example {

constexpr double kTipX = 2000, kTipY = -300, kSlip = 300, kAUp = 35, kALow = 10, kBendY = -900, kGrowthSlip = 120;
inline std::vector<double> true_model() { return {kTipX, kTipY, kSlip, kAUp, kALow, kBendY, kGrowthSlip}; }

struct BedSpec {
  const char* name;
  double y0;
};
constexpr std::array<BedSpec, 3> kBeds{{{"lower", -1100.0}, {"middle", -650.0}, {"upper", -350.0}}};
constexpr const char* kGrowthName = "growth1";
constexpr double kGrowthY0 = 50;
constexpr int kPointsPerBed = 30;
constexpr double kXStart = 0, kXEnd = 4000;
constexpr int kDipsPerBed = 10;
constexpr double kDipXStart = 1000, kDipXEnd = 2600;
constexpr double kSigmaBed = 4, kSigmaDip = 2, kSigmaFault = 5;
constexpr std::uint64_t kSeed = 20241208;

// The true model as the model run places it (bend, tips, geometry).
inline fq::PfpfModel model() {
  fq::RunState st;
  st.options.tiptosolve = 2;
  st.fault.bend_at_tipy = 0;
  st.parameters.slip_sense = -1;
  fq::PfpfModel m;
  const std::vector<double> p = true_model();
  fq::pfpf_model(st, std::span<const double>(p.data(), 6), m);
  return m;
}

// The fold after `done` of the slip, deformed forward from the initial tip
// (both segments rise to +x: the working frame is the map frame).
inline fq::PfpfStart fold_after(const fq::PfpfModel& m, double done) {
  fq::PfpfStart s;
  s.bend = m.bend;
  s.tip = {m.tip_init.x + m.geo.vt.x * done, m.tip_init.y + m.geo.vt.y * done};
  s.pte = fq::pfpf_pte(m.geo, s.tip, done);
  return s;
}

inline std::map<std::string, std::string> files() {
  using bend_example::fixed;
  using bend_example::point_line;
  const fq::PfpfModel m = model();
  bend_example::Noise rng(kSeed);
  std::map<std::string, std::string> out;

  // Beds sampled before faulting over the window shifted back by half the
  // hanging wall's horizontal travel.
  auto horizontal = [&](double y0) {
    const double travel = kSlip * std::cos(kALow * fq::Constants::pi / 180);
    const double x0 = kXStart - travel / 2, x1 = kXEnd - travel / 2;
    const double dx = (x1 - x0) / (kPointsPerBed - 1);
    std::vector<fq::Vec2> pts;
    for (int i = 0; i < kPointsPerBed; ++i) {
      const double jitter = (i == 0 || i == kPointsPerBed - 1) ? 0.0 : (rng.uniform() - 0.5) * 0.4 * dx;
      pts.push_back({x0 + i * dx + jitter, y0});
    }
    return pts;
  };
  auto forward = [&](std::vector<fq::Vec2> pts, double done, double slip) {
    fq::pfpf_points(m.geo, fold_after(m, done), slip, pts, {});
    return pts;
  };
  std::string& beds = out["beds.txt"];
  for (const BedSpec& b : kBeds) {
    beds += std::string("bed ") + b.name + "\n";
    for (const fq::Vec2 p : forward(horizontal(b.y0), 0, kSlip))
      beds += point_line({p.x + rng.normal(kSigmaBed), p.y + rng.normal(kSigmaBed)});
  }
  beds += std::string("growth ") + kGrowthName + "\n";
  for (const fq::Vec2 p : forward(horizontal(kGrowthY0), kSlip - kGrowthSlip, kGrowthSlip))
    beds += point_line({p.x + rng.normal(kSigmaBed), p.y + rng.normal(kSigmaBed)});

  // Dips on the middle and upper beds: a horizontal dip carried forward.
  std::string& dips = out["dips.txt"];
  for (std::size_t b = 1; b < kBeds.size(); ++b) {
    for (int i = 0; i < kDipsPerBed; ++i) {
      fq::Vec2 at{kDipXStart + (kDipXEnd - kDipXStart) * i / (kDipsPerBed - 1), kBeds[b].y0};
      double dip = 0, sigma = 0;
      fq::pfpf_dip(m.geo, fold_after(m, 0), kSlip, at, dip, sigma);
      const double d = dip * 180 / fq::Constants::pi;
      const double nx = rng.normal(kSigmaBed);
      const double ny = rng.normal(kSigmaBed);
      const double nd = rng.normal(kSigmaDip);
      dips += fixed(at.x + nx, 2) + " " + fixed(at.y + ny, 2) + " " + fixed(d + nd, 2) + "\n";
    }
  }

  // Fault points: four on the upper segment between the bend and the final
  // tip, four on the lower segment behind the bend.
  std::string& fault = out["faultpts.txt"];
  for (const double dist : {150.0, 350.0, 550.0, 750.0})
    fault += point_line({m.bend.x + dist * std::cos(m.a_up) + rng.normal(kSigmaFault),
                         m.bend.y + dist * std::sin(m.a_up) + rng.normal(kSigmaFault)});
  for (const double dist : {300.0, 600.0, 900.0, 1200.0})
    fault += point_line({m.bend.x - dist * std::cos(m.a_low) + rng.normal(kSigmaFault),
                         m.bend.y - dist * std::sin(m.a_low) + rng.normal(kSigmaFault)});
  return out;
}

}  // namespace fqtest::kink_example
