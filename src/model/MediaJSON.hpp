#pragma once

#include "model/MediaItem.hpp"
#include "model/MediaList.hpp"
#include "model/NowPlayingState.hpp"

#include <boost/json/value.hpp>

#include <stdexcept>
#include <string>

namespace wheelbox {

// A record that JSON cannot represent (a NaN or infinite time) or a JSON value that is not a
// record. Nothing partial is ever produced.
class JSONCodingError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The JSON object form of each record: keys are the field names in field order. A row leaves out
// an absent subtitle, checked flag or detail; a now-playing reading writes an absent optional as
// null, except `shuffle` ("On" / "Off"), which is left out when unknown.
boost::json::value toJSON(const MediaItem &item);
boost::json::value toJSON(const MediaList &list);
// The list's keys plus "count", "offset", "revision" and, for a sorted list, "sections" as
// [{"initial": "A", "index": 0}, ...].
boost::json::value toJSON(const MediaListWindow &window);
boost::json::value toJSON(const NowPlayingState &state); // throws JSONCodingError

} // namespace wheelbox
