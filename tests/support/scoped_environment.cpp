#include "support/scoped_environment.h"

#include <cstdlib>

namespace tarnel::test {

ScopedEnvironment::ScopedEnvironment(const std::string& name, const std::string& value)
    : name_(name) {
    if (const char* previous = std::getenv(name.c_str())) {
        had_value_ = true;
        previous_ = previous;
    }
    setenv(name.c_str(), value.c_str(), 1);
}

ScopedEnvironment::ScopedEnvironment(const std::string& name) : name_(name) {
    if (const char* previous = std::getenv(name.c_str())) {
        had_value_ = true;
        previous_ = previous;
    }
    unsetenv(name.c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
    if (had_value_) {
        setenv(name_.c_str(), previous_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

}  // namespace tarnel::test
