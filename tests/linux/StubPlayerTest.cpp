// The stub player of tests/services stands in for Spotify; the Spotify tests drive all it does.
// This only checks that it is up and answers as they expect, so a broken service shows here first.
#include "lib/glib/BusConnection.hpp"
#include "support/ServiceEnvironment.hpp"

#include <gtest/gtest.h>

#include <string>

namespace wheelbox {
namespace {

TEST(StubPlayerTest, IsReadyOnItsBus)
{
    std::string address;
    std::string name;
    WHEELBOX_SERVICE_VARIABLE(address, "WHEELBOX_TEST_DBUS_ADDRESS");
    WHEELBOX_SERVICE_VARIABLE(name, "WHEELBOX_TEST_MPRIS_NAME");
    auto bus = glib::connectBus(address, std::chrono::seconds(5));
    auto ask = [&](const char *path, const char *interface, const char *method, GVariant *parameters,
                   const char *replyType) {
        GError *error = nullptr;
        glib::VariantPtr reply(g_dbus_connection_call_sync(
            bus.get(), name.c_str(), path, interface, method, parameters, G_VARIANT_TYPE(replyType),
            G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, &error));
        EXPECT_TRUE(reply) << method << ": " << (error ? error->message : "");
        g_clear_error(&error);
        return reply;
    };

    ask("/com/velto/test/StubPlayer", "com.velto.test.StubPlayer", "Reset", nullptr, "()");
    auto calls = ask("/com/velto/test/StubPlayer", "com.velto.test.StubPlayer", "Calls", nullptr, "(as)");
    ASSERT_TRUE(calls);
    glib::VariantPtr list(g_variant_get_child_value(calls.get(), 0));
    EXPECT_EQ(g_variant_n_children(list.get()), 0u);

    auto properties = ask("/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties", "GetAll",
                          g_variant_new("(s)", "org.mpris.MediaPlayer2.Player"), "(a{sv})");
    ASSERT_TRUE(properties);
    glib::VariantPtr dictionary(g_variant_get_child_value(properties.get(), 0));
    for (const char *property : {"PlaybackStatus", "Metadata", "Position", "Volume", "Shuffle", "LoopStatus"})
        EXPECT_TRUE(glib::VariantPtr(g_variant_lookup_value(dictionary.get(), property, nullptr)))
            << property;
}

} // namespace
} // namespace wheelbox
