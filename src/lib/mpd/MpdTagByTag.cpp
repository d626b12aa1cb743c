#include "lib/mpd/MpdTagByTag.hpp"

#include "lib/mpd/MpdSongTitle.hpp"

#include <string_view>

namespace wheelbox::mpd {
namespace {

enum class Received { Song, Nothing, LineTooLong };

// Feeds the song's lines of one reply into `song`, begun on the first reply. A reply listing another
// song (the current one changed meanwhile) adds nothing.
Received receiveInto(const MpdConnection &connection, SongPtr &song)
{
    auto *raw = connection.get();
    bool listed = false;
    bool same = false;
    while (mpd_pair *pair = mpd_recv_pair(raw)) {
        if (std::string_view(pair->name) == "file") {
            // The reply lists one song; anything after a second one is not asked for.
            if (!listed) {
                listed = true;
                if (!song)
                    song.reset(mpd_song_begin(pair));
                same = song && std::string_view(mpd_song_get_uri(song.get())) == pair->value;
            } else {
                same = false;
            }
        } else if (same) {
            mpd_song_feed(song.get(), pair);
        }
        mpd_return_pair(raw, pair);
    }
    try {
        connection.check();
        mpd_response_finish(raw);
        connection.check();
    } catch (const MpdError &error) {
        if (error.isLineTooLong())
            return Received::LineTooLong;
        // Looked up by a name deleted since.
        if (error.serverError() == MPD_SERVER_ERROR_NO_EXIST)
            return Received::Nothing;
        throw;
    }
    return listed ? Received::Song : Received::Nothing;
}

// Lets only `tag` travel, or none. False when the MPD cannot choose (too old for "tagtypes
// clear") or the tag is switched off in its configuration.
bool chooseTags(const MpdConnection &connection, std::span<const mpd_tag_type> tags)
{
    auto *raw = connection.get();
    bool chosen = mpd_run_clear_tag_types(raw) &&
                  (tags.empty() || mpd_run_enable_tag_types(raw, const_cast<mpd_tag_type *>(tags.data()),
                                                            static_cast<unsigned>(tags.size())));
    if (!chosen) {
        try {
            connection.check();
        } catch (const MpdError &error) {
            // A refusal leaves the connection good; anything else is a failure.
            if (!error.serverError())
                throw;
        }
    }
    return chosen;
}

} // namespace

SongPtr readSongTagByTag(MpdConnection &connection, const std::function<MpdConnection()> &reopen,
                         std::span<const mpd_tag_type> tags, const SongRequest &request)
{
    connection = reopen();
    auto ask = [&](SongPtr &song) {
        if (!request(connection.get()))
            connection.check();
        return receiveInto(connection, song);
    };
    SongPtr song;
    // With no tags the reply holds the name and the song's other lines, all short.
    if (!chooseTags(connection, {}))
        return nullptr;
    auto first = ask(song);
    if (first == Received::LineTooLong)
        connection = reopen();
    if (first != Received::Song || !song)
        return nullptr;
    bool titleTooLong = false;
    for (const auto &tag : tags) {
        // Switched off in MPD's configuration: MPD sends it for no song.
        if (!chooseTags(connection, std::span(&tag, 1)))
            continue;
        if (ask(song) == Received::LineTooLong) {
            connection = reopen();
            titleTooLong = titleTooLong || tag == MPD_TAG_TITLE;
        }
    }
    if (titleTooLong) {
        auto name = songFileTitle(mpd_song_get_uri(song.get()));
        mpd_pair title{mpd_tag_name(MPD_TAG_TITLE), name.c_str()};
        mpd_song_feed(song.get(), &title);
    }
    return song;
}

} // namespace wheelbox::mpd
