#include "lib/mpd/MpdArgument.hpp"

#include "lib/mpd/MpdConnection.hpp"

#include <gtest/gtest.h>

namespace wheelbox::mpd {
namespace {

using namespace std::string_literals;

TEST(MpdArgumentTest, TextThatWouldBreakOutOfItsCommandIsRefused)
{
    struct Case {
        std::string text;
        bool accepted;
    };
    const Case cases[] = {
        {"Road Trip", true},
        {R"(quote " and \ backslash)", true},
        {"Wheelbox Queue • 0A1B2C3D", true},
        {"", true},
        {"x\nsave pwned\ny", false},
        {"x\r\nsave pwned", false},
        {"carriage\rreturn", false},
        {"Road Trip\0 and more"s, false},
        {"\n", false},
    };
    for (const Case &c : cases) {
        if (c.accepted) {
            EXPECT_EQ(argument(c.text), c.text.c_str()) << c.text;
            continue;
        }
        try {
            argument(c.text);
            ADD_FAILURE() << "accepted " << c.text;
        } catch (const MpdError &error) {
            EXPECT_EQ(error.error(), MPD_ERROR_ARGUMENT) << c.text;
        }
    }
}

TEST(MpdArgumentTest, PlaylistNamesAreThoseMpdStores)
{
    struct Case {
        std::string name;
        bool valid;
    };
    const Case cases[] = {
        {"Road Trip", true},   {"Wheelbox Queue • 0A1B2C3D", true},
        {R"("\)", true},       {"..", true},
        {"", false},           {"/", false},
        {"Mix/Part 2", false}, {"a\nb", false},
        {"a\rb", false},       {"Road Trip\0x"s, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(isValidPlaylistName(c.name), c.valid) << c.name;
}

} // namespace
} // namespace wheelbox::mpd
