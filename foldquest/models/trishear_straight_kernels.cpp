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

#if FOLDQUEST_ZONE_AVX2
#include <immintrin.h>
#endif

namespace fq {

namespace {


// Loop passes allowed per point: far above any run the call's own step count
// admits (see TrishearStr), so it only stops a computation gone wrong.
constexpr std::int64_t max_passes = 2 * max_steps_per_point + 16;

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

// What a kernel carries along with the position.
struct NoCarry {};
struct CovCarry {
  Mat2* c;
};
struct DipCarry {
  double* theta;
  double* sigma;
};

enum class Domain { hanging_wall, footwall, zone, rigid_side };

// One point's working state.
struct PointState {
  double zeta, eta;  // relative to the current tip
  double slip = 0;   // signed slip applied so far
  bool hw = false;   // rigid hanging-wall move done
  bool fw = false;   // rigid footwall move done
};

}  // namespace

// What stops a point's walk through the rigid domains.
enum class Next { zone, done, failed };

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
      if (++passes > max_passes) return Next::failed;
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
    const Vec2 at{st.zeta, st.eta};
    Vec2 d;
    if constexpr (std::is_same_v<Carry, CovCarry>) {
      Mat2 j;
      d = k.zone_.displacement(at, &j);
      *carry.c = (j * *carry.c) * transpose(j);
    } else {
      d = k.zone_.displacement(at, nullptr);
    }
    if constexpr (std::is_same_v<Carry, DipCarry>) {
      k.zone_.rotate_dip(at, *carry.theta, *carry.sigma);
    }
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
      if (++passes > max_passes) return fail(p, carry);
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

#if FOLDQUEST_ZONE_AVX2
// glibc's AVX2 power, sine and cosine of four doubles (libmvec), called only from code
// compiled for AVX2 and only on processors that have it.
extern "C" [[gnu::target("avx2")]] __m256d _ZGVdN4vv_pow(__m256d x, __m256d y);
extern "C" [[gnu::target("avx2")]] __m256d _ZGVdN4v_sin(__m256d x);
extern "C" [[gnu::target("avx2")]] __m256d _ZGVdN4v_cos(__m256d x);
#endif

namespace {

ZoneVectorPath detect_zone_vector_path() {
  const char* off = std::getenv("FOLDQUEST_SCALAR_KERNEL");
  if (off != nullptr && off[0] != '\0' && std::string_view(off) != "0") return ZoneVectorPath::reference;
#if FOLDQUEST_ZONE_AVX2
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return ZoneVectorPath::avx2;
#endif
  return ZoneVectorPath::portable;
}

std::atomic<ZoneVectorPath>& vector_path_setting() {
  static std::atomic<ZoneVectorPath> path{detect_zone_vector_path()};
  return path;
}

}  // namespace

ZoneVectorPath zone_vector_path() { return vector_path_setting().load(std::memory_order_relaxed); }

void set_zone_vector_path(ZoneVectorPath path) {
#if FOLDQUEST_ZONE_AVX2
  if (path == ZoneVectorPath::avx2) {
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2")) path = ZoneVectorPath::portable;
  }
#else
  path = ZoneVectorPath::portable;
#endif
  vector_path_setting().store(path, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// The batched zone step.
//
// A point in the zone takes one step per increment, and each step waits on
// the one before (a divide, a power, a multiply), so one point at a time is
// bound by latency.  Points are independent, so kLanes of them are stepped
// together: structure of arrays, steps outer and lanes inner, so that the
// divides and powers of different points overlap (and, for s = 1, where the
// step needs no power, the compiler turns the lane loop into vector code).
// A lane whose point leaves the zone or finishes its slip is handled one
// point at a time (the same advance() as above) and, when its point is done,
// refilled with the next waiting point, so lanes do not idle while points
// wait.
//
// Every lane performs exactly the operations of TrishearStrKernel::zone_step
// in the same order (this file is compiled without floating contraction),
// so the batched kernel gives the same bits as one point at a time; the
// tests compare the two.
struct ZoneLanes {
  static constexpr int kLanes = 8;
  // Few points gain nothing from lanes.
  static constexpr std::size_t kBatchFrom = 2 * kLanes;

  static bool applies(const TrishearStr& k, std::size_t npoints) {
    return k.batched_ && k.step_count_ok_ && k.zone_.defined() && npoints >= kBatchFrom;
  }

  // What the lanes carry besides the position.
  enum class Kind { points, covariances, dips };

  // The arrays of one call: positions, and covariances or dips with their
  // uncertainties (empty when not carried).
  struct Data {
    std::span<Vec2> pts;
    std::span<Mat2> cov;
    std::span<double> theta, sigma;
  };

  // Lane state, structure of arrays.  hw/fw/live/look hold 0 or 1 as
  // doubles so that the lane loop works on one type only.
  struct Block {
    double zeta[kLanes], eta[kLanes], slip[kLanes];
    double hw[kLanes], fw[kLanes], live[kLanes];
    double look[kLanes];  // 1 after a step for a live lane that needs attention
    double ca[kLanes], cb[kLanes], cc[kLanes], cd[kLanes];
    double theta[kLanes], sigma[kLanes];
    std::size_t index[kLanes];
    std::int64_t passes[kLanes];  // the point's passes when it entered the lane
    std::int64_t entry[kLanes];   // the block's step count when it entered
  };

  // One zone step of every lane; returns true when a live lane left the
  // zone or finished its slip.  kLinear: s = 1 on the fast path (p1 = r,
  // p3 = 1).  Math takes r^(1/s) of all lanes for the other exponents, and
  // the sine and cosine of the dips.  Inlined into one function per
  // instruction set (see step() below).  The operations and their order
  // are those of TrishearZone::displacement and rotate_dip.
  template <Kind kKind, bool kLinear, class Math>
  [[gnu::always_inline]] static inline bool step_lanes(const TrishearStr& k, Block& b) {
    constexpr bool kCov = kKind == Kind::covariances;
    constexpr bool kDip = kKind == Kind::dips;
    const TrishearZone& z = k.zone_;
    const double inc = z.increment_, m = z.m_, half_v0 = z.half_v0_, eta_coef = z.eta_coef_;
    const double two_s = z.two_s_, two_s_m = z.two_s_m_, m_inc = z.m_inc_;
    const double s = z.s_, sqrt_m = z.sqrt_m_;
    const double tip_advance = k.tip_advance_, abs_total = k.abs_total_;
    double r[kLanes], p1[kLanes], p3[kLanes], c1[kLanes], s1[kLanes];
#pragma omp simd
    for (int i = 0; i < kLanes; ++i) r[i] = std::abs(b.eta[i]) / (b.zeta[i] * m);
    if constexpr (!kLinear) {
      switch (z.exponent_) {
        case TrishearZone::Exponent::half:
#pragma omp simd
          for (int i = 0; i < kLanes; ++i) p1[i] = std::sqrt(r[i]);
          break;
        case TrishearZone::Exponent::two:
#pragma omp simd
          for (int i = 0; i < kLanes; ++i) p1[i] = r[i] * r[i];
          break;
        default:
          Math::pow(r, z.e1_, p1);
          break;
      }
      // r^((1-s)/s): p1/r but at the fault's extension and for infinite
      // powers, where TrishearZone decides (rare: a branch per lane).
      if constexpr (kCov || kDip) {
        for (int i = 0; i < kLanes; ++i) p3[i] = z.p3_of(r[i], p1[i]);
      }
    }
    if constexpr (kDip) Math::sincos(b.theta, c1, s1);
#pragma omp simd
    for (int i = 0; i < kLanes; ++i) {
      b.slip[i] += inc;
      const double zeta = b.zeta[i], eta = b.eta[i];
      // +1 for eta >= 0, else -1 (NaN too), without a branch.
      const double sgn = 1.0 - 2.0 * static_cast<double>(!(eta >= 0));
      // p3 = r^0 = 1 for s = 1 wherever the point is (r = 0, infinite, NaN).
      const double q1 = kLinear ? r[i] : p1[i];
      const double q2 = r[i] * q1;
      const double q3 = kLinear ? 1.0 : p3[i];
      if constexpr (kCov) {
        const double a = sgn * inc / (two_s * zeta) * q1;
        const double bb = inc / (two_s_m * zeta) * q3;
        const double c = -(m_inc / (two_s * zeta)) * q2;
        mat_step(b, i, 1 - a, bb, c, 1 + a);
      }
      if constexpr (kDip) {
        const double cos1 = c1[i], sin1 = s1[i];
        const double cos2 = (cos1 - sin1) * (cos1 + sin1), sin2 = 2 * sin1 * cos1;
        const double s_zeta = s * zeta;
        b.sigma[i] = b.sigma[i] * std::abs(1 + (inc / s_zeta) * (sgn * q1 * cos2 + (q3 / m - m * q2) * sin2 * 0.5));
        const double f = sqrt_m * sgn * std::sqrt(q2) * cos1 + std::sqrt(q3) * sin1 / sqrt_m;
        b.theta[i] = b.theta[i] + half_v0 / s_zeta * (f * f);
      }
      const double dx = half_v0 * (sgn * q1 + 1);
      const double dy = eta_coef * (q2 - 1);
      const double zn = zeta + (dx - tip_advance);
      const double en = eta + dy;
      b.zeta[i] = zn;
      b.eta[i] = en;
      // Still a zone step next time?  (TrishearStrKernel::classify with the
      // field defined, and the slip loop's own condition.)
      const bool to_hw = (en > 0) & (b.hw[i] == 0) & (en >= m * zn);
      const bool to_fw = (b.fw[i] == 0) & (en <= -(m * zn));
      const bool stays = (std::abs(b.slip[i]) < abs_total) & !to_hw & !to_fw & (zn > 0);
      const double live = b.live[i];  // loaded unconditionally: no branch in the lane loop
      b.look[i] = stays ? 0.0 : live;
    }
    double attention = 0;
    for (int i = 0; i < kLanes; ++i) attention += b.look[i];
    return attention > 0;
  }

  // The C library lane by lane: the reference kernel's values, bit for
  // bit; the lanes are independent, so their calls overlap in the pipeline.
  struct ScalarMath {
    static void pow(const double* r, double e, double* out) {
      for (int i = 0; i < kLanes; ++i) out[i] = std::pow(r[i], e);
    }
    static void sincos(const double* t, double* c, double* s) {
      for (int i = 0; i < kLanes; ++i) {
        c[i] = std::cos(t[i]);
        s[i] = std::sin(t[i]);
      }
    }
  };

  template <Kind kKind, bool kLinear>
  static bool step_portable(const TrishearStr& k, Block& b) {
    return step_lanes<kKind, kLinear, ScalarMath>(k, b);
  }

#if FOLDQUEST_ZONE_AVX2
  // glibc's vector functions (libmvec), four lanes at a time: within a few
  // ulp of the C library's.
  struct Avx2Math {
    [[gnu::target("avx2")]] static void pow(const double* r, double e, double* out) {
      const __m256d ev = _mm256_set1_pd(e);
      for (int i = 0; i < kLanes; i += 4) {
        _mm256_storeu_pd(out + i, _ZGVdN4vv_pow(_mm256_loadu_pd(r + i), ev));
      }
    }
    [[gnu::target("avx2")]] static void sincos(const double* t, double* c, double* s) {
      for (int i = 0; i < kLanes; i += 4) {
        const __m256d x = _mm256_loadu_pd(t + i);
        _mm256_storeu_pd(c + i, _ZGVdN4v_cos(x));
        _mm256_storeu_pd(s + i, _ZGVdN4v_sin(x));
      }
    }
  };

  template <Kind kKind, bool kLinear>
  [[gnu::target("avx2")]] static bool step_avx2(const TrishearStr& k, Block& b) {
    return step_lanes<kKind, kLinear, Avx2Math>(k, b);
  }
#endif

  template <Kind kKind, bool kLinear>
  static bool step(const TrishearStr& k, Block& b) {
#if FOLDQUEST_ZONE_AVX2
    if (zone_vector_path() == ZoneVectorPath::avx2) return step_avx2<kKind, kLinear>(k, b);
#endif
    return step_portable<kKind, kLinear>(k, b);
  }

  // C := (J C) J^T in the operation order of Mat2's product.
  [[gnu::always_inline]] static void mat_step(Block& b, int i, double ja, double jb, double jc, double jd) {
    const double ca = b.ca[i], cb = b.cb[i], cc = b.cc[i], cd = b.cd[i];
    const double xa = ja * ca + jb * cc, xb = ja * cb + jb * cd;
    const double xc = jc * ca + jd * cc, xd = jc * cb + jd * cd;
    b.ca[i] = xa * ja + xb * jb;
    b.cb[i] = xa * jc + xb * jd;
    b.cc[i] = xc * ja + xd * jb;
    b.cd[i] = xc * jc + xd * jd;
  }

  // The point kernel's advance() and fail() for this kind.
  template <Kind kKind>
  static Next advance(const TrishearStr& k, PointState& st, std::int64_t& passes) {
    if constexpr (kKind == Kind::dips) return TrishearStrKernel::advance<DipCarry>(k, st, passes);
    if constexpr (kKind == Kind::covariances) return TrishearStrKernel::advance<CovCarry>(k, st, passes);
    return TrishearStrKernel::advance<NoCarry>(k, st, passes);
  }
  template <Kind kKind>
  static bool fail(const Data& d, std::size_t n) {
    if constexpr (kKind == Kind::dips) return TrishearStrKernel::fail(d.pts[n], DipCarry{&d.theta[n], &d.sigma[n]});
    if constexpr (kKind == Kind::covariances) return TrishearStrKernel::fail(d.pts[n], CovCarry{&d.cov[n]});
    return TrishearStrKernel::fail(d.pts[n], NoCarry{});
  }

  // Walks waiting points through the rigid domains until one needs a zone
  // step; puts it into lane i.  Points that finish (or fail) on the way are
  // written back at once.  False when no point is left to wait.
  template <Kind kKind>
  static bool fill(const TrishearStr& k, Block& b, int i, std::size_t& next, const Data& d,
                   std::int64_t block_steps, bool& ok) {
    while (next < d.pts.size()) {
      const std::size_t n = next++;
      if constexpr (kKind == Kind::covariances) {
        b.ca[i] = d.cov[n].a;
        b.cb[i] = d.cov[n].b;
        b.cc[i] = d.cov[n].c;
        b.cd[i] = d.cov[n].d;
      }
      if constexpr (kKind == Kind::dips) {
        b.theta[i] = d.theta[n];
        b.sigma[i] = d.sigma[n];
      }
      if (resume<kKind>(k, b, i, n, PointState{d.pts[n].x, d.pts[n].y}, 0, d, block_steps, ok)) return true;
    }
    return false;
  }

  // Continues point n from `st` (its carry already in lane i) through the
  // rigid domains; when its next step is a zone step it stays in lane i
  // (true), else it is written back.  Rigid moves do not change a
  // covariance or a dip.
  template <Kind kKind>
  static bool resume(const TrishearStr& k, Block& b, int i, std::size_t n, PointState st,
                     std::int64_t passes, const Data& d, std::int64_t block_steps, bool& ok) {
    const Next next = advance<kKind>(k, st, passes);
    if (next == Next::zone) {
      b.zeta[i] = st.zeta;
      b.eta[i] = st.eta;
      b.slip[i] = st.slip;
      b.hw[i] = st.hw ? 1 : 0;
      b.fw[i] = st.fw ? 1 : 0;
      b.live[i] = 1;
      b.index[i] = n;
      b.passes[i] = passes;
      b.entry[i] = block_steps;
      return true;
    }
    if (next == Next::failed) {
      ok = fail<kKind>(d, n) && ok;
      return false;
    }
    d.pts[n] = {st.zeta + k.final_shift_, st.eta};
    if constexpr (kKind == Kind::covariances) d.cov[n] = {b.ca[i], b.cb[i], b.cc[i], b.cd[i]};
    if constexpr (kKind == Kind::dips) {
      d.theta[n] = b.theta[i];
      d.sigma[n] = b.sigma[i];
    }
    return false;
  }

  // A lane that needs a look after a step: its point finished its slip, or
  // its next step is not a zone step.  The lane is refilled (or emptied).
  template <Kind kKind>
  static void attend(const TrishearStr& k, Block& b, int i, std::size_t& next, const Data& d,
                     std::int64_t block_steps, bool& ok) {
    const std::size_t n = b.index[i];
    // Every step in the lane was one pass of the point's loop.
    const std::int64_t passes = b.passes[i] + (block_steps - b.entry[i]);
    const PointState st{b.zeta[i], b.eta[i], b.slip[i], b.hw[i] != 0, b.fw[i] != 0};
    b.live[i] = 0;
    if (passes > max_passes) {
      ok = fail<kKind>(d, n) && ok;
    } else if (resume<kKind>(k, b, i, n, st, passes, d, block_steps, ok)) {
      return;
    }
    if (!fill<kKind>(k, b, i, next, d, block_steps, ok)) park(b, i);
  }

  // An empty lane steps a harmless point that never asks for attention.
  static void park(Block& b, int i) {
    b.zeta[i] = 1;
    b.eta[i] = 0;
    b.slip[i] = 0;
    b.hw[i] = b.fw[i] = 1;
    b.live[i] = 0;
    b.ca[i] = b.cb[i] = b.cc[i] = b.cd[i] = 0;
    b.theta[i] = b.sigma[i] = 0;
  }

  template <Kind kKind, bool kLinear>
  static bool run_lanes(const TrishearStr& k, const Data& d) {
    Block b;
    bool ok = true;
    std::size_t next = 0;
    std::int64_t block_steps = 0;
    int live = 0;
    for (int i = 0; i < kLanes; ++i) {
      if (fill<kKind>(k, b, i, next, d, block_steps, ok)) {
        ++live;
      } else {
        park(b, i);
      }
    }
    while (live > 0) {
      const bool look = step<kKind, kLinear>(k, b);
      ++block_steps;
      if (!look) continue;
      live = 0;
      for (int i = 0; i < kLanes; ++i) {
        // An empty lane's parked point drifts; it is put back at every
        // look (its values are never read).
        if (b.live[i] == 0) {
          park(b, i);
          continue;
        }
        if (b.look[i] != 0) attend<kKind>(k, b, i, next, d, block_steps, ok);
        if (b.live[i] != 0) ++live;
      }
    }
    return ok;
  }

  template <Kind kKind>
  static bool run(const TrishearStr& k, const Data& d) {
    if (k.zone_.linear()) return run_lanes<kKind, true>(k, d);
    return run_lanes<kKind, false>(k, d);
  }
};


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
  if (ZoneLanes::applies(k, ptsze.size())) {
    const ZoneLanes::Data d{ptsze, cbed, {}, {}};
    return cbed.empty() ? ZoneLanes::run<ZoneLanes::Kind::points>(k, d)
                        : ZoneLanes::run<ZoneLanes::Kind::covariances>(k, d);
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
  if (ZoneLanes::applies(k, dipposze.size())) {
    return ZoneLanes::run<ZoneLanes::Kind::dips>(k, {dipposze, {}, dipsze, sigma_dip_array});
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
