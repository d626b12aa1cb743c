#include "platform/RandomSource.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <string_view>
#include <vector>

namespace wheelbox::test {
namespace {

// Replays a fixed list of draws, so a test can aim at the edges of `below`.
class ScriptedRandomSource final : public RandomSource {
  public:
    explicit ScriptedRandomSource(std::vector<std::uint64_t> values) : values_(std::move(values)) {}
    std::uint64_t next() override { return values_.at(position_++); }
    std::size_t used() const { return position_; }

  private:
    std::vector<std::uint64_t> values_;
    std::size_t position_ = 0;
};

TEST(RandomSourceTest, BelowRedrawsTheIncompleteLastBlock)
{
    constexpr std::uint64_t top = ~std::uint64_t(0);
    // 2^64 mod 3 == 1: the single largest draw would favour 0, so it is drawn again.
    ScriptedRandomSource source({top, top - 1, 7});
    EXPECT_EQ(source.below(3), (top - 1) % 3);
    EXPECT_EQ(source.used(), 2u);
    EXPECT_EQ(source.below(1), 0u);
    EXPECT_EQ(ScriptedRandomSource({}).below(0), 0u);
}

TEST(RandomSourceTest, BelowCoversItsRangeEvenly)
{
    SeededRandomSource source(1);
    std::array<int, 6> counts{};
    for (int i = 0; i < 60000; ++i)
        ++counts[source.below(6)];
    for (int count : counts)
        EXPECT_NEAR(count, 10000, 500);
}

TEST(RandomSourceTest, SeededSourcesRepeatAndTheSystemSourceDoesNot)
{
    SeededRandomSource first(42), second(42), other(43);
    for (int i = 0; i < 8; ++i) {
        auto value = first.next();
        EXPECT_EQ(value, second.next());
        EXPECT_NE(value, other.next());
    }
    std::set<std::uint64_t> drawn;
    for (int i = 0; i < 64; ++i)
        drawn.insert(RandomSource::system().next());
    EXPECT_EQ(drawn.size(), 64u);
}

TEST(RandomSourceTest, UUIDsAreVersion4InUpperCase)
{
    // 8-4-4-4-12 upper-case hexadecimal digits, version 4, RFC 4122 variant.
    auto isVersion4 = [](const std::string &id) {
        if (id.size() != 36 || id[14] != '4' ||
            std::string_view("89AB").find(id[19]) == std::string_view::npos)
            return false;
        for (std::size_t i = 0; i < id.size(); ++i) {
            bool dash = i == 8 || i == 13 || i == 18 || i == 23;
            if (dash ? id[i] != '-'
                     : std::string_view("0123456789ABCDEF").find(id[i]) == std::string_view::npos)
                return false;
        }
        return true;
    };
    SeededRandomSource seeded(5);
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        auto id = i % 2 ? seeded.uuid() : RandomSource::system().uuid();
        EXPECT_TRUE(isVersion4(id)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(RandomSourceTest, WorksWithTheStandardAlgorithms)
{
    SeededRandomSource source(9);
    std::vector<int> values{1, 2, 3, 4, 5, 6, 7, 8};
    auto shuffled = values;
    std::shuffle(shuffled.begin(), shuffled.end(), source.bits());
    EXPECT_TRUE(std::is_permutation(shuffled.begin(), shuffled.end(), values.begin()));
    EXPECT_NE(shuffled, values);
}

} // namespace
} // namespace wheelbox::test
