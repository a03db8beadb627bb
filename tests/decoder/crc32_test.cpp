// The section CRC-32: the standard's check value and the agreement of every
// kernel this processor can run with the bitwise reference.
#include "decoder/crc32.h"
#include "test_support.h"

#include <random>

using namespace dt;

namespace {

std::vector<Crc32Kernel> availableKernels()
{
    std::vector<Crc32Kernel> kernels;
    for (Crc32Kernel k : {Crc32Kernel::SliceBy8, Crc32Kernel::CarrylessMultiply, Crc32Kernel::CarrylessMultiply256,
                          Crc32Kernel::CarrylessMultiply512})
        if (crc32MpegKernelAvailable(k))
            kernels.push_back(k);
    return kernels;
}

const char* name(Crc32Kernel k)
{
    switch (k) {
    case Crc32Kernel::SliceBy8:
        return "slice-by-8";
    case Crc32Kernel::CarrylessMultiply:
        return "carry-less multiply";
    case Crc32Kernel::CarrylessMultiply256:
        return "carry-less multiply, 256-bit";
    case Crc32Kernel::CarrylessMultiply512:
        return "carry-less multiply, 512-bit";
    }
    return "?";
}

TEST(Crc32Test, CheckValueOf123456789)
{
    const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
    EXPECT_EQ(crc32Mpeg(digits, 9), 0x0376E6E7u);
    EXPECT_EQ(referenceCrc32(digits, 9), 0x0376E6E7u);
    for (Crc32Kernel k : availableKernels())
        EXPECT_EQ(crc32MpegWith(k, digits, 9), 0x0376E6E7u) << name(k);
    EXPECT_EQ(crc32Mpeg(digits, 0), 0xFFFFFFFFu) << "nothing read: the initial value";
}

TEST(Crc32Test, KernelsAgreeWithTheReferenceAtEveryLengthAndAlignment)
{
    EXPECT_TRUE(crc32MpegKernelAvailable(crc32MpegKernel()));
    std::mt19937 rng(7);
    Bytes data(4096 + 16 + 64);
    for (auto& b : data)
        b = static_cast<uint8_t>(rng());
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 800; ++n)
        lengths.push_back(n);
    for (size_t n : {1358, 1522, 4095, 4096, 4096 + 63})
        lengths.push_back(n);
    // Past the short path, every number of whole chunks left behind the last
    // 256-byte block.
    for (size_t n = 1024; n < 1024 + 16 * 17; n += 17)
        lengths.push_back(n);
    for (size_t n : lengths) {
        for (size_t offset : {0, 1, 3, 8, 13, 15}) {
            const uint8_t* p = data.data() + offset;
            const uint32_t expected = referenceCrc32(p, n);
            ASSERT_EQ(crc32Mpeg(p, n), expected) << "length " << n << " offset " << offset;
            for (Crc32Kernel k : availableKernels())
                ASSERT_EQ(crc32MpegWith(k, p, n), expected) << name(k) << " length " << n << " offset " << offset;
        }
        // An exact-size copy: AddressSanitizer sees a read past the data.
        const Bytes exact(data.begin(), data.begin() + static_cast<long>(n));
        for (Crc32Kernel k : availableKernels())
            ASSERT_EQ(crc32MpegWith(k, exact.data(), n), referenceCrc32(exact.data(), n)) << name(k) << " length " << n;
    }
}

TEST(Crc32Test, SectionWithItsCrcAppendedGivesZero)
{
    // Small datagrams' sections too (40 bytes of IP make a 56-byte section).
    for (uint32_t datagram : {40u, 1000u}) {
        Bytes s = mpeSection(Mac{}, ipv4(datagram));
        for (Crc32Kernel k : availableKernels())
            EXPECT_EQ(crc32MpegWith(k, s.data(), s.size()), 0u) << name(k) << " section of " << s.size() << " bytes";
        s[s.size() / 2] ^= 0x01;
        EXPECT_NE(crc32Mpeg(s.data(), s.size()), 0u) << "section of " << s.size() << " bytes";
    }
}

} // namespace
