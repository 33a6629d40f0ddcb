#pragma once
// The two commands the window sends to the board. Each click builds a fresh zero-filled request
// buffer; only its first two bytes are sent.

#include "board_facts.h"

#include <QByteArray>
#include <optional>

namespace tarnovid {

inline constexpr int kRequestSize = 9;
inline constexpr qint16 kRequestCount = 2;
inline constexpr char kWriteOutputs = char(board::kSetOutputs);
inline constexpr char kReadInputs = char(board::kReadInputs);

QByteArray newRequest();

// The output byte as it goes on the wire; an output byte that has no value yet is sent as 0.
// Throws std::out_of_range for a value that is not a byte.
char requestByte(const std::optional<int>& outputByte);

// Element 0 of the board's answer, 0..255. Throws std::out_of_range for an empty answer.
qint16 inputByte(const QByteArray& answer);

} // namespace tarnovid
