// ImageCompare: whether two function records hold the same function, field
// by field, so that a failure names the field that differs (an image
// written and read back, a unit compiled twice).
#pragma once

#include <gtest/gtest.h>

#include "script/common/base_inf.h"

namespace corvane::testing {

inline void ExpectSameFunc(const TClassDefInf& a, const TClassDefInf& b) {
    EXPECT_EQ(a.Name, b.Name);
    EXPECT_EQ(a.ResultType, b.ResultType);
    EXPECT_EQ(a.AssignedType, b.AssignedType);
    EXPECT_EQ(a.HeadCount, b.HeadCount);
    EXPECT_EQ(a.IsExternal, b.IsExternal);
    EXPECT_EQ(a.varDefs, b.varDefs);
    EXPECT_EQ(a.consts, b.consts);
    EXPECT_EQ(a.Relocs, b.Relocs);
    EXPECT_EQ(a.code, b.code);
}

}  // namespace corvane::testing
