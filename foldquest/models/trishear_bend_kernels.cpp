// Trishear over a fault with a bend: point and dip kernels.
//
// Notation (every length in data units, every angle in radians):
//   (zeta, eta)  position relative to the CURRENT tip, in the frame of the
//                segment the tip lies on: zeta up-dip along it, eta into the
//                hanging wall
//   seg          the tip's segment: 1 above the bend, 2 below it
//   delta(k)     acute dip of segment k; d = delta(1) - delta(2) >= 0,
//                h = d/2
//   zb           the bend's zeta relative to the moving tip (on the zeta
//                axis): zb <= 0 on segment 1 (the bend behind the tip),
//                zb > 0 on segment 2 (ahead)
//   tb           tan((pi - d)/2), the slope of the bisector through the bend
//                that halves the hanging-wall angle pi - d; on segment 1 the
//                bisector is eta = (zeta - zb) tb
//   P            povers: the tip advances P along +zeta per unit slip
//   sign         slip_sign: +1 deforming (v0 >= 0), -1 restoring
//   Q            magnitude of the slip piece; S the signed slip applied to
//                the point in the piece; rem = Q sign - S
//   r            the signed slip of one move
//   m, s, v0, increment  the zone's slope, exponent, velocity scale, step
//   theta, sigma dip in the fault-tip frame and its uncertainty
//
// Slip pieces.  When the tip moves towards the bend (deforming on segment
// 2, restoring on segment 1) and the bend lies within reach (its distance
// dist <= |total| P, or within kBendReachTolerance of it), the slip is taken
// in two pieces: dist/P, which brings the tip to the bend, and the rest.
// Between them every point, covariance and dip is turned into the frame of
// the new segment (seg - sign): the point by rot2d(delta(old) - delta(new)),
// C := R C R^T, theta += delta(new) - delta(old); the bend is then at the
// tip (zb0 = 0).  Each piece restarts every point at state 0 and S = 0.
//
// States of a point (one pass of the loop applies one rule):
//   0 classify      choose a rule below and apply it in the same pass
//   1 hanging wall  of the tip's segment: moves 1 per unit slip along zeta
//   2 other segment hanging wall behind the bisector (segment 2's, seen
//                   from segment 1): moves (cos d, -sin d) per unit slip
//   3 zone          one trishear step of a whole increment, then state 0
//   4 footwall      does not move (zeta changes by the tip's advance only)
// Classification, in this order:
//   hanging wall    eta > 0, eta >= m zeta, and on segment 1 ahead of the
//                   bisector: (zeta - zb) tb >= eta
//   on segment 1:   other segment when eta >= (zb - zeta) tan d, eta >= m zeta,
//                   eta > 0; else footwall when zeta < zb
//   otherwise       zone when eta > -(m zeta), else footwall
//
// Crossing the bisector.  Relative to the bisector (which moves with the
// bend, -P along zeta per unit slip) the tip segment's hanging wall moves
// (1, 0) per unit slip and the other segment's (cos d, -sin d).  A point
// that reaches the bisector after S(p) of slip and then moves with the other
// side ends at p + S(p) w + (terms independent of p), w = v_before -
// v_after, so the crossing's Jacobian is
//   J = I + w grad(S)^T        (determinant 1)
// and the point's covariance becomes J C J^T there, as at a zone step:
//   restoring, into the other segment:  S = zb + eta/tb - zeta,
//     grad S = (-1, 1/tb), w = (1 - cos d, sin d)
//   deforming, onto the tip segment:    S = (eta - (zeta - zb) tb)/(tb cos d + sin d),
//     grad S = (-tb, 1)/(tb cos d + sin d), w = -(1 - cos d, sin d)
// with the limits grad S = (-1, 0) and (-1/cos d, 0) for parallel segments
// (where a point deformed onto the bisector keeps its eta, so that w there
// is (cos d - 1, 0)).
//
// Parallel segments (d = 0, or a d so small, below about 1e-7, that the
// bisector's tangent computed with the run's pi is negative or above 1e8):
// every bisector
// test takes its limit tb -> +infinity.  The bisector is the line
// zeta = zb; "ahead" is zeta > zb; the slip to it is zb - zeta; a point
// that reaches it lands at zeta = zb and keeps its eta.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "foldquest/state/run_state.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/trishear_bend.hpp"
#include "foldquest/models/zone_lanes.hpp"

