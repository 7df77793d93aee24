// Trishear over a listric fault: point and dip kernels.
//
// Notation (map frame, every length in data units, every angle in radians):
//   cc = (ccx, ccy), rc   centre and radius of the arc
//   dx, dy                x - ccx, y - ccy of the point
//   alpha                 a point's arc angle atan2(dx, -dy): from the
//                         downward vertical, positive towards +x
//   tm                    theta_max, the arc's end angle and the dip of the
//                         straight segment; e(t) = (cos t, sin t)
//   (xt, yt), tht         the tip and its arc angle (tm on the straight)
//   P                     povers: the tip moves P per unit slip along its path
//   Q                     rc / P: radius of the path of a straight-domain
//                         point while the tip turns along the arc
//   S                     signed slip of one step; R the signed slip left
//                         for the tip's current segment (sremcurve on the
//                         arc, sremstr on the straight segment)
//   sgn                   slip_sign: +1 forwards, -1 backwards (v0 < 0)
//   (zeta, eta)           tip frame: origin at the tip, zeta along e(tht),
//                         eta along (-sin, cos) tht (the hanging-wall side)
//   m                     tan(phi): the zone is -m zeta < eta < m zeta
//   h                     tht / 2: the flat/straight axial surface is the
//                         ray from the centre in the direction
//                         u = (-sin h, cos h), normal n = (cos h, sin h)
//                         pointing to the straight side; it bisects the
//                         angle between the detachment and the straight
//                         segment, so the normal components of the flat
//                         velocity (1, 0) and the straight one e(tht) agree
//
// Domains (classified in this order when a point's domain is unknown):
//   footwall  below the detachment behind the centre; or x >= ccx, alpha not
//             above tht and |p - cc| >= rc (beneath the arc); or, tip on the
//             straight segment, beneath it between its start and the tip; or
//             x > xt below the zone's lower boundary (angle tht - phi)
//   flat      dy <= 0 and dx <= 0, or dy >= 0 and (p - cc).n <= 0
//   beyond the tip's radial line (dy > 0 or alpha > tht): zone when below
//             the upper boundary (eta cos phi < zeta sin phi), else straight
//   listric   the rest
//
// Velocities per unit slip: flat (1, 0); listric tangent to the circle about
// the centre, speed 1; straight e(tht); footwall 0; zone the straight ramp's
// field in the tip frame.  The velocity is continuous across every boundary
// but the flat/straight axial surface, where it jumps from (1, 0) to e(tht);
// there a point's covariance goes through the crossing's Jacobian
//   J = I - (v1 - v2) n^T / (n.v1 - nvb)
// (v1 before, v2 after, nvb the boundary's own velocity along n), and a dip
// through the same J.  While the tip is on the arc the axial surface turns
// with it about the centre at P / (2 rc) radians per unit slip, so a point of
// it at distance rho from the centre moves nvb = -rho P / (2 rc).
//
// Tip path: the tip moves P S along the straight segment, or turns by
// P S / rc along the arc.  Each call splits its slip in the part run with the
// tip on the arc (sremcurve) and on the straight segment (sremstr): forwards
// the arc first, backwards the straight segment first.
//
// Choices where the kinematics leaves one:
//   - Every step is turned towards the slip left (`toward`): a rule that
//     gives a step of the other sign (rounding at a boundary) takes 0 and
//     the point moves on from its new domain.  Passes are capped.
//   - Where several events may end a step, the first one in the slip's sense
//     is taken (the smallest positive forwards, the largest negative
//     backwards, within the slip left).
//   - The zone step's frame turns with the tip by at most the arc angle the
//     segment has left, so the tip never passes the end of its segment; on
//     the straight segment the tip advances by at most the segment's slip
//     and an overshooting last increment moves the point relative to the
//     tip only, exactly as the straight ramp does.
//   - A dip crossing the flat/straight axial surface is carried by the same
//     Jacobian as the point's covariance: a line of direction e becomes J e.
//     With the axial surface fixed (tip on the straight segment) that is the
//     kink-band rule of the detachment model; while it turns with the tip
//     it also accounts for the surface's own motion.
//   - Forwards with the tip on the arc, a flat point above the centre
//     reaches the turning axial surface at a whole number of increments
//     (the last one cut at the arc slip left), and its covariance and dip
//     take the crossing's Jacobian where the scan stops.
//   - The centre itself, where the flat, the arc's and the straight
//     segment's hanging walls meet, belongs to the flat.
//   - With the tip turning by less than kStraightTurn over the arc slip
//     left (P/S 0, or nearly), straight-domain points move in a line.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <type_traits>

#include "foldquest/state/run_state.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/trishear_listric.hpp"
#include "foldquest/models/zone_lanes.hpp"
#include "foldquest/report/diagnostics.hpp"

namespace fq {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
// A point within this fraction of its distance from the centre of the tip's
// radial line lies on it.
constexpr double kOnRadialLine = 1e-9;
// A tip turning by less than this (radians) over the arc slip left moves in
// a straight line, as far as the straight domain's step is concerned.
constexpr double kStraightTurn = 1e-8;
// A point within this fraction of rc of the centre lies at the centre.
constexpr double kAtCentre = 1e-9;
// Tolerance of the tip-path checks (single-precision 1e-5, as stored).
constexpr double kTipPathTolerance = 9.999999747378752e-06;

double toward(double step, double rem) {
  if (rem > 0) return step > 0 ? std::min(step, rem) : 0.0;
  if (rem < 0) return step < 0 ? std::max(step, rem) : 0.0;
  return 0.0;
}

// Into (-pi/2, pi/2] (dips and lines are defined modulo pi).
double fold_half_turn(double a) {
  constexpr double pi = std::numbers::pi;
  a = std::remainder(a, pi);
  if (a <= -pi / 2) a += pi;
  return a;
}

}  // namespace

