#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

// The private services of tests/services/up reach the tests through environment variables.
namespace wheelbox::test {

inline std::optional<std::string> serviceVariable(const char *name)
{
    const char *value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}

inline bool servicesRequired()
{
    auto required = serviceVariable("WHEELBOX_REQUIRE_SERVICES");
    return required && *required == "1";
}

} // namespace wheelbox::test

// Reads a service variable into `target`; without it the test skips, or fails when the run
// requires the services. Only in a test body or SetUp().
#define WHEELBOX_SERVICE_VARIABLE(target, name)                                                              \
    do {                                                                                                     \
        auto wheelboxValue = ::wheelbox::test::serviceVariable(name);                                        \
        if (!wheelboxValue) {                                                                                \
            if (::wheelbox::test::servicesRequired())                                                        \
                FAIL() << name << " is not set: start tests/services/up";                                    \
            GTEST_SKIP() << name << " is not set: start tests/services/up to run this test";                 \
        }                                                                                                    \
        target = std::move(*wheelboxValue);                                                                  \
    } while (false)
