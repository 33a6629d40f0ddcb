#pragma once
// How a reading of the inputs is written: "T2=1 T3=0 T4=1", with the raw byte when asked, or as
// one JSON object per line; watch lines lead with their time stamp.

#include <QString>
#include <cstdint>

namespace tarnovid::ctl {

enum class Style { Plain, Verbose, Json };

// `timestamp` empty for get, set for each watch line.
QString formatInputs(std::uint8_t inputs, Style style, const QString& timestamp = {});

// Whether two readings differ in T2..T4; the other bits of the byte carry no inputs.
bool inputsDiffer(std::uint8_t a, std::uint8_t b);

} // namespace tarnovid::ctl
