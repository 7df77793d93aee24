// Trishear over a straight ramp: the kinematic kernels.
//
// How to call (model run):
//   1. Put the data into the fault-tip frame (TipFrame::to_ze, cov_to_ze).
//   2. Build the constants of one restoration once per slip value:
//        const TrishearStr k(v0, m, total_slip, increment, povers, s);
//   3. Move the data in place, allocating nothing:
//        trishear_func(k, ptsze, cbed);    // cbed empty: positions only, no Jacobian
//        trishear_func_dip(k, dipposze, dipsze, sigma_dip_array);
//      or one item at a time with trishear_point / trishear_dip.
//   4. Each returns false when the call would need max_steps_per_point or
//      more zone steps per point (|total_slip| / |increment|: an increment of
//      0, or absurdly small for the slip); the points (and their covariances,
//      dips and uncertainties) are then set to NaN and the model should be
//      treated as failed.  Any real run is far below the limit.
//   5. Positions come back relative to the tip at the start of the call, in
//      the same frame; take them back with TipFrame::to_xy and cov_to_xy.
// The functions read only their arguments and may run on any number of
// threads at once, each on its own arrays.
//
// Behaviour at the edges of the field (see trishear_straight_kernels.cpp):
//   - A point that would take a zone step where the field is undefined -- at
//     or behind the tip (zeta <= 0, which only a point whose one-shot flag
//     is already set can reach), or anywhere when m <= 0 or s <= 0 -- moves
//     instead by one increment (at most the remaining slip) rigidly with
//     its side: eta > 0 with the hanging wall, else with the footwall; its
//     covariance and dip do not change.  So m <= 0 or s <= 0 give pure
//     rigid motion: no NaN, no endless loop.
//   - With s > 1 the first-order terms are unbounded on the fault's
//     extension (eta = 0); they are evaluated no closer to it than
//     r = 1e-12, so such points keep finite (if large) uncertainties.
//
// The zone step alone (TrishearZone) is exposed for the other trishear
// models, which move points through the same velocity field.
//
// Notation (fault-tip frame, lengths in data units, angles in radians):
//   zeta, eta  point relative to the current (moving) tip; zeta up-dip along
//              the ramp, eta positive into the hanging wall
//   v0         signed slip per step used as the velocity scale of the field
//   increment  signed slip per step (counts slip, advances the tip)
//   total_slip signed slip to apply; same sign as increment in model runs
//   m          tan(phi), slope of the zone boundaries eta = +-m zeta
//   povers     P/S: the tip advances povers per unit slip along +zeta
//   s          shape exponent of the field (s = 1: linear field)
//   r          |eta| / (m zeta), 0 on the fault's extension, 1 on a boundary
//   sgn        +1 for eta >= 0, else -1
//   C          2x2 position covariance in the (zeta, eta) frame
//   theta      dip in the fault-tip frame; sigma its one-sigma uncertainty
#pragma once

#include <cmath>
#include <cstdint>
#include <span>

#include "foldquest/math/vec2.hpp"

