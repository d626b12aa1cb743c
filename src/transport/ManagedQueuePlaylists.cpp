#include "transport/ManagedQueuePlaylists.hpp"

#include "library/ManagedQueueName.hpp"
#include "platform/RandomSource.hpp"
#include "platform/UserDefaults.hpp"
#include "transport/MusicAppScripts.hpp"
#include "transport/ScriptRunner.hpp"

#include <algorithm>
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
        currentID_ = defaults_.string(idKey);
    } else {
        currentName_ = newName();
        defaults_.setString(nameKey, currentName_);
        // An ID recorded beside a name that is not ours is no playlist of ours: paired with the new
        // name, the next start would delete it.
        defaults_.remove(idKey);
    }
}

std::string ManagedQueuePlaylists::newName()
{
    return std::string(managedQueueNamePrefix) + random_.uuid().substr(0, 8);
}

std::string ManagedQueuePlaylists::beginStart()
{
    auto name = newName();
    auto pending = defaults_.string(pendingNameKey);
    try {
        removePending();
        if (pending)
            std::erase(leftOver_, *pending);
    } catch (const std::exception &) {
        // The start goes ahead; the old playlist is tried again once it has.
        if (std::find(leftOver_.begin(), leftOver_.end(), *pending) == leftOver_.end())
            leftOver_.push_back(*pending);
    }
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
    retryLeftOver();
}

void ManagedQueuePlaylists::retryLeftOver()
{
    std::erase_if(leftOver_, [this](const std::string &name) {
        try {
            runner_.run(musicScripts::deletePendingPlaylistsNamed(name), deleteTimeout);
            return true;
        } catch (const std::exception &) {
            return false;
        }
    });
    // The one pending slot carries what is still left into the next start, or the next run.
    if (!leftOver_.empty() && !defaults_.string(pendingNameKey))
        defaults_.setString(pendingNameKey, leftOver_.front());
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
    // Only a playlist recorded under a name of ours is ever deleted, by its ID as by its name: the
    // user's playlists are never touched.
    if (!isManagedQueueName(oldName))
        return;
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
        runner_.run(musicScripts::deletePlaylistsNamed(oldName), deleteTimeout);
    } catch (const std::exception &) {
        // The new queue plays on. The old playlist, which nothing records as current any more, is
        // recorded as pending instead, so the next start deletes it rather than leaving it behind
        // for good (a newer request cuts this script off whenever it supersedes this one).
        defaults_.setString(pendingNameKey, oldName);
    }
}

} // namespace wheelbox
