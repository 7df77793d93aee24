// Trishear over a ramp from a horizontal detachment: point and dip kernels.
//
// Notation (every length in data units, every angle in radians):
//   (zeta, eta)  position in the fault-tip frame relative to the CURRENT tip;
//                zeta along the ramp, positive up-dip, eta across it,
//                positive into the hanging wall.  The kernels return
//                positions relative to the tip at the START of the call.
//   S            signed slip applied so far to the point (starts at 0)
//   total        signed slip to apply; T = |total|
//   R            total - S, the signed slip still to apply
//   sign         +1 when v0 >= 0 (slip forwards), else -1 (backwards)
//   inc          signed slip of one zone step
//   m            tan(phi), slope of the zone boundaries eta = +-m zeta
//   P            povers: the tip advances P per unit slip along +zeta
//   delta        acute ramp angle; beta = delta / 2
//   zeta_b0      zeta of the bend relative to the tip at the start
//   zeta_b       zeta_b0 - S P, the bend relative to the current tip (the
//                bend is fixed, the tip moves)
//   t            tan((pi - delta)/2), slope of the axial surface
//                eta = (zeta - zeta_b) t, which bisects the hanging-wall
//                angle pi - delta between the ramp (direction (1, 0)) and
//                the detachment (direction (-cos delta, sin delta))
//   loc          the point's state: 0 unknown, 1 ramp hanging wall, 2 flat
//                hanging wall, 3 zone step next, 4 footwall
//   theta, sigma dip in the fault-tip frame (positive down towards +zeta)
//                and its one-sigma uncertainty
//
// Regions, relative to the current tip (loc 0 classifies in this order):
//   eta > 0 and eta >= m zeta (above the zone and the fault), and
//     eta <= (zeta - zeta_b) t                      ramp hanging wall (1)
//     else eta >= (zeta_b - zeta) tan delta         flat hanging wall (2)
//     (else the point lies below the detachment: next line)
//   zeta >= zeta_b and eta > -m zeta                zone (3)
//   anything else                                   footwall (4)
//
// Motion per unit slip relative to the current tip:
//   ramp hanging wall  (1 - P, 0)
//   flat hanging wall  (cos delta - P, -sin delta)
//   footwall           (-P, 0)
// The axial surface moves with the bend, -P along zeta per unit slip, so
// relative to it the ramp hanging wall moves (1, 0) and the flat hanging
// wall (cos delta, -sin delta); both have the same component cos beta
// across it, and material passes through it without gap or overlap.
// Slip forwards carries flat points across it onto the ramp; slip backwards
// carries ramp points across it onto the flat, and never the other way.
//
// The velocity jumps where a point crosses the axial surface, so the
// crossing shears the neighbourhood of the point: its covariance takes the
// crossing's Jacobian (cross_axial below), as a zone step's does.
//
// A dip that crosses the axial surface is refolded by the kink the crossing
// makes: material on the axial surface stays, and the velocity of one side
// becomes that of the other.  With
//   A(u) = atan(1 / (tan beta - sin u / (cos beta cos(beta + u))))
//          (plus pi when the arc tangent is negative)
//   G(u) = 4 sin u (sin(u + delta) - sin u)
//          / (2 cos 2u - 3 + cos delta - 2 cos(2u + delta))
// the maps are
//   flat to ramp  psi = theta - delta, theta' = theta - (pi - (pi/2 - beta - psi) - A(psi))
//   ramp to flat  theta' = pi - (pi/2 - beta + theta) - A(-theta) + theta
// and A'(u) = 1 - G(u), so the uncertainty factors |d theta'/d theta| are
//   flat to ramp  |1 - G(psi)|        ramp to flat  |1 - G(-theta)|.
// (The denominator of G is at most -2 (1 - sin beta)^2 < 0 for a ramp of
// at most 90 degrees, so G is finite.)
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "foldquest/state/run_state.hpp"
#include "foldquest/models/trishear_decol.hpp"
#include "foldquest/models/zone_lanes.hpp"