namespace fq {

namespace zone {
struct ZoneAccess;
}

// A zone point takes about |total_slip| / |increment| steps.  A call whose
// ratio reaches this limit is refused (its points become NaN) instead of
// running for hours or for ever (an increment of 0).
inline constexpr std::int64_t max_steps_per_point = 100'000'000;

// With s > 1 the shear rate of the field across the fault's extension
// (d v_zeta / d eta ~ r^((1-s)/s)) grows without bound as r -> 0, and exactly
// on the extension (r = 0) it is infinite.  The first-order terms (Jacobian,
// dip rotation and dip uncertainty) take r no smaller than this ratio, so a
// point on the extension gets a large but finite covariance instead of
// infinities and NaN.  It concerns only |eta| < 1e-12 m zeta.
inline constexpr double kNearFaultRatio = 1e-12;

// How model runs step points through the trishear zone:
//   avx512     many points at once (the batched kernel of zone_lanes.hpp),
//              eight doubles per call of glibc's vector power, sine and
//              cosine (libmvec); chosen at start when the processor has
//              AVX-512F (and the build found libmvec)
//   avx2       the same, four doubles per call; chosen when the processor
//              has AVX2 but not AVX-512F
//   portable   many points at once, the baseline instruction set (x86-64 or
//              any other), the C library's power, sine and cosine
//   reference  one point at a time, every power from std::pow: the kernel
//              as first written, kept as the reference the others are
//              checked against
// They agree within rounding: the same positions and covariances for
// s = 1 (no power), a few ulp per power otherwise; scores within 1e-12
// relative.  The environment variable FOLDQUEST_SCALAR_KERNEL (any value
// but empty or 0) starts with `reference`.  Kernels read the setting when
// they are constructed; tests switch it with set_zone_vector_path between
// runs.  Thread-safe.
enum class ZoneVectorPath { reference, portable, avx2, avx512 };
ZoneVectorPath zone_vector_path();
// Asking for a vector path the processor (or the build) lacks gives the best
// one below it that it has: avx512 -> avx2 -> portable.
void set_zone_vector_path(ZoneVectorPath path);
// True on the paths whose powers, sines and cosines come from the vector
// functions (a few ulp from the C library's).
inline bool zone_path_has_vector_functions(ZoneVectorPath p) {
  return p == ZoneVectorPath::avx2 || p == ZoneVectorPath::avx512;
}

// The trishear velocity field of one step of `increment` slip, with its
// per-call constants computed once.  Valid (defined) only where zeta > 0,
// m > 0 and s > 0; the callers route every other point elsewhere.
class TrishearZone {
 public:
  // How r^(1/s) is evaluated.  `fast` (the default) takes r for s = 1,
  // sqrt(r) for s = 2 and r*r for s = 0.5 -- the power itself for s = 1,
  // and within an ulp of std::pow otherwise (both are correctly rounded or
  // nearly so) -- and std::pow for every other exponent.  `reference` always
  // calls std::pow: the kernel the fast one is checked against.
  enum class Powers { fast, reference };

  TrishearZone(double v0, double m, double increment, double s, Powers powers = Powers::fast);

  // True when the field is defined at all: m > 0 and s > 0 (false for NaN).
  bool defined() const { return defined_; }
  // True when r^(1/s) is r itself (s = 1 on the fast path).
  bool linear() const { return exponent_ == Exponent::one; }

  // Displacement of a point by the field in one step, WITHOUT the tip's
  // advance (subtract povers*increment from x for the motion relative to the
  // advancing tip).  When `jac` is not null it receives the step's Jacobian
  // J = [[1 - a, b], [c, 1 + a]] for C := J C J^T.  Requires zeta > 0.
  Vec2 displacement(Vec2 p, Mat2* jac) const;

  // Dip rotation and uncertainty factor of one step at position p (which
  // the caller moves itself): sigma first, then theta, both from the values
  // at the start of the step.  Requires zeta > 0.
  void rotate_dip(Vec2 p, double& theta, double& sigma) const;

 private:
  friend struct zone::ZoneAccess;           // the batched zone step
  double p3_of(double r, double p1) const;  // r^((1-s)/s) from p1 = r^(1/s)
  double p1_of(double r) const;             // r^(1/s)

  // The exponent 1/s when a cheaper exact form exists.
  enum class Exponent : unsigned char { general, one, half, two };
  Exponent exponent_ = Exponent::general;

