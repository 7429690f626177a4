// AsOtherUser: makes file permission checks of this thread apply to the
// user "nobody" for its lifetime, so a test running as root can still show
// what an unreadable directory does. setfsuid drops the capabilities that
// let root ignore permissions and gives them back when set to 0 again.
// Active() is false when the switch did not happen (not running as root);
// then the test's own user is subject to permissions anyway.
#pragma once

#include <sys/fsuid.h>
#include <unistd.h>

namespace corvane::testing {

class AsOtherUser {
  public:
    AsOtherUser() {
        if (::geteuid() != 0) return;
        ::setfsuid(kNobody);
        active_ = ::setfsuid(static_cast<uid_t>(-1)) == static_cast<int>(kNobody);
    }
    ~AsOtherUser() {
        if (active_) ::setfsuid(0);
    }
    AsOtherUser(const AsOtherUser&) = delete;
    AsOtherUser& operator=(const AsOtherUser&) = delete;
    bool Active() const { return active_; }

  private:
    static constexpr uid_t kNobody = 65534;
    bool active_ = false;
};

}  // namespace corvane::testing