Mat2 crossing_jacobian(Vec2 v1, Vec2 v2, Vec2 n, double nvb) {
  const double den = n.x * v1.x + n.y * v1.y - nvb;
  const Vec2 w{(v1.x - v2.x) / den, (v1.y - v2.y) / den};
  return {1 - w.x * n.x, -w.x * n.y, -w.y * n.x, 1 - w.y * n.y};
}

// A material line of direction e = (cos dip, -sin dip) becomes J e; the
// angle of J e(dip) has the derivative det J / |J e|^2.
KinkedDip kink_dip(const Mat2& j, double dip) {
  const double ex = std::cos(dip), ey = -std::sin(dip);
  const double jx = j.a * ex + j.b * ey, jy = j.c * ex + j.d * ey;
  const double det = j.a * j.d - j.b * j.c;
  return {fold_half_turn(std::atan2(-jy, jx)), std::abs(det / (jx * jx + jy * jy))};
}

KinkedDip listric_turn_dip(double dip, double theta, double k) {
  const double u = theta + dip;
  const double su = std::sin(u), cu = std::cos(u);
  const double den = cu - k * su;
  return {std::atan(su / den) - (k + theta), 1 / (den * den + su * su)};
}

TrishearListric::TrishearListric(double v0, double phi, double m, double total_slip, double increment,
                                 double povers, double s, double theta_max, double theta0, double thetat_start,
                                 Vec2 tip_pos, Vec2 cc, double rc)
    : zone_(v0, m, increment, s),
      phi_(phi),
      m_(m),
      total_slip_(total_slip),
      increment_(increment),
      povers_(povers),
      theta_max_(theta_max),
      theta0_(theta0),
      thetat_start_(thetat_start),
      tip_pos_(tip_pos),
      cc_(cc),
      rc_(rc) {
  sgn_ = v0 < 0 ? -1.0 : 1.0;
  theta_prop_ = increment * povers / rc;
  cos_prop_ = std::cos(theta_prop_);
  cos_phi_ = std::cos(phi);
  sin_phi_ = std::sin(phi);
  sin_prop_ = std::sin(theta_prop_);
  const double steps = std::abs(total_slip) / std::abs(increment);
  step_count_ok_ = !(std::abs(total_slip) > 0) || steps < static_cast<double>(max_steps_per_point);
  cos_tm_ = std::cos(theta_max);
  sin_tm_ = std::sin(theta_max);
  arc_end_ = {cc.x + rc * sin_tm_, cc.y - rc * cos_tm_};
  // The split of the slip between the arc and the straight segment.
  on_arc0_ = thetat_start < theta_max;
  if (!on_arc0_) {
    if (sgn_ > 0) {
      sremcurve0_ = 0;
      sremstr0_ = total_slip;
    } else {
      // Back down the segment to the arc's end (d / P of slip), then the arc.
      const double d = std::hypot(tip_pos.x - arc_end_.x, tip_pos.y - arc_end_.y);
      sremstr0_ = -d / povers;
      if (!(sremstr0_ >= total_slip)) sremstr0_ = total_slip;
      sremcurve0_ = total_slip - sremstr0_;
    }
  } else if (sgn_ > 0) {
    sremcurve0_ = (theta_max - thetat_start) * rc / povers;
    if (!(sremcurve0_ <= total_slip)) sremcurve0_ = total_slip;
    sremstr0_ = total_slip - sremcurve0_;
  } else {
    sremcurve0_ = total_slip;
    sremstr0_ = 0;
  }
}

bool TrishearListric::check_tip_path() const {
  if (on_arc0_ || sgn_ > 0) return true;
  bool ok = true;
  // The tip must lie on the straight segment: the direction from the arc's
  // end to the tip is theta_max.
  const double dir = std::atan2(tip_pos_.y - arc_end_.y, tip_pos_.x - arc_end_.x);
  if (tip_pos_.x != arc_end_.x || tip_pos_.y != arc_end_.y) {
    if (dir - theta_max_ >= kTipPathTolerance) {
      diag::report("Error");
      ok = false;
    }
  }
  // The arc slip of this call must bring the tip to the end angle of this
  // call's slip (theta0 is passed per slip, so a growth stratum or terrace
  // restored by less than the total slip is checked against its own end).
  if (std::abs(povers_ * sremcurve0_ / rc_ + theta_max_ - theta0_) > kTipPathTolerance) {
    diag::report("Error: Tip does not end at theta0");
    ok = false;
  }
  return ok;
}

namespace {

using zone::CovCarry;
using zone::DipCarry;
using zone::Next;
using zone::NoCarry;

enum class Loc { unknown = 0, flat = 1, listric = 2, straight = 3, zone = 4, footwall = 5 };

// One point's working state.
struct PointState {
  double x, y;
  double xt, yt, tht;
  Loc loc;
  bool on_arc;
  double srem_c, srem_s;
  std::int64_t passes = 0;  // passes of the point's loop (a zone run is one)
  int idle = 0;             // passes in a row that took no slip
  // A zone run: steps of whole increments in the tip frame until the point
  // leaves the zone or the segment's slip is spent.  While it lasts, the
  // point is (fx, fy) in the frame of the tip, and what it carries is in
  // that frame too (the covariance, and the dip plus the tip's angle).
  bool in_run = false;
  std::int64_t run_steps = 0;
  double fx = 0, fy = 0;
  double run_slip = 0;              // S of the run so far
  double run_rem = 0;               // R: the segment's slip left at the start
  double turned = 0, turn_left = 0; // the tip's turn so far, and at most
};

}  // namespace

struct TrishearListricKernel {
  using K = TrishearListric;

  static double rem(const PointState& st) { return st.on_arc ? st.srem_c : st.srem_s; }

  static Vec2 arc_point(const K& k, double theta) {
    return {k.cc_.x + k.rc_ * std::sin(theta), k.cc_.y - k.rc_ * std::cos(theta)};
  }

