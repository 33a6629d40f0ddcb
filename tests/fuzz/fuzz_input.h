#pragma once
// Reads typed values off a fuzzer's input, front to back; once the input runs dry every value is
// zero and every string empty, so a target never has to check lengths itself. The layout is
// plain enough to write seeds by hand with printf.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tarnovid::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : data_(data)
        , size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t left() const { return empty() ? 0 : size_ - pos_; }

    std::uint8_t u8() { return empty() ? 0 : data_[pos_++]; }
    std::uint16_t u16() { // little-endian
        const std::uint16_t low = u8();
        return static_cast<std::uint16_t>(low | (u8() << 8));
    }
    std::uint32_t u32() {
        const std::uint32_t low = u16();
        return low | (std::uint32_t(u16()) << 16);
    }

    // Up to `count` raw bytes, fewer at the end of the input.
    std::vector<std::uint8_t> bytes(std::size_t count) {
        const std::size_t n = count < left() ? count : left();
        std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return out;
    }
    // A 16-bit length, then that many bytes: strings long enough to stress anything that copies
    // or trims them.
    std::string text() {
        const std::vector<std::uint8_t> raw = bytes(u16());
        return {raw.begin(), raw.end()};
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Strict UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF. Decodes into `out`
// when given.
inline bool decodeUtf8(const std::string& text, std::u32string* out = nullptr) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t c = 0;
        char32_t least = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, c = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, c = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, c = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= std::size_t(extra))
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + std::size_t(k)]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        if (out != nullptr)
            *out += c;
        i += std::size_t(extra) + 1;
    }
    return true;
}

// A broken invariant aborts, so libFuzzer keeps the input that did it.
[[noreturn]] inline void failed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken: %s\n", file, line, what);
    std::abort();
}

} // namespace tarnovid::fuzz

#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? void(0) : ::tarnovid::fuzz::failed(#condition, __FILE__, __LINE__))
