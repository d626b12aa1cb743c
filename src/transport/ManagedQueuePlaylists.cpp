#include "transport/ManagedQueuePlaylists.hpp"

#include "library/ManagedQueueName.hpp"
#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"
#include "transport/MusicAppScripts.hpp"
#include "transport/ScriptRunner.hpp"

#include <exception>
#include <utility>

namespace wheelbox {

ManagedQueuePlaylists::ManagedQueuePlaylists(ScriptRunner &runner, UserDefaults &defaults,
                                             RandomSource &random)
    : runner_(runner), defaults_(defaults), random_(random)
{
    auto storedName = defaults_.string(nameKey);
    if (storedName && isManagedQueueName(*storedName)) {
        currentName_ = *storedName;
    } else {
        currentName_ = newName();
        defaults_.setString(nameKey, currentName_);
    }
    currentID_ = defaults_.string(idKey);
}

std::string ManagedQueuePlaylists::newName()
{
    return std::string(managedQueueNamePrefix) + random_.uuid().substr(0, 8);
}

std::string ManagedQueuePlaylists::beginStart()
{
    auto name = newName();
    removePending();
    defaults_.setString(pendingNameKey, name);
    return name;
}

void ManagedQueuePlaylists::abandonStart() noexcept
{
    // The start script deletes its playlist when it fails; a playlist it could not delete, or one
    // made by a start that was cut off, goes now or at the next start.
    try {
        removePending();
    } catch (const std::exception &) {
    }
}

void ManagedQueuePlaylists::finishStart(std::string id, std::string name)
{
    auto oldID = std::exchange(currentID_, std::move(id));
    auto oldName = std::exchange(currentName_, std::move(name));
    defaults_.setString(idKey, *currentID_);
    defaults_.setString(nameKey, currentName_);
    defaults_.remove(pendingNameKey);
    deletePrevious(oldID, oldName);
}

void ManagedQueuePlaylists::removePending()
{
    auto pending = defaults_.string(pendingNameKey);
    if (!pending)
        return;
    if (!isManagedQueueName(*pending)) {
        defaults_.remove(pendingNameKey);
        return;
    }
    if (defaults_.string(nameKey) == pending && defaults_.string(idKey)) {
        defaults_.remove(pendingNameKey);
        return;
    }
    runner_.run(musicScripts::deletePendingPlaylistsNamed(*pending), deleteTimeout);
    defaults_.remove(pendingNameKey);
}

void ManagedQueuePlaylists::deletePrevious(const std::optional<std::string> &oldID,
                                           const std::string &oldName)
{
    try {
        if (oldID) {
            if (oldID == currentID_)
                return;
            if (!oldID->empty()) {
                runner_.run(musicScripts::deletePlaylistsWithID(*oldID), deleteTimeout);
                return;
            }
        } else if (!currentID_) {
            return;
        }
        // Only a name of ours is ever deleted by name; the user's playlists are never touched.
        if (isManagedQueueName(oldName))
            runner_.run(musicScripts::deletePlaylistsNamed(oldName), deleteTimeout);
    } catch (const std::exception &) {
        // The new queue plays on. The old playlist, which nothing records as current any more, is
        // recorded as pending instead, so the next start deletes it rather than leaving it behind
        // for good (a newer request cuts this script off whenever it supersedes this one).
        if (isManagedQueueName(oldName))
            defaults_.setString(pendingNameKey, oldName);
    }
}

} // namespace wheelbox
