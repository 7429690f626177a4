// Shared by the table-text tests and the file source's listing tests: a
// small tree of dotted and plain directories with HOME pointing at it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/TempTree.h"

namespace corvane {
namespace {

using testing::TempTree;

// HOME for the lifetime of the object (unset when home is null).
class HomeIs {
  public:
    explicit HomeIs(const char* home) {
        if (const char* old = std::getenv("HOME")) saved_ = old, had_ = true;
        if (home)
            ::setenv("HOME", home, 1);
        else
            ::unsetenv("HOME");
    }
    ~HomeIs() {
        if (had_)
            ::setenv("HOME", saved_.c_str(), 1);
        else
            ::unsetenv("HOME");
    }
    HomeIs(const HomeIs&) = delete;
    HomeIs& operator=(const HomeIs&) = delete;

  private:
    std::string saved_;
    bool had_ = false;
};

// The fixture of these tests: proj.git/ (a dotted directory) with HEAD and
// inner/x, plain/ with p, and a.txt; HOME and the base directory are the
// root, so "~/..." and relative texts lead into it.
class TableTexts : public ::testing::Test {
  protected:
    void SetUp() override {
        t_.Dir("proj.git");
        t_.File("proj.git/HEAD", "ref");
        t_.Dir("proj.git/inner");
        t_.File("proj.git/inner/x");
        t_.Dir("plain");
        t_.File("plain/p");
        t_.File("a.txt");
    }
    std::string R() const { return t_.Root(); }

    TempTree t_;
    HomeIs home_{t_.Root().c_str()};
};

}  // namespace
}  // namespace corvane
