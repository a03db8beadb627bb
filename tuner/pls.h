// DVB-S2 physical-layer scrambling codes (EN 302 307, 5.5.4): a gold code n
// names the root code reached from root 1 after n steps of the x sequence
// (1 + x^7 + x^18). Gold 0 is root 1, gold 8 is root 1024.
#pragma once

#include <cstdint>
#include <optional>

namespace pls {

constexpr uint32_t kCodeMask = 0x3FFFF; // 18 bits
constexpr uint32_t kLastCode = kCodeMask;
enum Mode : int32_t { Root = 0, Gold = 1 };

constexpr uint32_t nextRoot(uint32_t x) { return (((x ^ (x >> 7)) & 1u) << 17) | (x >> 1); }

// The root code of a gold code (0..262142).
inline uint32_t rootOfGold(uint32_t gold)
{
    uint32_t x = 1;
    for (uint32_t n = 0; n < (gold & kCodeMask); ++n)
        x = nextRoot(x);
    return x;
}

// The gold code of a root code; none for a root the sequence never reaches (0).
inline std::optional<uint32_t> goldOfRoot(uint32_t root)
{
    uint32_t x = 1;
    for (uint32_t n = 0; n < kCodeMask; ++n) {
        if (x == root)
            return n;
        x = nextRoot(x);
    }
    return std::nullopt;
}

// The gold code of a code given in `mode`; none for an impossible one.
inline std::optional<uint32_t> goldCode(int32_t mode, int32_t code)
{
    if (code < 0 || static_cast<uint32_t>(code) > kLastCode || (mode != Root && mode != Gold))
        return std::nullopt;
    if (mode == Gold)
        return static_cast<uint32_t>(code) < kLastCode ? std::optional<uint32_t>(code) : std::nullopt;
    return goldOfRoot(static_cast<uint32_t>(code));
}

} // namespace pls
