// Model runs of every shipped example scored with each way of stepping the
// trishear zone (the one-point-at-a-time reference kernel, the batched
// portable kernel and the batched AVX2 and AVX-512 kernels): the scores agree within
// rounding, and the batched kernels give the same score on every call.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "examples/tools/straight_ramp_data.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/models/trishear_bend.hpp"
#include "foldquest/models/trishear_decol.hpp"
#include "foldquest/models/trishear_listric.hpp"
#include "foldquest/models/trishear_straight.hpp"
#include "tests/models/trishear_bend_example_data.hpp"
#include "tests/models/trishear_decol_example_data.hpp"
#include "tests/models/trishear_listric_example_data.hpp"
#include "tests/support/example_states.hpp"
#include "tests/support/expect_close.hpp"

namespace {

using fq::ZoneVectorPath;

// The stated class of the batched kernels: powers, sines and cosines a few
// ulp from the C library's, summed over a few hundred points.
constexpr auto kPathScores = fqtest::Tol::rel(1e-12, "relative", "rounding of the vector functions");

struct PathScope {
  explicit PathScope(ZoneVectorPath p) : saved(fq::zone_vector_path()) { fq::set_zone_vector_path(p); }
  ~PathScope() { fq::set_zone_vector_path(saved); }
  ZoneVectorPath saved;
};

double score(const fq::RunState& state, const std::vector<double>& model) {
  double out = 0;
  fq::choose_fault_model(state, out, model);
  return out;
}

// The reference and the portable path are there in every build; a vector
// path the processor or build lacks falls back to the next narrower one.
TEST(ZoneVectorPaths, SettingAPathGivesItOrTheBestBelowIt) {
  for (ZoneVectorPath p : {ZoneVectorPath::reference, ZoneVectorPath::portable}) {
    const PathScope scope(p);
    EXPECT_EQ(fq::zone_vector_path(), p);
  }
  ZoneVectorPath widest;
  {
    const PathScope scope(ZoneVectorPath::avx512);
    widest = fq::zone_vector_path();
    EXPECT_NE(widest, ZoneVectorPath::reference);
  }
  const PathScope scope(ZoneVectorPath::avx2);
  EXPECT_EQ(fq::zone_vector_path(), widest == ZoneVectorPath::portable ? ZoneVectorPath::portable : ZoneVectorPath::avx2);
}

TEST(ZoneVectorPaths, EveryExampleScoresAlikeOnEveryPath) {
  struct Case {
    const char* example;
    std::vector<double> model;
  };
  const std::vector<Case> examples = {
      {"straight_ramp", fqexample::straight_ramp::true_model()},
      {"decol", fqtest::decol_example::true_model()},
      {"bend", fqtest::bend_example::true_model()},
      {"listric", fqtest::listric_example::true_model()},
  };
  for (const Case& c : examples) {
    for (const char* opt : {"gridsearch_beds_rms.opt", "gridsearch.opt", "mcmc.opt"}) {
      const fq::RunState& state = fqtest::ExampleStates::get(c.example).state(opt);
      // The true model (s = 1), and the same with shapes that take the
      // square root, the square and the general power; s is parameter 7 in
      // every trishear model.
      for (double s : {1.0, 2.0, 0.5, 1.7}) {
        SCOPED_TRACE(testing::Message() << c.example << " " << opt << " s " << s);
        std::vector<double> model = c.model;
        model[6] = s;
        double reference = 0;
        {
          const PathScope scope(ZoneVectorPath::reference);
          reference = score(state, model);
        }
        ASSERT_TRUE(std::isfinite(reference));
        for (ZoneVectorPath path : {ZoneVectorPath::portable, ZoneVectorPath::avx2, ZoneVectorPath::avx512}) {
          const PathScope scope(path);
          const double first = score(state, model);
          EXPECT_CLOSE(first, reference, kPathScores) << "path " << static_cast<int>(fq::zone_vector_path());
          EXPECT_EQ(score(state, model), first);
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The detachment's and the bend's kernels, many points at once (the lanes)
// against one point at a time, with crossings of the axial surface and of
// the bend between zone steps: the same bits on the portable path, and
// within the vector functions' rounding on the AVX2 and AVX-512 paths.

constexpr double kDeg = 3.14159265358979323846 / 180;

// Points around the tip in every region: ahead in the zone, above and
// below it, behind the tip over the flat or the other segment, on the
// fault's extension.
std::vector<fq::Vec2> region_points(int n) {
  std::vector<fq::Vec2> pts;
  for (int i = 0; i < n; ++i) {
    const double zeta = -70.0 + 150.0 * i / n;
    const double eta = ((i * 37) % 41 - 20) * 2.0;
    pts.push_back({zeta, i % 11 == 0 ? 0.0 : eta});
  }
  return pts;
}

template <class Points, class Func>
void expect_lanes_match_single(Points one_point, Func all_points) {
  for (ZoneVectorPath path : {ZoneVectorPath::portable, ZoneVectorPath::avx2, ZoneVectorPath::avx512}) {
    const PathScope scope(path);
    const bool vector_functions = fq::zone_path_has_vector_functions(fq::zone_vector_path());
    for (double s : {1.0, 1.7}) {
      for (double inc : {-0.5, 0.5}) {
        for (bool cov : {false, true}) {
          SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(fq::zone_vector_path()) << " s " << s
                                          << " inc " << inc << " cov " << cov);
          const fqtest::Tol tol =
              vector_functions && s != 1.0 ? fqtest::Tol::rel(1e-11, "relative", "vector power over 80 steps")
                                           : fqtest::Tol::exact();
          std::vector<fq::Vec2> a = region_points(53), b = a;
          std::vector<fq::Mat2> ca(cov ? a.size() : 0, fq::Mat2{4, 1, 1, 9}), cb = ca;
          const bool ok = all_points(s, inc, a, ca);
          bool ok_single = true;
          for (std::size_t i = 0; i < b.size(); ++i) ok_single = one_point(s, inc, b[i], cov ? &cb[i] : nullptr) && ok_single;
          EXPECT_EQ(ok, ok_single);
          for (std::size_t i = 0; i < a.size(); ++i) {
            EXPECT_CLOSE(a[i], b[i], tol) << "point " << i;
            if (cov) {
              EXPECT_CLOSE(ca[i], cb[i], tol) << "point " << i;
            }
          }
        }
      }
    }
  }
}

TEST(ZoneVectorPaths, DetachmentLanesGiveWhatOnePointAtATimeGives) {
  const double m = std::tan(25 * kDeg);
  auto kernel = [m](double s, double inc) { return fq::TrishearDecol(inc, m, 80 * inc, inc, 1.3, s, -30, 30 * kDeg); };
  expect_lanes_match_single(
      [&](double s, double inc, fq::Vec2& p, fq::Mat2* c) {
        return fq::trishear_decol_point(kernel(s, inc), p, c) == fq::DecolStatus::ok;
      },
      [&](double s, double inc, std::vector<fq::Vec2>& p, std::vector<fq::Mat2>& c) {
        return fq::trishear_func_decol(kernel(s, inc), p, c) == fq::DecolStatus::ok;
      });
  // Dips, refolded where they cross the axial surface.
  for (ZoneVectorPath path : {ZoneVectorPath::portable, ZoneVectorPath::avx2, ZoneVectorPath::avx512}) {
    const PathScope scope(path);
    for (double inc : {-0.5, 0.5}) {
      const fq::TrishearDecol k = kernel(1.7, inc);
      std::vector<fq::Vec2> a = region_points(40), b = a;
      std::vector<double> ta(a.size()), sa(a.size(), 0.05);
      for (std::size_t i = 0; i < ta.size(); ++i) ta[i] = -0.6 + 0.03 * static_cast<double>(i);
      std::vector<double> tb = ta, sb = sa;
      EXPECT_EQ(fq::trishear_func_dip_decol(k, a, ta, sa), fq::DecolStatus::ok);
      for (std::size_t i = 0; i < b.size(); ++i) EXPECT_EQ(fq::trishear_decol_dip(k, b[i], tb[i], sb[i]), fq::DecolStatus::ok);
      const fqtest::Tol tol = fq::zone_path_has_vector_functions(fq::zone_vector_path())
                                  ? fqtest::Tol::rel(1e-11, "relative", "vector functions over 80 steps")
                                  : fqtest::Tol::exact();
      for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_CLOSE(a[i], b[i], tol) << "dip " << i;
        EXPECT_CLOSE(ta[i], tb[i], tol) << "dip " << i;
        EXPECT_CLOSE(sa[i], sb[i], tol) << "dip " << i;
      }
    }
  }
}

TEST(ZoneVectorPaths, BendLanesGiveWhatOnePointAtATimeGives) {
  const double m = std::tan(20 * kDeg);
  // The tip 25 from the bend: every slip here takes it across, so points
  // run through both pieces and the turn between them.
  for (const fq::Vec2 bendze : {fq::Vec2{-25, 0}, fq::Vec2{25, 0}}) {
    SCOPED_TRACE(testing::Message() << "bend at " << bendze.x);
    auto kernel = [&](double s, double inc) {
      return fq::TrishearBend(inc, m, 80 * inc, inc, 1.2, s, bendze, 60 * kDeg, 30 * kDeg);
    };
    expect_lanes_match_single(
        [&](double s, double inc, fq::Vec2& p, fq::Mat2* c) { return fq::trishear_bend_point(kernel(s, inc), p, c); },
        [&](double s, double inc, std::vector<fq::Vec2>& p, std::vector<fq::Mat2>& c) {
          return fq::trishear_func_bend(kernel(s, inc), p, c);
        });
  }
}

TEST(ZoneVectorPaths, ListricLanesGiveWhatOnePointAtATimeGives) {
  // Centre at the origin, radius 10, arc ending at 0.6 rad, P/S 1.5.  The
  // tip starts on the straight segment 3 beyond the arc's end and restores
  // down onto the arc, or starts on the arc at 0.2 rad and deforms onto the
  // straight segment: the frame turns with the tip in the lanes, and the
  // last turn on the arc is cut.
  const double rc = 10, tm = 0.6, phi = 0.4, P = 1.5;
  const fq::Vec2 end{rc * std::sin(tm), -rc * std::cos(tm)};
  auto kernel = [&](double s, double inc) {
    const double slip = 16 * inc;
    if (inc < 0) {
      const fq::Vec2 tip{end.x + 3 * std::cos(tm), end.y + 3 * std::sin(tm)};
      const double th_end = tm - std::max(-P * slip - 3, 0.0) / rc;
      return fq::TrishearListric(inc, phi, std::tan(phi), slip, inc, P, s, tm, th_end, tm, tip, {0, 0}, rc);
    }
    const double th = 0.2;
    const fq::Vec2 tip{rc * std::sin(th), -rc * std::cos(th)};
    return fq::TrishearListric(inc, phi, std::tan(phi), slip, inc, P, s, tm, std::min(th + P * slip / rc, tm), th,
                               tip, {0, 0}, rc);
  };
  // The points around the tips, at a tenth of the scale of the others.
  auto near_tip = [](std::vector<fq::Vec2> p) {
    for (fq::Vec2& q : p) q = {q.x / 10 + 5, q.y / 10 - 8};
    return p;
  };
  for (double inc : {-0.5, 0.5}) {
    for (bool cov : {false, true}) {
      for (ZoneVectorPath path : {ZoneVectorPath::portable, ZoneVectorPath::avx2, ZoneVectorPath::avx512}) {
        const PathScope scope(path);
        SCOPED_TRACE(testing::Message() << "inc " << inc << " cov " << cov << " path " << static_cast<int>(path));
        const fqtest::Tol tol = fq::zone_path_has_vector_functions(fq::zone_vector_path())
                                    ? fqtest::Tol::rel(1e-11, "relative", "vector power")
                                    : fqtest::Tol::exact();
        const fq::TrishearListric k = kernel(1.7, inc / 10);
        std::vector<fq::Vec2> a = near_tip(region_points(60)), b = a;
        std::vector<fq::Mat2> ca(cov ? a.size() : 0, fq::Mat2{0.04, 0.01, 0.01, 0.09}), cb = ca;
        EXPECT_EQ(fq::trishear_func_listric(k, a, ca), fq::ListricStatus::ok);
        for (std::size_t i = 0; i < b.size(); ++i) {
          EXPECT_EQ(fq::trishear_listric_point(k, b[i], cov ? &cb[i] : nullptr), fq::ListricStatus::ok);
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
          EXPECT_CLOSE(a[i], b[i], tol) << "point " << i;
          if (cov) {
            EXPECT_CLOSE(ca[i], cb[i], tol) << "point " << i;
          }
        }
        // Dips, turning with the frame.
        std::vector<fq::Vec2> da = near_tip(region_points(40)), db = da;
        std::vector<double> ta(da.size()), sa(da.size(), 0.05);
        for (std::size_t i = 0; i < ta.size(); ++i) ta[i] = -0.6 + 0.03 * static_cast<double>(i);
        std::vector<double> tb = ta, sb = sa;
        EXPECT_EQ(fq::trishear_func_dip_listric(k, da, ta, sa), fq::ListricStatus::ok);
        for (std::size_t i = 0; i < db.size(); ++i) {
          EXPECT_EQ(fq::trishear_listric_dip(k, db[i], tb[i], sb[i]), fq::ListricStatus::ok);
        }
        for (std::size_t i = 0; i < da.size(); ++i) {
          EXPECT_CLOSE(da[i], db[i], tol) << "dip " << i;
          EXPECT_CLOSE(ta[i], tb[i], tol) << "dip " << i;
          EXPECT_CLOSE(sa[i], sb[i], tol) << "dip " << i;
        }
      }
    }
  }
}

TEST(ZoneVectorPaths, LanesRefuseWhatOnePointAtATimeRefuses) {
  // A pass limit of 3 per piece: some points fail in the lanes, become NaN
  // with their covariances, and the rest finish as one at a time does.
  fq::TrishearBend k(-0.5, std::tan(20 * kDeg), -40, -0.5, 1.2, 1.0, {25, 0}, 60 * kDeg, 30 * kDeg);
  k.limit_passes(3);
  std::vector<fq::Vec2> a = region_points(40), b = a;
  std::vector<fq::Mat2> ca(a.size(), fq::Mat2{1, 0, 0, 1}), cb = ca;
  EXPECT_FALSE(fq::trishear_func_bend(k, a, ca));
  for (std::size_t i = 0; i < b.size(); ++i) fq::trishear_bend_point(k, b[i], &cb[i]);
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(b[i].x)) {
      EXPECT_TRUE(std::isnan(a[i].x) && std::isnan(ca[i].a)) << "point " << i;
    } else {
      EXPECT_EQ(a[i].x, b[i].x) << "point " << i;
      EXPECT_EQ(ca[i].d, cb[i].d) << "point " << i;
    }
  }
}

}  // namespace