  static void advance_tip(const K& k, PointState& st, double S) {
    if (st.on_arc) {
      st.tht += k.povers_ * S / k.rc_;
      const Vec2 t = arc_point(k, st.tht);
      st.xt = t.x;
      st.yt = t.y;
    } else {
      st.xt += k.povers_ * S * k.cos_tm_;
      st.yt += k.povers_ * S * k.sin_tm_;
    }
  }

  // Tip frame coordinates of (x, y) for a tip at (xt, yt) with angle t.
  static Vec2 to_frame(double x, double y, double xt, double yt, double t) {
    const double c = std::cos(t), s = std::sin(t);
    const double ddx = x - xt, ddy = y - yt;
    return {c * ddx + s * ddy, -s * ddx + c * ddy};
  }

  static Loc classify(const K& k, const PointState& st) {
    const double dx = st.x - k.cc_.x, dy = st.y - k.cc_.y;
    const double tht = st.tht;
    // Footwall.
    if (st.y <= k.cc_.y - k.rc_ && st.x <= k.cc_.x) return Loc::footwall;
    if (st.x >= k.cc_.x && dx * std::cos(tht) + dy * std::sin(tht) <= 0 && dx * dx + dy * dy >= k.rc_ * k.rc_)
      return Loc::footwall;
    if (!st.on_arc && st.x >= k.arc_end_.x && st.x <= st.xt &&
        -(st.x - st.xt) * k.sin_tm_ + (st.y - st.yt) * k.cos_tm_ <= 0)
      return Loc::footwall;
    const Vec2 f = to_frame(st.x, st.y, st.xt, st.yt, tht);
    const double cphi = k.cos_phi_, sphi = k.sin_phi_;
    // Below the lower boundary: eta cos phi + zeta sin phi <= 0.
    if (st.x > st.xt && f.y * cphi + f.x * sphi <= 0) return Loc::footwall;
    // Flat.
    const double h = tht / 2;
    if ((dy <= 0 && dx <= 0) || (dy >= 0 && dx * std::cos(h) + dy * std::sin(h) <= 0)) return Loc::flat;
    // Beyond the tip's radial line: zone or straight.
    if (dy > 0 || std::atan2(dx, -dy) > tht) {
      if (f.y * cphi < f.x * sphi) {
        if (f.y * cphi + f.x * sphi < 0) {
          diag::report("Error: Should not be in trishear zone.");
          diag::report("From unknown");
        }
        if (f.x < 0) diag::report("Error: Point is at x<0 in trishear coordinate system.");
        return Loc::zone;
      }
      return Loc::straight;
    }
    return Loc::listric;
  }

  // The flat/straight kink, applied to what the point carries.
  template <class Carry>
  static void kink(Carry carry, const Mat2& j) {
    if constexpr (std::is_same_v<Carry, CovCarry>) *carry.c = (j * *carry.c) * transpose(j);
    if constexpr (std::is_same_v<Carry, DipCarry>) {
      const KinkedDip r = kink_dip(j, *carry.theta);
      *carry.theta = r.dip;
      *carry.sigma = *carry.sigma * r.factor;
    }
  }

  // Jacobian of the flat/straight crossing at the tip angle t, for a point at
  // p; `forward` crosses from the flat to the straight domain.
  static Mat2 axial_jacobian(const K& k, const PointState& st, double t, bool forward) {
    const double h = t / 2;
    const Vec2 n{std::cos(h), std::sin(h)};
    const Vec2 flat{1, 0}, straight{std::cos(t), std::sin(t)};
    double nvb = 0;
    if (st.on_arc) {
      const double rho = -(st.x - k.cc_.x) * std::sin(h) + (st.y - k.cc_.y) * std::cos(h);
      nvb = -rho * k.povers_ / (2 * k.rc_);
    }
    return forward ? crossing_jacobian(flat, straight, n, nvb) : crossing_jacobian(straight, flat, n, nvb);
  }

  // ---- flat: (1, 0) per unit slip.
  template <class Carry>
  static double flat_step(const K& k, PointState& st, Carry carry) {
    const double R = rem(st);
    const double dy = st.y - k.cc_.y;
    double S = R;
    if (k.sgn_ < 0) {
      // Backwards the flat carries the point away from both boundaries.
    } else if (dy < 0) {
      // The vertical through the centre; the point stops exactly on it.
      const double D = k.cc_.x - st.x;
      if (D <= R) {
        S = std::max(D, 0.0);
        st.x = k.cc_.x;
        advance_tip(k, st, S);
        st.loc = Loc::listric;
        return S;
      }
    } else if (!st.on_arc || k.povers_ == 0) {
      // The axial surface is fixed: D = -dx - dy tan(t/2) to reach it.
      const double t = st.tht;
      const double D = -(st.x - k.cc_.x) - dy * std::tan(t / 2);
      if (D <= R) {
        S = std::max(D, 0.0);
        st.x += S;
        advance_tip(k, st, S);
        st.loc = Loc::straight;
        kink(carry, axial_jacobian(k, st, st.tht, true));
        return S;
      }
    } else {
      // The axial surface turns with the tip.  Still flat once the arc slip
      // is spent (boundary at the arc slip's end angle): stay.  Else scan
      // whole increments (the last one cut at R) for the first slip at which
      // the point is on the straight side.
      auto straight_side = [&](double D) {
        const double h = (st.tht + k.povers_ * D / k.rc_) / 2;
        return (st.x + D - k.cc_.x) * std::cos(h) + dy * std::sin(h) >= 0;
      };
      if (straight_side(R)) {
        const double inc = std::abs(k.increment_);
        double D = R;
        for (std::int64_t i = 1; i < max_steps_per_point; ++i) {
          D = std::min(static_cast<double>(i) * inc, R);
          if (straight_side(D) || D >= R) break;
        }
        S = D;
        st.x += S;
        advance_tip(k, st, S);
        st.loc = Loc::straight;
        kink(carry, axial_jacobian(k, st, st.tht, true));
        return S;
      }
    }
    st.x += S;
    advance_tip(k, st, S);
    return S;
  }

