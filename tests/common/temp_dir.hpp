// A fresh folder under /tmp for a test or benchmark process, removed with its
// contents on destruction ("/tmp" itself, never removed, when none could be made).
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace tovarin::test {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "tovarin-test") {
    std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
    const char* p = ::mkdtemp(tmpl.data());
    path_ = p ? p : "/tmp";
  }
  ~TempDir() {
    std::error_code ec;
    if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace tovarin::test
