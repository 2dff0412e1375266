// isaac_test.cpp - the ISAAC generator against the reference vector, its hand-out
// order, and seeding from images of every awkward size.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/image.h"
#include "support/isaac.h"
#include "test_util.h"

// A context initialised from 256 copies of one seed word (or the given words).
static IsaacContext ContextFromSeed(const std::vector<uint32_t>& words)
{
    IsaacContext context;
    for (int k = 0; k < 256; ++k) context.results[k] = words.size() == 1 ? words[0] : words[k];
    IsaacInit(context, true);
    return context;
}

static bool SameState(const IsaacContext& x, const IsaacContext& y)
{
    return x.count == y.count && x.a == y.a && x.b == y.b && x.c == y.c
        && std::memcmp(x.results, y.results, sizeof x.results) == 0
        && std::memcmp(x.memory, y.memory, sizeof x.memory) == 0;
}

TEST(IsaacTest, ReferenceVectorFromZeroSeed)
{
    IsaacContext context = ContextFromSeed({0u});
    IsaacGenerate(context);
    const uint32_t expected[8] = {0xf650e4c8, 0xe448e96d, 0x98db2fb4, 0xf5fad54f,
                                  0x433f1afb, 0xedec154a, 0xd8370487, 0x46ca4f9a};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(context.results[i], expected[i]) << "results[" << i << "]";
}

TEST(IsaacTest, NextHandsOutEachBlockFromTheTopDown)
{
    IsaacContext context = ContextFromSeed({0x12345678u});
    IsaacContext block = context;  // the block IsaacInit generated
    ASSERT_EQ(context.count, 256u);
    for (int i = 255; i >= 0; --i) ASSERT_EQ(IsaacNext(context), block.results[i]) << i;
    IsaacGenerate(block);  // the 257th draw starts the second block
    EXPECT_EQ(IsaacNext(context), block.results[255]);
    EXPECT_EQ(context.count, 255u);
    EXPECT_EQ(IsaacNext(context), block.results[254]);
}

class IsaacSeedTest : public ::testing::Test {
protected:
    void TearDown() override { FreeTestImage(); }
    static IsaacContext Seeded()
    {
        IsaacContext context;
        IsaacSeedFromImage(context);
        return context;
    }
};

// Later 16-bit values overlap the previous one by a byte and are combined by
// XOR; the top bytes shifted out are lost. Worked by hand:
// 0x1234 -> 0x129FCD -> 0x129FC20F -> 0x9FC2F0FF.
TEST_F(IsaacSeedTest, SixteenBitValuesOverlapByXor)
{
    MakeTestImage(2, 2, 16, {0x1234, 0xABCD, 0x0F0F, 0xFFFF});
    EXPECT_TRUE(SameState(Seeded(), ContextFromSeed({0x9FC2F0FFu})));
}

TEST_F(IsaacSeedTest, PositionsPastTheEndReadAsZero)
{
    MakeTestImage(1, 1, 8, {0xAB});
    EXPECT_TRUE(SameState(Seeded(), ContextFromSeed({0xAB000000u})));
    MakeTestImage(3, 1, 8, {1, 2, 3});
    EXPECT_TRUE(SameState(Seeded(), ContextFromSeed({0x01020300u})));
}

TEST_F(IsaacSeedTest, ConstantImagesOfDifferentSizesSeedAlike)
{
    MakeTestImage(30, 20, 8, std::vector<int>(600, 77));
    IsaacContext small = Seeded();
    MakeTestImage(41, 39, 8, std::vector<int>(41 * 39, 77));
    EXPECT_TRUE(SameState(small, Seeded()));
    MakeTestImage(41, 39, 8, std::vector<int>(41 * 39, 78));
    EXPECT_FALSE(SameState(small, Seeded()));
}

// 300 pixels give step 1: positions 0..258 are read and 259 on are not.
TEST_F(IsaacSeedTest, ReadsOnlyPositionsUpTo255StepsPlusThree)
{
    std::vector<int> pixels(300, 5);
    MakeTestImage(20, 15, 8, pixels);
    IsaacContext base = Seeded();
    SetPixel(259 % 20, 259 / 20, 6);
    EXPECT_TRUE(SameState(base, Seeded()));
    SetPixel(258 % 20, 258 / 20, 6);
    EXPECT_FALSE(SameState(base, Seeded()));
}

// Every size where the last word reaches past the end, with neighbours that do
// not: the seed words follow the 8-bit packing with 0 beyond the image.
class IsaacSeedSize : public IsaacSeedTest, public ::testing::WithParamInterface<int> {};
TEST_P(IsaacSeedSize, SeedWordsPackFourPixels)
{
    int n = GetParam();
    std::vector<int> pixels(n);
    for (int j = 0; j < n; ++j) pixels[j] = (j * 37 + 11) & 255;
    MakeTestImage(n, 1, 8, pixels);
    int step = (n - 1) / 256;
    std::vector<uint32_t> words(256);
    for (int k = 0; k < 256; ++k)
        for (int t = 0; t < 4; ++t) {
            int j = k * step + t;
            words[k] |= (uint32_t)(j < n ? pixels[j] : 0) << (24 - 8 * t);
        }
    EXPECT_TRUE(SameState(Seeded(), ContextFromSeed(words)));
}
INSTANTIATE_TEST_SUITE_P(Sizes, IsaacSeedSize,
                         ::testing::Values(1, 2, 3, 4, 256, 257, 258, 259, 300, 513, 514),
                         [](const auto& info) { return std::to_string(info.param) + "Pixels"; });
