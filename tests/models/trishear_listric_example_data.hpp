// The synthetic data set of examples/listric, made from a known model: three
// beds and a growth stratum, horizontal before faulting, carried FORWARD
// with the listric kernels (a thrust over a listric fault: a detachment, an
// arc of radius 1500 m and a straight segment dipping 40 degrees), dips
// measured on two of them, points on the detachment, the arc and the
// straight segment, then a little Gaussian noise.  The noise comes from
// std::mt19937_64 (a sequence the C++ standard fixes) through our own
// Box-Muller transform, so the files are the same on every run.
//
// The true model (metres, degrees; "Tip position is: (2) Final", detachment
// depth free):
//   final tip (2200, -1450) on the straight segment; slip 400; theta_max 40;
//   phi 30; P/S 1.5; s 1; rc 1500; detachment at y = -2000; growth stratum
//   deposited after 250 m of slip (growth slip 150).
// Then the arc's centre lies at (998.5, -500), the arc ends at (1962.7,
// -1649.1), and the initial tip lay on the arc 600 m of propagation back
// from the final one (about 310 m down the straight segment, then 290 m of
// arc), at the arc angle 28.9 degrees.
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
#include "foldquest/models/trishear_listric.hpp"
#include "foldquest/models/trishear_listric_run.hpp"

namespace fqtest::listric_example {

constexpr double kTipX = 2200, kTipY = -1450, kSlip = 400, kThetaMax = 40, kPhi = 30, kPoverS = 1.5, kS = 1,
                 kRc = 1500, kDecolY = -2000, kGrowthSlip = 150;
// The true model in the parameter order of the example's runs.
inline std::vector<double> true_model() {
  return {kTipX, kTipY, kSlip, kThetaMax, kPhi, kPoverS, kS, kRc, kDecolY, kGrowthSlip};
}

struct BedSpec {
  const char* name;
  double y0;
};
// "lower" lies between the detachment and the initial tip: carried over the
// arc; "middle" is folded ahead of the tip; "upper" lies above the arc's
// centre, where the flat meets the straight segment's hanging wall.
constexpr std::array<BedSpec, 3> kBeds{{{"lower", -1900.0}, {"middle", -1300.0}, {"upper", -400.0}}};
constexpr const char* kGrowthName = "growth1";
constexpr double kGrowthY0 = -200;  // elevation of the growth stratum when deposited
constexpr int kPointsPerBed = 30;
constexpr double kXStart = -500, kXEnd = 3500;  // before faulting
constexpr int kDipsPerBed = 10;
constexpr double kDipXStart = 0, kDipXEnd = 3000;  // before faulting
constexpr double kSigmaBed = 4, kSigmaDip = 2, kSigmaFault = 5;
constexpr double kNearFault = 40;  // no bed point or dip closer to the fault (m)
constexpr std::uint64_t kSeed = 20241208;
constexpr double kForwardIncrement = 0.5;

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

// The geometry of the true model, as a run builds it.
struct Geometry {
  fq::ListricGeometry g;

  Geometry() {
    fq::RunState st;
    st.options.tiptosolve = 2;
    st.fault.decoly_at_tipy = 0;
    if (!fq::listric_geometry(st, true_model(), g)) throw std::runtime_error("true model rejected");
  }