namespace fq {

namespace {

constexpr double pi = Constants::pi;

// Bisector tangents above this are taken as parallel segments (see the
// constructor of TrishearBend).
constexpr double kBendMaxTanBisect = 1e8;

}  // namespace

// A(u) = atan(1/(tan h - sin u/(cos h cos(h + u)))), wrapped into [0, pi).
double bend_kink_a(double u, double d) {
  const double h = d / 2;
  const double a = std::atan(1 / (std::tan(h) - std::sin(u) / (std::cos(h) * std::cos(h + u))));
  return a < 0 ? a + pi : a;
}

// G(u) = 4 sin u (sin(u + d) - sin u) / (2 cos 2u - 3 + cos d - 2 cos(2u + d)).
// The denominator is at most -2 (1 - sin h)^2 < 0 for d < pi.
double bend_kink_g(double u, double d) {
  return 4 * std::sin(u) * (std::sin(u + d) - std::sin(u)) /
         (2 * std::cos(2 * u) - 3 + std::cos(d) - 2 * std::cos(2 * u + d));
}

// Restoring across the bisector (tip segment -> other segment):
//   u = -theta,  theta' = pi/2 + h - A(u),  sigma' = sigma |1 - G(u)|.
// d theta'/d theta = A'(u) = 1 - G(u).
DipKink bend_kink_into_other(double theta, double d) {
  const double u = -theta;
  return {pi / 2 + d / 2 - bend_kink_a(u, d), std::abs(1 - bend_kink_g(u, d))};
}

// Deforming across the bisector (other segment -> tip segment):
//   u = theta - d,  theta' = A(u) + h - pi/2,  sigma' = sigma |1 - G(u)|.
// d theta'/d theta = A'(u) = 1 - G(u).  (The two maps are inverse to each
// other, as the two crossings are.)
DipKink bend_kink_onto_tip_segment(double theta, double d) {
  const double u = theta - d;
  return {bend_kink_a(u, d) + d / 2 - pi / 2, std::abs(1 - bend_kink_g(u, d))};
}

TrishearBend::TrishearBend(double v0, double m, double total_slip, double increment, double povers, double s,
                           Vec2 bendze, double ramp_acute1, double ramp_acute2, int start_segment)
    : zone_(v0, m, increment, s), m_(m), increment_(increment), povers_(povers), ramp_angle_{ramp_acute1, ramp_acute2} {
  // d = delta(1) - delta(2); the bisector's angle max(|d|, pi - |d|)/2.
  d_ = ramp_acute1 - ramp_acute2;
  h_ = d_ / 2;
  const double ad = std::abs(d_);
  tan_bisect_ = std::tan(std::max(ad, pi - ad) / 2);
  tan_diff_ = std::tan(d_);
  sin_diff_ = std::sin(d_);
  cos_diff_ = std::cos(d_);
  // With d = 0 the angle is the run's pi/2, a little above a right angle,
  // and its tangent a large negative number: take the limit instead.  So
  // also for a d within about 1e-7 of 0, where the tangent passes through
  // its pole and placing a point on the bisector, eta = (zeta - zb) tb,
  // would magnify the rounding of zeta by tb.
  parallel_ = !(tan_bisect_ > 0) || !(tan_bisect_ <= kBendMaxTanBisect);

  restoring_ = v0 < 0;
  sign_ = restoring_ ? -1.0 : 1.0;
  tip_advance_ = povers * increment;

  const double T = std::abs(total_slip);
  // A zone point needs about T / |increment| steps; refuse the call beyond
  // the straight ramp's limit (an increment of 0, or absurdly small).
  step_count_ok_ = !(T > 0) || T / std::abs(increment) < static_cast<double>(max_steps_per_point);

  int seg = start_segment;
  if (seg != 1 && seg != 2) seg = bendze.x <= 0 ? 1 : 2;

  // The tip moves towards the bend when deforming on segment 2 or
  // restoring on segment 1.  It reaches the bend when dist <= T P, or when
  // dist exceeds T P by no more than the tolerance (a tie decided by
  // rounding).  The first piece takes the tip to the bend (at most the
  // whole slip); a piece below the tolerance is empty, so that the number
  // of whole zone steps does not hang on the last bit of dist / P.  The
  // turn into the new segment's frame happens even when a piece is empty.
  const bool towards = (!restoring_ && seg == 2) || (restoring_ && seg == 1);
  const double dist = std::sqrt(bendze.x * bendze.x + bendze.y * bendze.y);
  const double reach = T * povers;
  const bool reaches = T > 0 && (dist <= reach || std::abs(dist - reach) <= kBendReachTolerance * reach);
  const double empty_below = kBendReachTolerance * T;
  pieces_[0] = {seg, bendze.x, T, 0};
  if (towards && reaches) {
    double q1 = dist > 0 && povers > 0 ? std::min(dist / povers, T) : 0.0;
    if (q1 < empty_below) q1 = 0;
    double q2 = T - q1;
    if (q2 < empty_below) q2 = 0;
    pieces_[0].slip = q1;
    pieces_[1] = {seg == 1 ? 2 : 1, 0.0, q2, 0};
    npieces_ = 2;
  }
  // Pass limit of one point in each piece (see kBendPassesPerStep).
  for (int k = 0; k < npieces_; ++k) {
    BendPiece& pc = pieces_[static_cast<std::size_t>(k)];
    double steps = 0;
    if (step_count_ok_ && pc.slip > 0) steps = std::ceil(pc.slip / std::abs(increment));
    // steps < max_steps_per_point here, so the conversion is exact and safe.
    pc.max_passes = kBendPassesPerStep * (static_cast<std::int64_t>(steps) + 1) + kBendExtraPasses;
  }
}

namespace {

using zone::CovCarry;
using zone::DipCarry;
using zone::Next;
using zone::NoCarry;

enum class BendState { classify = 0, hanging_wall = 1, other_segment = 2, zone = 3, footwall = 4 };

// One point's working state within a piece.
struct BendPointState {
  double zeta, eta;  // relative to the current tip
  double slip = 0;   // S, the signed slip of the piece applied so far
  BendState state = BendState::classify;
};

}  // namespace

struct TrishearBendKernel {
  const TrishearBend& k;

