#include "foldquest/report/convergence.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <numeric>

namespace fq::conv {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Chains shorter than this (after splitting: 2 draws a half) have no
// meaningful variance within chains.
constexpr std::size_t kMinDraws = 4;

std::size_t total_draws(const Chains& chains) {
  std::size_t s = 0;
  for (const auto& c : chains) s += c.size();
  return s;
}

std::vector<double> pooled(const Chains& chains) {
  std::vector<double> all;
  all.reserve(total_draws(chains));
  for (const auto& c : chains) all.insert(all.end(), c.begin(), c.end());
  return all;
}

bool usable(const Chains& chains) {
  if (chains.empty() || chains[0].size() < 2) return false;
  const std::size_t n = chains[0].size();
  for (const auto& c : chains) {
    if (c.size() != n) return false;
    for (double v : c)
      if (!std::isfinite(v)) return false;
  }
  // A quantity that never varies has no variance to compare.
  const double first = chains[0][0];
  for (const auto& c : chains)
    for (double v : c)
      if (v != first) return true;
  return false;
}

double mean_of(std::span<const double> v) {
  return std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

double variance_of(std::span<const double> v) {  // divisor n - 1
  const double m = mean_of(v);
  double ss = 0;
  for (double x : v) ss += (x - m) * (x - m);
  return ss / static_cast<double>(v.size() - 1);
}

// In-place radix-2 FFT of a power-of-two length; inverse without the 1/N.
void fft(std::vector<std::complex<double>>& a, bool inverse) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double ang = 2 * std::numbers::pi / static_cast<double>(len) * (inverse ? 1 : -1);
    const std::complex<double> wlen(std::cos(ang), std::sin(ang));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> w(1);
      for (std::size_t k = 0; k < len / 2; ++k) {
        const auto u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= wlen;
      }
    }
  }
}

// Autocovariances of one chain at lags 0..n-1, divisor n (the biased
// estimate the definition uses), through the FFT of the zero-padded chain.
std::vector<double> autocovariance(std::span<const double> x) {
  const std::size_t n = x.size();
  std::size_t size = 1;
  while (size < 2 * n) size <<= 1;
  const double m = mean_of(x);
  std::vector<std::complex<double>> a(size);
  for (std::size_t i = 0; i < n; ++i) a[i] = x[i] - m;
  fft(a, false);
  for (auto& c : a) c = std::norm(c);
  fft(a, true);
  std::vector<double> acov(n);
  for (std::size_t t = 0; t < n; ++t) acov[t] = a[t].real() / static_cast<double>(size) / static_cast<double>(n);
  return acov;
}

}  // namespace

double quantile(std::vector<double> values, double p) {
  if (values.empty() || !(p >= 0 && p <= 1)) return kNaN;
  std::sort(values.begin(), values.end());
  const double h = (static_cast<double>(values.size()) - 1) * p;
  const auto lo = static_cast<std::size_t>(std::floor(h));
  const std::size_t hi = std::min(lo + 1, values.size() - 1);
  return values[lo] + (h - static_cast<double>(lo)) * (values[hi] - values[lo]);
}

