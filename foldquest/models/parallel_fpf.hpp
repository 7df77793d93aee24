// Parallel (kink-band) fault-propagation fold: the geometry and the kernels.
//
// The fault is a lower segment and a steeper upper segment joined at a bend;
// the tip propagates up the upper segment.  The hanging wall is folded into
// straight-limbed dip domains separated by axial surfaces.  Rock moves
// rigidly inside each domain and changes velocity only where it crosses a
// domain boundary, so the kinematics is piecewise rigid: no slip increment
// is involved and a restoration is exact up to rounding.
//
// How to call (model run):
//   1. Solve the geometry of the two segment angles once:
//        PfpfGeometry g;  pfpf_solve(theta_up, theta_low, g)
//      (PfpfFailure::none, or the reason the model fails).  P/S follows from
//      the geometry; it is not a parameter.
//   2. Put the data into the working frame: the map frame mirrored in x when
//      the fault rises towards -x (mirror_x), so that the fault always rises
//      towards +x.
//   3. Describe the fold at the start of the slip with PfpfStart: the bend
//      (fixed), the tip and pte, the point where the forelimb's axial
//      surfaces meet.  pte lies on K: pte = tip + (cos kappa, sin kappa) c F
//      with c = P/S q ef_constant and F the slip of the fold so far
//      (pfpf_pte).  A model run restoring backwards from the final state
//      (total_slip < 0) passes F = -total_slip: the restoration undoes the
//      whole slip, whatever part of it a growth stratum or a terrace saw.
//      Run forwards (a normal slip sense) the fold starts closed, F = 0.
//   4. Move the data in place: pfpf_points / pfpf_dips, or one item at a
//      time with pfpf_point / pfpf_dip.  Positions stay in the working frame
//      (no shift back to the starting tip).
// Every function reads only its arguments (the kernels may report a
// diagnostic through fq::diag, which is thread-safe); any number of threads
// may call them at once, each on its own arrays.  Nothing draws a random
// number: the same model gives the same result on every call.
//
// Notation (working frame x right, y up; lengths in data units; angles in
// radians; velocities per unit of signed slip):
//   theta_up, theta_low  acute dips of the upper and lower segments,
//                        theta_up >= theta_low; delta = theta_up - theta_low
//   gamma1               angle of the back axial surfaces B and E1 (slope
//                        -tan gamma1), the root of
//     f(g) = -sin(theta_low + g) (sin(2g + theta_low) + sin theta_low)
//            / (cos(theta_low + g) (sin(2g + theta_low) + sin theta_low) - sin g)
//            - tan delta                                      in (0, pi/2]
//   beta1                theta_up + 2 gamma1 - pi
//   gamma_star           root of
//     g(x) = sin x sin(gamma1 - beta1)
//            / (sin gamma1 sin(x - beta1) / sin(2x - beta1) + sin(gamma1 - x))
//            - sin theta_up                                   in (beta1, gamma1)
//   beta2 = pi - 2 gamma_star + beta1;  kappa = pi - beta2 + theta_up;
//   gamma = pi/2 + gamma_star - gamma1;  P/S = 1 / (1 - sin theta_up / sin beta2)
//   q = sin(gamma1 + theta_low) / sin(gamma1 + theta_up)
//   domains   1 hanging wall behind B: v1 = (cos theta_low, sin theta_low)
//             2 over the upper segment: v2 = q (cos theta_up, sin theta_up)
//             3 crest wedge above pte between E1 and E2:
//               v3 = sin(gamma1 + theta_low) / sin(gamma1 + gamma) (cos gamma, sin gamma)
//             4 forelimb between K, E2 and G:
//               v4 = q sin beta2 / sin(beta2 - theta_up + gamma) (cos gamma, sin gamma)
//             5 footwall: v5 = 0
//   vt = P/S q (cos theta_up, sin theta_up)     the tip
//   ve = vt + P/S q ef_constant (cos kappa, sin kappa)   pte, with
//   ef_constant = sin(gamma_star - beta1) sin theta_up / (sin(2 gamma_star - beta1) sin gamma_star)
//   lines     B  through the bend, slope -tan gamma1, fixed
//             E1 through pte, slope -tan gamma1, moves with ve
//             E2 through pte, slope tan gamma, moves with ve
//             K  through the tip, slope tan kappa, moves with vt
//             G  through the tip, slope tan gamma, moves with vt
//   A domain's boundaries, each crossed in either direction:
//     1 {B};  2 {B, E1 above pte, K below pte};  3 {E1 above, E2 above};
//     4 {E2 above, K below, G with the tip below the point};  5 {G, the same}.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "foldquest/math/vec2.hpp"

