// Counts for the fault and load suites: small in the normal run, so that CI stays fast, and the
// full figures when VELMORA_SOAK is set (make soak). Every suite reports what it did as figures,
// one line each on stdout ("[  figure  ] suite.test: name = value") and as test properties.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace velmora::test {

inline bool Soak() {
    const char* s = std::getenv("VELMORA_SOAK");
    return s && *s && std::string(s) != "0";
}

// quick in the normal run, full under make soak.
inline long Count(long quick, long full) {
    return Soak() ? full : quick;
}

inline void Figure(const std::string& name, double value) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string test =
        info ? std::string(info->test_suite_name()) + "." + info->name() : std::string("-");
    char text[64];
    if (value == static_cast<double>(static_cast<long long>(value)))
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    else
        std::snprintf(text, sizeof text, "%.2f", value);
    std::printf("[  figure  ] %s: %s = %s\n", test.c_str(), name.c_str(), text);
    std::fflush(stdout);
    if (info)
        ::testing::Test::RecordProperty(name, text);
}

// Seconds since construction, reported as the figure "seconds" by Report.
class Stopwatch {
public:
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    void Report() const { Figure("seconds", Seconds()); }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace velmora::test
