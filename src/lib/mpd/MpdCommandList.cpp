#include "lib/mpd/MpdCommandList.hpp"

namespace wheelbox::mpd {

MpdCommandList::MpdCommandList(const MpdConnection &connection) : connection_(connection)
{
    if (!mpd_command_list_begin(connection_.get(), false))
        connection_.check();
}

void MpdCommandList::commit()
{
    // A send that failed left its error on the connection; ending and finishing then fail as well.
    mpd_command_list_end(connection_.get());
    mpd_response_finish(connection_.get());
    connection_.check();
}

} // namespace wheelbox::mpd
