#pragma once

#include "lib/mpd/MpdConnection.hpp"

namespace wheelbox::mpd {

// One command list: the commands sent through get() while it lives reach MPD as one request and
// run in order, up to the first that fails. commit() ends the list and reads every answer, so no
// send needs checking on its own. A list dropped without commit() is never sent whole, and the
// connection cannot be used again.
class MpdCommandList {
  public:
    // Throws MpdError.
    explicit MpdCommandList(const MpdConnection &connection);
    MpdCommandList(const MpdCommandList &) = delete;
    MpdCommandList &operator=(const MpdCommandList &) = delete;

    mpd_connection *get() const noexcept { return connection_.get(); }

    // Throws MpdError for the first command that failed, or for a lost connection.
    void commit();

  private:
    const MpdConnection &connection_;
};

} // namespace wheelbox::mpd
