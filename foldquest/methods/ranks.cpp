#include "foldquest/methods/ranks.hpp"

#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#ifdef FOLDQUEST_HAVE_MPI
#include <mpi.h>
#endif

namespace fq::ranks {

namespace {
int g_rank = 0;
int g_size = 1;
bool g_started = false;

int env_int(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr) return 0;
  char* end = nullptr;
  const long n = std::strtol(v, &end, 10);
  return (end != v && n > 0 && n < INT_MAX) ? static_cast<int>(n) : 0;
}

#ifdef FOLDQUEST_HAVE_MPI
// MPI counts are ints: a share above INT_MAX items cannot be sent at once.
// Blocks are at most a few hundred thousand items, far below it.
int count_of(std::int64_t n) {
  if (n < 0 || n > INT_MAX) throw std::length_error("ranks: a block too large for one MPI message");
  return static_cast<int>(n);
}
#endif
}  // namespace

bool built_with_mpi() {
#ifdef FOLDQUEST_HAVE_MPI
  return true;
#else
  return false;
#endif
}

bool launched_as_several() {
  for (const char* v : {"OMPI_COMM_WORLD_SIZE", "PMI_SIZE"})
    if (env_int(v) > 1) return true;
  return false;
}

void init(int* argc, char*** argv) {
#ifdef FOLDQUEST_HAVE_MPI
  // Only under a launcher: a plain run never starts MPI (no delay, no
  // messages from the MPI library).
  const bool launched = std::getenv("OMPI_COMM_WORLD_SIZE") != nullptr || std::getenv("PMI_SIZE") != nullptr ||
                        std::getenv("PMIX_RANK") != nullptr;
  if (!launched || g_started) return;
  int provided = 0;
  MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided);
  g_started = true;
  MPI_Comm_rank(MPI_COMM_WORLD, &g_rank);
  MPI_Comm_size(MPI_COMM_WORLD, &g_size);
#else
  (void)argc;
  (void)argv;
#endif
}

void finalize() {
#ifdef FOLDQUEST_HAVE_MPI
  if (g_started) MPI_Finalize();
#endif
  g_started = false;
  g_rank = 0;
  g_size = 1;
}

int rank() { return g_rank; }
int size() { return g_size; }

std::pair<std::int64_t, std::int64_t> share(std::int64_t n, int r, int nranks) {
  const std::int64_t base = n / nranks, extra = n % nranks;
  const std::int64_t first = r * base + (r < extra ? r : extra);
  return {first, first + base + (r < extra ? 1 : 0)};
}

void gather(std::span<double> all) {
#ifdef FOLDQUEST_HAVE_MPI
  if (g_size == 1) return;
  const auto n = static_cast<std::int64_t>(all.size());
  std::vector<int> counts(static_cast<std::size_t>(g_size)), displs(static_cast<std::size_t>(g_size));
  for (int r = 0; r < g_size; ++r) {
    const auto [first, last] = share(n, r, g_size);
    counts[static_cast<std::size_t>(r)] = count_of(last - first);
    displs[static_cast<std::size_t>(r)] = count_of(first);
  }
  const auto me = static_cast<std::size_t>(g_rank);
  if (g_rank == 0) {
    MPI_Gatherv(MPI_IN_PLACE, 0, MPI_DOUBLE, all.data(), counts.data(), displs.data(), MPI_DOUBLE, 0, MPI_COMM_WORLD);
  } else {
    MPI_Gatherv(all.data() + displs[me], counts[me], MPI_DOUBLE, nullptr, nullptr, nullptr, MPI_DOUBLE, 0,
                MPI_COMM_WORLD);
  }
#else
  (void)all;
#endif
}

void broadcast(std::span<double> data) {
#ifdef FOLDQUEST_HAVE_MPI
  if (g_size > 1) MPI_Bcast(data.data(), count_of(static_cast<std::int64_t>(data.size())), MPI_DOUBLE, 0, MPI_COMM_WORLD);
#else
  (void)data;
#endif
}

void broadcast(std::span<std::int64_t> data) {
#ifdef FOLDQUEST_HAVE_MPI
  if (g_size > 1)
    MPI_Bcast(data.data(), count_of(static_cast<std::int64_t>(data.size())), MPI_INT64_T, 0, MPI_COMM_WORLD);
#else
  (void)data;
#endif
}

bool all_ok(bool ok) {
#ifdef FOLDQUEST_HAVE_MPI
  if (g_size == 1) return ok;
  int mine = ok ? 1 : 0, every = 0;
  MPI_Allreduce(&mine, &every, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  return every == 1;
#else
  return ok;
#endif
}

std::vector<std::string> gather_text(const std::string& text) {
#ifdef FOLDQUEST_HAVE_MPI
  if (g_size > 1) {
    int len = count_of(static_cast<std::int64_t>(text.size()));
    std::vector<int> lens(static_cast<std::size_t>(g_size)), displs(static_cast<std::size_t>(g_size));
    MPI_Gather(&len, 1, MPI_INT, lens.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
    std::int64_t total = 0;
    for (int r = 0; r < g_size; ++r) {
      displs[static_cast<std::size_t>(r)] = count_of(total);
      total += lens[static_cast<std::size_t>(r)];
    }
    std::string all(g_rank == 0 ? static_cast<std::size_t>(total) : 0, '\0');
    MPI_Gatherv(text.data(), len, MPI_CHAR, all.data(), lens.data(), displs.data(), MPI_CHAR, 0, MPI_COMM_WORLD);
    std::vector<std::string> out;
    if (g_rank == 0)
      for (int r = 0; r < g_size; ++r)
        out.push_back(all.substr(static_cast<std::size_t>(displs[static_cast<std::size_t>(r)]),
                                 static_cast<std::size_t>(lens[static_cast<std::size_t>(r)])));
    return out;
  }
#endif
  return {text};
}

}  // namespace fq::ranks
