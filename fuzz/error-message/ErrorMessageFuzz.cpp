// A failed script's standard error, as the runner turns it into the text the user reads.
#include "FuzzCheck.hpp"
#include "lib/icu/Unicode.hpp"
#include "transport/AppleScript.hpp"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view standardError(reinterpret_cast<const char *>(data), size);
    // The runner passes only UTF-8 on (anything else reads as no text at all).
    if (!wheelbox::icu::isValidUTF8(standardError))
        return 0;
    auto message = wheelbox::AppleScript::cleanErrorMessage(standardError);

    // Never empty, never padded, valid text, and nothing the error text did not hold.
    WHEELBOX_FUZZ_CHECK(!message.empty());
    WHEELBOX_FUZZ_CHECK(wheelbox::icu::isValidUTF8(message));
    WHEELBOX_FUZZ_CHECK(wheelbox::icu::trimWhitespace(message) == message);
    WHEELBOX_FUZZ_CHECK(message == "The music player couldn’t complete the request." ||
                        standardError.find(message) != std::string_view::npos);
    return 0;
}