  // ---- listric: turn about the centre at radius r.
  template <class Carry>
  static double listric_step(const K& k, PointState& st, Carry carry) {
    const double R = rem(st);
    const double dx = st.x - k.cc_.x, dyd = k.cc_.y - st.y;  // dyd: depth below the centre
    const double r = std::hypot(dx, dyd);
    if (!(r > kAtCentre * k.rc_)) {
      // The centre itself, which only a straight-domain point moving
      // backwards along the line through it reaches: no turn is defined
      // there; it crosses on into the flat, through the axial surface's kink.
      st.loc = Loc::flat;
      kink(carry, axial_jacobian(k, st, st.tht, false));
      return 0;
    }
    const double theta = std::atan2(dx, dyd);
    if (theta < 0) diag::report("Error: Should not be in listric zone. Theta < 0.");
    // Rate at which the point gains on the tip's radial line, per unit slip.
    const double omega = st.on_arc ? 1 / r - k.povers_ / k.rc_ : 1 / r;
    const double gap = std::max(st.tht - theta, 0.0);
    double S = R;
    Loc next = Loc::listric;
    if (k.sgn_ > 0) {
      if (omega > 0) {
        const double V = gap / omega;
        if (V <= R) {
          S = V;
          next = Loc::straight;
        }
      }
    } else {
      // Backwards: the radial line overtakes the point when it retreats
      // faster (omega < 0); the point reaches the flat after -theta r.
      if (st.on_arc && omega < 0) {
        const double V = gap / omega;
        if (V >= S) {
          S = V;
          next = Loc::straight;
        }
      }
      const double to_flat = -std::max(theta, 0.0) * r;
      if (to_flat >= S) {
        S = to_flat;
        next = Loc::flat;
      }
    }
    if (k.sgn_ < 0 && S > 0) diag::report("Error: slip > 0");
    advance_tip(k, st, S);
    double theta1 = theta + S / r;
    if (next == Loc::straight) theta1 = st.tht;  // on the tip's radial line
    if (next == Loc::flat) theta1 = 0;           // on the vertical through the centre
    const double s1 = std::sin(theta1), c1 = std::cos(theta1);
    if constexpr (std::is_same_v<Carry, CovCarry>) {
      // J = J3 M J1: (x, y) -> (r, theta) -> (r, theta + S/r) -> (x, y).
      const double r2 = r * r;
      const Mat2 j1{dx / r, -dyd / r, dyd / r2, dx / r2};
      const Mat2 mm{1, 0, -S / r2, 1};
      const Mat2 j3{s1, r * c1, -c1, r * s1};
      const Mat2 j = j3 * (mm * j1);
      *carry.c = (j * *carry.c) * transpose(j);
    }
    if constexpr (std::is_same_v<Carry, DipCarry>) {
      const KinkedDip d = listric_turn_dip(*carry.theta, theta, S / r);
      *carry.theta = d.dip;
      *carry.sigma = *carry.sigma * d.factor;
    }
    st.x = k.cc_.x + r * s1;
    st.y = k.cc_.y - r * c1;
    st.loc = next;
    return S;
  }

  // ---- straight, tip moving along a line (the straight segment, or the
  // arc when P = 0 and the tip stands still): the point moves e(t) per unit
  // slip, the tip P e(t).
  template <class Carry>
  static double straight_linear(const K& k, PointState& st, Carry carry) {
    const double R = rem(st);
    const double t = st.tht, P = k.povers_, m = k.m_;
    const double c = std::cos(t), s = std::sin(t);
    const Vec2 f = to_frame(st.x, st.y, st.xt, st.yt, t);
    double S = R;
    Loc next = Loc::straight;
    if (k.sgn_ > 0) {
      // As the straight ramp's hanging wall: the upper boundary reaches the
      // point first when eta < (zeta + R (1 - P)) m.
      if (f.y < (f.x + R - P * R) * m) {
        S = toward((f.y / m - f.x) / (1 - P), R);
        next = Loc::zone;
      }
    } else {
      // Backwards: the first of the zone (P > 1 only), the radial line of
      // the tip's angle (listric) or the axial surface (flat).
      if (P > 1) {
        const double s_tri = (f.y / m - f.x) / (1 - P);
        if (s_tri <= 0 && s_tri >= S) {
          S = s_tri;
          next = Loc::zone;
        }
      }
      const double dx = st.x - k.cc_.x, dy = st.y - k.cc_.y;
      double V;
      Loc to;
      if (-dx * s + dy * c < 0) {
        V = -(dx * c + dy * s);
        to = Loc::listric;
      } else {
        V = -dx - dy * std::tan(t / 2);
        to = Loc::flat;
      }
      if (V <= 0 && V >= S) {
        S = V;
        next = to;
      }
    }
    st.x += S * c;
    st.y += S * s;
    advance_tip(k, st, S);
    if (next == Loc::flat) kink(carry, axial_jacobian(k, st, st.tht, false));
    st.loc = next;
    return S;
  }

