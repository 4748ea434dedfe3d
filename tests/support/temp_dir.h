#pragma once

#include <string>

namespace tarnel::test {

// A fresh directory under the system's temporary folder, removed with its contents on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes bytes to name inside the directory and returns the full path.
    std::string write(const std::string& name, const std::string& bytes) const;

  private:
    std::string path_;
};

// Changes the working directory for its lifetime.
class ScopedChdir {
  public:
    explicit ScopedChdir(const std::string& directory);
    ~ScopedChdir();
    ScopedChdir(const ScopedChdir&) = delete;
    ScopedChdir& operator=(const ScopedChdir&) = delete;

  private:
    std::string previous_;
};

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

}  // namespace tarnel::test