  // A move's slip r, kept between 0 and rem in the sense of the slip: in
  // exact arithmetic every rule's r lies there; rounding at a boundary may
  // put it a hair outside, which must not run the slip backwards.  A NaN
  // (0/0: the point is already on the boundary) counts as 0.
  double clamp(double r, double rem) const {
    if (!(r * k.sign_ > 0)) return 0.0;
    return std::abs(r) > std::abs(rem) ? rem : r;
  }

  // Ahead of (or on) the bisector, on segment 1: (zeta - zb) tb >= eta;
  // for parallel segments the limit zeta > zb (eta > 0 here).
  bool ahead_of_bisector(double zeta, double eta, double zb) const {
    if (k.parallel_) return zeta > zb;
    return (zeta - zb) * k.tan_bisect_ >= eta;
  }

  // C := J C J^T with J = I + w grad^T, the Jacobian of a crossing of the
  // bisector (see the notes at the top).
  static void cross_bisector(Mat2& c, Vec2 w, Vec2 grad) {
    const Mat2 j{1 + w.x * grad.x, w.x * grad.y, w.y * grad.x, 1 + w.y * grad.y};
    c = (j * c) * transpose(j);
  }

  BendState classify(int seg, double zeta, double eta, double zb) const {
    const double m = k.m_;
    if (eta > 0 && eta >= m * zeta && (seg == 2 || ahead_of_bisector(zeta, eta, zb))) return BendState::hanging_wall;
    if (seg == 1) {
      if (eta >= (zb - zeta) * k.tan_diff_ && eta >= m * zeta && eta > 0) return BendState::other_segment;
      if (zeta < zb) return BendState::footwall;
    }
    if (eta > -(m * zeta)) return BendState::zone;
    return BendState::footwall;
  }

