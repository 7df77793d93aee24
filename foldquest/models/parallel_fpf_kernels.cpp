// Parallel fault-propagation fold: the geometry solution and the point and
// dip kernels (notation in parallel_fpf.hpp).
//
// A kernel call follows each item through its slip in rigid moves: in its
// domain D the item moves with v_D; every boundary of D (a line through the
// bend, the tip or pte, itself moving with its own velocity) is reached
// after the slip calc_slip gives, and the first boundary reached within the
// remaining slip -- by a motion out of the domain, on the part of the line
// that bounds the domain -- takes the item into the domain on its other
// side.  An item on a boundary (or past it by rounding) that moves out of
// its domain reaches the boundary at once, with no slip; one that moves
// into its domain does not reach it.  So an item never bounces between two
// domains on the line it sits on; in addition the line just crossed is left
// out of the next search.
//
// Where the velocity jumps, the neighbourhood of the item is sheared: an
// item at p reaches the line after r(p) of slip and then moves with the new
// velocity, so its end is p + w r(p) + (terms independent of p) with
// w = v_before - v_after, and the crossing's Jacobian is J = I + w grad(r)^T
// with grad(r) = (slope, -1) / den (den the denominator of calc_slip).  The
// line moves with the material's normal velocity component on both sides,
// so w is parallel to the line and det J = 1.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "foldquest/state/run_state.hpp"
#include "foldquest/models/parallel_fpf.hpp"
#include "foldquest/report/diagnostics.hpp"

