// Trishear over a listric fault: the kinematic kernels.
//
// The fault (map frame, always rising towards +x here; the model run mirrors
// the data of a fault rising towards -x):
//   detachment  the horizontal line y = ccy - rc, for x <= ccx
//   arc         P(theta) = (ccx + rc sin theta, ccy - rc cos theta),
//               0 <= theta <= theta_max; theta is measured at the centre from
//               the downward vertical, positive towards +x, and is also the
//               dip of the fault at P(theta) (direction (cos, sin) theta)
//   straight    from P(theta_max) in the direction (cos, sin) theta_max
//
// How to call (model run):
//   1. Build the constants of one restoration once per slip value:
//        const TrishearListric k(v0, phi, m, total_slip, increment, povers, s,
//                                theta_max, theta0, thetat_start, tip_pos, cc, rc);
//      thetat_start and tip_pos describe the tip at the start of the call
//      (thetat_start >= theta_max: on the straight segment); theta0 is the
//      tip's arc angle at the end of the call, for THIS call's slip.
//   2. Move the data in place, allocating nothing:
//        trishear_func_listric(k, pts, cbed);   // cbed empty: no Jacobians
//        trishear_func_dip_listric(k, dip_pos, dips, sigma_dip_array);
//      or one item at a time with trishear_listric_point / trishear_listric_dip.
//   3. Each returns ListricStatus::ok, or the first failure: too_many_steps
//      (as the straight ramp: |total_slip| / |increment| reaches
//      max_steps_per_point) or stalled (a point's state machine stopped
//      making progress).  The items concerned are NaN; fail the model.
// Positions stay in the map frame.  The functions read only their arguments
// and may run on any number of threads at once, each on its own arrays.
// Kinematic checks that find a point where it should not be are reported
// through fq::diag::report (whole lines, rate-limited per run).
//
// Domains of a point for the tip state (xt, yt, thetat) -- see the kernels'
// file for the step each takes and the boundaries between them:
//   flat      hanging wall above the detachment behind the centre; moves
//             (1, 0) per unit slip
//   listric   hanging wall above the arc up to the tip's radial line; turns
//             about the centre at radius r, 1/r radians per unit slip
//   straight  beyond the tip's radial line, above the zone; moves (cos, sin)
//             thetat per unit slip
//   zone      ahead of the tip between the lines at thetat +- phi; the
//             straight ramp's zone step in a frame that follows the tip
//   footwall  below the fault and the zone; fixed
#pragma once

#include <cstdint>
#include <span>

#include "foldquest/math/vec2.hpp"
#include "foldquest/models/trishear_straight.hpp"

namespace fq {

enum class ListricStatus { ok, too_many_steps, stalled };

// Passes of one point's state machine allowed in one call (every zone step
// is a pass; every other step either applies slip or changes the domain).
inline constexpr std::int64_t kMaxListricPasses = 4 * max_steps_per_point + 64;
// Passes in a row that apply no slip at all.
inline constexpr int kMaxListricIdlePasses = 16;

// The constants of one kernel call.
class TrishearListric {
 public:
  TrishearListric(double v0, double phi, double m, double total_slip, double increment, double povers, double s,
                  double theta_max, double theta0, double thetat_start, Vec2 tip_pos, Vec2 cc, double rc);

  const TrishearZone& zone() const { return zone_; }
  double total_slip() const { return total_slip_; }
  // The split of the slip: run with the tip on the arc, and on the straight
  // segment (both signed as total_slip), and where the tip starts.
  double sremcurve() const { return sremcurve0_; }
  double sremstr() const { return sremstr0_; }
  bool starts_on_arc() const { return on_arc0_; }

  // The set-up checks of the tip path (restoring from the straight segment:
  // the tip lies on the segment, and the arc slip ends at theta0).  Each
  // failed check is reported once per call; true when both hold.
  bool check_tip_path() const;

 private:
  friend struct TrishearListricKernel;
  friend struct TrishearListricLanes;

  TrishearZone zone_;
  double phi_, m_, total_slip_, increment_, povers_;
  double theta_max_, theta0_, thetat_start_;
  Vec2 tip_pos_, cc_;
  double rc_;
  double sgn_;              // slip_sign: -1 when v0 < 0, else +1
  double theta_prop_;       // increment povers / rc: tip turn per zone step
  double cos_prop_, sin_prop_;  // of theta_prop
  double cos_phi_, sin_phi_;    // of phi
  bool step_count_ok_;      // |total_slip| / |increment| < max_steps_per_point
  double cos_tm_, sin_tm_;  // of theta_max
  Vec2 arc_end_;            // P(theta_max)
  bool on_arc0_;            // tip_loc at the start: arc (true) or straight
  double sremcurve0_, sremstr0_;
};

// One point through the whole slip; `cov` (may be null) becomes J C J^T at
// each step that deforms the neighbourhood of the point (listric turns, zone
// steps, the frame turning with the tip, kinks at the flat/straight axial
// surface).
ListricStatus trishear_listric_point(const TrishearListric& k, Vec2& p, Mat2* cov);

// One dip (map frame, radians, positive down towards +x) at `pos`, and its
// uncertainty, through the whole slip.
ListricStatus trishear_listric_dip(const TrishearListric& k, Vec2& pos, double& dip, double& sigma);

// Every point; `cbed` is empty or holds one matrix per point (else
// std::invalid_argument).  Reports the tip-path checks once.
ListricStatus trishear_func_listric(const TrishearListric& k, std::span<Vec2> pts, std::span<Mat2> cbed);

// Every dip; positions, dips and uncertainties have one entry per dip (else
// std::invalid_argument).  Reports the tip-path checks once.
ListricStatus trishear_func_dip_listric(const TrishearListric& k, std::span<Vec2> dip_pos, std::span<double> dips,
                                        std::span<double> sigma_dip_array);

// The kink at the flat/straight axial surface, for dips: a dip (map frame)
// carried through the crossing's Jacobian J, and |d dip' / d dip|.
struct KinkedDip {
  double dip;
  double factor;
};
KinkedDip kink_dip(const Mat2& j, double dip);

// The Jacobian of a crossing where the velocity jumps from v1 to v2 at a
// boundary with unit normal n (pointing from the side of v1 to that of v2)
// whose own velocity along n is nvb:  J = I - (v1 - v2) n^T / (n.v1 - nvb).
Mat2 crossing_jacobian(Vec2 v1, Vec2 v2, Vec2 n, double nvb);

// The listric turn of a dip: a point at arc angle theta (radius r) turned by
// slip S, k = S / r, u = theta + dip:
//   dip' = atan(sin u / (cos u - k sin u)) - (k + theta)
//   factor = d dip'/d dip = 1 / ((cos u - k sin u)^2 + sin^2 u).
KinkedDip listric_turn_dip(double dip, double theta, double k);

// Distance of a fault point q from the listric fault whose tip is at arc
// angle theta (theta_max when the tip is on the straight segment):
//   the detachment  behind the centre below it, or above the centre on the
//                   flat side of the line through it at (pi + theta)/2:
//                   |y - (ccy - rc)|
//   the arc         below the centre up to the tip's radial line:
//                   |rc - |q - cc||
//   the straight    otherwise: |(x - ccx) sin theta - (y - ccy) cos theta - rc|
double fault_pt_dist_listric(Vec2 q, double theta, Vec2 cc, double rc);
void fault_pts_err_listric(std::span<const Vec2> pts, double theta, Vec2 cc, double rc, std::span<double> errs);

}  // namespace fq
