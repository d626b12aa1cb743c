// The about record: the device serial, the storage figures and the fallbacks.
#include "worker/AboutRecord.hpp"

#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"
#include "support/FakeHostFacts.hpp"

#include <boost/json/serialize.hpp>
#include <glib.h>
#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <set>

namespace wheelbox::test {
namespace {

// A source whose draws are given: each draw is taken in turn, then the seeded ones follow.
class ScriptedRandomSource final : public RandomSource {
  public:
    explicit ScriptedRandomSource(std::vector<std::uint64_t> draws) : draws_(std::move(draws)) {}
    std::uint64_t next() override
    {
        ++drawn;
        if (next_ < draws_.size())
            return draws_[next_++];
        return fallback_.next();
    }
    std::size_t drawn = 0;

  private:
    std::vector<std::uint64_t> draws_;
    std::size_t next_ = 0;
    SeededRandomSource fallback_{9};
};

TEST(DeviceSerial, WithoutAStoredSerialOneIsMadeAndKept)
{
    InMemoryUserDefaults defaults;
    SeededRandomSource random(1);
    auto first = deviceSerial(defaults, random);
    EXPECT_EQ(first.size(), 11u);
    EXPECT_TRUE(first.starts_with("VT"));
    EXPECT_EQ(first.find_first_not_of("ABCDEFGHJKLMNPQRSTUVWXYZ23456789"), std::string::npos) << first;
    EXPECT_EQ(deviceSerial(defaults, random), first);
    EXPECT_EQ(defaults.string(deviceSerialKey), first);
}

TEST(DeviceSerial, AStoredSerialIsKeptOnlyWhenItIsElevenCapitalsOrDigits)
{
    struct Case {
        DefaultsValue stored;
        bool kept;
    };
    const Case cases[] = {
        {std::string("VT23456789A"), true},
        {std::string("IO01IO01IO0"), true},
        {std::string("XXXXXXXXXXX"), true},
        {std::string("vtabcdefghj"), false},
        {std::string("VT2345678"), false},
        {std::string("VT23456789AB"), false},
        {std::string("VT2345-789A"), false},
        {std::string("VT23456789É"), false},
        {std::string("VT2345\n789A"), false},
        {std::string(""), false},
        {12345678901.0, false},
        {true, false},
    };
    for (const auto &c : cases) {
        InMemoryUserDefaults defaults(
            std::map<std::string, DefaultsValue, std::less<>>{{std::string(deviceSerialKey), c.stored}});
        SeededRandomSource random(2);
        auto serial = deviceSerial(defaults, random);
        if (c.kept) {
            EXPECT_EQ(DefaultsValue(serial), c.stored);
        } else {
            EXPECT_TRUE(serial.starts_with("VT")) << serial;
            EXPECT_EQ(defaults.string(deviceSerialKey), serial) << "the replacement is stored";
        }
    }
}

TEST(DeviceSerial, CharactersAreDrawnWithoutBias)
{
    // 2^64 is a multiple of 32, so every draw counts: draw n gives alphabet[n mod 32].
    ScriptedRandomSource random({0, 31, 32, 8, 9, 14, 22, 23, 24});
    EXPECT_EQ(makeDeviceSerial(random), "VTA9AJKQYZ2");
    EXPECT_EQ(random.drawn, 9u);
}

TEST(ByteCount, WritesTheCountAsGLibDoes)
{
    // g_format_size follows LC_NUMERIC and the message catalogue; the C locale is its neutral form.
    std::setlocale(LC_ALL, "C");
    constexpr auto maximum = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t sizes[] = {0,
                                   1,
                                   2,
                                   999,
                                   1000,
                                   1049,
                                   1050,
                                   1949,
                                   1950,
                                   99'949,
                                   99'950,
                                   999'949,
                                   999'950,
                                   999'999,
                                   1'000'000,
                                   1'234'567'890,
                                   999'950'000,
                                   500'107'862'016,
                                   1'099'511'627'776,
                                   999'999'999'999'999'999,
                                   1'000'000'000'000'000'000,
                                   maximum};
    for (auto size : sizes) {
        gchar *expected = g_format_size(size);
        EXPECT_EQ(formatByteCount(size), expected) << size;
        g_free(expected);
    }
    EXPECT_EQ(formatByteCount(500'107'862'016), "500.1\u00A0GB");
}

TEST(AboutRecord, MissingFactsReadAsTheirFallbacks)
{
    FakeHostFacts host;
    InMemoryUserDefaults defaults(std::map<std::string, DefaultsValue, std::less<>>{
        {std::string(deviceSerialKey), std::string("VT23456789A")}});
    SeededRandomSource random(3);

    host.name = "Ada’s Laptop";
    host.space = {500'107'862'016, 1'234'567'890};
    auto record = aboutRecord(host, defaults, random, "2.3.4");
    EXPECT_EQ(boost::json::serialize(record),
              "{\"relatedMac\":\"Ada’s Laptop\",\"capacity\":\"500.1\u00A0GB\","
              "\"available\":\"1.2\u00A0GB\",\"version\":\"2.3.4\",\"serial\":\"VT23456789A\"}");

    for (std::optional<std::string> name : {std::optional<std::string>(), std::optional<std::string>("")}) {
        host.name = name;
        host.space = {std::nullopt, 0};
        record = aboutRecord(host, defaults, random, "");
        EXPECT_EQ(record.at("relatedMac"), "This Mac");
        EXPECT_EQ(record.at("capacity"), "—");
        EXPECT_EQ(record.at("available"), "0 bytes");
        EXPECT_EQ(record.at("version"), "0.1.0");
    }
}

} // namespace
} // namespace wheelbox::test