  // ---- straight, tip turning along the arc.
  template <class Carry>
  static double straight_arc(const K& k, PointState& st, Carry carry) {
    const double R = rem(st);
    const double t = st.tht, P = k.povers_, rc = k.rc_, Q = rc / P;
    const double ccx = k.cc_.x, ccy = k.cc_.y;
    const double sin_t = std::sin(t), cos_t = std::cos(t);
    const double x0 = st.x, y0 = st.y;
    auto moved = [&](double th) -> Vec2 {
      return {x0 + Q * (std::sin(th) - sin_t), y0 + Q * (cos_t - std::cos(th))};
    };
    auto angle_of = [&](double D) { return t + P * D / rc; };
    // Below the zone's upper boundary through the tip at angle th.
    auto zone_side = [&](double D) {
      const double th = angle_of(D);
      const Vec2 p = moved(th);
      const Vec2 tip = arc_point(k, th);
      const double a = th + k.phi_;
      return (p.y - tip.y) * std::cos(a) - (p.x - tip.x) * std::sin(a) < 0;
    };
    // First slip (from 0 towards `end`) at which the point is on the zone
    // side: whole increments, then bisection between the last two trials
    // until the midpoint no longer changes; the upper end is taken.
    auto find_stri = [&](double end) {
      if (zone_side(0)) return 0.0;
      const double inc = std::abs(k.increment_) * k.sgn_;
      double lo = 0, hi = end;
      bool found = false;
      for (std::int64_t i = 1; i < max_steps_per_point; ++i) {
        double D = static_cast<double>(i) * inc;
        if (std::abs(D) >= std::abs(end)) D = end;
        if (zone_side(D)) {
          hi = D;
          found = true;
          break;
        }
        lo = D;
        if (D == end) break;
      }
      if (!found) return nan;
      for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid == lo || mid == hi) break;
        if (zone_side(mid)) {
          hi = mid;
        } else {
          lo = mid;
        }
      }
      return hi;
    };

    // Slist: the point meets the tip's radial line.  The point's path is the
    // circle of radius Q about c' = (x - Q sin t, y + Q cos t); it lies on the
    // radial line of th when (c' - cc) is parallel to (sin, -cos) th.
    const double dx = x0 - ccx, dy = y0 - ccy;
    const double d = std::hypot(dx, dy);
    double s_list = nan;
    bool list_now = false;
    if (std::abs(dx * cos_t + dy * sin_t) <= kOnRadialLine * d && dx * sin_t - dy * cos_t > 0) {
      // On the radial line: the listric domain claims the point at once if
      // the line outruns it in the slip's sense, otherwise never.
      list_now = k.sgn_ * (d - Q) > 0;
    } else {
      double th = std::atan2(ccx - x0 + Q * sin_t, y0 - ccy + Q * cos_t);
      if (th > std::numbers::pi / 2) th -= std::numbers::pi;
      if (th <= -std::numbers::pi / 2) th += std::numbers::pi;
      const Vec2 p = moved(th);
      if ((p.x - ccx) * std::sin(th) - (p.y - ccy) * std::cos(th) >= 0) s_list = (th - t) * Q;
    }

    double S = R;
    Loc next = Loc::straight;
    if (list_now) {
      S = 0;
      next = Loc::listric;
    } else if (k.sgn_ > 0) {
      const double s_tri = find_stri(R);
      if (s_tri >= 0 && s_tri <= R) {
        S = s_tri;
        next = Loc::zone;
      }
      if (s_list > 0 && s_list <= R && s_list < S) {
        S = s_list;
        next = Loc::listric;
      }
    } else {
      // Backwards: the largest of the events within [R, 0].
      if (P > 1 && zone_side(R)) {
        const double s_tri = find_stri(R);
        if (s_tri <= 0 && s_tri >= S) {
          S = s_tri;
          next = Loc::zone;
        }
      }
      if (s_list <= 0 && s_list >= S) {
        S = s_list;
        next = Loc::listric;
      }
      // Sflat: the point meets the axial surface of th = 2 hh, with
      // tan hh = (Q sin t - dx) / (Q cos t + dy + Q); it must lie on the ray
      // above the centre.
      const double hh = std::atan((Q * sin_t - dx) / (Q * cos_t + dy + Q));
      const Vec2 pf = moved(2 * hh);
      if (-(pf.x - ccx) * std::sin(hh) + (pf.y - ccy) * std::cos(hh) >= 0) {
        const double s_flat = (2 * hh - t) * Q;
        if (s_flat <= 0 && s_flat > S) {
          S = s_flat;
          next = Loc::flat;
        }
      }
    }
    const Vec2 p1 = moved(angle_of(S));
    st.x = p1.x;
    st.y = p1.y;
    advance_tip(k, st, S);
    if (next == Loc::flat) kink(carry, axial_jacobian(k, st, st.tht, false));
    st.loc = next;
    return S;
  }

  // ---- footwall: fixed; backwards the retreating zone's lower boundary
  // may reach the point.
  static double footwall_step(const K& k, PointState& st) {
    const double R = rem(st);
    double S = R;
    const double P = k.povers_, m = k.m_;
    if (k.sgn_ < 0 && P > 0) {
      if (!st.on_arc) {
        // As the straight ramp, for points ahead of the arc's end.
        const Vec2 f = to_frame(st.x, st.y, st.xt, st.yt, k.theta_max_);
        const Vec2 fe = to_frame(st.x, st.y, k.arc_end_.x, k.arc_end_.y, k.theta_max_);
        const double zeta1 = f.x - P * R;
        if (fe.x > 0 && !(f.y <= -(zeta1 * m))) {
          S = toward((f.y / m + f.x) / P, R);
          st.loc = Loc::zone;
        }
      } else {
        // Reached only if the point is above the lower boundary of the tip at
        // the end angle theta0.  The lower boundary through P(th) lies rc
        // cos phi from the centre; the point, at distance d and arc angle
        // alpha, is on it when th = alpha + phi - acos(rc cos phi / d).
        const Vec2 t0 = arc_point(k, k.theta0_);
        const Vec2 f0 = to_frame(st.x, st.y, t0.x, t0.y, k.theta0_);
        if (f0.x > 0 && f0.y > -(m * f0.x)) {
          const double dx = st.x - k.cc_.x, dyd = k.cc_.y - st.y;
          const double d = std::hypot(dx, dyd);
          const double alpha = std::atan2(dx, dyd);
          const double theta_tri = st.tht - (k.phi_ + alpha - std::acos(k.cos_phi_ * k.rc_ / d));
          if (theta_tri < 0) diag::report("theta_tri<0");
          if (theta_tri > st.tht - k.theta0_ + kTipPathTolerance)
            diag::report("Error: theta_tri > thetat-theta0");
          const double s_tri = -theta_tri * k.rc_ / P;
          if (std::isnan(s_tri)) {
            S = R;
          } else {
            S = toward(s_tri, R);
            st.loc = Loc::zone;
          }
        }
      }
    }
    advance_tip(k, st, S);
    return S;
  }

  // ---- zone: the straight ramp's field in the tip frame, whole increments.
  // A run enters the tip frame, takes steps while the point stays in the
  // zone and the segment has slip left (at least one step), and leaves it.
  template <class Carry>
  static void zone_enter(const K& k, PointState& st, Carry carry) {
    const double R = rem(st);
    const TipFrame frame(st.xt, st.yt, st.tht, 1);
    const Vec2 f = frame.to_ze({st.x, st.y});
    st.fx = f.x;
    st.fy = f.y;
    if constexpr (std::is_same_v<Carry, CovCarry>) *carry.c = frame.cov_to_ze(*carry.c);
    if constexpr (std::is_same_v<Carry, DipCarry>) *carry.theta = *carry.theta + st.tht;
    // The arc angle the tip may still turn in this segment (signed).
    st.turn_left = st.on_arc ? k.povers_ * R / k.rc_ : 0;
    st.turned = 0;
    st.run_slip = 0;
    st.run_rem = R;
    st.run_steps = 0;
    st.in_run = true;
  }

  // After a step: does the run go on?
  static bool zone_continues(const K& k, const PointState& st) {
    if (std::abs(st.run_slip) >= std::abs(st.run_rem)) return false;
    return -k.m_ * st.fx <= st.fy && st.fy <= k.m_ * st.fx;
  }

  // May the batched zone step take the run's next step?  The field is
  // defined there, no check below has anything to report, and the tip's
  // turn is a whole one.
  static bool zone_step_batchable(const K& k, const PointState& st) {
    if (!(st.fx > 0 && k.zone_.defined())) return false;
    if (st.fy >= k.m_ * st.fx + 1 || st.fy <= -k.m_ * st.fx - 1) return false;
    return !(st.on_arc && std::abs(st.turned + k.theta_prop_) > std::abs(st.turn_left));
  }

  template <class Carry>
  static void zone_step(const K& k, PointState& st, Carry carry) {
    const double m = k.m_, inc = k.increment_, P = k.povers_;
    Vec2 f{st.fx, st.fy};
    if (f.x < 0) {
      if constexpr (std::is_same_v<Carry, DipCarry>) {
        diag::report("Error: x < 0");
      } else {
        diag::report("Error: x<0");
      }
    }
    st.run_slip += inc;
    if constexpr (!std::is_same_v<Carry, DipCarry>) {
      if (f.y >= m * f.x + 1 || f.y <= -m * f.x - 1) diag::report("Error: Point should not be in the trishear zone.");
    }
    if (f.x > 0 && k.zone_.defined()) {
      const Vec2 dv = zone::zone_displacement(k.zone_, f, carry);
      f.x += dv.x;
      f.y += dv.y;
    } else if (f.y > 0) {
      f.x += inc;  // no field here: rigidly with the hanging wall
    }
    if (st.on_arc) {
      // The frame follows the tip turning by a along the arc; the tip's
      // turn is cut at the segment's end.
      double a = k.theta_prop_;
      double c = k.cos_prop_, s = k.sin_prop_;
      if (std::abs(st.turned + a) > std::abs(st.turn_left)) {
        a = st.turn_left - st.turned;
        c = std::cos(a);
        s = std::sin(a);
      }
      st.turned += a;
      const double rc = k.rc_;
      f = {f.x * c + f.y * s - rc * s, -f.x * s + f.y * c + rc * (1 - c)};
      if constexpr (std::is_same_v<Carry, CovCarry>) {
        const Mat2 rot{c, s, -s, c};
        *carry.c = (rot * *carry.c) * transpose(rot);
      }
      if constexpr (std::is_same_v<Carry, DipCarry>) *carry.theta += a;
    } else {
      f.x -= P * inc;
    }
    st.fx = f.x;
    st.fy = f.y;
    ++st.run_steps;
  }

  // The end of a run: the tip after it, and the point back in the map
  // frame.  Returns the run's slip.
  template <class Carry>
  static double zone_leave(const K& k, PointState& st, Carry carry) {
    const double P = k.povers_, S = st.run_slip, R = st.run_rem;
    if (st.on_arc) {
      st.tht += st.turned;
      const Vec2 t = arc_point(k, st.tht);
      st.xt = t.x;
      st.yt = t.y;
    } else {
      // The tip advances by the segment's slip at most, as the straight
      // ramp's tip ends at its nominal place: an overshooting last step moves
      // the point relative to the tip only.
      const double advance = std::abs(S) > std::abs(R) ? R : S;
      st.xt += P * advance * k.cos_tm_;
      st.yt += P * advance * k.sin_tm_;
    }
    const TipFrame back(st.xt, st.yt, st.tht, 1);
    const Vec2 p = back.to_xy({st.fx, st.fy});
    st.x = p.x;
    st.y = p.y;
    if constexpr (std::is_same_v<Carry, CovCarry>) *carry.c = back.cov_to_xy(*carry.c);
    if constexpr (std::is_same_v<Carry, DipCarry>) *carry.theta = fold_half_turn(*carry.theta - st.tht);
    st.loc = Loc::unknown;
    st.in_run = false;
    return S;
  }

  // Moves the point until its slip is done (Next::done) or it stalls
  // (Next::failed).  With kLanes, it stops instead where the next step is
  // a zone step that the batched zone step can take (Next::zone); without,
  // it takes every step itself.
  template <bool kLanes, class Carry>
  static Next advance(const K& k, PointState& st, Carry carry) {
    const double sgn = k.sgn_;
    for (;;) {
      double S = 0;
      if (st.in_run) {
        if (st.run_steps == 0 || zone_continues(k, st)) {
          if constexpr (kLanes) {
            if (zone_step_batchable(k, st)) return Next::zone;
          }
          zone_step(k, st, carry);
          continue;
        }
        S = zone_leave(k, st, carry);
      } else {
        if (!(sgn * st.srem_c > 0 || sgn * st.srem_s > 0)) return Next::done;
        if (++st.passes > kMaxListricPasses) return Next::failed;
        switch (st.loc) {
          case Loc::unknown:
            st.loc = classify(k, st);
            continue;  // takes no slip
          case Loc::flat:
            S = flat_step(k, st, carry);
            break;
          case Loc::listric:
            S = listric_step(k, st, carry);
            break;
          case Loc::straight:
            // While the tip turns by less than kStraightTurn over the arc
            // slip left, the point's circle of radius Q = rc / P is a
            // straight line to well within rounding (and its formulas would
            // lose every digit to Q's size); so for P = 0 too.
            S = (st.on_arc && k.povers_ * std::abs(rem(st)) > kStraightTurn * k.rc_)
                    ? straight_arc(k, st, carry)
                    : straight_linear(k, st, carry);
            break;
          case Loc::footwall:
            S = footwall_step(k, st);
            break;
          case Loc::zone:
            zone_enter(k, st, carry);
            continue;  // the run books its slip when it ends
        }
      }
      if (sgn < 0 && S > 0) diag::report("Error: slip > 0 on inversion.");
      if (S == 0) {
        if (++st.idle > kMaxListricIdlePasses) return Next::failed;
      } else {
        st.idle = 0;
      }
      // Book the step on the tip's segment; the tip changes segment when
      // that segment's slip is spent and slip is left for the other.
      if (st.on_arc) {
        st.srem_c -= S;
        if (sgn * st.srem_c <= 0 && sgn > 0 && sgn * st.srem_s > 0) {
          st.on_arc = false;
          st.tht = k.theta_max_;
          st.xt = k.arc_end_.x;
          st.yt = k.arc_end_.y;
        }
      } else {
        st.srem_s -= S;
        if (sgn * st.srem_s <= 0 && sgn < 0 && sgn * st.srem_c > 0) {
          st.on_arc = true;
          st.tht = k.theta_max_;
          st.xt = k.arc_end_.x;
          st.yt = k.arc_end_.y;
        }
      }
    }
  }

  static PointState start(const K& k, Vec2 p) {
    return PointState{p.x, p.y, k.tip_pos_.x, k.tip_pos_.y, k.on_arc0_ ? k.thetat_start_ : k.theta_max_,
                      Loc::unknown, k.on_arc0_, k.sremcurve0_, k.sremstr0_};
  }

  template <class Carry>
  static ListricStatus move(const K& k, Vec2& p, Carry carry) {
    if (!k.step_count_ok_) return fail(p, carry, ListricStatus::too_many_steps);
    PointState st = start(k, p);
    if (advance<false>(k, st, carry) == Next::failed) return fail(p, carry, ListricStatus::stalled);
    p = {st.x, st.y};
    return ListricStatus::ok;
  }

  template <class Carry>
  static ListricStatus fail(Vec2& p, Carry carry, ListricStatus why) {
    zone::set_failed(p, carry);
    return why;
  }
};

