// The batched zone step shared by every trishear kernel.
//
// A point in the trishear zone takes one step per increment, and each step
// waits on the one before (a divide, a power, a multiply), so one point at a
// time is bound by latency.  Points are independent, so kLanes of them are
// stepped together: structure of arrays, steps outer and lanes inner, so
// that the divides and powers of different points overlap (and, for s = 1,
// where the step needs no power, the compiler turns the lane loop into
// vector code).  A lane whose point leaves the zone or finishes its slip is
// handed back to its model's own state machine, one point at a time; when
// the point is done the lane takes the next waiting point, so lanes do not
// idle while points wait.
//
// Each model supplies a policy M (TrishearStrLanes, TrishearDecolLanes,
// TrishearBendLanes and TrishearListricLanes in the kernel files):
//
//   using Constants = ...;   the call's constants (passed as `k` below)
//   using State = ...;       one point's scalar state
//   static constexpr int kAux;               per-lane values besides the
//                                            position and slip (flags)
//   static constexpr bool kTurns;            false: a step moves the point
//                                            by the field less the tip's
//                                            advance along zeta; true: by
//                                            M::place (a turning frame)
//   static const TrishearZone& zone(k);      the zone's field
//   static double tip_advance(k);            the tip's advance per step
//   static std::int64_t max_passes(k);       the state machine's pass limit
//   static State start(k, Vec2 p);           state of a point at the start
//   static void to_lane(const State&, Block&, int i);
//                            puts a point whose next step is a zone step
//                            into lane i: zeta, eta (in the zone's frame),
//                            the slip the lane counts, the aux values, and
//                            the rest of the state in b.state[i]
//   static State from_lane(k, const Block&, int i);
//                            the state after the lane's steps
//   static bool in_zone(k, double zeta, double eta, double slip,
//                       const Block&, int i);
//                            after a step: is the next step a zone step
//                            the lanes can take?  (the state machine's own
//                            tests, branch free, inlined into the lane loop;
//                            the slip still to apply included)
//   static void place(k, Block&, int i, double zeta, double eta);
//                            (kTurns only) the point moved by the field to
//                            (zeta, eta): the frame's own motion, applied to
//                            the lane's position and carry
//   template <class Carry>
//   static Next advance(k, State&, std::int64_t& passes, Carry);
//                            walks the point through every rule but the
//                            zone step: Next::zone when its next step is a
//                            zone step (that pass not yet counted),
//                            Next::done when its slip is done, Next::failed
//   static Vec2 finish(k, const State&);     the final position
//
// Every lane performs exactly the operations of TrishearZone::displacement
// and rotate_dip, and the same position update as the models' one-point
// zone steps, in the same order (the kernel files are compiled without
// floating contraction), so with the C library's powers (the portable path)
// the lanes give the same bits as one point at a time, and with the vector
// powers (AVX2) they differ by a few ulp per power: scores within 1e-12
// relative of the reference kernel (the tests compare the paths).  The
// AVX-512 path differs from the AVX2 path only in how many lanes one call
// of the vector functions takes.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <type_traits>

#include "foldquest/math/vec2.hpp"
#include "foldquest/models/trishear_straight.hpp"

#if FOLDQUEST_ZONE_MVEC
#include <immintrin.h>
// glibc's power, sine and cosine of four doubles (AVX2) and of eight
// (AVX-512), from libmvec; called only from code compiled for those
// instruction sets and only on processors that have them.
extern "C" [[gnu::target("avx2")]] __m256d _ZGVdN4vv_pow(__m256d x, __m256d y);
extern "C" [[gnu::target("avx2")]] __m256d _ZGVdN4v_sin(__m256d x);
extern "C" [[gnu::target("avx2")]] __m256d _ZGVdN4v_cos(__m256d x);
extern "C" [[gnu::target("avx512f")]] __m512d _ZGVeN8vv_pow(__m512d x, __m512d y);
extern "C" [[gnu::target("avx512f")]] __m512d _ZGVeN8v_sin(__m512d x);
extern "C" [[gnu::target("avx512f")]] __m512d _ZGVeN8v_cos(__m512d x);
#endif

