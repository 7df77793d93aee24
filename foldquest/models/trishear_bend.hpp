// Trishear over a fault with a bend: the kinematic kernels.
//
// The fault is two straight segments joined at a bend: segment 1 above the
// bend, segment 2 below it, at most as steep as segment 1.  The tip
// propagates up the fault (from segment 2 through the bend onto segment 1);
// hanging-wall rock that passes the bend is kinked across the bisector of
// the bend's hanging-wall angle.  Ahead of the tip the trishear zone of the
// straight ramp (TrishearZone) deforms the rock.
//
// How to call (model run):
//   1. Put the data into the frame of the tip at the start of the slip, on
//      the segment the tip lies on (TipFrame with that segment's acute dip).
//   2. Build the constants of one slip once:
//        const TrishearBend k(v0, m, total_slip, increment, povers, s,
//                             bendze, ramp_acute1, ramp_acute2, start_segment);
//      bendze is the bend in that frame, start_segment the segment whose
//      frame the data are in (0: decided from bendze, 1 when the bend is
//      behind or at the tip, else 2).
//   3. Move the data in place: trishear_func_bend / trishear_func_dip_bend
//      (or one item at a time with trishear_bend_point / trishear_bend_dip).
//   4. Positions come back relative to the tip at the END of the slip, in
//      the frame of k.end_segment(): take them back to the map with the tip
//      after the slip and the acute dip of k.end_segment().
//   5. A call returns false when it cannot step the slip (the step limit of
//      the straight ramp, max_steps_per_point) or when a point stops making
//      progress (its pass limit); the items concerned are then NaN and the
//      model should be treated as failed.
// Every function reads only its arguments; any number of threads may call
// them at once, each on its own arrays.
//
// Notation (fault-tip frame of the tip's current segment, lengths in data
// units, angles in radians):
//   zeta, eta    point relative to the current (moving) tip: zeta up-dip
//                along the tip's segment, eta into the hanging wall
//   delta1/2     acute dips of segments 1 and 2 (ramp_angle(1..2))
//   d            delta1 - delta2 >= 0, the bend's angle; h = d/2
//   tb           tan of the bisector's angle (pi - d)/2 from +zeta; +infinity
//                (a line perpendicular to the fault) when the segments are
//                parallel
//   zb0, zb      the bend's zeta at the start of a slip piece, and relative
//                to the moving tip after slip S: zb = zb0 - S P
//   P            povers, tip advance per unit slip; S the signed slip applied
//                so far in the piece; Q the piece's magnitude; rem = Q sign - S
//   m, s, v0, increment   as for the straight ramp (trishear_straight.hpp)
//   theta, sigma dip in the fault-tip frame and its one-sigma uncertainty
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "foldquest/math/vec2.hpp"
#include "foldquest/models/trishear_straight.hpp"

namespace fq {

// Relative tolerance of "the tip reaches the bend": a slip whose tip travel
// |total_slip| P comes within this fraction of the distance to the bend
// reaches it, and a slip piece smaller than this fraction of |total_slip| is
// empty.  Rounding of the tip path then decides nothing.
inline constexpr double kBendReachTolerance = 1e-9;

// Passes of one point's state machine allowed per zone step of its slip
// piece, plus a fixed allowance for the rigid moves and crossings.  Each
// pass moves the point or changes its state; a point that exceeds this has
// stopped making progress and fails the call.
inline constexpr std::int64_t kBendPassesPerStep = 8;
inline constexpr std::int64_t kBendExtraPasses = 64;

// A dip refolded at the bisector: the new dip and the factor of its
// uncertainty, |d theta' / d theta|.
struct DipKink {
  double theta;
  double factor;
};

// A(u) = atan(1 / (tan h - sin u / (cos h cos(h + u)))), plus pi when that
// arc tangent is negative; G(u) = 4 sin u (sin(u + d) - sin u) /
// (2 cos 2u - 3 + cos d - 2 cos(2u + d)).  A'(u) = 1 - G(u).
double bend_kink_a(double u, double d);
double bend_kink_g(double u, double d);

// Crossing from the tip segment's hanging wall into the other segment's
// (restoring): u = -theta, theta' = pi/2 + h - A(u), factor |1 - G(u)|.
DipKink bend_kink_into_other(double theta, double d);
// Crossing from the other segment's hanging wall onto the tip segment's
// (deforming): u = theta - d, theta' = A(u) + h - pi/2, factor |1 - G(u)|.
DipKink bend_kink_onto_tip_segment(double theta, double d);

// One slip piece: the tip's segment, the bend's zeta at the piece's start,
// the magnitude of its slip and the pass limit of one point.
struct BendPiece {
  int segment = 1;
  double zb0 = 0;
  double slip = 0;
  std::int64_t max_passes = 0;
};

// The constants of one kernel call.
class TrishearBend {
 public:
  TrishearBend(double v0, double m, double total_slip, double increment, double povers, double s, Vec2 bendze,
               double ramp_acute1, double ramp_acute2, int start_segment = 0);