  // Moves the point by every rule of the piece but the zone step until its
  // next step is a zone step (Next::zone, that pass not yet counted), the
  // piece's slip is done, or the pass limit is reached (Next::failed).
  template <class Carry>
  Next advance(const BendPiece& pc, BendPointState& st, std::int64_t& passes, Carry carry) const {
    const double P = k.povers_, m = k.m_, inc = k.increment_, Q = pc.slip, tb = k.tan_bisect_;
    const int seg = pc.segment;
    double& zeta = st.zeta;
    double& eta = st.eta;
    double& S = st.slip;
    BendState& state = st.state;
    while (std::abs(S) < Q) {
      if (++passes > pc.max_passes) return Next::failed;
      const double zb = pc.zb0 - S * P;
      const double rem = Q * k.sign_ - S;
      const BendState rule = state == BendState::classify ? classify(seg, zeta, eta, zb) : state;
      if (rule == BendState::zone && zeta > 0 && k.zone_.defined()) {
        --passes;  // counted by the zone step itself
        return Next::zone;
      }
      double r = 0;
      switch (rule) {
        case BendState::classify:  // not a rule; classify() never returns it
        case BendState::hanging_wall:
          if (!k.restoring_) {
            // The hanging wall gains 1 - P per unit slip on the tip; the
            // upper boundary eta = m zeta reaches the point first when
            // eta < (zeta + rem (1 - P)) m, after r = (eta/m - zeta)/(1 - P).
            if (eta < (zeta + rem * (1 - P)) * m) {
              r = clamp((eta / m - zeta) / (1 - P), rem);
              state = BendState::zone;
            } else {
              r = rem;
              state = BendState::hanging_wall;
            }
          } else {
            // rt: slip to the upper boundary (met only when P > 1: the tip
            // retreats faster than the rock); rb: slip to the bisector,
            //   rt = (eta/m - zeta)/(1 - P),   rb = zb + eta/tb - zeta.
            // On segment 2 the bend lies ahead and no bisector is met, so
            // rb takes no part.
            const double rt = (eta / m - zeta) / (1 - P);
            const double rb = k.parallel_ ? zb - zeta : zb + eta / tb - zeta;
            if (rt > rem && (seg == 2 || rt > rb) && P > 1) {
              r = clamp(rt, rem);
              state = BendState::zone;
            } else if (seg == 1 && rb > rem) {
              r = clamp(rb, rem);
              state = BendState::other_segment;
              if constexpr (std::is_same_v<Carry, CovCarry>) {
                const Vec2 grad = k.parallel_ ? Vec2{-1, 0} : Vec2{-1, 1 / tb};
                cross_bisector(*carry.c, {1 - k.cos_diff_, k.sin_diff_}, grad);
              }
              if constexpr (std::is_same_v<Carry, DipCarry>) {
                const DipKink kink = bend_kink_into_other(*carry.theta, k.d_);
                *carry.theta = kink.theta;
                *carry.sigma *= kink.factor;
              }
            } else {
              r = rem;
              state = BendState::hanging_wall;
            }
          }
          S += r;
          zeta += r - P * r;
          break;

        case BendState::other_segment: {
          // Moving (cos d, -sin d) per unit slip, the point stays behind
          // the bisector for the whole rem when
          //   eta > (zeta + cos d rem - zb) tb + sin d rem.
          const double x = zeta + k.cos_diff_ * rem - zb;
          const bool stays = k.parallel_ ? (x < 0 || (x == 0 && eta > k.sin_diff_ * rem))
                                         : eta > x * tb + k.sin_diff_ * rem;
          if (stays) {
            r = rem;
            zeta += k.cos_diff_ * rem - P * rem;
            eta -= k.sin_diff_ * rem;
            state = BendState::other_segment;
          } else {
            // It reaches the bisector after
            //   r = sign (eta - (zeta - zb) tb) / (tb cos d + sin d)
            // (limit sign (zb - zeta) / cos d), and is put exactly on it:
            // eta = (zeta - zb') tb with zb' = zb - P r (parallel: zeta = zb').
            r = k.parallel_ ? k.sign_ * (zb - zeta) / k.cos_diff_
                            : k.sign_ * (eta - (zeta - zb) * tb) / (tb * k.cos_diff_ + k.sin_diff_);
            r = clamp(r, rem);
            zeta += k.cos_diff_ * r - P * r;
            const double zb1 = zb - P * r;
            if (k.parallel_) {
              zeta = zb1;
            } else {
              eta = (zeta - zb1) * tb;
            }
            state = BendState::hanging_wall;
            if constexpr (std::is_same_v<Carry, CovCarry>) {
              // grad of r as computed above (its sign included).  For
              // parallel segments the point lands at zeta = zb' keeping its
              // eta (the drift sin d r is below 1e-7 r), so w has no eta part.
              const double den = tb * k.cos_diff_ + k.sin_diff_;
              if (k.parallel_) {
                cross_bisector(*carry.c, {k.cos_diff_ - 1, 0}, {-k.sign_ / k.cos_diff_, 0});
              } else {
                cross_bisector(*carry.c, {k.cos_diff_ - 1, -k.sin_diff_}, {-k.sign_ * tb / den, k.sign_ / den});
              }
            }
            if constexpr (std::is_same_v<Carry, DipCarry>) {
              const DipKink kink = bend_kink_onto_tip_segment(*carry.theta, k.d_);
              *carry.theta = kink.theta;
              *carry.sigma *= kink.factor;
            }
          }
          S += r;
          break;
        }

        case BendState::footwall:
          if (!k.restoring_) {
            // The footwall is fixed; the tip moves away.
            r = rem;
            zeta -= P * rem;
            state = BendState::footwall;
          } else {
            // The tip retreats: zeta' = zeta - P rem.  Unless the point is
            // then behind the tip or below the lower boundary, the boundary
            // reaches it after r = (eta/m + zeta)/P.
            const double zeta1 = zeta - P * rem;
            if (zeta1 <= 0 || eta <= -(zeta1 * m)) {
              r = rem;
              zeta = zeta1;
              state = BendState::footwall;
            } else {
              r = clamp((eta / m + zeta) / P, rem);
              zeta -= P * r;
              state = BendState::zone;
            }
          }
          S += r;
          break;

        case BendState::zone:
          // No trishear field here (at or behind the tip, or m <= 0 or
          // s <= 0; the zone step proper is zone_step below): one increment
          // (at most rem) rigidly with the side the point lies on, as on
          // the straight ramp.
          r = std::abs(rem) < std::abs(inc) ? rem : inc;
          S += r;
          zeta += eta > 0 ? r - P * r : -P * r;
          state = BendState::classify;
          break;
      }
    }
    return Next::done;
  }