// The listric fault's state machine for the batched zone step (see
// zone_lanes.hpp).  A lane holds a point in a zone run: its position in the
// tip frame, the run's slip, and (as aux values) the tip's turn so far, the
// most it may turn, |R| and whether the tip is on the arc; the frame turns
// with the tip at every step (place).
struct TrishearListricLanes {
  using Constants = TrishearListric;
  using State = PointState;
  static constexpr int kAux = 4;
  static constexpr bool kTurns = true;
  using B = zone::Block<kAux, State>;
  enum : int { kTurned, kTurnLeft, kAbsRem, kOnArc };

  static const TrishearZone& zone(const TrishearListric& k) { return k.zone_; }
  static double tip_advance(const TrishearListric&) { return 0; }  // place() moves the point
  // The point's own loop counts its passes (a zone run is one).
  static std::int64_t max_passes(const TrishearListric&) { return std::numeric_limits<std::int64_t>::max() / 2; }
  static State start(const TrishearListric& k, Vec2 p) { return TrishearListricKernel::start(k, p); }
  static void to_lane(const State& st, B& b, int i) {
    b.zeta[i] = st.fx;
    b.eta[i] = st.fy;
    b.slip[i] = st.run_slip;
    b.aux[kTurned][i] = st.turned;
    b.aux[kTurnLeft][i] = st.turn_left;
    b.aux[kAbsRem][i] = std::abs(st.run_rem);
    b.aux[kOnArc][i] = st.on_arc ? 1 : 0;
    b.state[i] = st;
  }
  static State from_lane(const TrishearListric&, const B& b, int i) {
    State st = b.state[i];
    st.run_steps += 1;  // at least one step since it entered the lane
    st.fx = b.zeta[i];
    st.fy = b.eta[i];
    st.run_slip = b.slip[i];
    st.turned = b.aux[kTurned][i];
    return st;
  }
  // TrishearListricKernel::zone_step's motion of the frame: a whole turn
  // of the tip along the arc, or its advance along the straight segment.
  [[gnu::always_inline]] static void place(const TrishearListric& k, B& b, int i, double x, double y) {
    const double c = k.cos_prop_, s = k.sin_prop_, rc = k.rc_;
    const bool arc = b.aux[kOnArc][i] != 0;
    const double ax = x * c + y * s - rc * s, ay = -x * s + y * c + rc * (1 - c);
    const double sx = x - k.povers_ * k.increment_;
    b.zeta[i] = arc ? ax : sx;
    b.eta[i] = arc ? ay : y;
    b.aux[kTurned][i] = arc ? b.aux[kTurned][i] + k.theta_prop_ : b.aux[kTurned][i];
    // The carry turns with the frame (C := R C R^T, R = [[c, s], [-s, c]];
    // the dip by the turn), in the operation order of Mat2's product.
    const double ca = b.ca[i], cb = b.cb[i], cc = b.cc[i], cd = b.cd[i];
    const double xa = c * ca + s * cc, xb = c * cb + s * cd;
    const double xc = -s * ca + c * cc, xd = -s * cb + c * cd;
    b.ca[i] = arc ? xa * c + xb * s : ca;
    b.cb[i] = arc ? xa * -s + xb * c : cb;
    b.cc[i] = arc ? xc * c + xd * s : cc;
    b.cd[i] = arc ? xc * -s + xd * c : cd;
    b.theta[i] = arc ? b.theta[i] + k.theta_prop_ : b.theta[i];
  }
  // TrishearListricKernel::zone_continues and zone_step_batchable after a
  // step, without branches.
  [[gnu::always_inline]] static bool in_zone(const TrishearListric& k, double zn, double en, double slip,
                                             const B& b, int i) {
    const double m = k.m_;
    const bool more = !(std::abs(slip) >= b.aux[kAbsRem][i]);
    const bool inside = (-m * zn <= en) & (en <= m * zn);
    const bool cut = (b.aux[kOnArc][i] != 0) &
                     (std::abs(b.aux[kTurned][i] + k.theta_prop_) > std::abs(b.aux[kTurnLeft][i]));
    return more & inside & (zn > 0) & !cut;
  }
  template <class Carry>
  static Next advance(const TrishearListric& k, State& st, std::int64_t&, Carry carry) {
    return TrishearListricKernel::advance<true>(k, st, carry);
  }
  static Vec2 finish(const TrishearListric&, const State& st) { return {st.x, st.y}; }