  const TrishearZone& zone() const { return zone_; }
  int start_segment() const { return pieces_[0].segment; }
  // The segment the tip lies on at the end of the slip: the frame the
  // points come back in.
  int end_segment() const { return pieces_[static_cast<std::size_t>(npieces_ - 1)].segment; }
  int npieces() const { return npieces_; }
  const BendPiece& piece(int k) const { return pieces_.at(static_cast<std::size_t>(k)); }
  // True when the segments are parallel and the bisector is a line
  // perpendicular to the fault.
  bool parallel() const { return parallel_; }
  double tan_bisect() const { return tan_bisect_; }

  // Caps every piece's passes per point at n: lets a test watch the
  // progress check report a point.
  void limit_passes(std::int64_t n) {
    for (BendPiece& pc : pieces_) pc.max_passes = n;
  }

 private:
  friend struct TrishearBendKernel;
  friend struct TrishearBendLanes;
  TrishearZone zone_;
  double m_, increment_, povers_;
  std::array<double, 2> ramp_angle_;
  double d_, h_, tan_bisect_, tan_diff_, sin_diff_, cos_diff_;
  bool parallel_;
  bool restoring_;   // slip_sign = -1 (v0 < 0)
  double sign_;      // slip_sign
  double tip_advance_;
  bool step_count_ok_;
  std::array<BendPiece, 2> pieces_{};
  int npieces_ = 1;
};

// One point through the whole slip; `cov` (may be null) becomes J C J^T at
// each zone step and each crossing of the bisector, and is turned with the
// point between the pieces.
bool trishear_bend_point(const TrishearBend& k, Vec2& p, Mat2* cov);
// One dip: position, dip and uncertainty (radians, fault-tip frame).
bool trishear_bend_dip(const TrishearBend& k, Vec2& pos, double& theta, double& sigma);

// Every point of `ptsze`; `cbed` empty (no covariance) or one per point
// (else std::invalid_argument).  False when any point failed.
bool trishear_func_bend(const TrishearBend& k, std::span<Vec2> ptsze, std::span<Mat2> cbed);
// The same with the kernel arguments; the start segment is decided from
// bendze.  `end_segment`, when not null, receives the segment of the frame
// the points come back in.
bool trishear_func_bend(std::span<Vec2> ptsze, double v0, double m, double total_slip, double increment,
                        double povers, double s, Vec2 bendze, std::array<double, 2> ramp_angle,
                        std::span<Mat2> cbed, int* end_segment = nullptr);

// Every dip: positions, dips and uncertainties one per dip (else
// std::invalid_argument).
bool trishear_func_dip_bend(const TrishearBend& k, std::span<Vec2> dipposze, std::span<double> dipsze,
                            std::span<double> sigma_dip_array);
bool trishear_func_dip_bend(std::span<Vec2> dipposze, std::span<double> dipsze, double v0, double m,
                            double total_slip, double increment, double povers, double s, Vec2 bendze,
                            std::array<double, 2> ramp_angle, std::span<double> sigma_dip_array,
                            int* end_segment = nullptr);

}  // namespace fq