  // One explicit step of a whole increment (the last may pass the piece's
  // slip), all terms from the values at the step's start; v_zeta is
  // relative to the advancing tip.
  template <class Carry>
  void zone_step(BendPointState& st, Carry carry) const {
    const Vec2 at{st.zeta, st.eta};
    const Vec2 dv = zone::zone_displacement(k.zone_, at, carry);
    st.slip += k.increment_;
    st.zeta += dv.x - k.tip_advance_;
    st.eta += dv.y;
    st.state = BendState::classify;
  }

  // One point through one piece; false when it reached the pass limit.
  template <class Carry>
  bool piece(const BendPiece& pc, Vec2& p, Carry carry) const {
    BendPointState st{p.x, p.y};
    std::int64_t passes = 0;
    for (;;) {
      const Next next = advance(pc, st, passes, carry);
      if (next == Next::failed) return false;
      if (next == Next::done) break;
      if (++passes > pc.max_passes) return false;
      zone_step(st, carry);
    }
    p = {st.zeta, st.eta};
    return true;
  }

  // Into the frame of the new segment, with the tip at the bend.
  template <class Carry>
  void turn(int from, int to, Vec2& p, Carry carry) const {
    const double a_old = k.ramp_angle_[static_cast<std::size_t>(from - 1)];
    const double a_new = k.ramp_angle_[static_cast<std::size_t>(to - 1)];
    const double angle = a_old - a_new;
    p = rot2d(p, angle);
    if constexpr (std::is_same_v<Carry, CovCarry>) {
      const double c = std::cos(angle), s = std::sin(angle);
      const Mat2 rot{c, -s, s, c};
      *carry.c = (rot * *carry.c) * transpose(rot);
    }
    if constexpr (std::is_same_v<Carry, DipCarry>) *carry.theta += a_new - a_old;
  }

