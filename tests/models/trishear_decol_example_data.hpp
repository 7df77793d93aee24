// The synthetic data set of examples/decol, made from a known model: three
// beds and a growth stratum, horizontal before faulting, carried FORWARD
// with the detachment-ramp kernels (a thrust ramp rising at 30 degrees from
// a horizontal detachment), dips measured on two of them, points on the
// ramp and on the detachment, then a little Gaussian noise.  The noise
// comes from std::mt19937_64 (a sequence the C++ standard fixes) through
// our own Box-Muller transform, so the files are the same on every run.
//
// The true model (metres, degrees; "Tip position is: (2) Final",
// detachment depth free):
//   final tip (2500, -400); slip 500; ramp 30; phi 30; P/S 2; s 1;
//   detachment at y = -1400, so the bend lies at (767.9, -1400), 2000 m
//   down the ramp from the final tip; growth stratum deposited after 300 m
//   of slip (growth slip 200).
// The initial tip lay 1000 m down the ramp from the final one, at
// (1634.0, -900), 500 m above the detachment.
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "foldquest/state/run_state.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/trishear_decol.hpp"

namespace fqtest::decol_example {

constexpr double kTipX = 2500, kTipY = -400, kSlip = 500, kRamp = 30, kPhi = 30, kPoverS = 2, kS = 1,
                 kDecolY = -1400, kGrowthSlip = 200;
// The true model in the parameter order of the example's runs.
inline std::vector<double> true_model() {
  return {kTipX, kTipY, kSlip, kRamp, kPhi, kPoverS, kS, kDecolY, kGrowthSlip};
}

struct BedSpec {
  const char* name;
  double y0;
};
// "lower" lies between the detachment and the initial tip: it is carried
// over the bend and kinked at the axial surface.  "middle" and "upper" lie
// above the initial tip: folded in the zone ahead of it, kinked behind it.
constexpr std::array<BedSpec, 3> kBeds{{{"lower", -1200.0}, {"middle", -700.0}, {"upper", -300.0}}};
constexpr const char* kGrowthName = "growth1";
constexpr double kGrowthY0 = 150;  // elevation of the growth stratum when deposited
constexpr int kPointsPerBed = 30;
constexpr double kXStart = 0, kXEnd = 4000;  // observed window after faulting
constexpr int kDipsPerBed = 10;
constexpr double kDipXStart = 300, kDipXEnd = 3300;  // before faulting
constexpr double kSigmaBed = 4, kSigmaDip = 2, kSigmaFault = 5;
constexpr std::uint64_t kSeed = 20241203;
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
    const double r = std::sqrt(-2.0 * std::log(1.0 - u1));  // 1 - u1 in (0, 1]
    const double t = 2.0 * std::numbers::pi * u2;
    spare_ = r * std::sin(t);
    have_spare_ = true;
    return r * std::cos(t) * sigma;
  }
  // In [0, 1) with 53 random bits.
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

