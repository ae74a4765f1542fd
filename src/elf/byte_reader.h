// Reads unsigned values of 1 to 8 bytes and LEB128 numbers from a block of
// an image, in the image's byte order, never past the block's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestab::elf {

class ByteReader {
public:
    ByteReader(std::span<const unsigned char> data, bool bigEndian) : data_(data), bigEndian_(bigEndian) {}

    std::size_t remaining() const { return data_.size() - pos_; }
    std::size_t position() const { return pos_; }
    // Callers skip no further than remaining().
    void skip(std::uint64_t n) { pos_ += static_cast<std::size_t>(n); }
    // Skips n bytes; false (and nothing skipped) when fewer remain.
    bool advance(std::uint64_t n) {
        if (n > remaining()) return false;
        pos_ += static_cast<std::size_t>(n);
        return true;
    }
    // The next n bytes, skipped; false (and nothing taken) when fewer remain.
    bool take(std::uint64_t n, std::span<const unsigned char>& out) {
        if (n > remaining()) return false;
        out = data_.subspan(pos_, static_cast<std::size_t>(n));
        pos_ += static_cast<std::size_t>(n);
        return true;
    }
    // Moves to `at` from the start; false (and not moved) past the end.
    bool seek(std::uint64_t at) {
        if (at > data_.size()) return false;
        pos_ = static_cast<std::size_t>(at);
        return true;
    }
    // A LEB128 number, signed or not, as its unsigned bits; a value that
    // needs more than 64 bits reads as the largest one. False past the end.
    bool readLeb(std::uint64_t& value) {
        value = 0;
        bool tooLarge = false;
        for (unsigned shift = 0;; shift += 7) {
            if (remaining() == 0) return false;
            const unsigned char byte = data_[pos_++];
            const std::uint64_t bits = byte & 0x7fu;
            if (shift < 64) {
                value |= bits << shift;
                if (shift > 57 && (bits >> (64 - shift)) != 0) tooLarge = true;
            } else if (bits != 0) {
                tooLarge = true;
            }
            if ((byte & 0x80) == 0) break;
        }
        if (tooLarge) value = UINT64_MAX;
        return true;
    }
    // A signed LEB128 number; one that needs more than 64 bits keeps its
    // low 64. False past the end.
    bool readSleb(std::int64_t& value) {
        std::uint64_t bits = 0;
        unsigned shift = 0;
        unsigned char byte = 0x80;
        while ((byte & 0x80) != 0) {
            if (remaining() == 0) return false;
            byte = data_[pos_++];
            if (shift < 64) bits |= std::uint64_t{byte & 0x7fu} << shift;
            shift += 7;
        }
        if (shift < 64 && (byte & 0x40) != 0) bits |= ~std::uint64_t{0} << shift;
        value = static_cast<std::int64_t>(bits);
        return true;
    }
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