namespace fq::zone {

// What a kernel carries along with a point's position.
struct NoCarry {};
struct CovCarry {
  Mat2* c;
};
struct DipCarry {
  double* theta;
  double* sigma;
};

// What stops a point's walk through the rigid rules.
enum class Next { zone, done, failed };

// What the lanes carry besides the position.
enum class Kind { points, covariances, dips };

// The arrays of one call: positions, and covariances or dips with their
// uncertainties (empty when not carried).
struct Data {
  std::span<Vec2> pts;
  std::span<Mat2> cov;
  std::span<double> theta, sigma;
};

inline constexpr int kLanes = 8;
// Few points gain nothing from lanes.
inline constexpr std::size_t kBatchFrom = 2 * kLanes;

// One point's zone step at `at` (zeta > 0) through the field `z`, one point
// at a time: the field's displacement, with what the point carries stepped
// (its covariance C := J C J^T, its dip rotated with its uncertainty).
template <class Carry>
inline Vec2 zone_displacement(const TrishearZone& z, Vec2 at, Carry carry) {
  if constexpr (std::is_same_v<Carry, CovCarry>) {
    Mat2 j;
    const Vec2 d = z.displacement(at, &j);
    *carry.c = (j * *carry.c) * transpose(j);
    return d;
  } else {
    const Vec2 d = z.displacement(at, nullptr);
    if constexpr (std::is_same_v<Carry, DipCarry>) z.rotate_dip(at, *carry.theta, *carry.sigma);
    return d;
  }
}

// Sets a point and what it carries to NaN (a failed point).
template <class Carry>
inline void set_failed(Vec2& p, Carry carry) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  p = {nan, nan};
  if constexpr (std::is_same_v<Carry, CovCarry>) *carry.c = {nan, nan, nan, nan};
  if constexpr (std::is_same_v<Carry, DipCarry>) *carry.theta = *carry.sigma = nan;
}

// Lane state, structure of arrays.  live/look hold 0 or 1 as doubles, and
// the policies' flags are doubles too, so that the lane loop works on one
// type only.
template <int kAux, class State>
struct Block {
  double zeta[kLanes], eta[kLanes], slip[kLanes];
  double aux[kAux > 0 ? kAux : 1][kLanes];
  State state[kLanes];  // the rest of each lane's point state
  double live[kLanes];
  double look[kLanes];  // 1 after a step for a live lane that needs attention
  double ca[kLanes], cb[kLanes], cc[kLanes], cd[kLanes];
  double theta[kLanes], sigma[kLanes];
  std::size_t index[kLanes];
  std::int64_t passes[kLanes];  // the point's passes when it entered the lane
  std::int64_t entry[kLanes];   // the block's step count when it entered
};

// The C library lane by lane: the reference kernel's values, bit for bit;
// the lanes are independent, so their calls overlap in the pipeline.
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

#if FOLDQUEST_ZONE_MVEC
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

// The same, all eight lanes in one call.
struct Avx512Math {
  static_assert(kLanes == 8);
  [[gnu::target("avx512f")]] static void pow(const double* r, double e, double* out) {
    _mm512_storeu_pd(out, _ZGVeN8vv_pow(_mm512_loadu_pd(r), _mm512_set1_pd(e)));
  }
  [[gnu::target("avx512f")]] static void sincos(const double* t, double* c, double* s) {
    const __m512d x = _mm512_loadu_pd(t);
    _mm512_storeu_pd(c, _ZGVeN8v_cos(x));
    _mm512_storeu_pd(s, _ZGVeN8v_sin(x));
  }
};
#endif

// The access the lanes need to TrishearZone's constants.
struct ZoneAccess {
  const TrishearZone& z;
  double inc() const { return z.increment_; }
  double m() const { return z.m_; }
  double half_v0() const { return z.half_v0_; }
  double eta_coef() const { return z.eta_coef_; }
  double two_s() const { return z.two_s_; }
  double two_s_m() const { return z.two_s_m_; }
  double m_inc() const { return z.m_inc_; }
  double s() const { return z.s_; }
  double sqrt_m() const { return z.sqrt_m_; }
  double e1() const { return z.e1_; }
  bool half() const { return z.exponent_ == TrishearZone::Exponent::half; }
  bool two() const { return z.exponent_ == TrishearZone::Exponent::two; }
  double p3_of(double r, double p1) const { return z.p3_of(r, p1); }
};

template <class M>
struct Lanes {
  using K = typename M::Constants;
  using State = typename M::State;
  using B = Block<M::kAux, State>;