namespace fq {

namespace {

constexpr double pi = Constants::pi;
constexpr double half_pi = pi / 2;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// f at g with its denominator, whose sign change marks a pole; tan delta
// is passed in, computed once per solution.
struct FValue {
  double f, den;
};
FValue gamma1_f(double g, double theta_low, double sin_low, double tan_delta) {
  const double a = std::sin(2 * g + theta_low) + sin_low;
  const double den = std::cos(theta_low + g) * a - std::sin(g);
  return {-std::sin(theta_low + g) * a / den - tan_delta, den};
}

}  // namespace

double pfpf_gamma1_f(double g, double theta_low, double delta) {
  return gamma1_f(g, theta_low, std::sin(theta_low), std::tan(delta)).f;
}

double pfpf_gamma_star_g(double x, double gamma1, double beta1, double theta_up) {
  return std::sin(x) * std::sin(gamma1 - beta1) /
             (std::sin(gamma1) * std::sin(x - beta1) / std::sin(2 * x - beta1) + std::sin(gamma1 - x)) -
         std::sin(theta_up);
}

namespace {

// A sign change of f between two numbers (a NaN end, such as f(0) for a
// flat lower segment, holds nothing) with no pole in between (the
// denominator keeps its sign).
bool holds_root(FValue a, FValue b) {
  const bool change = (a.f < 0 && b.f > 0) || (a.f > 0 && b.f < 0) || (a.f == 0 && std::isfinite(b.f)) ||
                      (b.f == 0 && std::isfinite(a.f));
  const bool pole = !(a.den < 0 && b.den < 0) && !(a.den > 0 && b.den > 0);
  return change && !pole;
}

// Grid points between exact evaluations of the sine and cosine in the scan.
constexpr int kScanAnchor = 64;

}  // namespace

// The scan needs only the signs of f and of its denominator at the grid
// points g_i = i h.  It takes them from the sine and cosine of
// u = theta_low + g_i, carried from point to point by a rotation through h
// and recomputed every kScanAnchor points (rounding of at most ~1e-14),
// with sin(2g + theta_low) = sin 2u cos tl - cos 2u sin tl and
// sin g = sin u cos tl - cos u sin tl.  Only where that rounding could
// decide a sign -- at an interval it flags -- is f evaluated directly, at
// the grid points on either side, and the first interval that holds a root
// by the direct values is bisected with the direct f.  That interval is the
// one a scan of direct evaluations finds, at a quarter of the cost.
bool pfpf_solve_gamma1(double theta_low, double delta, double& gamma1, double& f_out) {
  gamma1 = nan;
  f_out = nan;
  const double h = half_pi / kGamma1Intervals;
  const double sin_low = std::sin(theta_low), cos_low = std::cos(theta_low), tan_delta = std::tan(delta);
  const double sin_h = std::sin(h), cos_h = std::cos(h);
  auto grid = [&](int i) { return i >= kGamma1Intervals ? half_pi : i * h; };
  auto exact = [&](int i) { return gamma1_f(grid(i), theta_low, sin_low, tan_delta); };
  auto from_sin_cos = [&](double su, double cu) {
    const double a = 2 * su * cu * cos_low - (cu * cu - su * su) * sin_low + sin_low;
    const double den = cu * a - (su * cos_low - cu * sin_low);
    return FValue{-su * a / den - tan_delta, den};
  };
  auto f = [&](double g) { return gamma1_f(g, theta_low, sin_low, tan_delta).f; };

  double su = sin_low, cu = cos_low;
  FValue va = from_sin_cos(su, cu);
  int found = 0;  // the interval (found - 1, found) holding the root, 0: none
  for (int i = 1; i <= kGamma1Intervals && found == 0; ++i) {
    if (i % kScanAnchor == 0 || i == kGamma1Intervals) {
      su = std::sin(theta_low + grid(i));
      cu = std::cos(theta_low + grid(i));
    } else {
      const double s_next = su * cos_h + cu * sin_h;
      cu = cu * cos_h - su * sin_h;
      su = s_next;
    }
    const FValue vb = from_sin_cos(su, cu);
    // Any sign change of f or of the denominator within rounding of the
    // grid: decide with direct values on the intervals around it.
    const bool near = (va.f < 0) != (vb.f < 0) || (va.den < 0) != (vb.den < 0) || !std::isfinite(va.f) ||
                      !std::isfinite(vb.f);
    if (near) {
      for (int j = std::max(1, i - 1); j <= std::min(kGamma1Intervals, i + 1); ++j) {
        if (holds_root(exact(j - 1), exact(j))) {
          found = j;
          break;
        }
      }
    }
    va = vb;
  }
  if (found == 0) return false;

  double lo = grid(found - 1), hi = grid(found), flo = exact(found - 1).f;
  // Bisect until the midpoint no longer changes (at most ~64 halvings of a
  // double interval).
  for (int k = 0; k < 200; ++k) {
    const double mid = lo + (hi - lo) / 2;
    if (mid == lo || mid == hi) break;
    const double fm = f(mid);
    if (fm == 0) {
      lo = hi = mid;
      break;
    }
    if ((fm < 0) == (flo < 0)) {
      lo = mid;
      flo = fm;
    } else {
      hi = mid;
    }
  }
  const double flo2 = f(lo), fhi = f(hi);
  const bool take_lo = std::abs(flo2) <= std::abs(fhi);
  gamma1 = take_lo ? lo : hi;
  f_out = take_lo ? flo2 : fhi;
  return std::abs(f_out) <= kPfpfRootTolerance;
}

bool pfpf_solve_gamma_star(double gamma1, double beta1, double theta_up, double& gamma_star) {
  auto g = [&](double x) { return pfpf_gamma_star_g(x, gamma1, beta1, theta_up); };
  gamma_star = nan;
  const double e = 1e-6 * (gamma1 - beta1);
  if (!(g(beta1 + e) < 0 && 0 < g(gamma1 - e))) return false;
  double lo = beta1, hi = gamma1;
  for (int n = 0; n < kGammaStarMaxEvals; ++n) {
    const double mid = lo + (hi - lo) / 2;
    const double gm = g(mid);
    gamma_star = mid;
    if (std::abs(gm) < kPfpfRootTolerance) return true;
    if (gm < 0) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return false;
}

PfpfFailure pfpf_solve(double theta_up, double theta_low, PfpfGeometry& g) {
  g = PfpfGeometry{};
  g.theta_up = theta_up;
  g.theta_low = theta_low;
  g.delta = theta_up - theta_low;
  if (!(theta_low <= theta_up)) return PfpfFailure::segments;
  // Without a bend f's root sits at pi/2 only through the rounding of pi,
  // and gamma_star then gives a P/S near 20 from nothing: no fold.
  if (g.delta == 0) return PfpfFailure::gamma_star;
  if (!pfpf_solve_gamma1(theta_low, g.delta, g.gamma1, g.gamma1_error)) return PfpfFailure::gamma1;
  g.beta1 = theta_up + 2 * g.gamma1 - pi;
  if (!pfpf_solve_gamma_star(g.gamma1, g.beta1, theta_up, g.gamma_star)) return PfpfFailure::gamma_star;
  g.beta2 = pi - 2 * g.gamma_star + g.beta1;
  g.kappa = pi - g.beta2 + theta_up;
  g.gamma = half_pi + g.gamma_star - g.gamma1;
  g.povers = 1 / (1 - std::sin(theta_up) / std::sin(g.beta2));
  if (!(g.povers >= 0) || !std::isfinite(g.povers)) return PfpfFailure::povers;

  const double cu = std::cos(theta_up), su = std::sin(theta_up);
  const double cg = std::cos(g.gamma), sg = std::sin(g.gamma);
  g.q = std::sin(g.gamma1 + theta_low) / std::sin(g.gamma1 + theta_up);
  g.v[1] = {std::cos(theta_low), std::sin(theta_low)};
  g.v[2] = {g.q * cu, g.q * su};
  const double k3 = std::sin(g.gamma1 + theta_low) / std::sin(g.gamma1 + g.gamma);
  g.v[3] = {k3 * cg, k3 * sg};
  const double k4 = g.q * std::sin(g.beta2) / std::sin(g.beta2 - theta_up + g.gamma);
  g.v[4] = {k4 * cg, k4 * sg};
  g.v[5] = {0, 0};
  const double ps_q = g.povers * g.q;
  g.vt = {ps_q * cu, ps_q * su};
  g.ef_constant = std::sin(g.gamma_star - g.beta1) * su / (std::sin(2 * g.gamma_star - g.beta1) * std::sin(g.gamma_star));
  g.pte_dir = {ps_q * g.ef_constant * std::cos(g.kappa), ps_q * g.ef_constant * std::sin(g.kappa)};
  g.ve = {g.vt.x + g.pte_dir.x, g.vt.y + g.pte_dir.y};
  g.gam1_slope = -std::tan(g.gamma1);
  g.gam_slope = std::tan(g.gamma);
  g.kap_slope = std::tan(g.kappa);
  g.tan_low = std::tan(theta_low);
  g.tan_up = std::tan(theta_up);
  return PfpfFailure::none;
}

double calc_slip(Vec2 pt, Vec2 ptb, double v0, Vec2 v1, Vec2 vb, double slope) {
  return ((pt.x - ptb.x) * slope - pt.y + ptb.y) / ((v1.y - vb.y - slope * (v1.x - vb.x)) * (1 / v0));
}

void calc_dip_change(double& dip, double& sigma_dip, Vec2 v1, Vec2 v2, Vec2 vb, double slope) {
  const double t = std::tan(-dip);
  const double c = std::cos(-dip);
  const double s2 = 1 / (c * c);
  const double g = t * v1.x - v1.y;
  const double h = vb.x * slope - vb.y;
  const double L = (slope - t) * v2.y + g * slope - t * h;
  const double A = (slope - t) * v2.x + g - h;
  dip = -std::atan(L / A);
  sigma_dip = sigma_dip * std::abs(((slope * v1.x * s2 - h * s2 - v2.y * s2) * A - (v1.x * s2 - s2 * v2.x) * L) /
                                   (A * A + L * L));
}

Vec2 pfpf_pte(const PfpfGeometry& g, Vec2 tip, double fold_slip) {
  return {tip.x + g.pte_dir.x * fold_slip, tip.y + g.pte_dir.y * fold_slip};
}

// Regions (point (x, y), bend (bx, by), tip (tx, ty), pte (ex, ey)):
//   footwall (5)  x <= bx and below the lower segment, bx < x <= tx and
//                 below the upper segment, or x > tx and below G
//   1             below B: y - by < (x - bx) gam1_slope
//   above pte or in front of K:
//     2           above pte and behind E1
//     3           above pte and behind E2
//     none        in front of G: (y - ty)/gam_slope <= x - tx
//     4           otherwise
//   2             below pte and behind K
int pfpf_classify(const PfpfGeometry& g, Vec2 bend, Vec2 tip, Vec2 pte, Vec2 p) {
  const double x = p.x, y = p.y;
  const double bx = bend.x, by = bend.y, tx = tip.x, ty = tip.y, ex = pte.x, ey = pte.y;
  // Ties at the bend's and the tip's x go to the segment behind them, so
  // that every point is classified.
  if (x <= bx) {
    if (y - by < g.tan_low * (x - bx)) return 5;
  } else if (x <= tx) {
    if (y - by < g.tan_up * (x - bx)) return 5;
  } else if (y - ty < (x - tx) * g.gam_slope) {
    return 5;
  }
  if (y - by < (x - bx) * g.gam1_slope) return 1;
  if (ey <= y || (y - ty) / g.kap_slope <= x - tx) {
    if (ey < y && x - ex < (y - ey) / g.gam1_slope) return 2;
    if (ey < y && x - ex < (y - ey) / g.gam_slope) return 3;
    if ((y - ty) / g.gam_slope <= x - tx) return 0;
    return 4;
  }
  return 2;
}

namespace {

enum class LineId { B, E1, E2, K, G, none };
enum class Side { any, above_pte, below_pte, tip_below };

// One boundary of a domain: the line, the part of it that bounds the
// domain, the domain on its other side, and whether the domain lies ahead
// of the line (at larger x for the same y) or behind it.
struct Boundary {
  LineId line;
  Side side;
  int to;
  bool ahead;
};

struct DomainBoundaries {
  int n;
  Boundary b[3];
};

// Index = domain.  Behind each line, ahead of it:
//   B: 1, 2   E1: 2, 3   E2: 3, 4   K: 2, 4   G: 4, 5
constexpr DomainBoundaries kBoundaries[6] = {
    {0, {}},
    {1, {{LineId::B, Side::any, 2, false}}},
    {3,
     {{LineId::B, Side::any, 1, true},
      {LineId::E1, Side::above_pte, 3, false},
      {LineId::K, Side::below_pte, 4, false}}},
    {2, {{LineId::E1, Side::above_pte, 2, true}, {LineId::E2, Side::above_pte, 4, false}}},
    {3,
     {{LineId::E2, Side::above_pte, 3, true},
      {LineId::K, Side::below_pte, 2, true},
      {LineId::G, Side::tip_below, 5, false}}},
    {1, {{LineId::G, Side::tip_below, 4, true}}},
};

struct NoCarry {};
struct CovCarry {
  Mat2* c;
};
struct DipCarry {
  double* dip;
  double* sigma;
};

template <class Carry>
PfpfStatus move(const PfpfGeometry& g, const PfpfStart& start, double total_slip, Vec2& p, Carry carry) {
  Vec2 tip = start.tip, pte = start.pte;
  const Vec2 bend = start.bend;
  const double sign = total_slip >= 0 ? 1.0 : -1.0;
  double rem = total_slip;
  int domain = pfpf_classify(g, bend, tip, pte, p);
  if (domain == 0) return PfpfStatus::no_domain;
  LineId last = LineId::none;
  int crossings = 0;
  while (sign * rem > 0) {
    const Vec2 v = g.v[static_cast<std::size_t>(domain)];
    // The first boundary reached within the remaining slip.
    double r = rem;
    const Boundary* hit = nullptr;
    Vec2 hit_vel{}, hit_grad{};
    double hit_slope = 0;
    const DomainBoundaries& db = kBoundaries[domain];
    for (int i = 0; i < db.n; ++i) {
      const Boundary& bd = db.b[i];
      if (bd.line == last) continue;
      Vec2 lp, lv;
      double k;
      switch (bd.line) {
        case LineId::B: lp = bend; lv = {0, 0}; k = g.gam1_slope; break;
        case LineId::E1: lp = pte; lv = g.ve; k = g.gam1_slope; break;
        case LineId::E2: lp = pte; lv = g.ve; k = g.gam_slope; break;
        case LineId::K: lp = tip; lv = g.vt; k = g.kap_slope; break;
        default: lp = tip; lv = g.vt; k = g.gam_slope; break;
      }
      // side = (y - ly) - k (x - lx) is positive above the line; at a
      // given y it grows towards -x when k > 0, so the domain's side of
      // the line has the sign of k behind it and the opposite sign ahead.
      // The motion changes side by den per unit slip.
      const double side = (p.y - lp.y) - k * (p.x - lp.x);
      const double den = (v.y - lv.y) - k * (v.x - lv.x);
      const double domain_side = (bd.ahead ? -1.0 : 1.0) * (k < 0 ? -1.0 : 1.0);
      // Only a motion out of the domain reaches the boundary (NaN fails).
      if (!(sign * den * domain_side < 0)) continue;
      // Inside, the line is reached after calc_slip's slip; on the line
      // (or past it by rounding) it is reached at once.
      const double rx = side * domain_side > 0 ? -side / den : 0.0;
      // Before the slip runs out and before the best so far.
      if (!(std::abs(rx) < std::abs(r))) continue;
      const double y_at = p.y + v.y * rx;
      bool on_part = true;
      switch (bd.side) {
        case Side::above_pte: on_part = y_at > pte.y + g.ve.y * rx; break;
        case Side::below_pte: on_part = y_at < pte.y + g.ve.y * rx; break;
        case Side::tip_below: on_part = tip.y + g.vt.y * rx < y_at; break;
        case Side::any: break;
      }
      if (!on_part) continue;
      r = rx;
      hit = &bd;
      hit_vel = lv;
      hit_slope = k;
      hit_grad = {k / den, -1 / den};
    }
    p.x += v.x * r;
    p.y += v.y * r;
    tip.x += g.vt.x * r;
    tip.y += g.vt.y * r;
    pte.x += g.ve.x * r;
    pte.y += g.ve.y * r;
    rem -= r;
    if (hit == nullptr) break;  // the whole remaining slip in this domain
    const Vec2 v_to = g.v[static_cast<std::size_t>(hit->to)];
    if constexpr (std::is_same_v<Carry, CovCarry>) {
      if (carry.c != nullptr) {
        const Vec2 w{v.x - v_to.x, v.y - v_to.y};
        const Mat2 j{1 + w.x * hit_grad.x, w.x * hit_grad.y, w.y * hit_grad.x, 1 + w.y * hit_grad.y};
        *carry.c = (j * *carry.c) * transpose(j);
      }
    }
    if constexpr (std::is_same_v<Carry, DipCarry>) {
      calc_dip_change(*carry.dip, *carry.sigma, v, v_to, hit_vel, hit_slope);
    }
    domain = hit->to;
    last = hit->line;
    if (++crossings > kPfpfMaxCrossings) return PfpfStatus::stalled;
  }
  return PfpfStatus::ok;
}

std::int64_t report(PfpfStatus s) {
  switch (s) {
    case PfpfStatus::ok: return 0;
    case PfpfStatus::no_domain: diag::report(kPfpfNoDomain); return 1;
    case PfpfStatus::stalled: diag::report(kPfpfStalled); return 1;
  }
  return 0;
}

}  // namespace

PfpfStatus pfpf_point(const PfpfGeometry& g, const PfpfStart& start, double total_slip, Vec2& p, Mat2* cov) {
  if (cov == nullptr) return move(g, start, total_slip, p, NoCarry{});
  return move(g, start, total_slip, p, CovCarry{cov});
}

PfpfStatus pfpf_dip(const PfpfGeometry& g, const PfpfStart& start, double total_slip, Vec2& pos, double& dip,
                    double& sigma) {
  return move(g, start, total_slip, pos, DipCarry{&dip, &sigma});
}

std::int64_t pfpf_points(const PfpfGeometry& g, const PfpfStart& start, double total_slip, std::span<Vec2> pts,
                         std::span<Mat2> cbed) {
  if (!cbed.empty() && cbed.size() != pts.size())
    throw std::invalid_argument("pfpf_points: one covariance per point needed");
  std::int64_t bad = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const PfpfStatus s = cbed.empty() ? move(g, start, total_slip, pts[i], NoCarry{})
                                      : move(g, start, total_slip, pts[i], CovCarry{&cbed[i]});
    bad += report(s);
  }
  return bad;
}

std::int64_t pfpf_dips(const PfpfGeometry& g, const PfpfStart& start, double total_slip, std::span<Vec2> dippos,
                       std::span<double> dips, std::span<double> sigma_dip_array) {
  if (dippos.size() != dips.size() || dips.size() != sigma_dip_array.size())
    throw std::invalid_argument("pfpf_dips: positions, dips and uncertainties differ in count");
  std::int64_t bad = 0;
  for (std::size_t i = 0; i < dips.size(); ++i)
    bad += report(move(g, start, total_slip, dippos[i], DipCarry{&dips[i], &sigma_dip_array[i]}));
  return bad;
}

}  // namespace fq