double normal_quantile(double p) {
  if (!(p > 0 && p < 1)) {
    if (p == 0) return -std::numeric_limits<double>::infinity();
    if (p == 1) return std::numeric_limits<double>::infinity();
    return kNaN;
  }
  // A rational first guess (relative error about 1e-9, Acklam), then two
  // Halley steps on Phi(x) - p, which bring it to rounding level.
  static constexpr double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                                 1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
  static constexpr double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                                 6.680131188771972e+01, -1.328068155288572e+01};
  static constexpr double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                                 -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
  static constexpr double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                                 3.754408661907416e+00};
  constexpr double plow = 0.02425;
  double x;
  if (p < plow) {
    const double q = std::sqrt(-2 * std::log(p));
    x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
        ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
  } else if (p <= 1 - plow) {
    const double q = p - 0.5, r = q * q;
    x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
        (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
  } else {
    const double q = std::sqrt(-2 * std::log(1 - p));
    x = -(((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
        ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
  }
  for (int k = 0; k < 2; ++k) {
    // Phi(x) - p, from the complementary error function so that the
    // lower tail keeps its relative precision.
    const double e = 0.5 * std::erfc(-x / std::sqrt(2.0)) - p;
    const double u = e * std::sqrt(2 * std::numbers::pi) * std::exp(x * x / 2);
    x = x - u / (1 + x * u / 2);
  }
  return x;
}

Chains split_chains(const Chains& chains) {
  Chains out;
  out.reserve(2 * chains.size());
  for (const auto& c : chains) {
    const std::size_t half = c.size() / 2;
    out.emplace_back(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(half));
    out.emplace_back(c.end() - static_cast<std::ptrdiff_t>(half), c.end());
  }
  return out;
}

Chains z_scale(const Chains& chains) {
  const std::vector<double> all = pooled(chains);
  const std::size_t s = all.size();
  std::vector<std::size_t> order(s);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) { return all[i] < all[j]; });
  // Average ranks (1-based) over ties.
  std::vector<double> rank(s);
  for (std::size_t i = 0; i < s;) {
    std::size_t j = i;
    while (j + 1 < s && all[order[j + 1]] == all[order[i]]) ++j;
    const double r = (static_cast<double>(i + 1) + static_cast<double>(j + 1)) / 2;
    for (std::size_t k = i; k <= j; ++k) rank[order[k]] = r;
    i = j + 1;
  }
  Chains out = chains;
  std::size_t k = 0;
  for (auto& c : out)
    for (double& v : c) v = normal_quantile((rank[k++] - 0.375) / (static_cast<double>(s) + 0.25));
  return out;
}

Chains fold(const Chains& chains) {
  const double med = quantile(pooled(chains), 0.5);
  Chains out = chains;
  for (auto& c : out)
    for (double& v : c) v = std::abs(v - med);
  return out;
}

double rhat_basic(const Chains& chains) {
  if (!usable(chains)) return kNaN;
  const std::size_t m = chains.size();
  const double n = static_cast<double>(chains[0].size());
  std::vector<double> means(m), vars(m);
  for (std::size_t j = 0; j < m; ++j) {
    means[j] = mean_of(chains[j]);
    vars[j] = variance_of(chains[j]);
  }
  const double w = mean_of(vars);
  const double b_over_n = m > 1 ? variance_of(means) : 0.0;
  const double var_plus = (n - 1) / n * w + b_over_n;
  if (!(w > 0)) return kNaN;
  return std::sqrt(var_plus / w);
}

double ess_basic(const Chains& chains) {
  if (!usable(chains)) return kNaN;
  const std::size_t m = chains.size();
  const std::size_t n = chains[0].size();
  const double dn = static_cast<double>(n);
  std::vector<std::vector<double>> acov(m);
  std::vector<double> means(m);
  for (std::size_t j = 0; j < m; ++j) {
    acov[j] = autocovariance(chains[j]);
    means[j] = mean_of(chains[j]);
  }
  auto mean_acov = [&](std::size_t t) {
    double s = 0;
    for (const auto& a : acov) s += a[t];
    return s / static_cast<double>(m);
  };
  const double mean_var = mean_acov(0) * dn / (dn - 1);
  double var_plus = mean_var * (dn - 1) / dn;
  if (m > 1) var_plus += variance_of(means);
  if (!(var_plus > 0)) return kNaN;

  // Signed lags: the cut T may be -1 (no pair kept).
  const auto ln = static_cast<long long>(n);
  std::vector<double> rho(n, 0.0);
  auto at = [&](long long k) -> double& { return rho[static_cast<std::size_t>(k)]; };
  double rho_even = 1.0;
  double rho_odd = 1.0 - (mean_var - mean_acov(1)) / var_plus;
  rho[0] = rho_even;
  rho[1] = rho_odd;
  // Geyer's initial positive sequence: pairs while their sum is positive.
  long long t = 1;
  while (t < ln - 3 && rho_even + rho_odd > 0) {
    rho_even = 1.0 - (mean_var - mean_acov(static_cast<std::size_t>(t + 1))) / var_plus;
    rho_odd = 1.0 - (mean_var - mean_acov(static_cast<std::size_t>(t + 2))) / var_plus;
    if (rho_even + rho_odd >= 0) {
      at(t + 1) = rho_even;
      at(t + 2) = rho_odd;
    }
    t += 2;
  }
  const long long max_t = t - 2;
  // The next even term, when positive, improves the estimate.
  if (rho_even > 0) at(max_t + 1) = rho_even;
  // Geyer's initial monotone sequence.
  for (long long k = 1; k <= max_t - 2; k += 2) {
    if (at(k + 1) + at(k + 2) > at(k - 1) + at(k)) {
      at(k + 1) = (at(k - 1) + at(k)) / 2;
      at(k + 2) = at(k + 1);
    }
  }
  const double draws = static_cast<double>(m) * dn;
  double tau = -1.0;
  for (long long k = 0; k <= max_t; ++k) tau += 2 * at(k);
  tau += at(max_t + 1);
  tau = std::max(tau, 1 / std::log10(draws));
  return draws / tau;
}

double rhat(const Chains& chains) {
  if (chains.empty() || chains[0].size() < kMinDraws) return kNaN;
  const Chains split = split_chains(chains);
  if (!usable(split)) return kNaN;
  const double bulk = rhat_basic(z_scale(split));
  const double tail = rhat_basic(z_scale(fold(split)));
  if (std::isnan(bulk) || std::isnan(tail)) return kNaN;
  return std::max(bulk, tail);
}

double ess_bulk(const Chains& chains) {
  if (chains.empty() || chains[0].size() < kMinDraws) return kNaN;
  const Chains split = split_chains(chains);
  if (!usable(split)) return kNaN;
  return ess_basic(z_scale(split));
}

double ess_tail(const Chains& chains) {
  if (chains.empty() || chains[0].size() < kMinDraws) return kNaN;
  const std::vector<double> all = pooled(chains);
  const double q05 = quantile(all, 0.05), q95 = quantile(all, 0.95);
  const Chains split = split_chains(chains);
  auto indicator = [&](double q) {
    Chains out = split;
    for (auto& c : out)
      for (double& v : c) v = v <= q ? 1.0 : 0.0;
    return out;
  };
  const double e05 = ess_basic(indicator(q05));
  const double e95 = ess_basic(indicator(q95));
  if (std::isnan(e05) || std::isnan(e95)) return kNaN;
  return std::min(e05, e95);
}

Summary summarize(const Chains& chains) {
  Summary s;
  const std::vector<double> all = pooled(chains);
  if (all.empty()) {
    s = {kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
    return s;
  }
  s.mean = mean_of(all);
  s.sd = all.size() > 1 ? std::sqrt(variance_of(all)) : kNaN;
  s.q5 = quantile(all, 0.05);
  s.q50 = quantile(all, 0.5);
  s.q95 = quantile(all, 0.95);
  s.ess_bulk = ess_bulk(chains);
  s.ess_tail = ess_tail(chains);
  s.r_hat = rhat(chains);
  return s;
}

Chains equal_lengths(Chains chains) {
  if (chains.empty()) return chains;
  std::size_t n = chains[0].size();
  for (const auto& c : chains) n = std::min(n, c.size());
  for (auto& c : chains) c.resize(n);
  return chains;
}

}  // namespace fq::conv
