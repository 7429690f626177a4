// ScopedTimeZone: sets TZ for the lifetime of the object and restores it
// afterwards, for tests of local time (and of programs started meanwhile,
// which inherit the environment). ZoneFileExists tells whether the system
// has a zone, so a test can skip where tzdata is missing.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace corvane::testing {

class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    std::optional<std::string> old_;
};

inline bool ZoneFileExists(const std::string& name) {
    return ::access(("/usr/share/zoneinfo/" + name).c_str(), R_OK) == 0;
}

}  // namespace corvane::testing
