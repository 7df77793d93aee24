#include "foldquest/fit/err_and_prob.hpp"

#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "freeformat/writer.hpp"

namespace fq {
namespace {

constexpr double pi = Constants::pi;

// 2^-126, the smallest normal single-precision number.  Added to the
// denominator of the dip chi-square, inside the absolute value, so that a
// dip and a reference that cancel exactly do not divide by zero.
constexpr double kSmallestNormalFloat = 1.1754943508222875e-38;

void say_invalid_fittype() { ff::say(ff::Line() << "Error: Invalid FitType"); }
void say_invalid_resulttype() { ff::say(ff::Line() << "Error: Invalid ResultType"); }

// 0-based slot of item n (1-based) in an array of `size` entries.  A wrong n
// is a programming error of the caller, never a property of the data.
std::size_t slot_of(int n, std::size_t size, const char* what) {
  if (n < 1 || static_cast<std::size_t>(n) > size)
    throw std::out_of_range(std::string(what) + " number " + std::to_string(n) + " outside 1.." +
                            std::to_string(size));
  return static_cast<std::size_t>(n - 1);
}

// p(k), 1-based, of the restored-state fit parameters.
double restored_param(std::span<const double> p, int k) {
  return p[slot_of(k, p.size(), "restored-state fit parameter")];
}

// Per-point covariances must match the points whenever they are read.
void require_same_length(std::size_t points, std::size_t covariances, const char* what) {
  if (points != covariances)
    throw std::invalid_argument(std::string(what) + ": " + std::to_string(covariances) + " covariances for " +
                                std::to_string(points) + " points");
}

// Mean of t*x + y over the points: the intercept of the best line of slope t.
double best_intercept(std::span<const Vec2> pts, double t) {
  double sum = 0;
  for (const Vec2& q : pts) sum += t * q.x + q.y;
  return sum / static_cast<double>(pts.size());
}

// The reference line y = b - t*x of bed n under the run's fit type; false
// for a fit type outside 1..5.
bool bed_reference_line(const RunState& state, int n, std::span<const Vec2> pts,
                        std::span<const double> p, double& t, double& b) {
  const auto& o = state.options;
  const auto& par = state.parameters;
  switch (o.fittype) {
    case 1:  // horizontal, through the mean height
      t = 0;
      b = best_intercept(pts, 0.0);
      return true;
    case 2:  // regional slope, best intercept
      t = par.regslope;
      b = best_intercept(pts, t);
      return true;
    case 3: {  // least-squares line of y on x
      const double m = static_cast<double>(pts.size());
      double sx = 0, sy = 0, sxx = 0, sxy = 0;
      for (const Vec2& q : pts) {
        sx += q.x;
        sy += q.y;
        sxx += q.x * q.x;
        sxy += q.x * q.y;
      }
      const double d = m * sxx - sx * sx;
      const double slope = (m * sxy - sx * sy) / d;  // geometric slope
      b = (sy * sxx - sx * sxy) / d;
      t = -slope;
      return true;
    }
    case 4:  // regional slope, the entered intercept
      t = par.regslope;
      b = par.intercepts.at(slot_of(n, par.intercepts.size(), "bed"));
      return true;
    case 5: {  // from the parameter vector
      switch (o.fit_dips) {
        case 1:
          t = std::tan(pi * restored_param(p, 1) / 180);
          break;
        case 2:
          t = std::tan(pi * restored_param(p, n) / 180);
          break;
        default:  // 0: no restored dip is fitted; the regional dip applies
          t = par.regslope;
          break;
      }
      if (o.fit_beds == 1) {
        b = restored_param(p, n_restored_dip_params(state) + n);
      } else {
        b = best_intercept(pts, t);
      }
      return true;
    }
    default:
      return false;
  }
}

// Perpendicular distances of the points from the line y = b - t*x.
std::vector<double> line_residuals(std::span<const Vec2> pts, double t, double b) {
  const double root = std::sqrt(1 + t * t);
  std::vector<double> r(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) r[i] = std::abs(t * pts[i].x + pts[i].y - b) / root;
  return r;
}

// Uncertainty of each bed residual: sigma_bed, or with propagation the
// standard deviation of the perpendicular distance from the point's restored
// covariance, sqrt((t^2 C11 + 2t C12 + C22) / (1 + t^2)).
std::vector<double> bed_sigmas(const RunState& state, std::size_t npts, double t, std::span<const Mat2> cbed) {
  std::vector<double> sigma(npts, state.parameters.sigma_bed);
  if (state.options.propagate == 1) {
    require_same_length(npts, cbed.size(), "calc_bed_err");
    const double k = 1 + t * t;
    for (std::size_t i = 0; i < npts; ++i) {
      const Mat2& c = cbed[i];
      sigma[i] = std::sqrt((t * t * c.a + 2 * t * c.b + c.d) / k);
    }
  }
  return sigma;
}

double sum_of(std::span<const double> v) {
  double sum = 0;
  for (double x : v) sum += x;
  return sum;
}

double sum_of_squares(std::span<const double> v) {
  double sum = 0;
  for (double x : v) sum += x * x;
  return sum;
}

}  // namespace

int n_restored_dip_params(const RunState& state) {
  switch (state.options.fit_dips) {
    case 1:
      return 1;
    case 2:
      return state.data.nbeds + (state.options.has(Options::dattype_dips) ? 1 : 0);
    default:
      return 0;
  }
}

// ---- Beds ---------------------------------------------------------------------

double bed_ms(std::span<const double> r) { return sum_of_squares(r) / static_cast<double>(r.size()); }

double beds_rms(std::span<const double> ms_errs) {
  return std::sqrt(sum_of(ms_errs) / static_cast<double>(ms_errs.size()));
}

double bed_prob(std::span<const double> r, std::span<const double> sigma) {
  // Summed positive, negated at the end: an empty bed gives -0.0.
  double sum = 0;
  for (std::size_t i = 0; i < r.size(); ++i) sum += std::log(sigma[i]) + r[i] * r[i] / (2 * sigma[i] * sigma[i]);
  return -sum;
}

double beds_prob(std::span<const double> lnpbeds) { return sum_of(lnpbeds); }
double beds_chisq(std::span<const double> chisq_beds) { return sum_of(chisq_beds); }

double bed_chisq(std::span<const Vec2> bed, double b, double slope) {
  const double s = slope;
  const double k = s * s + 1;
  double chix = 0, chiy = 0;
  for (const Vec2& q : bed) {
    double xe = q.x, ye = b;  // expected position on a horizontal line
    if (s != 0 || std::isnan(s)) {
      // foot of the perpendicular from the point to the line
      xe = (q.x + s * q.y - s * b) / k;
      ye = (s * (q.x + s * q.y) + b) / k;
    }
    chix += (q.x - xe) * (q.x - xe) / std::abs(q.x + xe);
    chiy += (q.y - ye) * (q.y - ye) / std::abs(q.y + ye);
  }
  return chix + chiy;
}

void calc_bed_err(const RunState& state, int n, std::span<const Vec2> thisbed, std::span<double> beds_output,
                  std::span<const Mat2> cbed, std::span<const double> restored_fit_params) {
  const std::size_t out = slot_of(n, beds_output.size(), "bed");
  double t = 0, b = 0;
  if (!bed_reference_line(state, n, thisbed, restored_fit_params, t, b)) {
    say_invalid_fittype();  // no reference: the bed's value stays as it was
    return;
  }
  const std::vector<double> r = line_residuals(thisbed, t, b);
  switch (state.options.resulttype) {
    case 1:
      beds_output[out] = bed_ms(r);
      break;
    case 2:
      beds_output[out] = bed_prob(r, bed_sigmas(state, thisbed.size(), t, cbed));
      break;
    case 3:
      beds_output[out] = bed_chisq(thisbed, b, -t);
      break;
    case 4: {
      const std::vector<double> sigma = bed_sigmas(state, thisbed.size(), t, cbed);
      beds_output[out] = bed_prob_cov(r, make_bed_correlation_matrix(thisbed, sigma, state.parameters.lc));
      break;
    }
    default:
      say_invalid_resulttype();
      break;
  }
}

void calc_beds_err(const RunState& state, std::span<const double> beds_output_indiv, double& output_beds) {
  switch (state.options.resulttype) {
    case 1:
      output_beds = beds_rms(beds_output_indiv);
      break;
    case 2:
    case 4:
      output_beds = beds_prob(beds_output_indiv);
      break;
    case 3:
      output_beds = beds_chisq(beds_output_indiv);
      break;
    default:
      break;  // unchanged, without a message
  }
}

// ---- Dips -----------------------------------------------------------------------

bool dip_reference(const RunState& state, std::span<const double> restoreddips,
                   std::span<const double> restored_fit_params, double& delta0) {
  const auto& o = state.options;
  switch (o.fittype) {
    case 1:
      delta0 = 0;
      return true;
    case 2:
    case 4:
      delta0 = state.parameters.regdipdeg;
      return true;
    case 3:
      delta0 = sum_of(restoreddips) / static_cast<double>(restoreddips.size());
      return true;
    case 5:
      switch (o.fit_dips) {
        case 1:
          delta0 = restored_param(restored_fit_params, 1);
          break;
        case 2:
          delta0 = restored_param(restored_fit_params, state.data.nbeds + 1);
          break;
        default:
          delta0 = state.parameters.regdipdeg;
          break;
      }
      return true;
    default:
      say_invalid_fittype();
      return false;
  }
}

double dips_prob(std::span<const double> r, std::span<const double> sigma) { return bed_prob(r, sigma); }

double dips_rms(std::span<const double> r) {
  return std::sqrt(sum_of_squares(r) / static_cast<double>(r.size()));
}

double dips_chisq(std::span<const double> r, std::span<const double> restoreddips, double delta0) {
  double sum = 0;
  for (std::size_t i = 0; i < r.size(); ++i)
    sum += r[i] * r[i] / std::abs(restoreddips[i] + delta0 + kSmallestNormalFloat);
  return sum;
}

void calc_dip_err(const RunState& state, std::span<const double> restoreddips, double& output_dips,
                  std::span<const double> sigma_dip_array, std::span<const double> restored_fit_params) {
  double delta0 = 0;
  if (!dip_reference(state, restoreddips, restored_fit_params, delta0)) return;  // output unchanged

  // Dips are axial: 170 degrees apart is 10 degrees apart.
  std::vector<double> r(restoreddips.size());
  for (std::size_t i = 0; i < r.size(); ++i) {
    r[i] = std::abs(restoreddips[i] - delta0);
    if (r[i] > 90) r[i] = 180 - r[i];
  }

  const auto& par = state.parameters;
  switch (state.options.resulttype) {
    case 1:
      output_dips = dips_rms(r);
      break;
    case 2:
    case 4: {
      std::vector<double> sigma(r.size(), par.sigma_dip);
      if (state.options.propagate == 1) {
        if (sigma_dip_array.size() != r.size())
          throw std::invalid_argument("calc_dip_err: " + std::to_string(sigma_dip_array.size()) +
                                      " uncertainties for " + std::to_string(r.size()) + " dips");
        const double extra = par.sigma_restored_dip * par.sigma_restored_dip;
        for (std::size_t i = 0; i < r.size(); ++i)
          sigma[i] = std::sqrt(sigma_dip_array[i] * sigma_dip_array[i] + extra);
      }
      output_dips = dips_prob(r, sigma);
      break;
    }
    case 3:
      output_dips = dips_chisq(r, restoreddips, delta0);
      break;
    default:
      say_invalid_resulttype();
      break;
  }
}

// ---- Points on the fault -----------------------------------------------------------

void calc_fault_pts_err(const RunState& state, std::span<const double> r, double& output_fault) {
  switch (state.options.resulttype) {
    case 1:
      output_fault = std::sqrt(sum_of_squares(r) / static_cast<double>(r.size()));
      break;
    case 2:
    case 4: {
      const double sigma = state.parameters.sigma_fault;
      const double ln_sigma = std::log(sigma);
      double sum = 0;
      for (double ri : r) sum += ln_sigma + ri * ri / (2 * sigma * sigma);
      output_fault = -sum;  // -0.0 without points
      break;
    }
    case 3:
      ff::say(ff::Line() << "Error: Chi square not available for points on fault.");
      break;
    default:
      say_invalid_resulttype();
      break;
  }
}

// ---- Correlated errors along a bed -------------------------------------------------

SquareMatrix make_bed_correlation_matrix(std::span<const Vec2> bedpts, std::span<const double> sigma, double lc) {
  const std::size_t n = bedpts.size();
  if (sigma.size() != n)
    throw std::invalid_argument("make_bed_correlation_matrix: " + std::to_string(sigma.size()) +
                                " uncertainties for " + std::to_string(n) + " points");
  SquareMatrix c(n);
  std::span<double> cv = c.data();
  for (std::size_t i = 0; i < n; ++i) {
    double h = 0;  // distance along the bed from point i to point j
    for (std::size_t j = i; j < n; ++j) {
      if (j > i) {
        const double dx = bedpts[j].x - bedpts[j - 1].x;
        const double dy = bedpts[j].y - bedpts[j - 1].y;
        h += std::sqrt(dx * dx + dy * dy);
      }
      // Spherical model.  Written so that a NaN g (lc = 0 on the diagonal)
      // gives no correlation.
      const double g = h / lc;
      const double rho = g < 1 ? 1 - 1.5 * g + 0.5 * (g * g * g) : 0.0;
      const double v = sigma[i] * rho * sigma[j];
      cv[i * n + j] = v;
      cv[j * n + i] = v;
    }
  }
  return c;
}

double bed_prob_cov(std::span<const double> r, const SquareMatrix& c) {
  const std::size_t n = r.size();
  if (c.size() != n)
    throw std::invalid_argument("bed_prob_cov: a " + std::to_string(c.size()) + "x" + std::to_string(c.size()) +
                                " covariance for " + std::to_string(n) + " residuals");
  if (n == 0) return -0.0;  // as an empty bed scores without correlation

  const SquareMatrix cinv = matinv(c);
  const SquareMatrix l = chol(c);
  const std::span<const double> ci = cinv.data();
  const std::span<const double> lv = l.data();

  // ln sqrt(det C) = sum of ln L(i,i).  Summing logarithms instead of
  // forming the product of the squared diagonal first keeps a long bed with
  // small or large uncertainties from underflowing to ln 0 = -infinity (a
  // log-probability of +infinity) or overflowing.
  double a = 0;
  for (std::size_t i = 0; i < n; ++i) a += std::log(lv[i * n + i]);

  // q = r^T (C^-1 r)
  double q = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double row = 0;
    for (std::size_t j = 0; j < n; ++j) row += ci[i * n + j] * r[j];
    q += r[i] * row;
  }
  return -a - 0.5 * q;
}