  static bool applies(const TrishearListric& k, std::size_t npoints) {
    return k.step_count_ok_ && zone::batch_worthwhile(k.zone_, npoints);
  }
  static ListricStatus status(bool ok) { return ok ? ListricStatus::ok : ListricStatus::stalled; }
};

using ListricLanes = zone::Lanes<TrishearListricLanes>;

namespace {
ListricStatus first_failure(ListricStatus so_far, ListricStatus next) {
  return so_far == ListricStatus::ok ? next : so_far;
}
}  // namespace

ListricStatus trishear_listric_point(const TrishearListric& k, Vec2& p, Mat2* cov) {
  if (cov != nullptr) return TrishearListricKernel::move(k, p, CovCarry{cov});
  return TrishearListricKernel::move(k, p, NoCarry{});
}

ListricStatus trishear_listric_dip(const TrishearListric& k, Vec2& pos, double& dip, double& sigma) {
  return TrishearListricKernel::move(k, pos, DipCarry{&dip, &sigma});
}

ListricStatus trishear_func_listric(const TrishearListric& k, std::span<Vec2> pts, std::span<Mat2> cbed) {
  if (!cbed.empty() && cbed.size() != pts.size())
    throw std::invalid_argument("trishear_func_listric: one covariance per point needed");
  if (!pts.empty()) k.check_tip_path();
  if (TrishearListricLanes::applies(k, pts.size())) {
    const zone::Data d{pts, cbed, {}, {}};
    return TrishearListricLanes::status(cbed.empty() ? ListricLanes::run<zone::Kind::points>(k, d)
                                                     : ListricLanes::run<zone::Kind::covariances>(k, d));
  }
  ListricStatus status = ListricStatus::ok;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    status = first_failure(status, cbed.empty() ? TrishearListricKernel::move(k, pts[i], NoCarry{})
                                                : TrishearListricKernel::move(k, pts[i], CovCarry{&cbed[i]}));
  }
  return status;
}