// The geometry of the true model, with the run's pi as a run computes it.
struct Geometry {
  double a = kRamp * fq::Constants::pi / 180;
  fq::Vec2 tip_final{kTipX, kTipY};
  fq::Vec2 bend{kTipX - (kTipY - kDecolY) / std::tan(a), kDecolY};
  // The tip after `slip_before` of the total slip.
  fq::Vec2 tip_after(double slip_before) const {
    const double back = (kSlip - slip_before) * kPoverS;
    return {tip_final.x - back * std::cos(a), tip_final.y - back * std::sin(a)};
  }
  fq::TipFrame frame_after(double slip_before) const {
    const fq::Vec2 t = tip_after(slip_before);
    return fq::TipFrame(t.x, t.y, a, 1);
  }
  // Forward kernel for `slip` more from the tip after `slip_before`.
  fq::TrishearDecol kernel(double slip_before, double slip) const {
    return fq::TrishearDecol(kForwardIncrement, std::tan(kPhi * fq::Constants::pi / 180), slip, kForwardIncrement,
                             kPoverS, kS, frame_after(slip_before).to_ze(bend).x, a);
  }
  std::vector<fq::Vec2> points(std::vector<fq::Vec2> pts, double slip_before, double slip) const {
    const fq::TipFrame f = frame_after(slip_before);
    const fq::TrishearDecol k = kernel(slip_before, slip);
    for (fq::Vec2& p : pts) {
      p = f.to_ze(p);
      if (fq::trishear_decol_point(k, p, nullptr) != fq::DecolStatus::ok)
        throw std::runtime_error("forward deformation failed");
      p = f.to_xy(p);
    }
    return pts;
  }
  // A horizontal dip at `pos` carried through the whole slip: position and
  // map dip in degrees, within [-90, 90].
  std::pair<fq::Vec2, double> dip(fq::Vec2 pos) const {
    const fq::TipFrame f = frame_after(0);
    fq::Vec2 p = f.to_ze(pos);
    double theta = a, sigma = 0;
    if (fq::trishear_decol_dip(kernel(0, kSlip), p, theta, sigma) != fq::DecolStatus::ok)
      throw std::runtime_error("forward deformation failed");
    double d = (theta - a) * 180 / fq::Constants::pi;
    while (d > 90) d -= 180;
    while (d < -90) d += 180;
    return {f.to_xy(p), d};
  }
};

// The file texts, by file name.
inline std::map<std::string, std::string> files() {
  const Geometry g;
  Noise rng(kSeed);
  std::map<std::string, std::string> out;

  // Beds: sampled before faulting over the window shifted back by half the
  // hanging wall's horizontal travel, so that they spread over it after.
  auto horizontal = [&](double y0) {
    const double travel = kSlip * std::cos(g.a);
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
    for (const fq::Vec2 p : g.points(horizontal(b.y0), 0, kSlip))
      beds += point_line({p.x + rng.normal(kSigmaBed), p.y + rng.normal(kSigmaBed)});
  }
  beds += std::string("growth ") + kGrowthName + "\n";
  for (const fq::Vec2 p : g.points(horizontal(kGrowthY0), kSlip - kGrowthSlip, kGrowthSlip))
    beds += point_line({p.x + rng.normal(kSigmaBed), p.y + rng.normal(kSigmaBed)});

  // Dips on the lower and middle beds: a horizontal dip carried forward.
  std::string& dips = out["dips.txt"];
  for (std::size_t b = 0; b < 2; ++b) {
    for (int i = 0; i < kDipsPerBed; ++i) {
      const double x = kDipXStart + (kDipXEnd - kDipXStart) * i / (kDipsPerBed - 1);
      const auto [at, dip] = g.dip({x, kBeds[b].y0});
      // The draws one by one: the operands of a chain of + have no set
      // order of evaluation.
      const double nx = rng.normal(kSigmaBed);
      const double ny = rng.normal(kSigmaBed);
      const double nd = rng.normal(kSigmaDip);
      dips += fixed(at.x + nx, 2) + " " + fixed(at.y + ny, 2) + " " + fixed(dip + nd, 2) + "\n";
    }
  }

  // Fault points: four on the ramp between the bend and the final tip, four
  // on the detachment behind the bend.
  std::string& fault = out["faultpts.txt"];
  for (const double dist : {300.0, 700.0, 1100.0, 1500.0})
    fault += point_line({g.bend.x + dist * std::cos(g.a) + rng.normal(kSigmaFault),
                         g.bend.y + dist * std::sin(g.a) + rng.normal(kSigmaFault)});
  for (const double dist : {150.0, 300.0, 450.0, 600.0})
    fault += point_line({g.bend.x - dist + rng.normal(kSigmaFault), g.bend.y + rng.normal(kSigmaFault)});
  return out;
}

}  // namespace fqtest::decol_example