  // One zone step of every lane; returns true when a live lane left the
  // zone or finished its slip.  kLinear: s = 1 on the fast path (p1 = r,
  // p3 = 1).  Math takes r^(1/s) of all lanes for the other exponents, and
  // the sine and cosine of the dips.  Inlined into one function per
  // instruction set (see step() below).
  template <Kind kKind, bool kLinear, class Math>
  [[gnu::always_inline]] static inline bool step_lanes(const K& k, B& b) {
    constexpr bool kCov = kKind == Kind::covariances;
    constexpr bool kDip = kKind == Kind::dips;
    const ZoneAccess z{M::zone(k)};
    const double inc = z.inc(), m = z.m(), half_v0 = z.half_v0(), eta_coef = z.eta_coef();
    const double two_s = z.two_s(), two_s_m = z.two_s_m(), m_inc = z.m_inc();
    const double s = z.s(), sqrt_m = z.sqrt_m();
    const double tip_advance = M::tip_advance(k);
    double r[kLanes], p1[kLanes], p3[kLanes], c1[kLanes], s1[kLanes];
#pragma omp simd
    for (int i = 0; i < kLanes; ++i) r[i] = std::abs(b.eta[i]) / (b.zeta[i] * m);
    if constexpr (!kLinear) {
      if (z.half()) {
#pragma omp simd
        for (int i = 0; i < kLanes; ++i) p1[i] = std::sqrt(r[i]);
      } else if (z.two()) {
#pragma omp simd
        for (int i = 0; i < kLanes; ++i) p1[i] = r[i] * r[i];
      } else {
        Math::pow(r, z.e1(), p1);
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
      if constexpr (M::kTurns) {
        M::place(k, b, i, zeta + dx, eta + dy);
      } else {
        b.zeta[i] = zeta + (dx - tip_advance);
        b.eta[i] = eta + dy;
      }
      const bool stays = M::in_zone(k, b.zeta[i], b.eta[i], b.slip[i], b, i);
      const double live = b.live[i];  // loaded unconditionally: no branch in the lane loop
      b.look[i] = stays ? 0.0 : live;
    }
    double attention = 0;
    for (int i = 0; i < kLanes; ++i) attention += b.look[i];
    return attention > 0;
  }

  template <Kind kKind, bool kLinear>
  static bool step_portable(const K& k, B& b) {
    return step_lanes<kKind, kLinear, ScalarMath>(k, b);
  }

#if FOLDQUEST_ZONE_MVEC
  template <Kind kKind, bool kLinear>
  [[gnu::target("avx2")]] static bool step_avx2(const K& k, B& b) {
    return step_lanes<kKind, kLinear, Avx2Math>(k, b);
  }
  template <Kind kKind, bool kLinear>
  [[gnu::target("avx512f")]] static bool step_avx512(const K& k, B& b) {
    return step_lanes<kKind, kLinear, Avx512Math>(k, b);
  }
#endif

  template <Kind kKind, bool kLinear>
  static bool step(const K& k, B& b) {
#if FOLDQUEST_ZONE_MVEC
    const ZoneVectorPath path = zone_vector_path();
    if (path == ZoneVectorPath::avx512) return step_avx512<kKind, kLinear>(k, b);
    if (path == ZoneVectorPath::avx2) return step_avx2<kKind, kLinear>(k, b);
#endif
    return step_portable<kKind, kLinear>(k, b);
  }

  // C := (J C) J^T in the operation order of Mat2's product.
  [[gnu::always_inline]] static inline void mat_step(B& b, int i, double ja, double jb, double jc, double jd) {
    const double ca = b.ca[i], cb = b.cb[i], cc = b.cc[i], cd = b.cd[i];
    const double xa = ja * ca + jb * cc, xb = ja * cb + jb * cd;
    const double xc = jc * ca + jd * cc, xd = jc * cb + jd * cd;
    b.ca[i] = xa * ja + xb * jb;
    b.cb[i] = xa * jc + xb * jd;
    b.cc[i] = xc * ja + xd * jb;
    b.cd[i] = xc * jc + xd * jd;
  }

  // The model's walk with lane i's carry, which the walk may change (a
  // crossing of an axial surface shears the covariance and kinks the dip).
  template <Kind kKind>
  static Next advance(const K& k, State& st, std::int64_t& passes, B& b, int i) {
    if constexpr (kKind == Kind::covariances) {
      Mat2 c{b.ca[i], b.cb[i], b.cc[i], b.cd[i]};
      const Next next = M::advance(k, st, passes, CovCarry{&c});
      b.ca[i] = c.a;
      b.cb[i] = c.b;
      b.cc[i] = c.c;
      b.cd[i] = c.d;
      return next;
    } else if constexpr (kKind == Kind::dips) {
      return M::advance(k, st, passes, DipCarry{&b.theta[i], &b.sigma[i]});
    } else {
      return M::advance(k, st, passes, NoCarry{});
    }
  }

  template <Kind kKind>
  static void fail(const Data& d, std::size_t n) {
    if constexpr (kKind == Kind::dips) set_failed(d.pts[n], DipCarry{&d.theta[n], &d.sigma[n]});
    if constexpr (kKind == Kind::covariances) set_failed(d.pts[n], CovCarry{&d.cov[n]});
    if constexpr (kKind == Kind::points) set_failed(d.pts[n], NoCarry{});
  }

  // Walks waiting points through the rigid rules until one needs a zone
  // step; puts it into lane i.  Points that finish (or fail) on the way are
  // written back at once.  False when no point is left to wait.
  template <Kind kKind>
  static bool fill(const K& k, B& b, int i, std::size_t& next, const Data& d, std::int64_t block_steps,
                   bool& ok) {
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
      if (resume<kKind>(k, b, i, n, M::start(k, d.pts[n]), 0, d, block_steps, ok)) return true;
    }
    return false;
  }

