// Check, figure and result lines of the guest programs.

#include "guest_report.h"

#include <cstdio>

namespace tarnovid::guest {

namespace {
int checks = 0;
int failures = 0;
} // namespace

void check(bool ok, const std::string& what) {
    ++checks;
    if (!ok)
        ++failures;
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
}

void skip(const std::string& what, const std::string& why) {
    std::printf("skip: %s (%s)\n", what.c_str(), why.c_str());
    std::fflush(stdout);
}

void figure(const char* name, double value, const char* unit) {
    std::printf("FIGURE %s: %.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::string hex(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

int finish(const char* program) {
    std::printf("TARNOVID-GUEST-RESULT %s: %s (%d checks, %d failed)\n", program,
                failures || checks == 0 ? "FAIL" : "PASS", checks, failures);
    std::fflush(stdout);
    return failures || checks == 0 ? 1 : 0;
}

} // namespace tarnovid::guest
