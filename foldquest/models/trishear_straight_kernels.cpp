// Trishear over a straight ramp: point and dip kernels.
//
// Notation (every length in data units, every angle in radians):
//   (zeta, eta)  position in the fault-tip frame relative to the CURRENT tip;
//                zeta along the ramp, positive up-dip (the direction in which
//                the tip propagates), eta across it, positive into the
//                hanging wall.  The kernels return positions relative to the
//                tip at the START of the call.
//   v0           signed slip per step used as the velocity scale of the field
//   inc          signed slip per step: counts slip, advances the tip, and
//                scales the first-order uncertainty terms (v0 = inc in runs)
//   S            signed slip applied so far to the point (starts at 0)
//   total        signed slip to apply; T = |total|
//   rem          total - S, the signed slip still to apply
//   m            tan(phi) > 0, slope of the zone boundaries eta = +-m zeta
//   P            povers: the tip advances P per unit slip along +zeta
//   s            shape exponent of the velocity field (> 0)
//   r            |eta| / (zeta m): 0 on the fault's extension, 1 on a boundary
//   sgn          +1 for eta >= 0, -1 below
//   p1, p2, p3   r^(1/s), r^((s+1)/s), r^((1-s)/s)
//   q2, q3       r^((s+1)/(2s)), r^((1-s)/(2s))
//   C            2x2 position covariance in the (zeta, eta) frame
//   theta        dip in the fault-tip frame, sigma its one-sigma uncertainty
//   hw, fw       one-shot flags: the rigid hanging-wall / footwall move has
//                been applied to this point
//
// Domains, tested in this order on the position relative to the current tip:
//   hanging wall   eta > 0, not hw, eta >= m zeta
//   footwall       not fw, eta <= -(m zeta)
//   zone           zeta > 0 (and m > 0, s > 0): the trishear field is defined
//   rigid side     anything else: a point whose flag is already set and that
//                  lies at or behind the tip (zeta <= 0), or any point left
//                  over when m <= 0 or s <= 0.  The field is not defined
//                  there (it divides by zeta and takes powers of a negative
//                  ratio), and behind the tip the material moves rigidly, so
//                  the point takes one step of inc (at most rem) with the
//                  velocity of its side: hanging wall (eta > 0) 1 - P along
//                  zeta, footwall -P; then it is classified again.
//
// The velocity field of one zone step (from the values at the step's start):
//   v_zeta = (v0/2)(sgn p1 + 1) - P inc        (relative to the advancing tip)
//   v_eta  = (v0/2)(m/(s+1))(p2 - 1)
//   J = [[1 - a, b], [c, 1 + a]],   a = sgn inc/(2 s zeta) p1,
//       b = inc/(2 s m zeta) p3,     c = -(m inc/(2 s zeta)) p2,
//   C := (J C) J^T.
// J is the exact derivative of the step's map when v0 = inc.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <stdexcept>
#include <type_traits>

#include "foldquest/models/trishear_straight.hpp"
#include "foldquest/models/zone_lanes.hpp"