namespace fq {

namespace {

constexpr double pi = Constants::pi;
constexpr double half_pi = pi / 2;
constexpr double inf = std::numeric_limits<double>::infinity();
// Largest axial-surface tangent used as it is; above it (an axial surface
// within 1e-8 rad of perpendicular to the ramp) the perpendicular limit.
constexpr double kMaxTanBisect = 1e8;

// A(u), in [0, pi).
double kink_angle(double u, double beta) {
  const double a = std::atan(1 / (std::tan(beta) - std::sin(u) / (std::cos(beta) * std::cos(beta + u))));
  return a < 0 ? a + pi : a;
}

// G(u) = 1 - A'(u).
double kink_rate(double u, double delta) {
  return 4 * std::sin(u) * (std::sin(u + delta) - std::sin(u)) /
         (2 * std::cos(2 * u) - 3 + std::cos(delta) - 2 * std::cos(2 * u + delta));
}

}  // namespace

RefoldedDip refold_flat_to_ramp(double theta, double delta) {
  const double beta = delta / 2;
  const double psi = theta - delta;
  const double a = kink_angle(psi, beta);
  return {theta - (pi - (half_pi - beta - psi) - a), std::abs(1 - kink_rate(psi, delta))};
}

RefoldedDip refold_ramp_to_flat(double theta, double delta) {
  const double beta = delta / 2;
  const double a = kink_angle(-theta, beta);
  return {pi - (half_pi - beta + theta) - a + theta, std::abs(1 - kink_rate(-theta, delta))};
}

TrishearDecol::TrishearDecol(double v0, double m, double total_slip, double increment, double povers, double s,
                             double decol_zeta, double ramp_acute)
    : zone_(v0, m, increment, s),
      m_(m),
      total_slip_(total_slip),
      increment_(increment),
      povers_(povers),
      decol_zeta_(decol_zeta),
      delta_(ramp_acute) {
  abs_total_ = std::abs(total_slip);
  restoring_ = !(v0 >= 0);
  tip_advance_ = povers * increment;
  final_shift_ = total_slip * povers;
  const double steps = abs_total_ / std::abs(increment);
  step_count_ok_ = !(abs_total_ > 0) || steps < static_cast<double>(max_steps_per_point);
  // t = tan(max(delta, pi - delta)/2) with the run's pi.  That pi is above
  // the true one, so for delta within 9e-8 of 0 (a ramp parallel to the
  // detachment) the angle passes pi/2 and the tangent comes out hugely
  // negative, which would turn every side test over; a little above that
  // it is huge and positive, and placing a point on the axial surface
  // (eta = (zeta - zeta_b) t) would multiply the rounding of zeta by it.
  // Such an axial surface is perpendicular to the ramp to within 1e-8 rad:
  // t is taken as +infinity and every test below uses that limit.
  tan_bisect_ = std::tan(0.5 * std::max(ramp_acute, pi - ramp_acute));
  perpendicular_ = !(tan_bisect_ > 0 && tan_bisect_ <= kMaxTanBisect);
  if (perpendicular_) tan_bisect_ = inf;
  tan_delta_ = std::tan(ramp_acute);
  sin_delta_ = std::sin(ramp_acute);
  cos_delta_ = std::cos(ramp_acute);
  flat_to_axial_ = tan_bisect_ * cos_delta_ + sin_delta_;
  ramp_minus_flat_ = {1 - cos_delta_, sin_delta_};
}

namespace {

using zone::CovCarry;
using zone::DipCarry;
using zone::Next;
using zone::NoCarry;

enum class Loc { unknown = 0, ramp_hw = 1, flat_hw = 2, zone = 3, footwall = 4 };

// One point's working state.
struct DecolState {
  double zeta, eta;  // relative to the current tip
  double slip = 0;   // S
  Loc loc = Loc::unknown;
  int idle = 0;      // passes in a row that took no slip
};

// A step that a rule computes, turned towards the remaining slip `rem`: of
// the sign of rem and at most |rem|.  A step of the other sign (a point a
// rounding error on the wrong side of a boundary) or NaN becomes 0; the
// state the rule sets then moves the point on.
double toward(double step, double rem) {
  if (rem > 0) return step > 0 ? std::min(step, rem) : 0.0;
  if (rem < 0) return step < 0 ? std::max(step, rem) : 0.0;
  return 0.0;
}

}  // namespace

struct TrishearDecolKernel {
  // eta <= (zeta - zeta_b) t, with u = zeta - zeta_b; for t infinite the
  // side of zeta = zeta_b.
  static bool ramp_side(const TrishearDecol& k, double u, double eta) {
    if (k.perpendicular_) return u > 0 || (u == 0 && eta <= 0);
    return eta <= u * k.tan_bisect_;
  }

