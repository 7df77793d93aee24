// Trishear over a ramp that rises from a horizontal detachment: the
// kinematic kernels.
//
// How to call (model run):
//   1. Put the data into the fault-tip frame of the final tip (TipFrame).
//   2. Build the constants of one restoration once per slip value:
//        const TrishearDecol k(v0, m, total_slip, increment, povers, s,
//                              decol_zeta, ramp_acute);
//      decol_zeta is the first (along-ramp) coordinate of the bend point,
//      where the ramp leaves the detachment, in the same frame.
//   3. Move the data in place, allocating nothing:
//        trishear_func_decol(k, ptsze, cbed);   // cbed empty: no Jacobians
//        trishear_func_dip_decol(k, dipposze, dipsze, sigma_dip_array);
//      or one item at a time with trishear_decol_point / trishear_decol_dip.
//   4. Each returns DecolStatus::ok, or the first failure: too_many_steps
//      when the call would need max_steps_per_point or more zone steps per
//      point (as the straight ramp), stalled when a point's state machine
//      stopped making progress (see below).  The items concerned are set to
//      NaN and the model should be treated as failed.
//   5. Positions come back relative to the tip at the start of the call.
// The functions read only their arguments and may run on any number of
// threads at once, each on its own arrays.
//
// Domains of a point, relative to the current (moving) tip:
//   ramp hanging wall  above the ramp and the zone, on the ramp's side of the
//                      axial surface; moves 1 along zeta per unit slip
//   flat hanging wall  above the detachment, behind the axial surface; moves
//                      (cos delta, -sin delta) per unit slip
//   trishear zone      ahead of the tip between eta = +-m zeta; the straight
//                      ramp's zone step (TrishearZone)
//   footwall           below the ramp and the detachment; does not move
// The axial surface is the line through the bend bisecting the hanging-wall
// angle pi - delta of the bend; it is fixed to the bend, not to the tip.
//
// Behaviour where the kinematics leaves a choice (see the kernels' file):
//   - Every step a rule takes is turned towards the remaining slip: a step
//     of the other sign (rounding at a boundary, or a point where the rules'
//     preconditions fail) becomes 0, and the point moves on through the next
//     state.  A flat hanging-wall point never crosses the axial surface onto
//     the ramp while slip runs backwards (v0 < 0): that motion carries it
//     away from the axial surface.
//   - A point's covariance changes in the zone and where the point crosses
//     the axial surface: the velocity jumps there, and the crossing shears
//     the point's neighbourhood (J = I + w grad(S)^T, see the kernels).  A
//     dip's uncertainty is scaled by the derivative of its refolding.
//   - A zone step where the field is undefined (zeta <= 0, m <= 0, s <= 0)
//     is replaced by a rigid step of one increment with the side the point
//     lies on, as in the straight ramp.
//   - A ramp parallel to the detachment (delta within about 1e-7 rad of 0,
//     where the axial surface's tangent computed with the run's pi is
//     negative or above 1e8) has an axial surface perpendicular to both:
//     its tangent is taken as infinite, and every test takes that limit.
//   - Each point's passes are capped (kMaxDecolPasses, and kMaxIdlePasses in
//     a row without slip); a point that reaches a cap is reported as
//     stalled instead of looping.
//
// Notation (fault-tip frame, lengths in data units, angles in radians):
//   zeta, eta   point relative to the current tip; zeta up-dip along the
//               ramp, eta positive into the hanging wall
//   v0, increment, total_slip, m, povers, s   as for the straight ramp
//   decol_zeta  zeta of the bend relative to the tip at the start of the
//               call (<= 0: the bend is behind the tip)
//   delta       acute ramp angle (0 to pi/2)
//   theta       dip in the fault-tip frame, positive down towards +zeta;
//               sigma its one-sigma uncertainty
#pragma once

#include <cstdint>
#include <span>

#include "foldquest/math/vec2.hpp"
#include "foldquest/models/trishear_straight.hpp"

