#include "setup/options_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace setup {
namespace {

// The temporary file an interrupt must remove.  Written only on the main
// thread while the handlers cannot yet see it (g_temp_set is 0), read by the
// handler: unlink() and raise() are safe to call there.
char g_temp_path[4096];
volatile std::sig_atomic_t g_temp_set = 0;

extern "C" void remove_temp_and_reraise(int sig) {
  if (g_temp_set) unlink(g_temp_path);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void watch_temp(const std::string& path) {
  g_temp_set = 0;
  if (path.size() >= sizeof g_temp_path) return;  // longer than any path the system accepts
  std::memcpy(g_temp_path, path.c_str(), path.size() + 1);
  g_temp_set = 1;
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal the caller ignores (a job started in the background) stays ignored.
    if (std::signal(sig, remove_temp_and_reraise) == SIG_IGN) std::signal(sig, SIG_IGN);
  }
}

void unwatch_temp() { g_temp_set = 0; }

// Holds back the signals the handlers answer while the temporary file is
// created and handed to them: an interrupt in between would otherwise end
// setup with the file left behind.  A signal that arrives meanwhile is
// delivered when the scope ends, to the handler that removes the file.
class HoldSignals {
 public:
  HoldSignals() {
    sigset_t block;
    sigemptyset(&block);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, sig);
    sigprocmask(SIG_BLOCK, &block, &saved_);
  }
  ~HoldSignals() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  HoldSignals(const HoldSignals&) = delete;
  HoldSignals& operator=(const HoldSignals&) = delete;

 private:
  sigset_t saved_;
};

// Tries the names "<target>.incomplete", "<target>.incomplete.2", ... and
// creates the first that does not exist yet; -1 when none can be created.
int create_temp(const std::string& target, std::string& temp) {
  constexpr int kMaxTries = 100;
  for (int k = 1; k <= kMaxTries; ++k) {
    temp = target + ".incomplete" + (k == 1 ? std::string() : "." + std::to_string(k));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace

OptionsFile::~OptionsFile() { discard(); }

bool OptionsFile::special_file(const std::string& name) {
  std::error_code ec;
  const auto st = fs::status(name, ec);  // follows links
  return fs::exists(st) && !fs::is_regular_file(st) && !fs::is_directory(st);
}

bool OptionsFile::open(const std::string& target) {
  discard();
  if (target.empty()) return false;
  std::error_code ec;
  fs::path path(target);
  // Write through a symbolic link, as replacing the file in place would,
  // rather than replacing the link itself.
  if (fs::is_symlink(path, ec)) {
    const fs::path real = fs::weakly_canonical(path, ec);
    if (ec) return false;
    path = real;
  }
  if (fs::is_directory(path, ec) || special_file(path.string())) return false;
  if (fs::exists(path, ec) && ::access(path.c_str(), W_OK) != 0) return false;

  const HoldSignals hold;
  std::string temp;
  const int fd = create_temp(path.string(), temp);
  if (fd < 0) return false;
  f_ = ::fdopen(fd, "w");
  if (!f_) {
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  target_ = path.string();
  temp_ = temp;
  write_failed_ = false;
  watch_temp(temp_);
  return true;
}

void OptionsFile::put(const ff::Line& line) {
  if (!f_) return;
  const std::string& s = line.str();
  if (std::fwrite(s.data(), 1, s.size(), f_) != s.size() || std::fputc('\n', f_) == EOF) write_failed_ = true;
}

void OptionsFile::put_empty() {
  if (f_ && std::fputc('\n', f_) == EOF) write_failed_ = true;
}

void OptionsFile::commit() {
  if (!f_) throw std::runtime_error("no options file is open");
  bool ok = !write_failed_ && std::fflush(f_) == 0 && ::fsync(::fileno(f_)) == 0;
  int err = ok ? 0 : errno;
  if (std::fclose(f_) != 0 && ok) {
    ok = false;
    err = errno;
  }
  f_ = nullptr;
  if (ok && std::rename(temp_.c_str(), target_.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    const std::string target = target_;
    discard();
    throw std::runtime_error("cannot write the options file '" + target + "'" +
                             (err != 0 ? ": " + std::string(std::strerror(err)) : std::string()));
  }
  unwatch_temp();
  temp_.clear();
  target_.clear();
}

void OptionsFile::discard() {
  unwatch_temp();
  if (f_) {
    std::fclose(f_);
    f_ = nullptr;
  }
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  target_.clear();
}

}  // namespace setup