  // eta > (zeta - zeta_b) t: strictly behind the axial surface.
  static bool flat_side(const TrishearDecol& k, double u, double eta) {
    if (k.perpendicular_) return u < 0 || (u == 0 && eta > 0);
    return eta > u * k.tan_bisect_;
  }

  // A point that reaches the axial surface after S(p) of slip and then
  // moves with the other side ends at p + S(p) w + (terms independent of p),
  // w = v_before - v_after, so the crossing's Jacobian is
  //   J = I + w grad(S)^T
  // (determinant 1: the kink neither gains nor loses area), and C := J C J^T.
  static void cross_axial(Mat2& c, Vec2 w, Vec2 grad) {
    const Mat2 j{1 + w.x * grad.x, w.x * grad.y, w.y * grad.x, 1 + w.y * grad.y};
    c = (j * c) * transpose(j);
  }

  static Loc classify(const TrishearDecol& k, double zeta, double eta, double zeta_b) {
    const double m = k.m_;
    if (eta > 0 && eta >= m * zeta) {
      if (ramp_side(k, zeta - zeta_b, eta)) return Loc::ramp_hw;
      // Above the detachment eta = (zeta_b - zeta) tan delta: the flat.
      if (!(eta < (zeta_b - zeta) * k.tan_delta_)) return Loc::flat_hw;
    }
    if (zeta >= zeta_b && eta > -(m * zeta)) return Loc::zone;
    return Loc::footwall;
  }