namespace fq {

namespace {


// Loop passes allowed per point: far above any run the call's own step count
// admits (see TrishearStr), so it only stops a computation gone wrong.
constexpr std::int64_t pass_limit = 2 * max_steps_per_point + 16;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TrishearZone::TrishearZone(double v0, double m, double increment, double s, Powers powers)
    : m_(m), increment_(increment), s_(s) {
  if (powers == Powers::fast && zone_vector_path() != ZoneVectorPath::reference) {
    if (s == 1) exponent_ = Exponent::one;
    if (s == 2) exponent_ = Exponent::half;
    if (s == 0.5) exponent_ = Exponent::two;
  }
  half_v0_ = v0 / 2;
  eta_coef_ = half_v0_ * (m / (s + 1));
  two_s_ = 2 * s;
  two_s_m_ = two_s_ * m;
  m_inc_ = m * increment;
  sqrt_m_ = std::sqrt(m);
  e1_ = 1 / s;
  e3_ = (1 - s) / s;
  singular_at_fault_ = e3_ < 0;
  p3_near_fault_ = std::pow(kNearFaultRatio, e3_);
  defined_ = m > 0 && s > 0;
}

// Uncertainty first, then the dip, both from theta at the step's start:
//   sigma := sigma |1 + (cos 2theta + sin 2theta (zeta/eta - eta/zeta)/2) (inc/(s zeta)) sgn p1|
//   theta := theta + (v0/2)/(s zeta) (sqrt(m) sgn q2 cos theta + q3 sin theta / sqrt(m))^2
// The uncertainty factor is the derivative of the new dip with respect to the
// old one.  Since zeta/eta sgn p1 = p3/m and eta/zeta sgn p1 = m p2, it is
// evaluated as
//   1 + (inc/(s zeta)) (sgn p1 cos 2theta + (p3/m - m p2) sin 2theta / 2),
// the same value where eta != 0 and the finite limit on the fault's
// extension (eta = 0), where the first form is 0 times infinity.
// q2 = sqrt(p2) and q3 = sqrt(p3) (both powers are non-negative).
void TrishearZone::rotate_dip(Vec2 p, double& theta, double& sigma) const {
  const double zeta = p.x, eta = p.y;
  const double r = std::abs(eta) / (zeta * m_);
  const double sgn = eta >= 0 ? 1.0 : -1.0;
  const double p1 = p1_of(r);
  const double p2 = r * p1;
  const double p3 = p3_of(r, p1);
  const double q2 = std::sqrt(p2);
  const double q3 = std::sqrt(p3);
  // One sine and cosine: the double angle from them (within a few ulp of
  // cos 2theta and sin 2theta; only the uncertainty factor uses them).
  const double c1 = std::cos(theta), s1 = std::sin(theta);
  const double c2 = (c1 - s1) * (c1 + s1), s2 = 2 * s1 * c1;
  const double s_zeta = s_ * zeta;
  sigma = sigma * std::abs(1 + (increment_ / s_zeta) * (sgn * p1 * c2 + (p3 / m_ - m_ * p2) * s2 * 0.5));
  const double f = sqrt_m_ * sgn * q2 * c1 + q3 * s1 / sqrt_m_;
  theta = theta + half_v0_ / s_zeta * (f * f);
}

TrishearStr::TrishearStr(double v0, double m, double total_slip, double increment, double povers,
                         double s, TrishearZone::Powers powers, bool batched)
    : zone_(v0, m, increment, s, powers),
      v0_(v0),
      m_(m),
      total_slip_(total_slip),
      increment_(increment),
      povers_(povers),
      s_(s),
      batched_(batched && zone_vector_path() != ZoneVectorPath::reference) {
  abs_total_ = std::abs(total_slip);
  restoring_ = !(v0 >= 0);
  tip_advance_ = povers * increment;
  final_shift_ = total_slip * povers;
  // A zone point needs about T / |inc| steps.  A call that would need more
  // than the limit (an increment of 0, or absurdly small) is refused whole
  // rather than left to run for hours.  NaN slips need no steps at all.
  const double steps = abs_total_ / std::abs(increment);
  step_count_ok_ = !(abs_total_ > 0) || steps < static_cast<double>(max_steps_per_point);
}

namespace {

using zone::CovCarry;
using zone::DipCarry;
using zone::Next;
using zone::NoCarry;

enum class Domain { hanging_wall, footwall, zone, rigid_side };

// One point's working state.
struct PointState {
  double zeta, eta;  // relative to the current tip
  double slip = 0;   // signed slip applied so far
  bool hw = false;   // rigid hanging-wall move done
  bool fw = false;   // rigid footwall move done
};

}  // namespace

struct TrishearStrKernel {
  static Domain classify(const PointState& st, const TrishearStr& k) {
    const double m = k.m_;
    if (st.eta > 0 && !st.hw && st.eta >= m * st.zeta) return Domain::hanging_wall;
    if (!st.fw && st.eta <= -(m * st.zeta)) return Domain::footwall;
    if (st.zeta > 0 && k.zone_.defined()) return Domain::zone;
    return Domain::rigid_side;
  }

  // Moves the point through every domain but the zone until its next step
  // is a zone step (Next::zone, the pass of that step not yet counted), its
  // slip is done, or the pass limit is reached.  `passes` counts every pass
  // of the point's loop, zone steps included.
  template <class Carry>
  static Next advance(const TrishearStr& k, PointState& st, std::int64_t& passes) {
    const double m = k.m_, P = k.povers_, total = k.total_slip_, inc = k.increment_;
    while (std::abs(st.slip) < k.abs_total_) {
      if (++passes > pass_limit) return Next::failed;
      double rem = total - st.slip;
      switch (classify(st, k)) {
        case Domain::hanging_wall:
          // The hanging wall moves 1 per unit slip along zeta, the tip P: the
          // upper boundary reaches the point first when
          // eta < (zeta + rem - P rem) m, after rem = (eta/m - zeta)/(1 - P).
          if (st.eta < (st.zeta + rem - P * rem) * m) rem = (st.eta / m - st.zeta) / (1 - P);
          st.hw = true;
          st.slip += rem;
          st.zeta += rem - P * rem;
          break;

        case Domain::footwall:
          if (!k.restoring_) {
            // The footwall is fixed; the tip moves away from the point.
            st.zeta -= P * rem;
          } else {
            // The tip retreats: zeta' = zeta - P rem.  The lower boundary
            // reaches the point first unless eta <= -(zeta' m); it does so
            // after rem = (eta/m + zeta)/P.
            const double zeta1 = st.zeta - P * rem;
            if (st.eta <= -(zeta1 * m)) {
              st.zeta = zeta1;
            } else {
              rem = (st.eta / m + st.zeta) / P;
              // A dip on the boundary itself first takes one increment of
              // footwall motion.
              if constexpr (std::is_same_v<Carry, DipCarry>) {
                if (rem == 0) rem = inc;
              }
              st.zeta -= P * rem;
            }
          }
          st.fw = true;
          st.slip += rem;
          break;

        case Domain::zone:
          --passes;  // counted by the zone step itself
          return Next::zone;

        case Domain::rigid_side: {
          // No trishear field here: move one increment (at most rem) with
          // the side the point lies on.  Rigid, so C and the dip keep.
          const double step = std::abs(rem) < std::abs(inc) ? rem : inc;
          st.slip += step;
          if (st.eta > 0) {
            st.zeta += step - P * step;
          } else {
            st.zeta -= P * step;
          }
          break;
        }
      }
    }
    return Next::done;
  }

