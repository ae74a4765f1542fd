// Reads unsigned values of 1 to 8 bytes from a block of an image, in the
// image's byte order, never past the block's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestab::elf {

class ByteReader {
public:
    ByteReader(std::span<const unsigned char> data, bool bigEndian) : data_(data), bigEndian_(bigEndian) {}

    std::size_t remaining() const { return data_.size() - pos_; }
    // Callers skip no further than remaining().
    void skip(std::uint64_t n) { pos_ += static_cast<std::size_t>(n); }
    // Reads n bytes (n <= 8); false past the end.
    bool read(std::size_t n, std::uint64_t& value) {
        if (remaining() < n) return false;
        value = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = bigEndian_ ? pos_ + i : pos_ + n - 1 - i;
            value = (value << 8) | data_[at];
        }
        pos_ += n;
        return true;
    }

private:
    std::span<const unsigned char> data_;
    std::size_t pos_ = 0;
    bool bigEndian_;
};

}  // namespace kestab::elf