  // Moves the point by every rule but the zone step until its next step is
  // a zone step (Next::zone, that pass not yet counted), its slip is done,
  // or it stalls (Next::failed).  `passes` counts every pass, zone steps
  // included.
  template <class Carry>
  static Next advance(const TrishearDecol& k, DecolState& st, std::int64_t& passes, Carry carry) {
    const double m = k.m_, P = k.povers_, total = k.total_slip_, inc = k.increment_;
    const double t = k.tan_bisect_, cd = k.cos_delta_, sd = k.sin_delta_;
    double& zeta = st.zeta;
    double& eta = st.eta;
    Loc& loc = st.loc;
    while (std::abs(st.slip) < k.abs_total_) {
      if (++passes > kMaxDecolPasses) return Next::failed;
      const double rem = total - st.slip;                 // R
      const double zeta_b = k.decol_zeta_ - st.slip * P;  // the bend, relative to the tip
      if (loc == Loc::unknown) loc = classify(k, zeta, eta, zeta_b);
      if (loc == Loc::zone && zeta > 0 && k.zone_.defined()) {
        --passes;  // counted by the zone step itself
        return Next::zone;
      }
      double step = 0;
      switch (loc) {
        case Loc::ramp_hw:
          if (!k.restoring_) {
            // Forwards the point moves away from the axial surface.  The
            // upper boundary reaches it unless (zeta + R (1 - P)) m < eta,
            // after (eta/m - zeta) / (1 - P).
            if ((rem * (1 - P) + zeta) * m < eta) {
              step = rem;
            } else {
              step = toward((eta / m - zeta) / (1 - P), rem);
              loc = Loc::zone;
            }
          } else {
            // Backwards: the axial surface is reached after
            //   S_bis = zeta_b + eta/t - zeta       (zeta_b - zeta for t infinite)
            // and, only when the tip retreats faster than the hanging wall
            // (P > 1), the upper boundary after
            //   S_tri = (eta/m - zeta) / (1 - P).
            // Slips are negative here: the larger value comes first.
            const double s_bis = k.perpendicular_ ? zeta_b - zeta : zeta_b + eta / t - zeta;
            const double s_tri = P > 1 ? (eta / m - zeta) / (1 - P) : -inf;
            if (P > 1 && s_tri > s_bis && s_tri > rem) {
              step = toward(s_tri, rem);
              loc = Loc::zone;
            } else if (s_bis <= rem) {
              step = rem;
            } else {
              step = toward(s_bis, rem);
              loc = Loc::flat_hw;
              if constexpr (std::is_same_v<Carry, CovCarry>) {
                // grad S_bis = (-1, 1/t); the point then moves with the flat.
                const Vec2 grad = k.perpendicular_ ? Vec2{-1, 0} : Vec2{-1, 1 / t};
                cross_axial(*carry.c, k.ramp_minus_flat_, grad);
              }
              if constexpr (std::is_same_v<Carry, DipCarry>) {
                const RefoldedDip r = refold_ramp_to_flat(*carry.theta, k.delta_);
                *carry.theta = r.theta;
                *carry.sigma = *carry.sigma * r.factor;
              }
            }
          }
          zeta += step - step * P;
          break;

        case Loc::flat_hw: {
          // Backwards the flat carries the point away from the axial
          // surface: the whole remaining slip.  Forwards it stays behind the
          // axial surface while eta - R sin delta > (zeta + R cos delta - zeta_b) t;
          // else it reaches it after
          //   (eta - (zeta - zeta_b) t) / (t cos delta + sin delta)
          // (-(zeta - zeta_b) / cos delta for t infinite) and is placed on it
          // exactly: eta = (zeta - zeta_b') t with the bend zeta_b' after the
          // step (for t infinite: zeta = zeta_b', eta kept).
          const double u = zeta - zeta_b;
          if (k.restoring_ || flat_side(k, u + rem * cd, eta - rem * sd)) {
            step = rem;
            zeta += rem * cd - rem * P;
            eta -= rem * sd;
          } else {
            const double to_axial = k.perpendicular_ ? -u / cd : (eta - u * t) / k.flat_to_axial_;
            step = toward(to_axial, rem);
            zeta += step * cd - step * P;
            const double zeta_b1 = zeta_b - step * P;
            if (k.perpendicular_) {
              zeta = zeta_b1;
            } else {
              eta = (zeta - zeta_b1) * t;
            }
            loc = Loc::ramp_hw;
            if constexpr (std::is_same_v<Carry, CovCarry>) {
              // grad S = (-t, 1) / (t cos delta + sin delta) ((-1/cos delta, 0)
              // for t infinite); the point then moves with the ramp.
              const Vec2 grad = k.perpendicular_ ? Vec2{-1 / cd, 0}
                                                 : Vec2{-t / k.flat_to_axial_, 1 / k.flat_to_axial_};
              const Vec2 flat_minus_ramp{-k.ramp_minus_flat_.x, -k.ramp_minus_flat_.y};
              cross_axial(*carry.c, flat_minus_ramp, grad);
            }
            if constexpr (std::is_same_v<Carry, DipCarry>) {
              const RefoldedDip r = refold_flat_to_ramp(*carry.theta, k.delta_);
              *carry.theta = r.theta;
              *carry.sigma = *carry.sigma * r.factor;
            }
          }
          break;
        }

        case Loc::footwall: {
          // The footwall is fixed; the tip moves P per unit slip.  Backwards
          // the retreating zone's lower boundary reaches a point ahead of
          // the tip unless eta <= -(zeta' m), zeta' = zeta - R P; it does so
          // after (eta/m + zeta) / P.
          const double zeta1 = zeta - rem * P;
          if (!k.restoring_ || zeta1 <= 0 || eta <= -(zeta1 * m)) {
            step = rem;
            zeta = zeta1;
          } else {
            step = toward((eta / m + zeta) / P, rem);
            zeta -= step * P;
            loc = Loc::zone;
          }
          break;
        }

        case Loc::zone:
          // No field here (at or behind the tip, or m <= 0, s <= 0; the
          // zone step proper is zone_step below): one increment (at most R)
          // rigidly with the side the point lies on.
          step = std::abs(rem) < std::abs(inc) ? rem : inc;
          if (eta > 0) {
            zeta += step - P * step;
          } else {
            zeta -= P * step;
          }
          loc = Loc::unknown;
          break;

        case Loc::unknown:
          break;  // classified above
      }
      const double before = st.slip;
      st.slip += step;
      if (st.slip == before) {
        if (++st.idle > kMaxIdlePasses) return Next::failed;
      } else {
        st.idle = 0;
      }
    }
    return Next::done;
  }