// ---- Terraces --------------------------------------------------------------------------

void calc_terr_err(const RunState& state, int n, std::span<const Vec2> pts, std::span<double> terr_output_indiv,
                   std::span<const Mat2> cterr) {
  const auto& par = state.parameters;
  const std::size_t out = slot_of(n, terr_output_indiv.size(), "terrace");
  const std::size_t m = pts.size();

  // Line through the inner edge's x at the elevation at formation.
  const double t = par.terr_slope;
  const double e = par.terr_orig_elev.at(slot_of(n, par.terr_orig_elev.size(), "terrace"));
  const double x1 = m > 0 ? pts[0].x : 0.0;
  const double b = t * x1 + e;
  const std::vector<double> r = line_residuals(pts, t, b);

  switch (state.options.resulttype) {
    case 1:
      terr_output_indiv[out] = bed_ms(r);
      break;
    case 3:
      terr_output_indiv[out] = bed_chisq(pts, b, -t);
      break;
    case 2:
    case 4: {
      // Covariance of r_i * sqrt(k) = t (x_i - x_1) + y_i - e: the points are
      // independent of each other, every residual shares e (standard
      // deviation s) and all but the first share x_1.
      require_same_length(m, cterr.size(), "calc_terr_err");
      const double s = par.sigma_orig_elev.at(slot_of(n, par.sigma_orig_elev.size(), "terrace"));
      const double s2 = s * s;
      const double k = 1 + t * t;
      SquareMatrix kk(m);
      std::span<double> kv = kk.data();
      if (m > 0) {
        const double vx1 = cterr[0].a;
        kv[0] = (cterr[0].d + s2) / k;
        const double shared_first = s2 / k;
        const double shared_rest = (t * t * vx1 + s2) / k;
        for (std::size_t i = 1; i < m; ++i) {
          kv[i] = shared_first;
          kv[i * m] = shared_first;
          const Mat2& ci = cterr[i];
          kv[i * m + i] = (ci.d + t * t * (ci.a + vx1) + s2 + 2 * t * ci.b) / k;
          for (std::size_t j = i + 1; j < m; ++j) {
            kv[i * m + j] = shared_rest;
            kv[j * m + i] = shared_rest;
          }
        }
      }
      terr_output_indiv[out] = bed_prob_cov(r, kk);
      break;
    }
    default:
      say_invalid_resulttype();
      break;
  }
}

}  // namespace fq