  template <class Carry>
  bool move(Vec2& p, Carry carry) const {
    if (!k.step_count_ok_) return fail(p, carry);
    for (int i = 0; i < k.npieces_; ++i) {
      const BendPiece& pc = k.pieces_[static_cast<std::size_t>(i)];
      if (i > 0) turn(k.pieces_[static_cast<std::size_t>(i - 1)].segment, pc.segment, p, carry);
      if (!piece(pc, p, carry)) return fail(p, carry);
    }
    return true;
  }

  template <class Carry>
  static bool fail(Vec2& p, Carry carry) {
    zone::set_failed(p, carry);
    return false;
  }
};

// One piece of a bend call: the constants the batched zone step works with.
struct BendPieceCall {
  const TrishearBend& k;
  const BendPiece& pc;
};

// The bend's state machine for the batched zone step (see zone_lanes.hpp),
// one piece at a time.  After a zone step the point is classified afresh,
// so the lanes need no flags.
struct TrishearBendLanes : zone::ClassifiedAfresh<BendPointState> {
  using Constants = BendPieceCall;

  static const TrishearZone& zone(const BendPieceCall& c) { return c.k.zone_; }
  static double tip_advance(const BendPieceCall& c) { return c.k.tip_advance_; }
  static std::int64_t max_passes(const BendPieceCall& c) { return c.pc.max_passes; }
  // TrishearBendKernel::classify gives the zone (and zeta > 0), without
  // branches.
  [[gnu::always_inline]] static bool in_zone(const BendPieceCall& c, double zn, double en, double slip, const B&,
                                             int) {
    const TrishearBend& k = c.k;
    const double m = k.m_;
    const double zb = c.pc.zb0 - slip * k.povers_;
    const bool seg1 = c.pc.segment == 1;
    const bool ahead_parallel = zn > zb;
    const bool ahead_inclined = (zn - zb) * k.tan_bisect_ >= en;
    const bool ahead = k.parallel_ ? ahead_parallel : ahead_inclined;
    const bool above = (en > 0) & (en >= m * zn);
    const bool hanging_wall = above & (!seg1 | ahead);
    const bool other = seg1 & (en >= (zb - zn) * k.tan_diff_) & above;
    const bool footwall_behind = seg1 & (zn < zb);
    return (std::abs(slip) < c.pc.slip) & !hanging_wall & !other & !footwall_behind & (en > -(m * zn)) & (zn > 0);
  }
  template <class Carry>
  static Next advance(const BendPieceCall& c, State& st, std::int64_t& passes, Carry carry) {
    return TrishearBendKernel{c.k}.advance(c.pc, st, passes, carry);
  }
  static Vec2 finish(const BendPieceCall&, const State& st) { return {st.zeta, st.eta}; }

  static bool applies(const TrishearBend& k, std::size_t npoints) {
    return k.step_count_ok_ && zone::batch_worthwhile(k.zone_, npoints);
  }

  // Every point through every piece, the pieces one after the other over
  // the whole array (points are independent, so this is the order of
  // TrishearBendKernel::move).  A point that failed stays NaN and takes no
  // part in the later pieces.
  template <zone::Kind kKind>
  static bool run(const TrishearBend& k, const zone::Data& d) {
    const TrishearBendKernel kernel{k};
    bool ok = true;
    for (int i = 0; i < k.npieces_; ++i) {
      const BendPiece& pc = k.pieces_[static_cast<std::size_t>(i)];
      if (i > 0) {
        const int from = k.pieces_[static_cast<std::size_t>(i - 1)].segment;
        for (std::size_t n = 0; n < d.pts.size(); ++n) {
          if (!std::isnan(d.pts[n].x)) kernel.turn(from, pc.segment, d.pts[n], carry<kKind>(d, n));
        }
      }
      if (ok) {
        ok = zone::Lanes<TrishearBendLanes>::run<kKind>(BendPieceCall{k, pc}, d);
        continue;
      }
      // After a failure (rare) the remaining points one at a time.
      for (std::size_t n = 0; n < d.pts.size(); ++n) {
        if (std::isnan(d.pts[n].x)) continue;
        if (!kernel.piece(pc, d.pts[n], carry<kKind>(d, n))) TrishearBendKernel::fail(d.pts[n], carry<kKind>(d, n));
      }
    }
    return ok;
  }