  double m_, increment_, s_;
  double half_v0_, eta_coef_, two_s_, two_s_m_, m_inc_, sqrt_m_;
  double e1_, e3_;             // exponents 1/s and (1-s)/s
  double p3_near_fault_;       // r^e3 at the floor ratio (used only for s > 1)
  bool singular_at_fault_;     // s > 1: e3 < 0, r^e3 unbounded as r -> 0
  bool defined_;
};

// The zone step is the inner loop of every trishear model: defined here so
// that it inlines into each of them.

// The three powers of r share one power evaluation:
//   p2 = r^((s+1)/s) = r p1,   p3 = r^((1-s)/s) = p1 / r   (r > 0, finite),
// equal to separate powers up to rounding (an ulp or two).  At r = 0 p3 is
// the power itself (1 for s = 1, 0 for s < 1), and for s > 1 the value at
// the floor ratio wherever r is below it.
inline double TrishearZone::p3_of(double r, double p1) const {
  if (singular_at_fault_ && r < kNearFaultRatio) return p3_near_fault_;
  if (r > 0 && std::isfinite(p1)) return p1 / r;
  return std::pow(r, e3_);
}

// r^(1/s).  The shape exponent is the same for every step of a model run,
// so the switch is predicted perfectly; s = 1 (the most common choice)
// needs no power at all.
inline double TrishearZone::p1_of(double r) const {
  switch (exponent_) {
    case Exponent::one:
      return r;
    case Exponent::half:
      return std::sqrt(r);
    case Exponent::two:
      return r * r;
    case Exponent::general:
      break;
  }
  return std::pow(r, e1_);
}

// r = |eta| / (zeta m); p1 = r^(1/s), p2 = r^((s+1)/s);
// displacement = ((v0/2)(sgn p1 + 1), (v0/2)(m/(s+1))(p2 - 1));
// with the Jacobian also p3 = r^((1-s)/s) and a, b, c as in the notation.
inline Vec2 TrishearZone::displacement(Vec2 p, Mat2* jac) const {
  const double zeta = p.x, eta = p.y;
  const double r = std::abs(eta) / (zeta * m_);
  const double sgn = eta >= 0 ? 1.0 : -1.0;
  const double p1 = p1_of(r);
  const double p2 = r * p1;
  if (jac != nullptr) {
    const double p3 = p3_of(r, p1);
    const double a = sgn * increment_ / (two_s_ * zeta) * p1;
    const double b = increment_ / (two_s_m_ * zeta) * p3;
    const double c = -(m_inc_ / (two_s_ * zeta)) * p2;
    *jac = {1 - a, b, c, 1 + a};
  }
  return {half_v0_ * (sgn * p1 + 1), eta_coef_ * (p2 - 1)};
}

// The constants of one kernel call.
class TrishearStr {
 public:
  // `powers` chooses how the zone step takes its powers; `batched` lets
  // trishear_func and trishear_func_dip step many points at once (the same
  // values within rounding, faster).  Reference powers without batching is
  // the kernel the others are checked against; with the process set to
  // ZoneVectorPath::reference every kernel is that one.
  TrishearStr(double v0, double m, double total_slip, double increment, double povers, double s,
              TrishearZone::Powers powers = TrishearZone::Powers::fast, bool batched = true);

  const TrishearZone& zone() const { return zone_; }
  double v0() const { return v0_; }
  double m() const { return m_; }
  double total_slip() const { return total_slip_; }
  double increment() const { return increment_; }
  double povers() const { return povers_; }
  double s() const { return s_; }

 private:
  friend struct TrishearStrKernel;
  friend struct TrishearStrLanes;
  TrishearZone zone_;
  double v0_, m_, total_slip_, increment_, povers_, s_;
  double abs_total_;       // T = |total_slip|
  bool restoring_;         // slip_sign = -1 (v0 < 0)
  double tip_advance_;     // povers * increment, the tip's advance per zone step
  double final_shift_;     // total_slip * povers, back to the starting tip
  bool step_count_ok_;     // |total_slip| / |increment| < max_steps_per_point
  bool batched_;           // trishear_func may use the batched zone step
};

// One point through the whole slip; `cov` (may be null) becomes J C J^T at
// each zone step.  Returns false when the step limit was reached (the point
// and its covariance are then NaN).
bool trishear_point(const TrishearStr& k, Vec2& p, Mat2* cov);

// One dip: its position `pos`, its dip `theta` and its uncertainty `sigma`
// (radians, fault-tip frame) through the whole slip.
bool trishear_dip(const TrishearStr& k, Vec2& pos, double& theta, double& sigma);

// Every point of `ptsze` through the slip.  `cbed` is empty (no covariance,
// no Jacobian computed) or holds one matrix per point (else
// std::invalid_argument).  Returns false when any point hit the step limit.
bool trishear_func(const TrishearStr& k, std::span<Vec2> ptsze, std::span<Mat2> cbed);
bool trishear_func(std::span<Vec2> ptsze, double v0, double m, double total_slip,
                   double increment, double povers, double s, std::span<Mat2> cbed);

// Every dip through the slip: positions, dips and uncertainties have one
// entry per dip (else std::invalid_argument).
bool trishear_func_dip(const TrishearStr& k, std::span<Vec2> dipposze, std::span<double> dipsze,
                       std::span<double> sigma_dip_array);
bool trishear_func_dip(std::span<Vec2> dipposze, std::span<double> dipsze, double v0, double m,
                       double total_slip, double increment, double povers, double s,
                       std::span<double> sigma_dip_array);

}  // namespace fq
