#include "foldquest/math/random.hpp"

#include <chrono>
#include <cmath>
#include <stdexcept>

#include "foldquest/math/linalg.hpp"

namespace fq {

namespace {

// splitmix64 finaliser: a bijection of 64-bit words that spreads every input
// bit over the whole output.
std::uint64_t mix64(std::uint64_t z) {
  z += 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

// 2 pi with the run's single-precision pi.
constexpr double two_pi = 6.2831854820251465;

}  // namespace

UniformGenerator::UniformGenerator() { seed_from(0); }

void UniformGenerator::seed(std::span<const std::uint32_t> seed_vector) {
  if (seed_vector.size() != static_cast<std::size_t>(seed_size)) {
    throw std::invalid_argument("UniformGenerator::seed: the seed vector needs 8 values");
  }
  std::array<std::uint64_t, 4> st{};
  for (std::size_t w = 0; w < 4; ++w) {
    const std::uint64_t word =
        (static_cast<std::uint64_t>(seed_vector[2 * w]) << 32) | seed_vector[2 * w + 1];
    // Distinct offsets per word, so equal halves in two words still differ.
    st[w] = mix64(word + 0x632be59bd9b4e019ULL * (w + 1));
  }
  // mix64 is a bijection, but four outputs could in principle all be 0.
  if ((st[0] | st[1] | st[2] | st[3]) == 0) st[0] = 1;
  const std::lock_guard<std::mutex> lock(mu_);
  s_ = st;
}

void UniformGenerator::seed_from(std::uint32_t t) {
  std::array<std::uint32_t, seed_size> v{};
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = t + 37U * static_cast<std::uint32_t>(i);
  seed(v);
}

std::uint64_t UniformGenerator::next() {
  // xoshiro256**
  const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

namespace {
double to_unit(std::uint64_t x) { return static_cast<double>(x >> 11) * 0x1.0p-53; }
}  // namespace

double UniformGenerator::uniform() {
  const std::lock_guard<std::mutex> lock(mu_);
  return to_unit(next());
}

float UniformGenerator::uniform_float() {
  const std::lock_guard<std::mutex> lock(mu_);
  return static_cast<float>(next() >> 40) * 0x1.0p-24f;
}

std::pair<double, double> UniformGenerator::uniform_pair() {
  const std::lock_guard<std::mutex> lock(mu_);
  const double u1 = to_unit(next());
  const double u2 = to_unit(next());
  return {u1, u2};
}

namespace {
thread_local UniformGenerator* t_bound = nullptr;
}

UniformGenerator& uniform_generator() {
  if (t_bound != nullptr) return *t_bound;
  static UniformGenerator generator;
  return generator;
}

BindGenerator::BindGenerator(UniformGenerator& g) : previous_(t_bound) { t_bound = &g; }
BindGenerator::~BindGenerator() { t_bound = previous_; }

std::uint32_t clock_seed() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  // A steady clock never runs backwards from its epoch, but stay safe:
  // reduce to 0 .. 2^31 - 1 whatever the sign.
  const std::int64_t t = ((ms % 2147483648LL) + 2147483648LL) % 2147483648LL;
  return static_cast<std::uint32_t>(t);
}

std::uint32_t derived_seed(std::uint32_t run_seed, std::uint32_t k) {
  return static_cast<std::uint32_t>(mix64((static_cast<std::uint64_t>(run_seed) << 32) | k));
}

void init_random_seed() { uniform_generator().seed_from(clock_seed()); }

void seed_random(std::uint32_t t) { uniform_generator().seed_from(t); }

void randnormal(int n, std::span<const double> mu, std::span<const double> sigma,
                std::span<double> out) {
  if (n < 0) throw std::invalid_argument("randnormal: negative count");
  const auto un = static_cast<std::size_t>(n);
  if (mu.size() < un || sigma.size() < un || out.size() < un) {
    throw std::invalid_argument("randnormal: arrays shorter than n");
  }
  UniformGenerator& gen = uniform_generator();
  for (std::size_t i = 0; i < un; i += 2) {
    const auto [u1, u2] = gen.uniform_pair();
    // 1 - u1 is in (0, 1]: the logarithm is finite.
    const double r = std::sqrt(-2.0 * std::log(1.0 - u1));
    const double theta = two_pi * u2;
    out[i] = r * std::cos(theta) * sigma[i] + mu[i];
    if (i + 1 < un) out[i + 1] = r * std::sin(theta) * sigma[i + 1] + mu[i + 1];
  }
}

std::vector<double> randnormal(int n, std::span<const double> mu, std::span<const double> sigma) {
  std::vector<double> out(n > 0 ? static_cast<std::size_t>(n) : 0);
  randnormal(n, mu, sigma, out);
  return out;
}

std::vector<double> randnormal_multi(int n, std::span<const double> mu, const SquareMatrix& l) {
  if (n < 0) throw std::invalid_argument("randnormal_multi: negative count");
  const auto un = static_cast<std::size_t>(n);
  if (mu.size() < un || l.size() != un) {
    throw std::invalid_argument("randnormal_multi: mean or factor of the wrong size");
  }
  const std::vector<double> zeros(un, 0.0), ones(un, 1.0);
  const std::vector<double> z = randnormal(n, zeros, ones);
  std::vector<double> out(un);
  const std::span<const double> a = l.data();
  for (std::size_t i = 0; i < un; ++i) {
    double sum = 0.0;
    for (std::size_t j = 0; j < un; ++j) sum += a[i * un + j] * z[j];
    out[i] = sum + mu[i];
  }
  return out;
}

}  // namespace fq
