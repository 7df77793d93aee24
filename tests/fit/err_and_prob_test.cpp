// Scoring of restored beds, dips, fault points and terraces: reference lines
// per fit type, residuals, the four result types, the restored-state
// parameter layout, correlated beds and the terrace covariance.
#include "foldquest/fit/err_and_prob.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fit/console_capture.hpp"
#include "tests/support/expect_close.hpp"

namespace {

using fq::Mat2;
using fq::RunState;
using fq::Vec2;
using fqtest::Tol;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

RunState scoring_state(int fittype, int resulttype) {
  RunState st;
  st.options.fittype = fittype;
  st.options.resulttype = resulttype;
  st.parameters.sigma_bed = 0.5;
  st.parameters.sigma_dip = 2.0;
  st.parameters.sigma_fault = 3.0;
  return st;
}

// Scores one bed as bed n of `nbeds` and returns its value.
double score_bed(const RunState& st, const std::vector<Vec2>& bed, int n = 1, int nbeds = 1,
                 const std::vector<Mat2>& cov = {}, const std::vector<double>& p = {}) {
  std::vector<double> out(static_cast<std::size_t>(nbeds), -12345.0);
  fq::calc_bed_err(st, n, bed, out, cov, p);
  return out[static_cast<std::size_t>(n - 1)];
}

// Heights 1, 2, 3 against a flat line: b = 2, residuals 1, 0, 1.
const std::vector<Vec2> kBed123{{0, 1}, {1, 2}, {2, 3}};

TEST(BedScore, FlatLineExampleUnderEveryResultType) {
  EXPECT_CLOSE(score_bed(scoring_state(1, 1), kBed123), 2.0 / 3.0, Tol::ulps(2));
  // -sum(ln 0.5 + r^2 / 0.5)
  EXPECT_CLOSE(score_bed(scoring_state(1, 2), kBed123), -(3 * std::log(0.5) + 4.0), Tol::ulps(4));
  // Line y = 2, slope 0: x terms vanish, y terms (1-2)^2/3 + 0 + (3-2)^2/5 ...
  EXPECT_CLOSE(score_bed(scoring_state(1, 3), {{1, 1}, {2, 2}, {3, 3}}), 1.0 / 3.0 + 1.0 / 5.0, Tol::ulps(4));
  // ... except that the x term of a point at x = 0 is 0/0.
  EXPECT_TRUE(std::isnan(score_bed(scoring_state(1, 3), kBed123)));
  // Correlation length below every segment: independent errors, as type 2.
  RunState st4 = scoring_state(1, 4);
  st4.parameters.lc = 0.5;
  EXPECT_CLOSE(score_bed(st4, kBed123), -(3 * std::log(0.5) + 4.0), Tol::ulps(8));
}

TEST(BedScore, BedOnItsLineScoresZeroOrMinusSumLnSigma) {
  const std::vector<Vec2> flat{{-1, 4}, {0, 4}, {3, 4}};
  EXPECT_EQ(score_bed(scoring_state(1, 1), flat), 0.0);
  EXPECT_CLOSE(score_bed(scoring_state(1, 2), flat), -3 * std::log(0.5), Tol::ulps(2));
}

TEST(BedScore, RmsOverBedsWeighsBedsEquallyNotPoints) {
  // Bed 1: 2 points 2 above and below its mean (mean square 4); bed 2: 10
  // points alternately 1 above and below (mean square 1).
  const RunState st = scoring_state(1, 1);
  std::vector<Vec2> b1{{0, 2}, {1, -2}}, b2;
  for (int i = 0; i < 10; ++i) b2.push_back({static_cast<double>(i), i % 2 ? 1.0 : -1.0});
  std::vector<double> indiv(2, kNaN);
  fq::calc_bed_err(st, 1, b1, indiv, {}, {});
  fq::calc_bed_err(st, 2, b2, indiv, {}, {});
  EXPECT_CLOSE(indiv[0], 4.0, Tol::ulps(2));
  EXPECT_CLOSE(indiv[1], 1.0, Tol::ulps(2));
  double all = kNaN;
  fq::calc_beds_err(st, indiv, all);
  EXPECT_CLOSE(all, std::sqrt(2.5), Tol::ulps(2));  // pooled would be sqrt(1.5)

  for (int rt : {2, 3, 4}) {  // the other result types sum
    double sum = kNaN;
    fq::calc_beds_err(scoring_state(1, rt), std::vector<double>{-1.5, -2.25}, sum);
    EXPECT_EQ(sum, -3.75);
  }
  double untouched = 7;
  fq::calc_beds_err(scoring_state(1, 9), std::vector<double>{1, 2}, untouched);
  EXPECT_EQ(untouched, 7);
}

TEST(BedScore, KnownDipUsesRegionalSlopeWithPositiveDipDownToTheRight) {
  // Dip +45 (down to the right): y = b - x.  Points on y = 5 - x fit, points
  // on y = 5 + x do not.
  RunState st = scoring_state(2, 1);
  st.parameters.regslope = 1.0;
  EXPECT_CLOSE(score_bed(st, {{0, 5}, {1, 4}, {2, 3}}), 0.0, Tol::ulps(4));
  // Perpendicular residuals from y = 5 - x with the best intercept b = 7:
  // points (0,5), (1,6), (2,7): t x + y = 5, 7, 9; r = 2, 0, 2 over sqrt 2.
  EXPECT_CLOSE(score_bed(st, {{0, 5}, {1, 6}, {2, 7}}), (2.0 + 0 + 2.0) / 3.0, Tol::ulps(4));
}

TEST(BedScore, FitForDipUsesTheLeastSquaresLine) {
  const RunState st = scoring_state(3, 1);
  // Exactly on y = 2x + 1, whatever its slope.
  EXPECT_CLOSE(score_bed(st, {{0, 1}, {1, 3}, {2, 5}, {5, 11}}), 0.0, Tol::abs(1e-24, "length^2", "rounding"));
  // (0,0), (1,1), (2,0): slope 0, b = 1/3; residuals 1/3, 2/3, 1/3.
  EXPECT_CLOSE(score_bed(st, {{0, 0}, {1, 1}, {2, 0}}), 2.0 / 9.0, Tol::ulps(8));
}

TEST(BedScore, KnownLineTakesTheInterceptOfItsOwnBed) {
  RunState st = scoring_state(4, 1);
  st.parameters.regslope = 0;
  st.parameters.intercepts = {10, 20};
  const std::vector<Vec2> at20{{0, 20}, {1, 20}};
  EXPECT_EQ(score_bed(st, at20, 2, 2), 0.0);
  EXPECT_EQ(score_bed(st, at20, 1, 2), 100.0);
}

TEST(BedScore, PropagatedSigmaIsThatOfThePerpendicularDistance) {
  // One point 1 above the line; result type 2 gives -(ln sigma + 1/(2 sigma^2)).
  const Mat2 c{4.0, 0.5, 0.5, 9.0};
  RunState st = scoring_state(4, 2);
  st.options.propagate = 1;
  st.parameters.intercepts = {0};
  st.parameters.regslope = 0;  // horizontal line: sigma = sqrt(C22) = 3
  EXPECT_CLOSE(score_bed(st, {{2, 1}}, 1, 1, {c}), -(std::log(3.0) + 1.0 / 18.0), Tol::ulps(4));
  st.parameters.regslope = 1;  // 45 degrees: sigma^2 = (C11 + 2 C12 + C22)/2 = 7
  // y = -x; the point (0, sqrt 2) lies 1 from it.
  EXPECT_CLOSE(score_bed(st, {{0, std::sqrt(2.0)}}, 1, 1, {c}), -(0.5 * std::log(7.0) + 1.0 / 14.0),
               Tol::ulps(8));
  // Without propagation sigma_bed applies and the covariances are not read.
  st.options.propagate = 0;
  EXPECT_CLOSE(score_bed(st, {{0, std::sqrt(2.0)}}), -(std::log(0.5) + 2.0), Tol::ulps(8));
}

TEST(BedScore, ChiSquareAgainstTheNegatedSlopeLine) {
  // t = -1 is the line y = x + b (geometric slope 1); b = 0 from the known line.
  RunState st = scoring_state(4, 3);
  st.parameters.regslope = -1;
  st.parameters.intercepts = {0};
  // (0, 2): foot of the perpendicular (1, 1); (0-1)^2/1 + (2-1)^2/3.
  EXPECT_CLOSE(score_bed(st, {{0, 2}}), 1.0 + 1.0 / 3.0, Tol::ulps(4));
  // Slope 0 and a point at x = 0: its x term is 0/0.
  EXPECT_TRUE(std::isnan(fq::bed_chisq(std::vector<Vec2>{{0, 1}, {1, 3}}, 2.0, 0.0)));
  // Any other zero denominator gives an infinite term.
  EXPECT_EQ(fq::bed_chisq(std::vector<Vec2>{{1, 1}}, -1.0, 0.0), std::numeric_limits<double>::infinity());
}

// ---- fit type 5: the restored-state parameter layout ---------------------------

// Bed n of a restored state at dip `dip_deg` through intercept b.
std::vector<Vec2> bed_at(double dip_deg, double b) {
  const double t = std::tan(fq::Constants::pi * dip_deg / 180);
  return {{-3, b + 3 * t}, {0, b}, {4, b - 4 * t}};
}

TEST(RestoredFit, DipPerBedThenDipDataThenInterceptsWhenDipsPresent) {
  RunState st = scoring_state(5, 1);
  st.options.fit_dips = 2;
  st.options.fit_beds = 1;
  st.options.dattypes[0] = st.options.dattypes[1] = 1;  // beds and dips
  st.data.nbeds = 2;
  // p(1), p(2) bed dips; p(3) dip of the dip data; p(4), p(5) intercepts.
  const std::vector<double> p{10, -20, 7, 100, 200};
  EXPECT_EQ(fq::n_restored_dip_params(st), 3);
  const auto ts = Tol::abs(1e-20, "length^2", "rounding of values near 200");
  EXPECT_CLOSE(score_bed(st, bed_at(-20, 200), 2, 2, {}, p), 0.0, ts);
  EXPECT_CLOSE(score_bed(st, bed_at(10, 100), 1, 2, {}, p), 0.0, ts);
  EXPECT_GT(score_bed(st, bed_at(10, 100), 2, 2, {}, p), 1.0);

  double out = kNaN;
  fq::calc_dip_err(st, std::vector<double>{9.0}, out, {}, p);
  EXPECT_CLOSE(out, 2.0, Tol::ulps(2));  // |9 - p(3)|

  // Without dip data the intercepts follow the bed dips directly.
  st.options.dattypes[1] = 0;
  const std::vector<double> q{10, -20, 100, 200};
  EXPECT_EQ(fq::n_restored_dip_params(st), 2);
  EXPECT_CLOSE(score_bed(st, bed_at(-20, 200), 2, 2, {}, q), 0.0, ts);
}

TEST(RestoredFit, OneSharedDipAndNoDip) {
  RunState st = scoring_state(5, 1);
  st.options.dattypes[0] = 1;
  st.data.nbeds = 2;
  st.options.fit_dips = 1;
  st.options.fit_beds = 1;
  const auto ts = Tol::abs(1e-20, "length^2", "rounding");
  // p(1) shared dip, p(1 + n) intercepts.
  EXPECT_CLOSE(score_bed(st, bed_at(30, -5), 2, 2, {}, {30, 8, -5}), 0.0, ts);
  double out = kNaN;
  fq::calc_dip_err(st, std::vector<double>{25.0}, out, {}, std::vector<double>{30, 8, -5});
  EXPECT_CLOSE(out, 5.0, Tol::ulps(2));

  // No restored dip: regional slope, p(n) intercepts.
  st.options.fit_dips = 0;
  st.parameters.regslope = 0;
  st.parameters.regdipdeg = 0;
  EXPECT_CLOSE(score_bed(st, bed_at(0, 6), 2, 2, {}, {3, 6}), 0.0, ts);
  // Dip fitted but intercepts not: the best intercept of the bed.
  st.options.fit_dips = 1;
  st.options.fit_beds = 0;
  EXPECT_CLOSE(score_bed(st, bed_at(30, 1234), 1, 2, {}, {30}), 0.0, Tol::abs(1e-18, "length^2", "rounding"));
}

// ---- dips ------------------------------------------------------------------------

double score_dips(const RunState& st, const std::vector<double>& d, const std::vector<double>& sig = {}) {
  double out = -12345.0;
  fq::calc_dip_err(st, d, out, sig, {});
  return out;
}

TEST(DipScore, AxialResidualsAndReferences) {
  EXPECT_CLOSE(score_dips(scoring_state(1, 1), {175}), 5.0, Tol::ulps(2));  // 175 vs 0 is 5 apart
  RunState st = scoring_state(2, 1);
  st.parameters.regdipdeg = -80;
  EXPECT_CLOSE(score_dips(st, {85}), 15.0, Tol::ulps(2));
  // Fit type 3: one dip is its own mean.
  EXPECT_EQ(score_dips(scoring_state(3, 1), {37.5}), 0.0);
  EXPECT_CLOSE(score_dips(scoring_state(3, 1), {10, 20}), 5.0, Tol::ulps(2));
}

TEST(DipScore, ProbabilityAndPropagatedSigma) {
  // sigma_dip = 2: -(2 ln 2 + (1 + 4)/8)
  EXPECT_CLOSE(score_dips(scoring_state(1, 2), {1, -2}), -(2 * std::log(2.0) + 5.0 / 8.0), Tol::ulps(4));
  EXPECT_EQ(score_dips(scoring_state(1, 4), {3}), score_dips(scoring_state(1, 2), {3}));
  RunState st = scoring_state(1, 2);
  st.options.propagate = 1;
  st.parameters.sigma_restored_dip = 4;
  // sigma = sqrt(3^2 + 4^2) = 5
  EXPECT_CLOSE(score_dips(st, {5}, {3}), -(std::log(5.0) + 0.5), Tol::ulps(4));
  const double none = score_dips(scoring_state(1, 2), {});
  EXPECT_EQ(none, 0.0);
  EXPECT_TRUE(std::signbit(none));
}

TEST(DipScore, ChiSquare) {
  EXPECT_CLOSE(score_dips(scoring_state(1, 3), {10, -4}), 10.0 + 4.0, Tol::ulps(2));
  // A dip equal and opposite to its reference: the tiny constant keeps the
  // denominator off zero.
  RunState st = scoring_state(2, 3);
  st.parameters.regdipdeg = 5;
  EXPECT_CLOSE(score_dips(st, {-5}), 100.0 / 1.1754943508222875e-38, Tol::ulps(2));
  EXPECT_EQ(score_dips(st, {5}), 0.0);
  EXPECT_EQ(score_dips(st, {}), 0.0);
}

// ---- fault points ----------------------------------------------------------------

TEST(FaultPointScore, EveryResultType) {
  const std::vector<double> r{3, 4};
  double out = kNaN;
  fq::calc_fault_pts_err(scoring_state(1, 1), r, out);
  EXPECT_CLOSE(out, std::sqrt(12.5), Tol::ulps(2));
  fq::calc_fault_pts_err(scoring_state(1, 2), r, out);  // sigma_fault 3
  EXPECT_CLOSE(out, -(2 * std::log(3.0) + 25.0 / 18.0), Tol::ulps(4));
  double out4 = kNaN;
  fq::calc_fault_pts_err(scoring_state(1, 4), r, out4);
  EXPECT_EQ(out4, out);
  fq::calc_fault_pts_err(scoring_state(1, 2), {}, out);
  EXPECT_TRUE(out == 0.0 && std::signbit(out));

  fqtest::ConsoleCapture console;
  double kept = 42;
  fq::calc_fault_pts_err(scoring_state(1, 3), r, kept);
  EXPECT_EQ(kept, 42);
  fq::calc_fault_pts_err(scoring_state(1, 7), r, kept);
  EXPECT_EQ(kept, 42);
  EXPECT_EQ(console.text(), " Error: Chi square not available for points on fault.\n Error: Invalid ResultType\n");
}

TEST(InvalidCodes, MessagesAndOutputsLeftAsTheyWere) {
  fqtest::ConsoleCapture console;
  EXPECT_EQ(score_bed(scoring_state(6, 1), kBed123), -12345.0);
  EXPECT_EQ(score_bed(scoring_state(1, 0), kBed123), -12345.0);
  EXPECT_EQ(score_dips(scoring_state(0, 1), {5}), -12345.0);
  EXPECT_EQ(score_dips(scoring_state(1, 5), {5}), -12345.0);
  std::vector<double> terr{-12345.0};
  RunState st = scoring_state(1, 9);
  st.parameters.terr_orig_elev = st.parameters.sigma_orig_elev = {0};
  fq::calc_terr_err(st, 1, std::vector<Vec2>{{3, 7}}, terr, {});
  EXPECT_EQ(terr[0], -12345.0);
  EXPECT_EQ(console.text(),
            " Error: Invalid FitType\n Error: Invalid ResultType\n Error: Invalid FitType\n"
            " Error: Invalid ResultType\n Error: Invalid ResultType\n");
}

// ---- correlated errors along a bed ---------------------------------------------

TEST(CorrelatedBed, SphericalCorrelationAlongTheBed) {
  // Points at along-bed distances 0, 1, 2 (an L shape), lc = 2, sigma 1 and 2.
  const std::vector<Vec2> pts{{0, 0}, {1, 0}, {1, 1}};
  const std::vector<double> sig{1, 2, 1};
  const fq::SquareMatrix c = fq::make_bed_correlation_matrix(pts, sig, 2.0);
  EXPECT_EQ(c(0, 0), 1.0);
  EXPECT_EQ(c(1, 1), 4.0);
  EXPECT_EQ(c(0, 1), 2 * 0.3125);  // h = lc/2: 1 - 0.75 + 0.0625
  EXPECT_EQ(c(1, 0), c(0, 1));
  EXPECT_EQ(c(0, 2), 0.0);  // h = lc: uncorrelated although only sqrt 2 apart in space
  // A bed that doubles back: the third point is 0.1 from the first in
  // space but 2.1 along the bed.
  const fq::SquareMatrix d =
      fq::make_bed_correlation_matrix(std::vector<Vec2>{{0, 0}, {1, 0}, {0, 0.1}}, std::vector<double>{1, 1, 1}, 1.5);
  EXPECT_EQ(d(0, 2), 0.0);
  EXPECT_GT(d(0, 1), 0.0);
}

TEST(CorrelatedBed, LogDensityEqualsUncorrelatedWhenDiagonalAndHandValueWhenNot) {
  const std::vector<double> r{1, 0.5};
  const std::vector<double> sig{2, 3};
  fq::SquareMatrix diag(2);
  diag(0, 0) = 4;
  diag(1, 1) = 9;
  EXPECT_CLOSE(fq::bed_prob_cov(r, diag), fq::bed_prob(r, sig), Tol::ulps(4));
  // [[4, 3], [3, 9]]: det 27, inverse [[9, -3], [-3, 4]]/27;
  // q = (9 - 3 + 1)/27 = 7/27.
  fq::SquareMatrix c = diag;
  c(0, 1) = c(1, 0) = 3;
  EXPECT_CLOSE(fq::bed_prob_cov(r, c), -0.5 * std::log(27.0) - 0.5 * 7.0 / 27.0, Tol::ulps(8));
  EXPECT_CLOSE(fq::bed_prob_cov(std::vector<double>{2}, fq::SquareMatrix(1, 4.0)), -(std::log(2.0) + 0.5),
               Tol::ulps(2));
}

TEST(CorrelatedBed, LongBedWithTinyOrHugeSigmaHasAFiniteLogDensity) {
  // 200 points a unit apart with lc = 0.5: independent errors.  The
  // determinant sigma^400 is 1e-1200 or 1e+1200, beyond double range;
  // forming it before the logarithm would give +infinity or -infinity.
  for (const double sigma : {1e-3, 1e3}) {
    std::vector<Vec2> pts;
    std::vector<double> r, sig;
    for (int i = 0; i < 200; ++i) {
      pts.push_back({static_cast<double>(i), 0});
      r.push_back(sigma * (i % 3) * 0.5);
      sig.push_back(sigma);
    }
    const double lnp = fq::bed_prob_cov(r, fq::make_bed_correlation_matrix(pts, sig, 0.5));
    ASSERT_TRUE(std::isfinite(lnp)) << "sigma " << sigma;
    EXPECT_CLOSE(lnp, fq::bed_prob(r, sig), Tol::rel(1e-12, "", "sum of 200 rounded terms"));

    // Correlated along the bed as well (lc = 3 spans several points).
    const double lnpc = fq::bed_prob_cov(r, fq::make_bed_correlation_matrix(pts, sig, 3.0));
    EXPECT_TRUE(std::isfinite(lnpc)) << "sigma " << sigma;
  }
}

TEST(CorrelatedBed, ResultTypeFourThroughTheBedScore) {
  // Heights 1, 2, 3, sqrt 2 apart along the bed, lc = 2 sqrt 2: neighbours
  // correlate 0.3125, the ends not at all.
  RunState st = scoring_state(1, 4);
  st.parameters.lc = 2 * std::sqrt(2.0);
  const double v = 0.25, cv = 0.25 * 0.3125;
  fq::SquareMatrix c(3, 0.0);
  for (std::size_t i = 0; i < 3; ++i) c(i, i) = v;
  c(0, 1) = c(1, 0) = c(1, 2) = c(2, 1) = cv;
  EXPECT_CLOSE(score_bed(st, kBed123), fq::bed_prob_cov(std::vector<double>{1, 0, 1}, c), Tol::ulps(4));
}

TEST(CorrelatedBed, ZeroCorrelationLengthReportsTheSingularMatrix) {
  fqtest::ConsoleCapture console;
  RunState st = scoring_state(1, 4);
  st.parameters.lc = 0;
  EXPECT_TRUE(std::isnan(score_bed(st, kBed123)));
  const std::string text = console.text();
  EXPECT_NE(text.find(" Error: Matrix cannot be inverted."), std::string::npos);
  EXPECT_NE(text.find(" Error: Not positive definite"), std::string::npos);
}

// ---- terraces ----------------------------------------------------------------------

double score_terr(const RunState& st, const std::vector<Vec2>& pts, const std::vector<Mat2>& cov, int n = 1,
                  int nterr = 1) {
  std::vector<double> out(static_cast<std::size_t>(nterr), -12345.0);
  fq::calc_terr_err(st, n, pts, out, cov);
  return out[static_cast<std::size_t>(n - 1)];
}

RunState terrace_state(int resulttype, double slope) {
  RunState st = scoring_state(1, resulttype);
  st.parameters.terr_slope = slope;
  st.parameters.terr_orig_elev = {5, 0};
  st.parameters.sigma_orig_elev = {2, 1};
  return st;
}

TEST(TerraceScore, OnePointTerrace) {
  // t = 0, e = 5, point (3, 7): r = 2; K = (Vy + s^2)/1 = 1 + 4.
  EXPECT_CLOSE(score_terr(terrace_state(2, 0), {{3, 7}}, {{1, 0, 0, 1}}), -0.5 * std::log(5.0) - 4.0 / 10.0,
               Tol::ulps(4));
  EXPECT_EQ(score_terr(terrace_state(4, 0), {{3, 7}}, {{1, 0, 0, 1}}),
            score_terr(terrace_state(2, 0), {{3, 7}}, {{1, 0, 0, 1}}));
  EXPECT_CLOSE(score_terr(terrace_state(1, 0), {{3, 7}}, {}), 4.0, Tol::ulps(2));
  // Chi-square against y = 5: (7 - 5)^2 / 12.
  EXPECT_CLOSE(score_terr(terrace_state(3, 0), {{3, 7}}, {}), 4.0 / 12.0, Tol::ulps(2));
}

TEST(TerraceScore, TwoPointCovarianceByHand) {
  // Terrace 2: e = 0, s = 1, t = 1 (k = 2), inner edge (0, 1), second point (1, 1).
  // r1 = 1/sqrt2, r2 = 2/sqrt2.  With point covariances
  //   P1: Vx 1, Vy 2, Cxy 0;  P2: Vx 3, Vy 4, Cxy 0.5
  // K11 = (2 + 1)/2 = 1.5, K12 = 1/2, K22 = (4 + 1*(3 + 1) + 1 + 2*0.5)/2 = 5;
  // det 7.25, q = (5 r1^2 - 2*0.5 r1 r2 + 1.5 r2^2)/7.25 = 4.5/7.25.
  const std::vector<Vec2> pts{{0, 1}, {1, 1}};
  const std::vector<Mat2> cov{{1, 0, 0, 2}, {3, 0.5, 0.5, 4}};
  EXPECT_CLOSE(score_terr(terrace_state(2, 1), pts, cov, 2, 2), -0.5 * std::log(7.25) - 0.5 * 4.5 / 7.25,
               Tol::ulps(16));
  // Result type 1: (0.5 + 2)/2.
  EXPECT_CLOSE(score_terr(terrace_state(1, 1), pts, {}, 2, 2), 1.25, Tol::ulps(4));
}

TEST(TerraceScore, ExactElevationAndZeroPointErrorsIsSingular) {
  // t = 0, no point errors: every entry of K is s^2, singular for m >= 2.
  fqtest::ConsoleCapture console;
  const double v = score_terr(terrace_state(2, 0), {{0, 5}, {1, 6}}, {{0, 0, 0, 0}, {0, 0, 0, 0}});
  EXPECT_FALSE(std::isfinite(v));
  EXPECT_NE(console.text().find(" Error: Not positive definite"), std::string::npos);
}

}  // namespace
