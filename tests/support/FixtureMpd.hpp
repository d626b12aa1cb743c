// An MPD of a test's own serving a database file written by the test, so that songs need no audio
// file to carry their tags: no update runs unless the test asks for one.
#pragma once

#include "lib/mpd/MpdConnection.hpp"
#include "linux/PrivateMpd.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace wheelbox::test {

// A value whose "Name: value" line is `overLimit` bytes longer than the longest line libmpdclient
// takes, made of `unit` as far as it goes.
inline std::string valueFor(std::string_view tagName, long overLimit, std::string_view unit = "x")
{
    auto bytes = static_cast<long>(mpd::longestReplyLine) - static_cast<long>(tagName.size() + 3) + overLimit;
    std::string value;
    while (static_cast<long>(value.size() + unit.size()) <= bytes)
        value += unit;
    value.append(static_cast<std::size_t>(bytes) - value.size(), 'x');
    return value;
}

struct FixtureSong {
    std::string directory, name;
    std::vector<std::pair<std::string, std::string>> tags;
    unsigned seconds = 3;
};

// The tags the database declares: every one MPD enables by default, or it discards the file.
inline constexpr const char *declaredTags =
    "Artist ArtistSort Album AlbumSort AlbumArtist AlbumArtistSort Title Track Name Genre Date OriginalDate "
    "Composer ComposerSort Performer Conductor Work Movement MovementNumber Ensemble Location Grouping Disc "
    "Label "
    "MUSICBRAINZ_ARTISTID MUSICBRAINZ_ALBUMID MUSICBRAINZ_ALBUMARTISTID MUSICBRAINZ_TRACKID "
    "MUSICBRAINZ_RELEASETRACKID MUSICBRAINZ_WORKID";

inline std::string databaseText(const std::vector<FixtureSong> &songs)
{
    std::string text = "info_begin\nformat: 2\nmpd_version: 0.23.12\nfs_charset: UTF-8\n";
    std::istringstream tags(declaredTags);
    for (std::string tag; tags >> tag;)
        text += "tag: " + tag + "\n";
    text += "info_end\n";
    std::map<std::string, std::vector<const FixtureSong *>> folders;
    for (auto &song : songs)
        folders[song.directory].push_back(&song);
    for (auto &[folder, inFolder] : folders) {
        text += "directory: " + folder + "\nmtime: 0\nbegin: " + folder + "\n";
        for (auto *song : inFolder) {
            text += "song_begin: " + song->name + "\nTime: " + std::to_string(song->seconds) + ".000000\n";
            for (auto &[name, value] : song->tags)
                text += name + ": " + value + "\n";
            text += "mtime: 0\nsong_end\n";
        }
        text += "end: " + folder + "\n";
    }
    return text;
}

// An MPD that serves a database file written from `songs` as it is, in a folder of its own, with stored
// playlists of the given entries: no update runs unless asked for, so songs without files stay. A ".wav"
// song has a file, its seconds of silence that carries its Title, Artist, Album, Genre and Track, so an
// update reads it back as it was written. Stopped and reaped when destroyed.
class FixtureMpd {
  public:
    explicit FixtureMpd(const std::vector<FixtureSong> &songs,
                        const std::map<std::string, std::string> &playlists = {})
    {
        char pattern[] = "/tmp/wheelbox-fixture-mpd.XXXXXX";
        if (!mkdtemp(pattern))
            return;
        folder_ = pattern;
        const auto &folder = folder_;
        socket_ = (folder / "socket").string();
        std::filesystem::create_directories(folder / "music");
        std::filesystem::create_directories(folder / "playlists");
        std::ofstream(folder / "database") << databaseText(songs);
        for (const auto &song : songs) {
            if (song.name.ends_with(".wav"))
                writeSong(song);
        }
        for (const auto &[name, entries] : playlists)
            std::ofstream(folder / "playlists" / (name + ".m3u")) << entries;
        auto configuration = folder / "mpd.conf";
        std::ofstream(configuration) << "music_directory \"" << (folder / "music").string() << "\"\n"
                                     << "playlist_directory \"" << (folder / "playlists").string() << "\"\n"
                                     << "db_file \"" << (folder / "database").string() << "\"\n"
                                     << "log_file \"" << (folder / "log").string() << "\"\n"
                                     << "bind_to_address \"" << socket_ << "\"\n"
                                     << "auto_update \"no\"\nzeroconf_enabled \"no\"\n"
                                     << "audio_output {\n type \"null\"\n name \"null\"\n}\n";
        start();
    }

