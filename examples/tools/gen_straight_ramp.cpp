// gen_straight_ramp: makes the synthetic data set of examples/straight_ramp.
//
//   gen_straight_ramp OUTDIR
//
// writes OUTDIR/beds.txt, OUTDIR/dips.txt and OUTDIR/faultpts.txt and prints
// the true model and a few self-checks.  The data are made with foldquest's
// own straight-ramp kernels, run FORWARD (positive slip, a thrust: the
// hanging wall moves up the ramp) from horizontal beds, then given a little
// Gaussian noise.  The seed is fixed, so the files are the same on every
// run and every platform: the noise comes from std::mt19937_64, whose
// sequence the C++ standard fixes, turned into normal deviates by our own
// Box-Muller transform (the standard library's distributions are not
// portable between implementations).
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
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "foldquest/driver/run_state.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/trishear_straight.hpp"

namespace {

using fq::Mat2;
using fq::TipFrame;
using fq::TrishearStr;
using fq::Vec2;

constexpr double pi = fq::Constants::pi;  // the run's pi, for the same angles as a run

// ---- The true model ---------------------------------------------------------
constexpr double kTipX = 2000.0;       // final tip x (m)
constexpr double kTipY = -400.0;       // final tip y (m)
constexpr double kSlip = 500.0;        // total slip (m)
constexpr double kRampDeg = 30.0;      // ramp angle from +x (degrees)
constexpr double kPhiDeg = 30.0;       // trishear angle (degrees)
constexpr double kPoverS = 2.0;        // propagation-to-slip ratio
constexpr double kShape = 1.0;         // trishear shape exponent s
constexpr double kGrowthSlip = 200.0;  // slip since the growth stratum was deposited (m)

// ---- The section ------------------------------------------------------------
// Pre-growth beds: name and elevation before faulting (m).
struct BedSpec {
  const char* name;
  double y0;
};
constexpr std::array<BedSpec, 3> kBeds{{{"lower", -500.0}, {"middle", -200.0}, {"upper", 100.0}}};
constexpr const char* kGrowthName = "growth1";
constexpr double kGrowthY0 = 350.0;  // elevation of the growth stratum when deposited (m)
constexpr int kPointsPerBed = 30;
constexpr double kXStart = 0.0, kXEnd = 4000.0;  // observed window (m)
// Dips: kDipsPerBed dips on each of the two upper pre-growth beds, spread
// over the fold from kDipXStart to kDipXEnd (positions before faulting).
constexpr int kDipsPerBed = 10;
constexpr double kDipXStart = 1700.0, kDipXEnd = 3300.0;
// Fault points: along the ramp, kFaultFrom to kFaultTo metres below the
// initial tip.
constexpr int kFaultPoints = 8;
constexpr double kFaultFrom = 100.0, kFaultTo = 1500.0;

// ---- Noise and numerics -----------------------------------------------------
constexpr double kSigmaBed = 4.0;    // m, on x and on y of every bed point
constexpr double kSigmaDip = 2.0;    // degrees
constexpr double kSigmaFault = 5.0;  // m, on x and on y
constexpr std::uint64_t kSeed = 20240611;
constexpr double kForwardIncrement = 0.05;  // m of slip per forward step

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

double ramp_angle() { return kRampDeg * pi / 180; }
// Point `dist` metres up the ramp from (x, y).
Vec2 up_ramp(Vec2 p, double dist) {
  return {p.x + dist * std::cos(ramp_angle()), p.y + dist * std::sin(ramp_angle())};
}
Vec2 final_tip() { return {kTipX, kTipY}; }
Vec2 initial_tip() { return up_ramp(final_tip(), -kPoverS * kSlip); }
// The frame of a tip on this ramp (30 degrees: acute, rising to +x).
TipFrame frame_at(Vec2 tip) { return TipFrame(tip.x, tip.y, ramp_angle(), 1); }
double m_of_phi() { return std::tan(kPhiDeg * pi / 180); }

// Moves map-frame points forward through `slip` from the tip `tip`.
std::vector<Vec2> deform(const std::vector<Vec2>& pts, Vec2 tip, double slip) {
  const TipFrame f = frame_at(tip);
  std::vector<Vec2> ze(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) ze[i] = f.to_ze(pts[i]);
  const TrishearStr k(kForwardIncrement, m_of_phi(), slip, kForwardIncrement, kPoverS, kShape);
  if (!fq::trishear_func(k, ze, {})) throw std::runtime_error("forward run refused its step count");
  std::vector<Vec2> out(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) out[i] = f.to_xy(ze[i]);
  return out;
}

// Restores map-frame points through `slip` to the tip `tip` (a model run's
// direction, from the final tip of that slip), with the given increment.
std::vector<Vec2> restore(const std::vector<Vec2>& pts, Vec2 tip, double slip, double increment) {
  const TipFrame f = frame_at(tip);
  std::vector<Vec2> ze(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) ze[i] = f.to_ze(pts[i]);
  const TrishearStr k(-increment, m_of_phi(), -slip, -increment, kPoverS, kShape);
  if (!fq::trishear_func(k, ze, {})) throw std::runtime_error("restoration refused its step count");
  std::vector<Vec2> out(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) out[i] = f.to_xy(ze[i]);
  return out;
}

// A horizontal bed at y0 before faulting, sampled so that after faulting
// its points are spread over the observed window: initial x positions
// evenly spaced (with a little jitter) over a window widened by the
// hanging wall's horizontal travel.
std::vector<Vec2> horizontal_bed(double y0, Noise& rng) {
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

std::string fixed(double v, int decimals) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

void write_point(std::ofstream& out, Vec2 p) { out << fixed(p.x, 2) << ' ' << fixed(p.y, 2) << '\n'; }

// Dip in degrees of the map frame (positive down to the right) from a dip
// in the frame of a ramp rising to +x, folded into [-90, 90].
double map_dip_deg(double theta_ze) {
  double d = (theta_ze - ramp_angle()) * 180 / pi;
  while (d > 90) d -= 180;
  while (d < -90) d += 180;
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: gen_straight_ramp OUTDIR\n";
    return 1;
  }
  const std::string dir = argv[1];
  Noise rng(kSeed);

  // ---- Beds --------------------------------------------------------------
  std::ofstream beds(dir + "/beds.txt");
  double worst_roundtrip = 0;  // restoring the noise-free beds at the forward increment
  double worst_coarse = 0;     // ... and at the increment of the parameter files
  auto check_roundtrip = [&](const std::vector<Vec2>& flat, const std::vector<Vec2>& folded, Vec2 tip_after,
                             double slip) {
    const auto back = restore(folded, tip_after, slip, kForwardIncrement);
    const auto back_coarse = restore(folded, tip_after, slip, 5.0);
    for (std::size_t i = 0; i < flat.size(); ++i) {
      worst_roundtrip = std::max(worst_roundtrip, std::abs(back[i].y - flat[i].y));
      worst_coarse = std::max(worst_coarse, std::abs(back_coarse[i].y - flat[i].y));
    }
  };
  for (const BedSpec& b : kBeds) {
    const auto flat = horizontal_bed(b.y0, rng);
    const auto folded = deform(flat, initial_tip(), kSlip);
    check_roundtrip(flat, folded, final_tip(), kSlip);
    beds << "bed " << b.name << '\n';
    for (Vec2 p : folded) write_point(beds, {p.x + rng.normal(kSigmaBed), p.y + rng.normal(kSigmaBed)});
  }
  {
    // Deposited when kSlip - kGrowthSlip had occurred; the tip had then
    // propagated povers times that slip up the ramp.
    const Vec2 tip_at_deposition = up_ramp(initial_tip(), kPoverS * (kSlip - kGrowthSlip));
    const auto flat = horizontal_bed(kGrowthY0, rng);
    const auto folded = deform(flat, tip_at_deposition, kGrowthSlip);
    check_roundtrip(flat, folded, final_tip(), kGrowthSlip);
    beds << "growth " << kGrowthName << '\n';
    for (Vec2 p : folded) write_point(beds, {p.x + rng.normal(kSigmaBed), p.y + rng.normal(kSigmaBed)});
  }

  // ---- Dips ----------------------------------------------------------------
  // Each dip is also checked against the slope of its bed: the same point
  // and two neighbours 1 m either side, moved with the point kernel.
  std::ofstream dips(dir + "/dips.txt");
  double worst_dip_vs_slope = 0;
  const TipFrame f0 = frame_at(initial_tip());
  const TrishearStr kdip(kForwardIncrement, m_of_phi(), kSlip, kForwardIncrement, kPoverS, kShape);
  for (std::size_t b = 1; b < kBeds.size(); ++b) {
    for (int i = 0; i < kDipsPerBed; ++i) {
      const double x = kDipXStart + (kDipXEnd - kDipXStart) * i / (kDipsPerBed - 1);
      Vec2 pos = f0.to_ze({x, kBeds[b].y0});
      double theta = ramp_angle();  // a horizontal bed in the ramp's frame
      double sigma = 0;
      if (!fq::trishear_dip(kdip, pos, theta, sigma)) throw std::runtime_error("dip run refused its step count");
      const Vec2 at = f0.to_xy(pos);
      const double d = map_dip_deg(theta);
      const auto nb = deform({{x - 1, kBeds[b].y0}, {x + 1, kBeds[b].y0}}, initial_tip(), kSlip);
      const double slope_dip = -std::atan2(nb[1].y - nb[0].y, nb[1].x - nb[0].x) * 180 / pi;
      worst_dip_vs_slope = std::max(worst_dip_vs_slope, std::abs(slope_dip - d));
      dips << fixed(at.x + rng.normal(kSigmaBed), 2) << ' ' << fixed(at.y + rng.normal(kSigmaBed), 2) << ' '
           << fixed(d + rng.normal(kSigmaDip), 2) << '\n';
    }
  }

  // ---- Fault points --------------------------------------------------------
  std::ofstream fault(dir + "/faultpts.txt");
  for (int i = 0; i < kFaultPoints; ++i) {
    const double dist = kFaultFrom + (kFaultTo - kFaultFrom) * i / (kFaultPoints - 1);
    const Vec2 p = up_ramp(initial_tip(), -dist);
    write_point(fault, {p.x + rng.normal(kSigmaFault), p.y + rng.normal(kSigmaFault)});
  }

  if (!beds || !dips || !fault) {
    std::cerr << "gen_straight_ramp: could not write the files in " << dir << "\n";
    return 1;
  }
  const Vec2 ti = initial_tip();
  std::printf("true model (tip = final tip):\n");
  std::printf("  tipx %g  tipy %g  slip %g  ramp %g  phi %g  P/S %g  s %g  growth slip %g\n", kTipX, kTipY, kSlip,
              kRampDeg, kPhiDeg, kPoverS, kShape, kGrowthSlip);
  std::printf("  initial tip (%.3f, %.3f)\n", ti.x, ti.y);
  std::printf("self-checks on the noise-free data:\n");
  std::printf("  restore at the forward increment: worst height error %.4f m\n", worst_roundtrip);
  std::printf("  restore at an increment of 5 m:   worst height error %.4f m\n", worst_coarse);
  std::printf("  dip kernel against bed slope:     worst difference %.4f degrees\n", worst_dip_vs_slope);
  return 0;
}
