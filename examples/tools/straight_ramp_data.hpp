// The synthetic data set of examples/straight_ramp, made in memory (the
// generator gen_straight_ramp writes it; the example tests compare the
// committed files with it and take the true model from here).
//
// The data are made with foldquest's own straight-ramp kernels, run
// FORWARD (positive slip, a thrust: the hanging wall moves up the ramp)
// from horizontal beds, then given a little Gaussian noise.  The seed is
// fixed, so the files are the same on every run and every platform: the
// noise comes from std::mt19937_64, whose sequence the C++ standard fixes,
// turned into normal deviates by our own Box-Muller transform (the standard
// library's distributions differ between implementations).
//
// Geometry (metres; x to the right, y up; the fault rises towards +x):
//   final tip (tipx, tipy)    the present-day tip: parameters 1 and 2 of a
//                             run with "Tip position is: (2) Final"
//   initial tip               final tip - povers * slip down the ramp
//   beds                      three pre-growth beds, horizontal before
//                             faulting, each moved through the whole slip
//                             from the initial tip
//   growth stratum            deposited horizontally when slip - growth_slip
//                             had occurred, then moved through growth_slip
//                             from the tip of that moment
//   dips                      measured on the two upper pre-growth beds: a
//                             horizontal dip moved with the dip kernel
//   fault points              on the ramp below the initial tip (not moved:
//                             the footwall and the fault stay in place)
//
// Forward runs use a fine slip increment (kForwardIncrement), much finer
// than the one a model run uses, so the data stand for the continuous
// deformation rather than for one discretisation of it.
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "foldquest/state/run_state.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/trishear_straight.hpp"

