#include "tuner/cp1251.h"

#include <gtest/gtest.h>

TEST(Cp1251, CyrillicPinNameMatchesItsAnsiForm)
{
    EXPECT_EQ(tuner::toCp1251(L"MPEG2 Transport"), "MPEG2 Transport");
    EXPECT_EQ(tuner::toCp1251(L"MPEG2 \u0442\u0440\u0430\u043D\u0441\u043F\u043E\u0440\u0442"),
              "MPEG2 \xF2\xF0\xE0\xED\xF1\xEF\xEE\xF0\xF2");
    // The letters outside the main block, and what the code page cannot hold.
    EXPECT_EQ(tuner::toCp1251(L"\u0401\u0451\u0410\u044F\u2116"), "\xA8\xB8\xC0\xFF\xB9");
    EXPECT_EQ(tuner::toCp1251(L"\u4E2D"), "?");
    EXPECT_EQ(tuner::toCp1251(nullptr), "");
}
