// CRC-32 of MPEG-2 sections: polynomial 0x04C11DB7, initial value 0xFFFFFFFF,
// no reflection, no final inversion. A section whose CRC_32 field is right
// gives 0 over all of its bytes, the CRC field included.
//
// Four kernels compute the same value: slice-by-8 tables, everywhere, and
// carry-less multiplication where the processor has it, on 128-bit vectors
// (PCLMULQDQ), 256-bit ones (VPCLMULQDQ) or, for long data, 512-bit ones
// (VPCLMULQDQ with AVX-512). The fastest one is chosen once, at program start;
// none allocates.
#pragma once

#include <cstddef>
#include <cstdint>

enum class Crc32Kernel {
    SliceBy8,
    CarrylessMultiply,
    CarrylessMultiply256,
    CarrylessMultiply512,
};

// CRC of `length` bytes with the kernel chosen for this processor.
uint32_t crc32Mpeg(const uint8_t* data, size_t length);

// The kernel crc32Mpeg uses.
Crc32Kernel crc32MpegKernel();
// Whether this processor can run `kernel`.
bool crc32MpegKernelAvailable(Crc32Kernel kernel);
// CRC with a given kernel (tests and benchmarks compare them); the kernel must
// be available.
uint32_t crc32MpegWith(Crc32Kernel kernel, const uint8_t* data, size_t length);