  // One explicit step of a whole increment (even when less slip remains)
  // through the straight ramp's field, relative to the advancing tip.
  template <class Carry>
  static void zone_step(const TrishearDecol& k, DecolState& st, Carry carry) {
    const Vec2 at{st.zeta, st.eta};
    const Vec2 d = zone::zone_displacement(k.zone_, at, carry);
    st.zeta += d.x - k.tip_advance_;
    st.eta += d.y;
    st.slip += k.increment_;  // a whole increment always changes the slip (see step_count_ok_)
    st.loc = Loc::unknown;
    st.idle = 0;
  }

  template <class Carry>
  static DecolStatus move(const TrishearDecol& k, Vec2& p, Carry carry) {
    if (!k.step_count_ok_) return fail(p, carry, DecolStatus::too_many_steps);
    DecolState st{p.x, p.y};
    std::int64_t passes = 0;
    for (;;) {
      const Next next = advance(k, st, passes, carry);
      if (next == Next::failed) return fail(p, carry, DecolStatus::stalled);
      if (next == Next::done) break;
      if (++passes > kMaxDecolPasses) return fail(p, carry, DecolStatus::stalled);
      zone_step(k, st, carry);
    }
    // Back to the frame of the tip at the start of the call, with the
    // nominal slip (not the accumulated one).
    p = {st.zeta + k.final_shift_, st.eta};
    return DecolStatus::ok;
  }

  template <class Carry>
  static DecolStatus fail(Vec2& p, Carry carry, DecolStatus why) {
    zone::set_failed(p, carry);
    return why;
  }
};

// The detachment's state machine for the batched zone step (see
// zone_lanes.hpp).  After a zone step the point is classified afresh, so
// the lanes need no flags.
struct TrishearDecolLanes : zone::ClassifiedAfresh<DecolState> {
  using Constants = TrishearDecol;

  static const TrishearZone& zone(const TrishearDecol& k) { return k.zone_; }
  static double tip_advance(const TrishearDecol& k) { return k.tip_advance_; }
  static std::int64_t max_passes(const TrishearDecol&) { return kMaxDecolPasses; }
  // TrishearDecolKernel::classify gives the zone (and zeta > 0), without
  // branches: the bend zeta_b moves with the point's slip.
  [[gnu::always_inline]] static bool in_zone(const TrishearDecol& k, double zn, double en, double slip, const B&,
                                             int) {
    const double m = k.m_;
    const double zeta_b = k.decol_zeta_ - slip * k.povers_;
    const double u = zn - zeta_b;
    const bool ramp_perpendicular = (u > 0) | ((u == 0) & (en <= 0));
    const bool ramp_inclined = en <= u * k.tan_bisect_;
    const bool ramp = k.perpendicular_ ? ramp_perpendicular : ramp_inclined;
    const bool above = (en > 0) & (en >= m * zn);
    const bool hanging_wall = above & (ramp | !(en < (zeta_b - zn) * k.tan_delta_));
    return (std::abs(slip) < k.abs_total_) & !hanging_wall & (zn >= zeta_b) & (en > -(m * zn)) & (zn > 0);
  }
  template <class Carry>
  static Next advance(const TrishearDecol& k, State& st, std::int64_t& passes, Carry carry) {
    return TrishearDecolKernel::advance(k, st, passes, carry);
  }
  static Vec2 finish(const TrishearDecol& k, const State& st) { return {st.zeta + k.final_shift_, st.eta}; }

