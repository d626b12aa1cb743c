#pragma once

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

// The private services of tests/services/up, found through the variables its env file sets.
namespace wheelbox::osascript::test {

inline std::string serviceVariable(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

inline bool servicesRequired()
{
    return serviceVariable("WHEELBOX_REQUIRE_SERVICES") == "1";
}

} // namespace wheelbox::osascript::test

// Skips the test when a service is missing, or fails it when the run requires the services.
#define WHEELBOX_REQUIRE_SERVICE(variable)                                                                   \
    do {                                                                                                     \
        if (::wheelbox::osascript::test::serviceVariable(variable).empty()) {                                \
            if (::wheelbox::osascript::test::servicesRequired())                                             \
                FAIL() << variable << " is not set: start tests/services/up";                                \
            GTEST_SKIP() << variable << " is not set: start tests/services/up";                              \
        }                                                                                                    \
    } while (false)