namespace fq {

// Acceptance of a root of f: |f| no larger than 0.001 held in single
// precision.  The same bound (strictly below) ends the gamma_star bisection.
inline constexpr double kPfpfRootTolerance = 0.0010000000474974513;
// The interval (0, pi/2] is scanned for the root of f in this many equal
// intervals.
inline constexpr int kGamma1Intervals = 2000;
// Evaluations of g allowed in the gamma_star bisection.
inline constexpr int kGammaStarMaxEvals = 1000;
// Boundary crossings allowed to one point in one call.  A point crosses
// each boundary at most a few times; more means it is caught at a corner
// and has stopped making progress.
inline constexpr int kPfpfMaxCrossings = 1000;

// The messages this model prints (one whole line each, through fq::diag).
inline constexpr const char* kPfpfNoGamma1 = "Error: No solution for gamma1 found within desired precision.";
inline constexpr const char* kPfpfNoGammaStar = "Error: No solution for gamma_star found within desired precision.";
inline constexpr const char* kPfpfNegativePoverS = "Error: P/S<0";
inline constexpr const char* kPfpfNoDomain = "Error: point is not in any of the domains";
inline constexpr const char* kPfpfStalled = "Error: point stopped crossing the fold's domain boundaries";

// f and g of the notation above.
double pfpf_gamma1_f(double gamma1, double theta_low, double delta);
double pfpf_gamma_star_g(double gamma_star, double gamma1, double beta1, double theta_up);

enum class PfpfFailure { none, segments, gamma1, gamma_star, povers };

// The solved geometry of one pair of segment angles.
struct PfpfGeometry {
  double theta_up = 0, theta_low = 0, delta = 0;
  double gamma1 = 0, gamma1_error = 0;  // the root of f and f there
  double gamma_star = 0, beta1 = 0, beta2 = 0, kappa = 0, gamma = 0;
  double povers = 0, q = 0, ef_constant = 0;
  std::array<Vec2, 6> v{};  // v[1..5]: the domains' velocities; v[0] unused
  Vec2 vt, ve;               // tip and pte velocities
  Vec2 pte_dir;              // (cos kappa, sin kappa) c, the pte offset per unit fold slip
  double gam1_slope = 0, gam_slope = 0, kap_slope = 0;
  double tan_low = 0, tan_up = 0;
};

// gamma1: the first interval of the scan where f changes sign and that
// holds a root (not a pole) is bisected until its midpoint no longer
// changes; the end with the smaller |f| is taken and accepted when
// |f| <= kPfpfRootTolerance.  Returns false when no interval qualifies;
// gamma1 and f then hold the best end found (NaN when none).
bool pfpf_solve_gamma1(double theta_low, double delta, double& gamma1, double& f);

// gamma_star between beta1 and gamma1.  g(gamma1) = 0 always (a degenerate
// root, P/S infinite), so the bracket g(beta1 + e) < 0 < g(gamma1 - e),
// e = 1e-6 (gamma1 - beta1), must hold; then bisection from lo = beta1,
// hi = gamma1 on mid = lo + (hi - lo)/2 until |g(mid)| < kPfpfRootTolerance
// (g < 0: lo = mid, else hi = mid), at most kGammaStarMaxEvals evaluations.
// False when the bracket fails or the bisection does not end.
bool pfpf_solve_gamma_star(double gamma1, double beta1, double theta_up, double& gamma_star);

// Solves the whole geometry.  Fails (segments) when theta_low > theta_up
// or an angle is not a number, (gamma1), (gamma_star) as above and for
// equal segment angles (no bend, no fold), and
// (povers) when P/S < 0 or is not finite.  Prints nothing.
PfpfFailure pfpf_solve(double theta_up, double theta_low, PfpfGeometry& g);

// The slip after which point `pt`, moving with v1, reaches the line through
// ptb of slope `slope` moving with vb (velocities per step of v0):
//   ((pt.x - ptb.x) slope - pt.y + ptb.y) / ((v1.y - vb.y - slope (v1.x - vb.x)) / v0).
// Negative: the line is reached moving backwards.
double calc_slip(Vec2 pt, Vec2 ptb, double v0, Vec2 v1, Vec2 vb, double slope);

// A dip (positive down towards +x, radians) and its uncertainty, crossing
// a boundary of slope `slope` that moves with vb, from velocity v1 to v2.
// With t = tan(-dip), s2 = sec^2(-dip), g = t v1.x - v1.y,
// h = vb.x slope - vb.y, L = (slope - t) v2.y + g slope - t h and
// A = (slope - t) v2.x + g - h: dip := -atan(L/A), and sigma is multiplied
// by |d dip' / d dip| =
//   |((slope v1.x - h - v2.y) s2 A - (v1.x - v2.x) s2 L) / (A^2 + L^2)|.
void calc_dip_change(double& dip, double& sigma_dip, Vec2 v1, Vec2 v2, Vec2 vb, double slope);

// The fold at the start of a call (working frame).
struct PfpfStart {
  Vec2 bend;
  Vec2 tip;
  Vec2 pte;
};

// pte for a tip and a signed fold slip F: tip + pte_dir F.
Vec2 pfpf_pte(const PfpfGeometry& g, Vec2 tip, double fold_slip);

// The domain (1..5) of a point, or 0 when it is in none.
int pfpf_classify(const PfpfGeometry& g, Vec2 bend, Vec2 tip, Vec2 pte, Vec2 p);

// How one item's call ended.
enum class PfpfStatus { ok, no_domain, stalled };

// One point through `total_slip` (signed; its sign is the sense of the
// motion).  `cov` (may be null) is carried through the Jacobian of every
// crossing, J = I + w grad(r)^T (w = velocity before minus after, r the
// slip at which the point reaches the moving line; det J = 1).  A point in
// no domain, or one that stops making progress, ends where it stands.
PfpfStatus pfpf_point(const PfpfGeometry& g, const PfpfStart& start, double total_slip, Vec2& p, Mat2* cov);
// One dip: its position, dip and uncertainty (radians, working frame).
PfpfStatus pfpf_dip(const PfpfGeometry& g, const PfpfStart& start, double total_slip, Vec2& pos, double& dip,
                    double& sigma);

// Every point (cbed empty, or one matrix per point, else
// std::invalid_argument) and every dip.  Each item in no domain, or
// stalled, is reported through fq::diag (kPfpfNoDomain, kPfpfStalled).
// Returns the number of such items.
std::int64_t pfpf_points(const PfpfGeometry& g, const PfpfStart& start, double total_slip, std::span<Vec2> pts,
                         std::span<Mat2> cbed);
std::int64_t pfpf_dips(const PfpfGeometry& g, const PfpfStart& start, double total_slip, std::span<Vec2> dippos,
                       std::span<double> dips, std::span<double> sigma_dip_array);

// The mirror of the working frame: x times dir (dir = -1 mirrors), the
// covariance's off-diagonal entries negated with it.
inline Vec2 mirror_x(Vec2 p, int dir) { return dir == -1 ? Vec2{-p.x, p.y} : p; }
inline Mat2 mirror_x(const Mat2& c, int dir) { return dir == -1 ? Mat2{c.a, -c.b, -c.c, c.d} : c; }

}  // namespace fq