  // One explicit zone step of a whole increment, even when less slip
  // remains; the point's loop then ends.
  template <class Carry>
  static void zone_step(const TrishearStr& k, PointState& st, Carry carry) {
    st.slip += k.increment_;
    const Vec2 d = zone::zone_displacement(k.zone_, {st.zeta, st.eta}, carry);
    const double v_zeta = d.x - k.tip_advance_;
    const double v_eta = d.y;
    st.zeta += v_zeta;
    st.eta += v_eta;
  }

  // The rest of a point's slip from the state `st`, one point at a time.
  template <class Carry>
  static bool finish(const TrishearStr& k, Vec2& p, PointState st, std::int64_t passes, Carry carry) {
    for (;;) {
      const Next next = advance<Carry>(k, st, passes);
      if (next == Next::failed) return fail(p, carry);
      if (next == Next::done) break;
      if (++passes > pass_limit) return fail(p, carry);
      zone_step(k, st, carry);
    }
    // Back to the frame of the tip at the start of the call, with the
    // nominal slip (not the accumulated one).
    p = {st.zeta + k.final_shift_, st.eta};
    return true;
  }

  template <class Carry>
  static bool move(const TrishearStr& k, Vec2& p, Carry carry) {
    if (!k.step_count_ok_) return fail(p, carry);
    return finish(k, p, PointState{p.x, p.y}, 0, carry);
  }

  template <class Carry>
  static bool fail(Vec2& p, Carry carry) {
    p = {nan, nan};
    if constexpr (std::is_same_v<Carry, CovCarry>) *carry.c = {nan, nan, nan, nan};
    if constexpr (std::is_same_v<Carry, DipCarry>) *carry.theta = *carry.sigma = nan;
    return false;
  }
};

namespace {

// The widest vector path this processor and build can take.
ZoneVectorPath best_vector_path() {
#if FOLDQUEST_ZONE_MVEC
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return ZoneVectorPath::avx512;
  if (__builtin_cpu_supports("avx2")) return ZoneVectorPath::avx2;
#endif
  return ZoneVectorPath::portable;
}

ZoneVectorPath detect_zone_vector_path() {
  const char* off = std::getenv("FOLDQUEST_SCALAR_KERNEL");
  if (off != nullptr && off[0] != '\0' && std::string_view(off) != "0") return ZoneVectorPath::reference;
  return best_vector_path();
}

std::atomic<ZoneVectorPath>& vector_path_setting() {
  static std::atomic<ZoneVectorPath> path{detect_zone_vector_path()};
  return path;
}

}  // namespace

ZoneVectorPath zone_vector_path() { return vector_path_setting().load(std::memory_order_relaxed); }

void set_zone_vector_path(ZoneVectorPath path) {
  const ZoneVectorPath best = best_vector_path();
  if (path == ZoneVectorPath::avx512 && best != ZoneVectorPath::avx512) path = ZoneVectorPath::avx2;
  if (path == ZoneVectorPath::avx2 && best == ZoneVectorPath::portable) path = ZoneVectorPath::portable;
  vector_path_setting().store(path, std::memory_order_relaxed);
}

// The straight ramp's state machine for the batched zone step (see
// zone_lanes.hpp): the lanes carry the one-shot flags hw and fw.
struct TrishearStrLanes {
  using Constants = TrishearStr;
  using State = PointState;
  static constexpr int kAux = 2;  // hw, fw as 0 or 1
  static constexpr bool kTurns = false;
  using B = zone::Block<kAux, State>;