ListricStatus trishear_func_dip_listric(const TrishearListric& k, std::span<Vec2> dip_pos, std::span<double> dips,
                                        std::span<double> sigma_dip_array) {
  if (dips.size() != dip_pos.size() || sigma_dip_array.size() != dip_pos.size())
    throw std::invalid_argument("trishear_func_dip_listric: positions, dips and uncertainties differ in count");
  if (!dip_pos.empty()) k.check_tip_path();
  if (TrishearListricLanes::applies(k, dip_pos.size())) {
    return TrishearListricLanes::status(
        ListricLanes::run<zone::Kind::dips>(k, {dip_pos, {}, dips, sigma_dip_array}));
  }
  ListricStatus status = ListricStatus::ok;
  for (std::size_t i = 0; i < dip_pos.size(); ++i)
    status = first_failure(status,
                           TrishearListricKernel::move(k, dip_pos[i], DipCarry{&dips[i], &sigma_dip_array[i]}));
  return status;
}

double fault_pt_dist_listric(Vec2 q, double theta, Vec2 cc, double rc) {
  const double dx = q.x - cc.x, dy = q.y - cc.y;
  const double h = theta / 2;
  if ((q.x < cc.x && q.y < cc.y) || (q.y > cc.y && dx * std::cos(h) + dy * std::sin(h) <= 0))
    return std::abs(q.y - (cc.y - rc));
  if (q.y < cc.y && dx * std::cos(theta) + dy * std::sin(theta) < 0) return std::abs(rc - std::hypot(dx, dy));
  return std::abs(dx * std::sin(theta) - dy * std::cos(theta) - rc);
}

void fault_pts_err_listric(std::span<const Vec2> pts, double theta, Vec2 cc, double rc, std::span<double> errs) {
  if (errs.size() != pts.size()) throw std::invalid_argument("fault_pts_err_listric: one distance per point needed");
  for (std::size_t i = 0; i < pts.size(); ++i) errs[i] = fault_pt_dist_listric(pts[i], theta, cc, rc);
}

}  // namespace fq
