// A parameterised fixture that pins the kernel's dispatch to each compiled target this CPU runs.
#pragma once

#include <gtest/gtest.h>

#include <hwy/targets.h>

#include <string>

#include "effect/kernel.h"

namespace velmora::test {

class EveryTarget : public testing::TestWithParam<std::int64_t> {
protected:
    void SetUp() override {
        hwy::SetSupportedTargetsForTest(GetParam());
        ASSERT_STREQ(UnmatteSurfaceTarget(), hwy::TargetName(GetParam()));
    }
    void TearDown() override { hwy::SetSupportedTargetsForTest(0); }
};

// Instantiated as INSTANTIATE_TEST_SUITE_P(Prefix, EveryTarget, EveryTargetValues(), TargetName).
inline auto EveryTargetValues() {
    return testing::ValuesIn(UnmatteSurfaceTargets());
}

inline std::string TargetName(const testing::TestParamInfo<std::int64_t>& info) {
    return hwy::TargetName(info.param);
}

} // namespace velmora::test
