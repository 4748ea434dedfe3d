#pragma once

#include <string>

namespace tarnel::test {

// Sets an environment variable for its lifetime (the previous value comes back after), so a
// program started meanwhile inherits it.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const std::string& name, const std::string& value);
    // Unsets the variable for its lifetime.
    explicit ScopedEnvironment(const std::string& name);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string name_;
    bool had_value_ = false;
    std::string previous_;
};

}  // namespace tarnel::test
