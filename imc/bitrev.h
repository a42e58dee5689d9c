// Bit reversal of bytes for the IMC link: bit i of a byte becomes bit 7 - i
// (0x01 -> 0x80, 0x12 -> 0x48). The IMC shifts LSB first, the SPI controller
// MSB first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace optad {

namespace detail {
constexpr std::array<uint8_t, 256> make_bitrev_table()
{
    std::array<uint8_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            if (v & (1u << bit))
                r |= 0x80u >> bit;
        t[v] = static_cast<uint8_t>(r);
    }
    return t;
}
}  // namespace detail

// The 256 reversed values, built at compile time.
inline constexpr std::array<uint8_t, 256> bitrev_table = detail::make_bitrev_table();

inline uint8_t bitrev(uint8_t v)
{
    return bitrev_table[v];
}

// Reverses every byte of buf in place.
inline void bitrev_in_place(uint8_t *buf, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        buf[i] = bitrev_table[buf[i]];
}

}  // namespace optad
