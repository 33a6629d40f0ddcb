#pragma once
// How the guest programs report to the host: one line per check, figures, and a closing result
// line that the host script looks for.

#include <chrono>
#include <string>

namespace tarnovid::guest {

using Clock = std::chrono::steady_clock;

void check(bool ok, const std::string& what);
void figure(const char* name, double value, const char* unit = "ms");
// A check that cannot be made here, and why; not counted as passed.
void skip(const std::string& what, const std::string& why);
double msBetween(Clock::time_point from, Clock::time_point to);
std::string hex(int value);

// Prints "TARNOVID-GUEST-RESULT <program>: PASS|FAIL (...)"; returns the exit code.
int finish(const char* program);

} // namespace tarnovid::guest
