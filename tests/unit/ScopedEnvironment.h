// Environment variables set by a test, for the code that reads them (the simulator's settings).
#pragma once

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace norvale::testing {

// Sets `name` to `value`; an empty value removes the variable.
inline void setEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    if (*value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}

// Sets the variables for the life of the object, then removes them.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(std::vector<std::pair<const char*, std::string>> values)
        : values_(std::move(values)) {
        for (const auto& [name, value] : values_) setEnvironment(name, value.c_str());
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : values_) setEnvironment(name, "");
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::vector<std::pair<const char*, std::string>> values_;
};

}  // namespace norvale::testing