  static bool applies(const TrishearDecol& k, std::size_t npoints) {
    return k.step_count_ok_ && zone::batch_worthwhile(k.zone_, npoints);
  }
  // The lanes report a failure as false: a stalled point (the step count
  // was checked before).
  static DecolStatus status(bool ok) { return ok ? DecolStatus::ok : DecolStatus::stalled; }
};

using DecolLanes = zone::Lanes<TrishearDecolLanes>;

namespace {
DecolStatus first_failure(DecolStatus so_far, DecolStatus next) {
  return so_far == DecolStatus::ok ? next : so_far;
}
}  // namespace

DecolStatus trishear_decol_point(const TrishearDecol& k, Vec2& p, Mat2* cov) {
  if (cov != nullptr) return TrishearDecolKernel::move(k, p, CovCarry{cov});
  return TrishearDecolKernel::move(k, p, NoCarry{});
}

DecolStatus trishear_decol_dip(const TrishearDecol& k, Vec2& pos, double& theta, double& sigma) {
  return TrishearDecolKernel::move(k, pos, DipCarry{&theta, &sigma});
}

DecolStatus trishear_func_decol(const TrishearDecol& k, std::span<Vec2> ptsze, std::span<Mat2> cbed) {
  if (!cbed.empty() && cbed.size() != ptsze.size()) {
    throw std::invalid_argument("trishear_func_decol: one covariance per point needed");
  }
  if (TrishearDecolLanes::applies(k, ptsze.size())) {
    const zone::Data d{ptsze, cbed, {}, {}};
    return TrishearDecolLanes::status(cbed.empty() ? DecolLanes::run<zone::Kind::points>(k, d)
                                                   : DecolLanes::run<zone::Kind::covariances>(k, d));
  }
  DecolStatus status = DecolStatus::ok;
  if (cbed.empty()) {
    for (Vec2& p : ptsze) status = first_failure(status, TrishearDecolKernel::move(k, p, NoCarry{}));
    return status;
  }
  for (std::size_t i = 0; i < ptsze.size(); ++i) {
    status = first_failure(status, TrishearDecolKernel::move(k, ptsze[i], CovCarry{&cbed[i]}));
  }
  return status;
}

DecolStatus trishear_func_decol(std::span<Vec2> ptsze, double v0, double m, double total_slip, double increment,
                                double povers, double s, double decol_zeta, double ramp_acute,
                                std::span<Mat2> cbed) {
  return trishear_func_decol(TrishearDecol(v0, m, total_slip, increment, povers, s, decol_zeta, ramp_acute), ptsze,
                             cbed);
}

DecolStatus trishear_func_dip_decol(const TrishearDecol& k, std::span<Vec2> dipposze, std::span<double> dipsze,
                                    std::span<double> sigma_dip_array) {
  if (dipsze.size() != dipposze.size() || sigma_dip_array.size() != dipposze.size()) {
    throw std::invalid_argument("trishear_func_dip_decol: positions, dips and uncertainties differ in count");
  }
  if (TrishearDecolLanes::applies(k, dipposze.size())) {
    return TrishearDecolLanes::status(
        DecolLanes::run<zone::Kind::dips>(k, {dipposze, {}, dipsze, sigma_dip_array}));
  }
  DecolStatus status = DecolStatus::ok;
  for (std::size_t i = 0; i < dipposze.size(); ++i) {
    status = first_failure(status,
                           TrishearDecolKernel::move(k, dipposze[i], DipCarry{&dipsze[i], &sigma_dip_array[i]}));
  }
  return status;
}

DecolStatus trishear_func_dip_decol(std::span<Vec2> dipposze, std::span<double> dipsze, double v0, double m,
                                    double total_slip, double increment, double povers, double s,
                                    double decol_zeta, double ramp_acute, std::span<double> sigma_dip_array) {
  return trishear_func_dip_decol(TrishearDecol(v0, m, total_slip, increment, povers, s, decol_zeta, ramp_acute),
                                 dipposze, dipsze, sigma_dip_array);
}

}  // namespace fq