namespace fqexample::straight_ramp {

using fq::TipFrame;
using fq::TrishearStr;
using fq::Vec2;

inline constexpr double pi = fq::Constants::pi;  // the run's pi, for the same angles as a run

// ---- The true model ---------------------------------------------------------
inline constexpr double kTipX = 2000.0;       // final tip x (m)
inline constexpr double kTipY = -400.0;       // final tip y (m)
inline constexpr double kSlip = 500.0;        // total slip (m)
inline constexpr double kRampDeg = 30.0;      // ramp angle from +x (degrees)
inline constexpr double kPhiDeg = 30.0;       // trishear angle (degrees)
inline constexpr double kPoverS = 2.0;        // propagation-to-slip ratio
inline constexpr double kShape = 1.0;         // trishear shape exponent s
inline constexpr double kGrowthSlip = 200.0;  // slip since the growth stratum was deposited (m)

// The true parameter vector of a run with the final tip, in parameter order.
inline std::vector<double> true_model() {
  return {kTipX, kTipY, kSlip, kRampDeg, kPhiDeg, kPoverS, kShape, kGrowthSlip};
}

// ---- The section ------------------------------------------------------------
// Pre-growth beds: name and elevation before faulting (m).
struct BedSpec {
  const char* name;
  double y0;
};
inline constexpr std::array<BedSpec, 3> kBeds{{{"lower", -500.0}, {"middle", -200.0}, {"upper", 100.0}}};
inline constexpr const char* kGrowthName = "growth1";
inline constexpr double kGrowthY0 = 350.0;  // elevation of the growth stratum when deposited (m)
inline constexpr int kPointsPerBed = 30;
inline constexpr double kXStart = 0.0, kXEnd = 4000.0;  // observed window (m)
// Dips: kDipsPerBed dips on each of the two upper pre-growth beds, spread
// over the fold from kDipXStart to kDipXEnd (positions before faulting).
inline constexpr int kDipsPerBed = 10;
inline constexpr double kDipXStart = 1700.0, kDipXEnd = 3300.0;
// Fault points: along the ramp, kFaultFrom to kFaultTo metres below the
// initial tip.
inline constexpr int kFaultPoints = 8;
inline constexpr double kFaultFrom = 100.0, kFaultTo = 1500.0;

// ---- Noise and numerics -----------------------------------------------------
inline constexpr double kSigmaBed = 4.0;    // m, on x and on y of every bed point and dip position
inline constexpr double kSigmaDip = 2.0;    // degrees
inline constexpr double kSigmaFault = 5.0;  // m, on x and on y
inline constexpr std::uint64_t kSeed = 20240611;
inline constexpr double kForwardIncrement = 0.05;  // m of slip per forward step
inline constexpr double kRunIncrement = 5.0;       // m: the increment of the example's parameter files

// Normal deviates from a standard-fixed engine by Box-Muller, one pair per
// two draws.
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

inline double ramp_angle() { return kRampDeg * pi / 180; }
// The point `dist` metres up the ramp from p (down for dist < 0).
inline Vec2 up_ramp(Vec2 p, double dist) {
  return {p.x + dist * std::cos(ramp_angle()), p.y + dist * std::sin(ramp_angle())};
}
inline Vec2 final_tip() { return {kTipX, kTipY}; }
inline Vec2 initial_tip() { return up_ramp(final_tip(), -kPoverS * kSlip); }
// The frame of a tip on this ramp (30 degrees: acute, rising to +x).
inline TipFrame frame_at(Vec2 tip) { return TipFrame(tip.x, tip.y, ramp_angle(), 1); }
inline double m_of_phi() { return std::tan(kPhiDeg * pi / 180); }

// Moves map-frame points through a signed slip from the tip `tip` with a
// signed increment of the same sign: forward (deformation) for positive
// values, restoration for negative ones.
inline std::vector<Vec2> move(const std::vector<Vec2>& pts, Vec2 tip, double slip, double increment) {
  const TipFrame f = frame_at(tip);
  std::vector<Vec2> ze(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) ze[i] = f.to_ze(pts[i]);
  const TrishearStr k(increment, m_of_phi(), slip, increment, kPoverS, kShape);
  if (!fq::trishear_func(k, ze, {})) throw std::runtime_error("the kernel refused the step count");
  std::vector<Vec2> out(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) out[i] = f.to_xy(ze[i]);
  return out;
}
inline std::vector<Vec2> deform(const std::vector<Vec2>& pts, Vec2 tip, double slip) {
  return move(pts, tip, slip, kForwardIncrement);
}

// A horizontal bed at y0 before faulting, sampled so that after faulting
// its points are spread over the observed window: initial x positions
// evenly spaced (with a little jitter) over the window shifted back by
// half the hanging wall's horizontal travel.
inline std::vector<Vec2> horizontal_bed(double y0, Noise& rng) {
  const double travel = kSlip * std::cos(ramp_angle());
  const double x0 = kXStart - travel / 2, x1 = kXEnd - travel / 2;
  const double dx = (x1 - x0) / (kPointsPerBed - 1);
  std::vector<Vec2> pts;
  for (int i = 0; i < kPointsPerBed; ++i) {
    const double jitter = (i == 0 || i == kPointsPerBed - 1) ? 0.0 : (rng.uniform() - 0.5) * 0.4 * dx;
    pts.push_back({x0 + i * dx + jitter, y0});
  }
  return pts;
}

inline std::string fixed2(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
  return std::string(buf, r.ptr);
}

// Dip in degrees of the map frame (positive down to the right) from a dip
// in the frame of a ramp rising to +x, folded into [-90, 90].
inline double map_dip_deg(double theta_ze) {
  double d = (theta_ze - ramp_angle()) * 180 / pi;
  while (d > 90) d -= 180;
  while (d < -90) d += 180;
  return d;
}

// The three data files' contents and the self-checks made on the way.
struct DataSet {
  std::string beds, dips, faultpts;
  // Restoring the noise-free beds with the true model, the worst height
  // error (m) at the forward increment and at the run increment.
  double worst_roundtrip = 0, worst_run_increment = 0;
  // The forward dips against the slopes of the deformed beds (degrees).
  double worst_dip_vs_slope = 0;
};

inline DataSet make_data() {
  DataSet out;
  Noise rng(kSeed);
  auto check_roundtrip = [&](const std::vector<Vec2>& flat, const std::vector<Vec2>& folded, double slip) {
    const auto back = move(folded, final_tip(), -slip, -kForwardIncrement);
    const auto back_run = move(folded, final_tip(), -slip, -kRunIncrement);
    for (std::size_t i = 0; i < flat.size(); ++i) {
      out.worst_roundtrip = std::max(out.worst_roundtrip, std::abs(back[i].y - flat[i].y));
      out.worst_run_increment = std::max(out.worst_run_increment, std::abs(back_run[i].y - flat[i].y));
    }
  };
  auto write_point = [](std::ostringstream& os, Vec2 p) { os << fixed2(p.x) << ' ' << fixed2(p.y) << '\n'; };

  // ---- Beds --------------------------------------------------------------
  std::ostringstream beds;
  for (const BedSpec& b : kBeds) {
    const auto flat = horizontal_bed(b.y0, rng);
    const auto folded = deform(flat, initial_tip(), kSlip);
    check_roundtrip(flat, folded, kSlip);
    beds << "bed " << b.name << '\n';
    for (Vec2 p : folded) write_point(beds, {p.x + rng.normal(kSigmaBed), p.y + rng.normal(kSigmaBed)});
  }
  {
    // Deposited when kSlip - kGrowthSlip had occurred; the tip had then
    // propagated povers times that slip up the ramp.
    const Vec2 tip_at_deposition = up_ramp(initial_tip(), kPoverS * (kSlip - kGrowthSlip));
    const auto flat = horizontal_bed(kGrowthY0, rng);
    const auto folded = deform(flat, tip_at_deposition, kGrowthSlip);
    check_roundtrip(flat, folded, kGrowthSlip);
    beds << "growth " << kGrowthName << '\n';
    for (Vec2 p : folded) write_point(beds, {p.x + rng.normal(kSigmaBed), p.y + rng.normal(kSigmaBed)});
  }
  out.beds = beds.str();

  // ---- Dips ----------------------------------------------------------------
  // Each dip is also checked against the slope of its bed: two neighbours
  // 1 m either side, moved with the point kernel.
  std::ostringstream dips;
  const TipFrame f0 = frame_at(initial_tip());
  const TrishearStr kdip(kForwardIncrement, m_of_phi(), kSlip, kForwardIncrement, kPoverS, kShape);
  for (std::size_t b = 1; b < kBeds.size(); ++b) {
    for (int i = 0; i < kDipsPerBed; ++i) {
      const double x = kDipXStart + (kDipXEnd - kDipXStart) * i / (kDipsPerBed - 1);
      Vec2 pos = f0.to_ze({x, kBeds[b].y0});
      double theta = ramp_angle();  // a horizontal bed in the ramp's frame
      double sigma = 0;
      if (!fq::trishear_dip(kdip, pos, theta, sigma)) throw std::runtime_error("the dip kernel refused the step count");
      const Vec2 at = f0.to_xy(pos);
      const double d = map_dip_deg(theta);
      const auto nb = deform({{x - 1, kBeds[b].y0}, {x + 1, kBeds[b].y0}}, initial_tip(), kSlip);
      const double slope_dip = -std::atan2(nb[1].y - nb[0].y, nb[1].x - nb[0].x) * 180 / pi;
      out.worst_dip_vs_slope = std::max(out.worst_dip_vs_slope, std::abs(slope_dip - d));
      dips << fixed2(at.x + rng.normal(kSigmaBed)) << ' ' << fixed2(at.y + rng.normal(kSigmaBed)) << ' '
           << fixed2(d + rng.normal(kSigmaDip)) << '\n';
    }
  }
  out.dips = dips.str();

  // ---- Fault points --------------------------------------------------------
  std::ostringstream fault;
  for (int i = 0; i < kFaultPoints; ++i) {
    const double dist = kFaultFrom + (kFaultTo - kFaultFrom) * i / (kFaultPoints - 1);
    const Vec2 p = up_ramp(initial_tip(), -dist);
    write_point(fault, {p.x + rng.normal(kSigmaFault), p.y + rng.normal(kSigmaFault)});
  }
  out.faultpts = fault.str();
  return out;
}

}  // namespace fqexample::straight_ramp
