#include "protocol.h"

#include <stdexcept>

namespace tarnovid {

QByteArray newRequest() { return QByteArray(kRequestSize, '\0'); }

char requestByte(const std::optional<int>& outputByte) {
    const int value = outputByte.value_or(0);
    if (value < 0 || value > 255)
        throw std::out_of_range("output byte out of range: " + std::to_string(value));
    return char(value);
}

qint16 inputByte(const QByteArray& answer) {
    if (answer.isEmpty())
        throw std::out_of_range("the board's answer is empty");
    return qint16(quint8(answer.at(0)));
}

} // namespace tarnovid
