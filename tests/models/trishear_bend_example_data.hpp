// The synthetic data set of examples/bend, made from a known model: three
// beds and a growth stratum, horizontal before faulting, carried FORWARD
// with the bend kernels (a thrust whose tip propagated from segment 2
// through the bend onto segment 1), dips measured on two of them, points on
// both fault segments, then a little Gaussian noise.  The noise comes from
// std::mt19937_64 (a sequence the C++ standard fixes) through our own
// Box-Muller transform, so the files are the same on every run.
//
// The true model (metres, degrees; "Tip position is: (2) Final"):
//   final tip (2000, -300); slip 500; segment 1 at 45 degrees; phi 30;
//   P/S 2; s 1; segment 2 at 25 degrees; bend at y = -900 (x = 1400);
//   growth stratum deposited after 300 m of slip (growth slip 200).
// The tip travelled 1000 m: 848.5 m up segment 1 from the bend and 151.5 m
// on segment 2 below it, where it started (an initial tip below the bend).
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "tests/models/trishear_bend_forward.hpp"

namespace fqtest::bend_example {

constexpr double kTipX = 2000, kTipY = -300, kSlip = 500, kA1 = 45, kPhi = 30, kPoverS = 2, kS = 1, kA2 = 25,
                 kBendY = -900, kGrowthSlip = 200;
// The true model in the parameter order of the example's runs.
inline std::vector<double> true_model() {
  return {kTipX, kTipY, kSlip, kA1, kPhi, kPoverS, kS, kA2, kBendY, kGrowthSlip};
}

struct BedSpec {
  const char* name;
  double y0;
};
constexpr std::array<BedSpec, 3> kBeds{{{"lower", -1100.0}, {"middle", -700.0}, {"upper", -400.0}}};
constexpr const char* kGrowthName = "growth1";
constexpr double kGrowthY0 = 100;  // elevation of the growth stratum when deposited
constexpr int kPointsPerBed = 30;
constexpr double kXStart = 0, kXEnd = 4000;  // observed window after faulting
constexpr int kDipsPerBed = 10;
constexpr double kDipXStart = 1300, kDipXEnd = 3000;  // before faulting
constexpr double kSigmaBed = 4, kSigmaDip = 2, kSigmaFault = 5;
constexpr std::uint64_t kSeed = 20240917;
constexpr double kForwardIncrement = 0.05;

class Noise {
 public:
  explicit Noise(std::uint64_t seed) : eng_(seed) {}
  double normal(double sigma) {
    if (have_spare_) {
      have_spare_ = false;
      return spare_ * sigma;
    }
    const double u1 = uniform(), u2 = uniform();
    const double r = std::sqrt(-2.0 * std::log(1.0 - u1));
    const double t = 2.0 * std::numbers::pi * u2;
    spare_ = r * std::sin(t);
    have_spare_ = true;
    return r * std::cos(t) * sigma;
  }
  double uniform() { return static_cast<double>(eng_() >> 11) * 0x1.0p-53; }

 private:
  std::mt19937_64 eng_;
  double spare_ = 0;
  bool have_spare_ = false;
};

inline std::string fixed(double v, int decimals) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}
inline std::string point_line(fq::Vec2 p) { return fixed(p.x, 2) + " " + fixed(p.y, 2) + "\n"; }

// The truth as the forward helper takes it: by its initial tip.
inline BendTruth truth() {
  constexpr double pi = fq::Constants::pi;
  fq::BendFault f;
  f.a1 = kA1 * pi / 180;
  f.a2 = kA2 * pi / 180;
  f.bendy = kBendY;
  f.bendx = kTipX - (kTipY - kBendY) / std::tan(f.a1);
  const fq::TipOnFault init = fq::bend_tip_back(f, {kTipX, kTipY, 1}, kSlip * kPoverS);
  BendTruth t;
  t.init_x = init.x;
  t.init_y = init.y;
  t.slip = kSlip;
  t.a1_deg = kA1;
  t.phi_deg = kPhi;
  t.povers = kPoverS;
  t.s = kS;
  t.a2_deg = kA2;
  t.bendy = kBendY;
  return t;
}

// The file texts, by file name.
inline std::map<std::string, std::string> files() {
  const BendTruth t = truth();
  const ForwardBend fw(t, kForwardIncrement);
  Noise rng(kSeed);
  std::map<std::string, std::string> out;

  // Beds: sampled before faulting over the window shifted back by half the
  // hanging wall's horizontal travel, so that they spread over it after.
  auto horizontal = [&](double y0) {
    const double travel = kSlip * std::cos(kA1 * fq::Constants::pi / 180);
    const double x0 = kXStart - travel / 2, x1 = kXEnd - travel / 2;
    const double dx = (x1 - x0) / (kPointsPerBed - 1);
    std::vector<fq::Vec2> pts;
    for (int i = 0; i < kPointsPerBed; ++i) {
      const double jitter = (i == 0 || i == kPointsPerBed - 1) ? 0.0 : (rng.uniform() - 0.5) * 0.4 * dx;
      pts.push_back({x0 + i * dx + jitter, y0});
    }
    return pts;
  };
  std::string& beds = out["beds.txt"];
  for (const BedSpec& b : kBeds) {
    beds += std::string("bed ") + b.name + "\n";
    for (const fq::Vec2 p : fw.points(horizontal(b.y0), 0, kSlip))
      beds += point_line({p.x + rng.normal(kSigmaBed), p.y + rng.normal(kSigmaBed)});
  }
  beds += std::string("growth ") + kGrowthName + "\n";
  for (const fq::Vec2 p : fw.points(horizontal(kGrowthY0), kSlip - kGrowthSlip, kGrowthSlip))
    beds += point_line({p.x + rng.normal(kSigmaBed), p.y + rng.normal(kSigmaBed)});

  // Dips on the middle and upper beds: a horizontal dip carried forward.
  std::string& dips = out["dips.txt"];
  for (std::size_t b = 1; b < kBeds.size(); ++b) {
    for (int i = 0; i < kDipsPerBed; ++i) {
      const double x = kDipXStart + (kDipXEnd - kDipXStart) * i / (kDipsPerBed - 1);
      const auto [at, dip] = fw.dip({x, kBeds[b].y0});
      double d = dip * 180 / fq::Constants::pi;
      while (d > 90) d -= 180;
      while (d < -90) d += 180;
      // Drawn one by one: the operands of a chain of + have no fixed order.
      const double nx = rng.normal(kSigmaBed);
      const double ny = rng.normal(kSigmaBed);
      const double nd = rng.normal(kSigmaDip);
      dips += fixed(at.x + nx, 2) + " " + fixed(at.y + ny, 2) + " " + fixed(d + nd, 2) + "\n";
    }
  }

  // Fault points: four on segment 1 between the bend and the final tip,
  // four on segment 2 below the bend.
  std::string& fault = out["faultpts.txt"];
  const fq::BendFault& f = fw.fault();
  for (const double dist : {150.0, 350.0, 550.0, 750.0})
    fault += point_line({f.bendx + dist * std::cos(f.a1) + rng.normal(kSigmaFault),
                         f.bendy + dist * std::sin(f.a1) + rng.normal(kSigmaFault)});
  for (const double dist : {300.0, 600.0, 900.0, 1200.0})
    fault += point_line({f.bendx - dist * std::cos(f.a2) + rng.normal(kSigmaFault),
                         f.bendy - dist * std::sin(f.a2) + rng.normal(kSigmaFault)});
  return out;
}

}  // namespace fqtest::bend_example
