// A temporary folder, removed with everything in it at the end of its scope.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace fq {

class TempDir {
 public:
  // A new folder named <prefix>XXXXXX in the system's temporary folder.
  explicit TempDir(const std::string& prefix = "foldquest_") {
    std::string templ = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("cannot make a temporary folder");
    path_ = templ;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace fq
