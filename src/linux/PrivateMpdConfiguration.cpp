#include "linux/PrivateMpdConfiguration.hpp"

#include "linux/UserFolders.hpp"

#include <glib.h>

#include <cstdlib>
#include <sys/un.h>

namespace wheelbox {
namespace {

// A double-quoted value of mpd.conf: MPD's tokenizer takes \" and \\ inside quotes.
std::string quoted(const std::filesystem::path &path)
{
    const std::string &text = path.native();
    if (text.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos)
        throw std::invalid_argument("MPD's configuration cannot hold this folder name: " + text);
    std::string out = "\"";
    for (char character : text) {
        if (character == '"' || character == '\\')
            out += '\\';
        out += character;
    }
    return out + "\"";
}

std::filesystem::path home()
{
    return g_get_home_dir();
}

bool pathExists(const std::filesystem::path &path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

} // namespace

PrivateMpdConfiguration PrivateMpdConfiguration::forUser()
{
    PrivateMpdConfiguration configuration;
    const char *music = g_get_user_special_dir(G_USER_DIRECTORY_MUSIC);
    // GLib names the home folder itself for a folder the user turned off in user-dirs.dirs.
    if (music && std::filesystem::path(music) != home())
        configuration.musicDirectory = music;
    else
        configuration.musicDirectory = home() / "Music";
    configuration.stateDirectory = userFolders::state() / "mpd";
    configuration.runtimeDirectory = userFolders::runtime();
    configuration.outputs = detectOutputs();
    return configuration;
}

std::vector<PrivateMpdConfiguration::Output> PrivateMpdConfiguration::detectOutputs()
{
    const char *server = std::getenv("PULSE_SERVER");
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    // PipeWire serves the same socket through pipewire-pulse.
    if ((server && *server) ||
        (runtime && *runtime && pathExists(std::filesystem::path(runtime) / "pulse" / "native")))
        return {Output::pulse};
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/dev/snd", error)) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("pcmC") && name.ends_with("p"))
            return {Output::alsa};
    }
    return {};
}

std::string PrivateMpdConfiguration::text() const
{
    if (socket().native().size() >= sizeof(sockaddr_un::sun_path))
        throw std::invalid_argument("The folder for MPD's socket has too long a name: " +
                                    runtimeDirectory.string());
    std::string text = "# Written by Wheelbox at every start of the MPD it runs for you.\n";
    auto line = [&text](std::string_view key, const std::string &value) {
        text += std::string(key) + std::string(24 - key.size(), ' ') + value + "\n";
    };
    line("music_directory", quoted(musicDirectory));
    line("playlist_directory", quoted(stateDirectory / "playlists"));
    line("db_file", quoted(databaseFile()));
    line("state_file", quoted(stateDirectory / "state"));
    line("log_file", quoted(logFile()));
    line("bind_to_address", quoted(socket()));
    line("auto_update", "\"yes\"");
    line("restore_paused", "\"yes\"");
    line("zeroconf_enabled", "\"no\"");
    // The default (8 MiB) is too small for the reply of listallinfo near 100,000 songs.
    line("max_output_buffer_size", "\"65536\"");
    for (Output output : outputs) {
        text += output == Output::pulse
                    ? "audio_output {\n  type       \"pulse\"\n  name       \"Wheelbox (PulseAudio)\"\n"
                    : "audio_output {\n  type       \"alsa\"\n  name       \"Wheelbox (ALSA)\"\n";
        text += "  mixer_type \"software\"\n}\n";
    }
    // Keeps time where there is no sound, so positions, seeks and the end of a song behave as on a
    // desktop with speakers.
    text +=
        "audio_output {\n  type       \"null\"\n  name       \"Wheelbox (silent)\"\n  sync       \"yes\"\n"
        "  mixer_type \"software\"\n}\n";
    return text;
}

} // namespace wheelbox
