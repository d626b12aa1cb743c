// The stub player of tests/services stands in for Spotify in every MPRIS test, so it must behave
// as a real player does towards a real D-Bus client.
#include "lib/glib/GLibPointers.hpp"
#include "support/ServiceEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace wheelbox {
namespace {

using ::testing::ElementsAre;

constexpr const char *playerPath = "/org/mpris/MediaPlayer2";
constexpr const char *playerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char *controlPath = "/com/velto/test/StubPlayer";
constexpr const char *controlInterface = "com.velto.test.StubPlayer";

class StubPlayerTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string address;
        WHEELBOX_SERVICE_VARIABLE(address, "WHEELBOX_TEST_DBUS_ADDRESS");
        WHEELBOX_SERVICE_VARIABLE(name_, "WHEELBOX_TEST_MPRIS_NAME");
        // Signals are delivered to the context that is the thread default when subscribing.
        g_main_context_push_thread_default(context_.get());
        GError *error = nullptr;
        auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
        bus_.reset(g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr, &error));
        ASSERT_TRUE(bus_) << error->message;
        control("Reset");
    }

    void TearDown() override
    {
        if (bus_) {
            control("Reset");
            if (subscription_)
                g_dbus_connection_signal_unsubscribe(bus_.get(), subscription_);
            g_dbus_connection_close_sync(bus_.get(), nullptr, nullptr);
        }
        g_main_context_pop_thread_default(context_.get());
    }

    glib::VariantPtr call(const char *path, const char *interface, const char *method,
                          GVariant *parameters = nullptr)
    {
        GError *error = nullptr;
        glib::VariantPtr reply(g_dbus_connection_call_sync(bus_.get(), name_.c_str(), path, interface, method,
                                                           parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
                                                           nullptr, &error));
        if (!reply) {
            ADD_FAILURE() << method << ": " << error->message;
            g_clear_error(&error);
        }
        return reply;
    }

    void control(const char *method, GVariant *parameters = nullptr)
    {
        call(controlPath, controlInterface, method, parameters);
    }

    // Configure() with a GVariant text such as "{'PlaybackStatus': <'Playing'>}".
    void configure(const char *settings)
    {
        GError *error = nullptr;
        auto *value = g_variant_parse(G_VARIANT_TYPE("a{sv}"), settings, nullptr, nullptr, &error);
        ASSERT_TRUE(value) << error->message;
        control("Configure", g_variant_new_tuple(&value, 1));
    }

    std::vector<std::string> calls()
    {
        std::vector<std::string> result;
        auto reply = call(controlPath, controlInterface, "Calls");
        if (!reply)
            return result;
        glib::VariantPtr list(g_variant_get_child_value(reply.get(), 0));
        for (gsize i = 0; i < g_variant_n_children(list.get()); ++i) {
            glib::VariantPtr item(g_variant_get_child_value(list.get(), i));
            result.emplace_back(g_variant_get_string(item.get(), nullptr));
        }
        return result;
    }

    // A player property as a client reads it.
    glib::VariantPtr property(const char *name)
    {
        auto reply = call(playerPath, "org.freedesktop.DBus.Properties", "Get",
                          g_variant_new("(ss)", playerInterface, name));
        if (!reply)
            return nullptr;
        GVariant *boxed = nullptr;
        g_variant_get(reply.get(), "(v)", &boxed);
        return glib::VariantPtr(boxed);
    }

    void setProperty(const char *name, GVariant *value)
    {
        call(playerPath, "org.freedesktop.DBus.Properties", "Set",
             g_variant_new("(ssv)", playerInterface, name, value));
    }

    void player(const char *method, GVariant *parameters = nullptr)
    {
        call(playerPath, playerInterface, method, parameters);
    }

    void subscribe()
    {
        subscription_ = g_dbus_connection_signal_subscribe(
            bus_.get(), name_.c_str(), nullptr, nullptr, playerPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection *, const char *, const char *, const char *, const char *member,
               GVariant *parameters, gpointer self) {
                glib::CharPtr text(g_variant_print(parameters, TRUE));
                static_cast<StubPlayerTest *>(self)->signals_.push_back(std::string(member) + " " +
                                                                        text.get());
            },
            this, nullptr);
    }

    // Runs the context until `count` signals arrived, or five seconds passed.
    void waitForSignals(std::size_t count)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (signals_.size() < count && std::chrono::steady_clock::now() < deadline) {
            if (!g_main_context_iteration(context_.get(), FALSE))
                g_usleep(1000);
        }
    }

    std::string name_;
    glib::MainContextPtr context_{g_main_context_new()};
    glib::ObjectPtr<GDBusConnection> bus_;
    guint subscription_ = 0;
    std::vector<std::string> signals_;
};