  // Continues point n from `st` (its carry in lane i) through the rigid
  // rules; when its next step is a zone step it stays in lane i (true),
  // else it is written back.
  template <Kind kKind>
  static bool resume(const K& k, B& b, int i, std::size_t n, State st, std::int64_t passes, const Data& d,
                     std::int64_t block_steps, bool& ok) {
    const Next next = advance<kKind>(k, st, passes, b, i);
    if (next == Next::zone) {
      M::to_lane(st, b, i);
      b.live[i] = 1;
      b.index[i] = n;
      b.passes[i] = passes;
      b.entry[i] = block_steps;
      return true;
    }
    if (next == Next::failed) {
      fail<kKind>(d, n);
      ok = false;
      return false;
    }
    d.pts[n] = M::finish(k, st);
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
  static void attend(const K& k, B& b, int i, std::size_t& next, const Data& d, std::int64_t block_steps,
                     bool& ok) {
    const std::size_t n = b.index[i];
    // Every step in the lane was one pass of the point's loop.
    const std::int64_t passes = b.passes[i] + (block_steps - b.entry[i]);
    b.live[i] = 0;
    if (passes > M::max_passes(k)) {
      fail<kKind>(d, n);
      ok = false;
    } else if (resume<kKind>(k, b, i, n, M::from_lane(k, b, i), passes, d, block_steps, ok)) {
      return;
    }
    if (!fill<kKind>(k, b, i, next, d, block_steps, ok)) park(b, i);
  }

  // An empty lane steps a harmless point that never asks for attention.
  static void park(B& b, int i) {
    b.zeta[i] = 1;
    b.eta[i] = 0;
    b.slip[i] = 0;
    for (int j = 0; j < M::kAux; ++j) b.aux[j][i] = 1;
    b.live[i] = 0;
    b.ca[i] = b.cb[i] = b.cc[i] = b.cd[i] = 0;
    b.theta[i] = b.sigma[i] = 0;
  }

  template <Kind kKind, bool kLinear>
  static bool run_lanes(const K& k, const Data& d) {
    B b;
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

  // Every point of `d` through the slip; false when any point failed (it
  // is then NaN with what it carries).
  template <Kind kKind>
  static bool run(const K& k, const Data& d) {
    if (M::zone(k).linear()) return run_lanes<kKind, true>(k, d);
    return run_lanes<kKind, false>(k, d);
  }
};

// The part of a policy for a state machine that classifies a point afresh
// after every zone step: a lane holds the point's position and slip only,
// and State is built from {zeta, eta, slip}.
template <class S>
struct ClassifiedAfresh {
  using State = S;
  static constexpr int kAux = 0;
  static constexpr bool kTurns = false;
  using B = Block<kAux, S>;

  template <class K>
  static S start(const K&, Vec2 p) {
    return S{p.x, p.y};
  }
  static void to_lane(const S& st, B& b, int i) {
    b.zeta[i] = st.zeta;
    b.eta[i] = st.eta;
    b.slip[i] = st.slip;
  }
  template <class K>
  static S from_lane(const K&, const B& b, int i) {
    return S{b.zeta[i], b.eta[i], b.slip[i]};
  }
};

// True when a call of `npoints` points should go through the lanes: the
// process has not chosen the reference kernel, the field is defined, and
// there are enough points.
inline bool batch_worthwhile(const TrishearZone& z, std::size_t npoints) {
  return zone_vector_path() != ZoneVectorPath::reference && z.defined() && npoints >= kBatchFrom;
}

}  // namespace fq::zone
