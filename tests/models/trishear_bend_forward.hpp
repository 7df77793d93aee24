// Forward deformation over a fault with a bend, for tests and the example's
// data: material in its state before faulting is carried forward with the
// bend kernels from a known initial tip, exactly as the model run carries
// the data backward.
#pragma once

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

#include "foldquest/state/run_state.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/trishear_bend.hpp"
#include "foldquest/models/trishear_bend_run.hpp"

namespace fqtest {

// A bend model given by its initial tip.
struct BendTruth {
  double init_x = 0, init_y = 0;  // initial tip
  double slip = 6;
  double a1_deg = 40, phi_deg = 30, povers = 1.5, s = 1.5, a2_deg = 25;
  double bendy = 0;
};

class ForwardBend {
 public:
  ForwardBend(const BendTruth& t, double inc) : t_(t), inc_(inc) {
    constexpr double pi = fq::Constants::pi;
    fault_.a1 = t.a1_deg * pi / 180;
    fault_.a2 = t.a2_deg * pi / 180;
    ramp_dir_ = fault_.a1 > pi / 2 ? -1 : 1;
    acute_ = {std::min(fault_.a1, pi - fault_.a1), std::min(fault_.a2, pi - fault_.a2)};
    m_ = std::tan(t.phi_deg * pi / 180);
    init_ = {t.init_x, t.init_y, t.init_y < t.bendy ? 2 : 1};
    fault_.bendy = t.bendy;
    fault_.bendx = t.init_y == t.bendy ? t.init_x
                                       : t.init_x - (t.init_y - t.bendy) / std::tan(init_.segment == 1 ? fault_.a1
                                                                                                     : fault_.a2);
  }

  const fq::BendFault& fault() const { return fault_; }
  fq::TipOnFault tip_after(double slip) const { return fq::bend_tip_forward(fault_, init_, slip * t_.povers); }
  fq::TipOnFault final_tip() const { return tip_after(t_.slip); }

  // Points in their state before faulting (or at deposition, after
  // `slip_before` of the slip), carried through `slip` more.
  std::vector<fq::Vec2> points(std::vector<fq::Vec2> pts, double slip_before, double slip) const {
    const fq::TipOnFault tip0 = tip_after(slip_before);
    const fq::TipFrame start = frame(tip0, tip0.segment);
    const fq::TrishearBend k = kernel(tip0, start, slip);
    for (fq::Vec2& p : pts) p = start.to_ze(p);
    if (!fq::trishear_func_bend(k, pts, {})) throw std::runtime_error("forward bend kernel failed");
    const fq::TipFrame end = frame(tip_after(slip_before + slip), k.end_segment());
    for (fq::Vec2& p : pts) p = end.to_xy(p);
    return pts;
  }

  // A horizontal dip at `pos` before faulting, deformed by the whole slip:
  // its position and map dip (radians, positive down to the right).
  std::pair<fq::Vec2, double> dip(fq::Vec2 pos) const {
    const fq::TipFrame start = frame(init_, init_.segment);
    const fq::TrishearBend k = kernel(init_, start, t_.slip);
    fq::Vec2 p = start.to_ze(pos);
    double theta = acute_of(init_.segment), sigma = 0;
    if (!fq::trishear_bend_dip(k, p, theta, sigma)) throw std::runtime_error("forward bend dip kernel failed");
    const fq::TipFrame end = frame(final_tip(), k.end_segment());
    return {end.to_xy(p), (theta - acute_of(k.end_segment())) * ramp_dir_};
  }

 private:
  double acute_of(int seg) const { return acute_[static_cast<std::size_t>(seg - 1)]; }
  fq::TipFrame frame(const fq::TipOnFault& tip, int seg) const {
    return fq::TipFrame(tip.x, tip.y, acute_of(seg), ramp_dir_);
  }
  fq::TrishearBend kernel(const fq::TipOnFault& tip0, const fq::TipFrame& start, double slip) const {
    const fq::Vec2 bendze = start.to_ze({fault_.bendx, fault_.bendy});
    return fq::TrishearBend(inc_, m_, slip, inc_, t_.povers, t_.s, bendze, acute_[0], acute_[1], tip0.segment);
  }

  BendTruth t_;
  double inc_;
  fq::BendFault fault_;
  fq::TipOnFault init_;
  int ramp_dir_ = 1;
  std::array<double, 2> acute_{};
  double m_ = 0;
};

}  // namespace fqtest