TEST_F(StubPlayerTest, RecordsPlayerCallsAndPropertySetsInOrder)
{
    configure("{'PlaybackStatus': <'Playing'>, 'Metadata': <{'mpris:trackid': <objectpath '/t/1'>, "
              "'mpris:length': <int64 200000000>}>}");

    player("PlayPause");
    player("Pause");
    player("SetPosition", g_variant_new("(ox)", "/t/1", gint64{12000000}));
    setProperty("Volume", g_variant_new_double(0.5));
    setProperty("Shuffle", g_variant_new_boolean(TRUE));
    setProperty("LoopStatus", g_variant_new_string("Track"));

    EXPECT_THAT(calls(), ElementsAre("PlayPause", "Pause", "SetPosition /t/1 12000000", "Set Volume 0.5",
                                     "Set Shuffle true", "Set LoopStatus Track"));
    EXPECT_STREQ(g_variant_get_string(property("PlaybackStatus").get(), nullptr), "Paused");
    EXPECT_EQ(g_variant_get_double(property("Volume").get()), 0.5);
}

TEST_F(StubPlayerTest, SignalsChangesAsAPlayerDoes)
{
    configure("{'PlaybackStatus': <'Paused'>, 'Metadata': <{'mpris:trackid': <objectpath '/t/1'>, "
              "'mpris:length': <int64 200000000>}>}");
    subscribe();

    player("PlayPause");
    waitForSignals(1);
    player("SetPosition", g_variant_new("(ox)", "/t/2", gint64{1000000})); // another track: ignored
    player("Pause");
    waitForSignals(2);
    player("SetPosition", g_variant_new("(ox)", "/t/1", gint64{12000000}));
    waitForSignals(3);

    EXPECT_THAT(signals_,
                ElementsAre("PropertiesChanged ('org.mpris.MediaPlayer2.Player', {'PlaybackStatus': "
                            "<'Playing'>}, @as [])",
                            "PropertiesChanged ('org.mpris.MediaPlayer2.Player', {'PlaybackStatus': "
                            "<'Paused'>}, @as [])",
                            "Seeked (int64 12000000,)"));
}

TEST_F(StubPlayerTest, QuirksChangeWhatAClientReads)
{
    struct Case {
        const char *quirks;
        const char *trackIDType;
        const char *lengthType;
        gint64 position;
    };
    const Case cases[] = {
        {"{}", "o", "x", 5000000},
        {"{'TrackIdAsString': <true>}", "s", "x", 5000000},
        {"{'LengthAsUint64': <true>}", "o", "t", 5000000},
        {"{'PositionAlwaysZero': <true>}", "o", "x", 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.quirks);
        control("Reset");
        configure(
            "{'PlaybackStatus': <'Paused'>, 'Position': <int64 5000000>, 'Metadata': <{'mpris:trackid': "
            "<objectpath '/t/1'>, 'mpris:length': <int64 200000000>}>}");
        configure(c.quirks);

        auto metadata = property("Metadata");
        ASSERT_TRUE(metadata);
        glib::VariantPtr trackID(g_variant_lookup_value(metadata.get(), "mpris:trackid", nullptr));
        glib::VariantPtr length(g_variant_lookup_value(metadata.get(), "mpris:length", nullptr));
        ASSERT_TRUE(trackID && length);
        EXPECT_STREQ(g_variant_get_type_string(trackID.get()), c.trackIDType);
        EXPECT_STREQ(g_variant_get_type_string(length.get()), c.lengthType);
        EXPECT_EQ(g_variant_get_int64(property("Position").get()), c.position);
    }
}

} // namespace
} // namespace wheelbox
