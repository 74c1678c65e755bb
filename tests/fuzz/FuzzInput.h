// Turns a fuzzer's byte string into typed choices. Running out of input yields zeros and empty
// strings, so every input, however short, decodes to something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace veltrane::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size) {}

    bool Empty() const { return rest_.empty(); }

    std::uint8_t Byte() {
        if (rest_.empty())
            return 0;
        const auto b = static_cast<std::uint8_t>(rest_.front());
        rest_.remove_prefix(1);
        return b;
    }

    // `bytes` little-endian bytes (at most 8).
    std::uint64_t Number(int bytes) {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= std::uint64_t{Byte()} << (8 * i);
        return value;
    }

    // A length byte, then that many bytes (fewer when the input ends first).
    std::string Text() { return Take(Byte()); }

    std::string Take(std::size_t n) {
        const std::string_view part = rest_.substr(0, n);
        rest_.remove_prefix(part.size());
        return std::string(part);
    }

    std::string Rest() { return Take(rest_.size()); }

private:
    std::string_view rest_;
};

// A failed check: says what and on which text, and aborts so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const std::string& what, const std::string& text) {
    std::fprintf(stderr, "%s\non: %s\n", what.c_str(), text.c_str());
    std::abort();
}

} // namespace veltrane::fuzz