    ~FixtureMpd()
    {
        stop();
        if (!folder_.empty())
            std::filesystem::remove_all(folder_);
    }

    FixtureMpd(const FixtureMpd &) = delete;
    FixtureMpd &operator=(const FixtureMpd &) = delete;

    bool ready() const noexcept { return ready_; }
    mpd::MpdAddress address() const { return mpd::MpdAddress{socket_, 0, std::nullopt}; }
    std::filesystem::path musicFolder() const { return folder_ / "music"; }
    std::filesystem::path playlistFolder() const { return folder_ / "playlists"; }

    // Writes a ".wav" song's file, tags in it. Each file written gets a modification time of its
    // own, so an update sees it changed however soon after the last.
    void writeSong(const FixtureSong &song)
    {
        auto path = musicFolder() / song.directory / song.name;
        writeSilence(path, song.tags, song.seconds);
        static int written = 0;
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() -
                                                   std::chrono::hours(24) + std::chrono::seconds(++written));
    }

    // Runs a database update and waits, up to 15 seconds, until MPD tells its clients that the
    // database changed. False when it did not.
    bool update()
    {
        try {
            auto watch = mpd::MpdConnection::open(address(), std::chrono::seconds(15));
            auto control = mpd::MpdConnection::open(address(), std::chrono::seconds(15));
            if (!mpd_send_idle_mask(watch.get(), MPD_IDLE_DATABASE) ||
                mpd_run_update(control.get(), nullptr) == 0)
                return false;
            return mpd_recv_idle(watch.get(), false) == MPD_IDLE_DATABASE;
        } catch (const mpd::MpdError &) {
            return false;
        }
    }

    // Stops MPD and starts it again over the same folder, database and socket.
    void restart()
    {
        stop();
        start();
    }

  private:
    void start()
    {
        ready_ = false;
        auto executable = PrivateMpd::findExecutable(std::getenv("PATH") ? std::getenv("PATH") : "");
        if (!executable)
            return;
        std::string program = executable->string(), flag = "--no-daemon",
                    file = (folder_ / "mpd.conf").string();
        char *arguments[] = {program.data(), flag.data(), file.data(), nullptr};
        if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, arguments, environ) != 0) {
            pid_ = -1;
            return;
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline && waitpid(pid_, nullptr, WNOHANG) == 0) {
            try {
                mpd::MpdConnection::open(address(), std::chrono::seconds(1));
                ready_ = true;
                return;
            } catch (const mpd::MpdError &) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    }

    void stop()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }

    // 8 kHz 8-bit mono silence, so that a ".wav" song plays, with the tags MPD reads from a RIFF INFO
    // list.
    static void writeSilence(const std::filesystem::path &path,
                             const std::vector<std::pair<std::string, std::string>> &tags, unsigned seconds)
    {
        constexpr std::uint32_t rate = 8000;
        const std::uint32_t bytes = rate * seconds;
        auto word = [](std::ostream &out, std::uint32_t value, int size) {
            for (int i = 0; i < size; ++i)
                out.put(static_cast<char>((value >> (8 * i)) & 0xff));
        };
        const std::map<std::string, std::string> infoIDs = {
            {"Title", "INAM"}, {"Artist", "IART"}, {"Album", "IPRD"}, {"Genre", "IGNR"}, {"Track", "ITRK"}};
        std::ostringstream info;
        for (const auto &[name, value] : tags) {
            auto id = infoIDs.find(name);
            if (id == infoIDs.end())
                continue;
            // Zero-terminated, padded to an even length.
            auto text = value + '\0';
            if (text.size() % 2)
                text += '\0';
            info << id->second;
            word(info, static_cast<std::uint32_t>(text.size()), 4);
            info << text;
        }
        auto list = info.str();
        auto listBytes = list.empty() ? 0 : static_cast<std::uint32_t>(12 + list.size());
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out << "RIFF";
        word(out, 36 + listBytes + bytes, 4);
        out << "WAVEfmt ";
        word(out, 16, 4);
        word(out, 1, 2); // PCM
        word(out, 1, 2); // mono
        word(out, rate, 4);
        word(out, rate, 4);
        word(out, 1, 2);
        word(out, 8, 2);
        if (!list.empty()) {
            out << "LIST";
            word(out, static_cast<std::uint32_t>(4 + list.size()), 4);
            out << "INFO" << list;
        }
        out << "data";
        word(out, bytes, 4);
        out << std::string(bytes, static_cast<char>(0x80));
    }

    std::filesystem::path folder_;
    std::string socket_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

} // namespace wheelbox::test