namespace fq {

// Passes of one point's state machine allowed in one call: a pass either
// takes a zone step (at least one increment of slip) or moves the point to
// a state that does within three passes, so a call that the step count
// admits never comes near this.
inline constexpr std::int64_t kMaxDecolPasses = 4 * max_steps_per_point + 64;
// Passes in a row that apply no slip at all.  A change of domain may apply
// none (a point exactly on a boundary), but never more than two in a row.
inline constexpr int kMaxIdlePasses = 8;

enum class DecolStatus { ok, too_many_steps, stalled };

// A dip refolded where it crosses the axial surface, and the factor by which
// its uncertainty is multiplied: |d theta' / d theta|.
struct RefoldedDip {
  double theta;
  double factor;
};

// The kink of a dip crossing the axial surface from the flat hanging wall
// onto the ramp (slip forwards), and from the ramp onto the flat (slip
// backwards).  theta and the result are in the fault-tip frame; delta is the
// acute ramp angle.  A bed parallel to the detachment (theta = delta) comes
// out parallel to the ramp (0), and back.
RefoldedDip refold_flat_to_ramp(double theta, double delta);
RefoldedDip refold_ramp_to_flat(double theta, double delta);

// The constants of one kernel call.
class TrishearDecol {
 public:
  TrishearDecol(double v0, double m, double total_slip, double increment, double povers, double s,
                double decol_zeta, double ramp_acute);

  const TrishearZone& zone() const { return zone_; }
  double total_slip() const { return total_slip_; }
  double decol_zeta() const { return decol_zeta_; }
  double ramp_acute() const { return delta_; }
  // tan of the axial surface's angle from +zeta, (pi - delta)/2; infinite
  // when the ramp is parallel to the detachment.
  double tan_bisect() const { return tan_bisect_; }

 private:
  friend struct TrishearDecolKernel;
  friend struct TrishearDecolLanes;

  TrishearZone zone_;
  double m_, total_slip_, increment_, povers_, decol_zeta_, delta_;
  double abs_total_;      // |total_slip|
  bool restoring_;        // slip runs backwards: v0 < 0
  double tip_advance_;    // povers * increment
  double final_shift_;    // total_slip * povers
  bool step_count_ok_;    // |total_slip| / |increment| < max_steps_per_point
  double tan_bisect_;     // tan((pi - delta)/2); +infinity when perpendicular_
  bool perpendicular_;    // the axial surface is perpendicular to the ramp
  double tan_delta_, sin_delta_, cos_delta_;
  double flat_to_axial_;  // tan_bisect cos delta + sin delta
  Vec2 ramp_minus_flat_;  // (1 - cos delta, sin delta): ramp minus flat velocity
};

// One point through the whole slip; `cov` (may be null) becomes J C J^T at
// each zone step and where the point crosses the axial surface (the kink's
// shear; rigid moves leave it unchanged).
DecolStatus trishear_decol_point(const TrishearDecol& k, Vec2& p, Mat2* cov);

// One dip: its position, its dip and its uncertainty through the whole slip.
DecolStatus trishear_decol_dip(const TrishearDecol& k, Vec2& pos, double& theta, double& sigma);

// Every point of `ptsze`; `cbed` is empty or holds one matrix per point
// (else std::invalid_argument).  Returns the first failure, if any; every
// point is moved either way.
DecolStatus trishear_func_decol(const TrishearDecol& k, std::span<Vec2> ptsze, std::span<Mat2> cbed);
DecolStatus trishear_func_decol(std::span<Vec2> ptsze, double v0, double m, double total_slip, double increment,
                                double povers, double s, double decol_zeta, double ramp_acute,
                                std::span<Mat2> cbed);

// Every dip; positions, dips and uncertainties have one entry per dip (else
// std::invalid_argument).
DecolStatus trishear_func_dip_decol(const TrishearDecol& k, std::span<Vec2> dipposze, std::span<double> dipsze,
                                    std::span<double> sigma_dip_array);
DecolStatus trishear_func_dip_decol(std::span<Vec2> dipposze, std::span<double> dipsze, double v0, double m,
                                    double total_slip, double increment, double povers, double s,
                                    double decol_zeta, double ramp_acute, std::span<double> sigma_dip_array);

}  // namespace fq