  static const TrishearZone& zone(const TrishearStr& k) { return k.zone_; }
  static double tip_advance(const TrishearStr& k) { return k.tip_advance_; }
  static std::int64_t max_passes(const TrishearStr&) { return pass_limit; }
  static State start(const TrishearStr&, Vec2 p) { return PointState{p.x, p.y}; }
  static void to_lane(const State& st, B& b, int i) {
    b.zeta[i] = st.zeta;
    b.eta[i] = st.eta;
    b.slip[i] = st.slip;
    b.aux[0][i] = st.hw ? 1 : 0;
    b.aux[1][i] = st.fw ? 1 : 0;
  }
  static State from_lane(const TrishearStr&, const B& b, int i) {
    return {b.zeta[i], b.eta[i], b.slip[i], b.aux[0][i] != 0, b.aux[1][i] != 0};
  }
  // TrishearStrKernel::classify with the field defined.
  // The slip loop's own condition first.
  [[gnu::always_inline]] static bool in_zone(const TrishearStr& k, double zn, double en, double slip, const B& b,
                                             int i) {
    const double m = k.m_;
    const bool to_hw = (en > 0) & (b.aux[0][i] == 0) & (en >= m * zn);
    const bool to_fw = (b.aux[1][i] == 0) & (en <= -(m * zn));
    return (std::abs(slip) < k.abs_total_) & !to_hw & !to_fw & (zn > 0);
  }
  template <class Carry>
  static Next advance(const TrishearStr& k, State& st, std::int64_t& passes, Carry) {
    return TrishearStrKernel::advance<Carry>(k, st, passes);
  }
  static Vec2 finish(const TrishearStr& k, const State& st) { return {st.zeta + k.final_shift_, st.eta}; }

  static bool applies(const TrishearStr& k, std::size_t npoints) {
    return k.batched_ && k.step_count_ok_ && zone::batch_worthwhile(k.zone_, npoints);
  }
};

using StraightLanes = zone::Lanes<TrishearStrLanes>;

bool trishear_point(const TrishearStr& k, Vec2& p, Mat2* cov) {
  if (cov != nullptr) return TrishearStrKernel::move(k, p, CovCarry{cov});
  return TrishearStrKernel::move(k, p, NoCarry{});
}

bool trishear_dip(const TrishearStr& k, Vec2& pos, double& theta, double& sigma) {
  return TrishearStrKernel::move(k, pos, DipCarry{&theta, &sigma});
}

bool trishear_func(const TrishearStr& k, std::span<Vec2> ptsze, std::span<Mat2> cbed) {
  bool ok = true;
  if (!cbed.empty() && cbed.size() != ptsze.size()) {
    throw std::invalid_argument("trishear_func: one covariance per point needed");
  }
  if (TrishearStrLanes::applies(k, ptsze.size())) {
    const zone::Data d{ptsze, cbed, {}, {}};
    return cbed.empty() ? StraightLanes::run<zone::Kind::points>(k, d)
                        : StraightLanes::run<zone::Kind::covariances>(k, d);
  }
  if (cbed.empty()) {
    for (Vec2& p : ptsze) ok = TrishearStrKernel::move(k, p, NoCarry{}) && ok;
    return ok;
  }
  for (std::size_t i = 0; i < ptsze.size(); ++i) {
    ok = TrishearStrKernel::move(k, ptsze[i], CovCarry{&cbed[i]}) && ok;
  }
  return ok;
}

bool trishear_func(std::span<Vec2> ptsze, double v0, double m, double total_slip,
                   double increment, double povers, double s, std::span<Mat2> cbed) {
  return trishear_func(TrishearStr(v0, m, total_slip, increment, povers, s), ptsze, cbed);
}

bool trishear_func_dip(const TrishearStr& k, std::span<Vec2> dipposze, std::span<double> dipsze,
                       std::span<double> sigma_dip_array) {
  if (dipsze.size() != dipposze.size() || sigma_dip_array.size() != dipposze.size()) {
    throw std::invalid_argument("trishear_func_dip: positions, dips and uncertainties differ in count");
  }
  if (TrishearStrLanes::applies(k, dipposze.size())) {
    return StraightLanes::run<zone::Kind::dips>(k, {dipposze, {}, dipsze, sigma_dip_array});
  }
  bool ok = true;
  for (std::size_t i = 0; i < dipposze.size(); ++i) {
    ok = TrishearStrKernel::move(k, dipposze[i], DipCarry{&dipsze[i], &sigma_dip_array[i]}) && ok;
  }
  return ok;
}

bool trishear_func_dip(std::span<Vec2> dipposze, std::span<double> dipsze, double v0, double m,
                       double total_slip, double increment, double povers, double s,
                       std::span<double> sigma_dip_array) {
  return trishear_func_dip(TrishearStr(v0, m, total_slip, increment, povers, s), dipposze, dipsze,
                           sigma_dip_array);
}

}  // namespace fq