  template <zone::Kind kKind>
  static auto carry(const zone::Data& d, std::size_t n) {
    if constexpr (kKind == zone::Kind::covariances) {
      return CovCarry{&d.cov[n]};
    } else if constexpr (kKind == zone::Kind::dips) {
      return DipCarry{&d.theta[n], &d.sigma[n]};
    } else {
      return NoCarry{};
    }
  }
};

bool trishear_bend_point(const TrishearBend& k, Vec2& p, Mat2* cov) {
  const TrishearBendKernel kernel{k};
  if (cov != nullptr) return kernel.move(p, CovCarry{cov});
  return kernel.move(p, NoCarry{});
}

bool trishear_bend_dip(const TrishearBend& k, Vec2& pos, double& theta, double& sigma) {
  return TrishearBendKernel{k}.move(pos, DipCarry{&theta, &sigma});
}

bool trishear_func_bend(const TrishearBend& k, std::span<Vec2> ptsze, std::span<Mat2> cbed) {
  if (!cbed.empty() && cbed.size() != ptsze.size()) {
    throw std::invalid_argument("trishear_func_bend: one covariance per point needed");
  }
  if (TrishearBendLanes::applies(k, ptsze.size())) {
    const zone::Data d{ptsze, cbed, {}, {}};
    return cbed.empty() ? TrishearBendLanes::run<zone::Kind::points>(k, d)
                        : TrishearBendLanes::run<zone::Kind::covariances>(k, d);
  }
  const TrishearBendKernel kernel{k};
  bool ok = true;
  if (cbed.empty()) {
    for (Vec2& p : ptsze) ok = kernel.move(p, NoCarry{}) && ok;
    return ok;
  }
  for (std::size_t i = 0; i < ptsze.size(); ++i) ok = kernel.move(ptsze[i], CovCarry{&cbed[i]}) && ok;
  return ok;
}

bool trishear_func_bend(std::span<Vec2> ptsze, double v0, double m, double total_slip, double increment,
                        double povers, double s, Vec2 bendze, std::array<double, 2> ramp_angle,
                        std::span<Mat2> cbed, int* end_segment) {
  const TrishearBend k(v0, m, total_slip, increment, povers, s, bendze, ramp_angle[0], ramp_angle[1]);
  if (end_segment != nullptr) *end_segment = k.end_segment();
  return trishear_func_bend(k, ptsze, cbed);
}

bool trishear_func_dip_bend(const TrishearBend& k, std::span<Vec2> dipposze, std::span<double> dipsze,
                            std::span<double> sigma_dip_array) {
  if (dipsze.size() != dipposze.size() || sigma_dip_array.size() != dipposze.size())
    throw std::invalid_argument("trishear_func_dip_bend: positions, dips and uncertainties differ in count");
  if (TrishearBendLanes::applies(k, dipposze.size())) {
    return TrishearBendLanes::run<zone::Kind::dips>(k, {dipposze, {}, dipsze, sigma_dip_array});
  }
  const TrishearBendKernel kernel{k};
  bool ok = true;
  for (std::size_t i = 0; i < dipposze.size(); ++i)
    ok = kernel.move(dipposze[i], DipCarry{&dipsze[i], &sigma_dip_array[i]}) && ok;
  return ok;
}

bool trishear_func_dip_bend(std::span<Vec2> dipposze, std::span<double> dipsze, double v0, double m,
                            double total_slip, double increment, double povers, double s, Vec2 bendze,
                            std::array<double, 2> ramp_angle, std::span<double> sigma_dip_array,
                            int* end_segment) {
  const TrishearBend k(v0, m, total_slip, increment, povers, s, bendze, ramp_angle[0], ramp_angle[1]);
  if (end_segment != nullptr) *end_segment = k.end_segment();
  return trishear_func_dip_bend(k, dipposze, dipsze, sigma_dip_array);
}

}  // namespace fq