  // The tip after `slip_before` of the total slip: its arc angle (theta_max
  // on the straight segment) and position.
  std::pair<double, fq::Vec2> tip_after(double slip_before) const {
    const double th = g.end_angle(-(kSlip - slip_before));
    if (th < g.theta_max) return {th, {g.cc.x + g.rc * std::sin(th), g.cc.y - g.rc * std::cos(th)}};
    const double back = (kSlip - slip_before) * g.povers;
    return {g.theta_max,
            {g.tip_final.x - back * std::cos(g.theta_max), g.tip_final.y - back * std::sin(g.theta_max)}};
  }
  // Forward kernel for `slip` more from the tip after `slip_before`.
  fq::TrishearListric kernel(double slip_before, double slip) const {
    const auto [th, tip] = tip_after(slip_before);
    return fq::TrishearListric(kForwardIncrement, g.phi, g.m, slip, kForwardIncrement, g.povers, g.s, g.theta_max,
                               tip_after(slip_before + slip).first, th, tip, g.cc, g.rc);
  }
  std::vector<fq::Vec2> points(std::vector<fq::Vec2> pts, double slip_before, double slip) const {
    const fq::TrishearListric k = kernel(slip_before, slip);
    for (fq::Vec2& p : pts)
      if (fq::trishear_listric_point(k, p, nullptr) != fq::ListricStatus::ok)
        throw std::runtime_error("forward deformation failed");
    return pts;
  }
  // A horizontal dip at `pos` carried through the whole slip: position and
  // map dip in degrees, within [-90, 90].
  std::pair<fq::Vec2, double> dip(fq::Vec2 pos) const {
    double d = 0, sigma = 0;
    if (fq::trishear_listric_dip(kernel(0, kSlip), pos, d, sigma) != fq::ListricStatus::ok)
      throw std::runtime_error("forward deformation failed");
    d = d * 180 / fq::Constants::pi;
    while (d > 90) d -= 180;
    while (d < -90) d += 180;
    return {pos, d};
  }
};

// The file texts, by file name.
inline std::map<std::string, std::string> files() {
  const Geometry geo;
  const fq::ListricGeometry& g = geo.g;
  Noise rng(kSeed);
  std::map<std::string, std::string> out;

  auto horizontal = [&](double y0) {
    const double dx = (kXEnd - kXStart) / (kPointsPerBed - 1);
    std::vector<fq::Vec2> pts;
    for (int i = 0; i < kPointsPerBed; ++i) {
      const double jitter = (i == 0 || i == kPointsPerBed - 1) ? 0.0 : (rng.uniform() - 0.5) * 0.4 * dx;
      pts.push_back({kXStart + i * dx + jitter, y0});
    }
    return pts;
  };
  // Points closer to the fault than kNearFault are left out, as they would
  // be in the field: noise could put them on the wrong side of it.
  auto bed_lines = [&](const std::vector<fq::Vec2>& pts) {
    std::string text;
    for (const fq::Vec2 p : pts) {
      if (fq::fault_pt_dist_listric(p, g.thetat, g.cc, g.rc) < kNearFault) continue;
      const double nx = rng.normal(kSigmaBed);
      const double ny = rng.normal(kSigmaBed);
      text += point_line({p.x + nx, p.y + ny});
    }
    return text;
  };
  std::string& beds = out["beds.txt"];
  for (const BedSpec& b : kBeds) {
    beds += std::string("bed ") + b.name + "\n";
    beds += bed_lines(geo.points(horizontal(b.y0), 0, kSlip));
  }
  beds += std::string("growth ") + kGrowthName + "\n";
  beds += bed_lines(geo.points(horizontal(kGrowthY0), kSlip - kGrowthSlip, kGrowthSlip));

  // Dips on the lower and middle beds: a horizontal dip carried forward.
  std::string& dips = out["dips.txt"];
  for (std::size_t b = 0; b < 2; ++b) {
    for (int i = 0; i < kDipsPerBed; ++i) {
      const double x = kDipXStart + (kDipXEnd - kDipXStart) * i / (kDipsPerBed - 1);
      const auto [at, dip] = geo.dip({x, kBeds[b].y0});
      if (fq::fault_pt_dist_listric(at, g.thetat, g.cc, g.rc) < kNearFault) continue;
      const double nx = rng.normal(kSigmaBed);
      const double ny = rng.normal(kSigmaBed);
      const double nd = rng.normal(kSigmaDip);
      dips += fixed(at.x + nx, 2) + " " + fixed(at.y + ny, 2) + " " + fixed(dip + nd, 2) + "\n";
    }
  }

  // Fault points: three on the detachment, three on the arc, two on the
  // straight segment below the final tip.
  std::string& fault = out["faultpts.txt"];
  auto noisy = [&](fq::Vec2 p) {
    const double nx = rng.normal(kSigmaFault);
    const double ny = rng.normal(kSigmaFault);
    fault += point_line({p.x + nx, p.y + ny});
  };
  for (const double back : {800.0, 500.0, 200.0}) noisy({g.cc.x - back, g.cc.y - g.rc});
  for (const double th : {0.15, 0.35, 0.55}) noisy({g.cc.x + g.rc * std::sin(th), g.cc.y - g.rc * std::cos(th)});
  for (const double along : {100.0, 250.0})
    noisy({g.arc_end.x + along * std::cos(g.theta_max), g.arc_end.y + along * std::sin(g.theta_max)});
  return out;
}

}  // namespace fqtest::listric_example
