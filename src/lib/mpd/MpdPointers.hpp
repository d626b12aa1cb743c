#pragma once

#include <mpd/client.h>

#include <memory>

// One owner per libmpdclient handle.
namespace wheelbox::mpd {

struct Deleter {
    void operator()(mpd_connection *connection) const noexcept { mpd_connection_free(connection); }
    void operator()(mpd_song *song) const noexcept { mpd_song_free(song); }
    void operator()(mpd_status *status) const noexcept { mpd_status_free(status); }
    void operator()(mpd_playlist *playlist) const noexcept { mpd_playlist_free(playlist); }
    void operator()(mpd_stats *stats) const noexcept { mpd_stats_free(stats); }
};

using ConnectionPtr = std::unique_ptr<mpd_connection, Deleter>;
using SongPtr = std::unique_ptr<mpd_song, Deleter>;
using StatusPtr = std::unique_ptr<mpd_status, Deleter>;
using PlaylistPtr = std::unique_ptr<mpd_playlist, Deleter>;
using StatsPtr = std::unique_ptr<mpd_stats, Deleter>;

} // namespace wheelbox::mpd
