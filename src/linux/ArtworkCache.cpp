#include "linux/ArtworkCache.hpp"

#include "lib/posix/FileDescriptor.hpp"
#include "lib/posix/RegularFile.hpp"
#include "model/PersistentID.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

namespace wheelbox {
namespace {

namespace fs = std::filesystem;

constexpr int sizeCount = 2; // ArtworkSize::cover and ArtworkSize::row
constexpr std::string_view absentFileName = "absent";
constexpr std::string_view temporaryPrefix = ".tmp-";
// No entry is anywhere near this; a larger file is not one of ours.
constexpr std::size_t largestEntry = 4 * 1024 * 1024;
constexpr std::size_t largestAbsentFile = 8 * 1024 * 1024;

bool writeAll(int descriptor, const void *data, std::size_t size)
{
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t written = ::write(descriptor, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Written aside and renamed into place, so a reader never sees half an entry. Not synced: a cover
// lost in a crash is read again.
bool writeFile(const fs::path &path, const void *data, std::size_t size)
{
    std::string temporary = (path.parent_path() / temporaryPrefix).native() + "XXXXXX";
    posix::FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!file.isOpen())
        return false;
    bool written = ::fchmod(file.get(), 0600) == 0 && writeAll(file.get(), data, size);
    written = file.reset() && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::int64_t secondsOf(std::chrono::system_clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

} // namespace

ArtworkCache::ArtworkCache(Settings settings) : settings_(std::move(settings))
{
    std::error_code error;
    fs::create_directories(settings_.folder, error);
    usable_ = !error && fs::is_directory(settings_.folder, error);
    if (!usable_)
        return;
    std::lock_guard guard(lock_);
    scan();
    loadAbsent();
    evict(std::nullopt);
}

fs::path ArtworkCache::pathOf(const ArtworkName &name) const
{
    return settings_.folder / formatArtworkName(name);
}

void ArtworkCache::scan()
{
    std::error_code error;
    for (fs::directory_iterator entry(settings_.folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const auto fileName = entry->path().filename().native();
        if (fileName.starts_with(temporaryPrefix)) {
            fs::remove(entry->path(), error);
            continue;
        }
        auto name = parseArtworkName(fileName);
        std::error_code statusError;
        // A link is never one of ours: nothing is read through one.
        if (!name || !entry->is_regular_file(statusError) || entry->is_symlink(statusError))
            continue;
        const auto bytes = entry->file_size(statusError);
        if (statusError || bytes == 0 || bytes > largestEntry) {
            fs::remove(entry->path(), statusError);
            continue;
        }
        auto &cover = covers_[name->key];
        cover.bytes += bytes;
        cover.sizes += 1;
        cover.lastUse = std::max(cover.lastUse, entry->last_write_time(statusError));
    }
    // A cover with a size missing (a write cut short) is read again whole.
    for (auto it = covers_.begin(); it != covers_.end();) {
        if (it->second.sizes != sizeCount) {
            removeFiles(it->first);
            it = covers_.erase(it);
        } else {
            bytes_ += it->second.bytes;
            ++it;
        }
    }
}

void ArtworkCache::loadAbsent()
{
    auto read =
        posix::readRegularFile(settings_.folder / absentFileName, largestAbsentFile, posix::FollowLinks::no);
    auto *data = std::get_if<std::vector<std::byte>>(&read);
    if (!data)
        return;
    const auto now = settings_.clock->now();
    std::string_view text(reinterpret_cast<const char *>(data->data()), data->size());
    std::size_t lines = 0;
    while (!text.empty()) {
        auto end = text.find('\n');
        auto line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lines;
        auto space = line.find(' ');
        auto key = parsePersistentID(line.substr(0, space));
        std::int64_t seconds = 0;
        if (!key || space == std::string_view::npos)
            continue;
        auto number = line.substr(space + 1);
        auto [stop, error] = std::from_chars(number.data(), number.data() + number.size(), seconds);
        if (error != std::errc() || stop != number.data() + number.size())
            continue;
        const std::chrono::system_clock::time_point when{std::chrono::seconds(seconds)};
        if (covers_.contains(*key) || when > now || now - when >= settings_.absentFor)
            continue;
        auto &known = absent_[*key];
        known = std::max(known, when);
    }
    absentLines_ = lines;
    if (lines != absent_.size())
        rewriteAbsent();
}

void ArtworkCache::rewriteAbsent()
{
    std::string text;
    for (const auto &[key, when] : absent_)
        text += formatPersistentID(key) + " " + std::to_string(secondsOf(when)) + "\n";
    if (writeFile(settings_.folder / absentFileName, text.data(), text.size()))
        absentLines_ = absent_.size();
}

void ArtworkCache::appendAbsent(std::uint64_t key, std::chrono::system_clock::time_point when)
{
    // One line each, appended: a library of albums without covers never rewrites a growing file.
    const std::string line = formatPersistentID(key) + " " + std::to_string(secondsOf(when)) + "\n";
    posix::FileDescriptor file(::open((settings_.folder / absentFileName).c_str(),
                                      O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.isOpen() && writeAll(file.get(), line.data(), line.size()))
        ++absentLines_;
    // Expired and repeated lines go when they outnumber the ones that count.
    if (absentLines_ > 1024 && absentLines_ > 2 * absent_.size())
        rewriteAbsent();
}

ArtworkCache::State ArtworkCache::state(std::uint64_t key) const
{
    std::lock_guard guard(lock_);
    if (covers_.contains(key))
        return State::present;
    auto absent = absent_.find(key);
    if (absent != absent_.end() && settings_.clock->now() - absent->second < settings_.absentFor)
        return State::absent;
    return State::unknown;
}

std::uint64_t ArtworkCache::size() const
{
    std::lock_guard guard(lock_);
    return bytes_;
}

bool ArtworkCache::store(std::uint64_t key, const std::vector<ScaledArtwork> &pictures)
{
    if (!usable_ || pictures.size() != sizeCount)
        return false;
    std::uint64_t bytes = 0;
    for (const auto &picture : pictures)
        bytes += picture.data.size();
    if (bytes > settings_.byteLimit)
        return false;
    for (const auto &picture : pictures) {
        if (!writeFile(pathOf({key, picture.size}), picture.data.data(), picture.data.size())) {
            std::lock_guard guard(lock_);
            removeFiles(key);
            if (auto found = covers_.find(key); found != covers_.end()) {
                bytes_ -= found->second.bytes;
                covers_.erase(found);
            }
            return false;
        }
    }
    std::lock_guard guard(lock_);
    auto &cover = covers_[key];
    bytes_ -= cover.bytes;
    cover = Cover{bytes, sizeCount, fs::file_time_type::clock::now()};
    bytes_ += bytes;
    absent_.erase(key);
    evict(key);
    return true;
}

void ArtworkCache::markAbsent(std::uint64_t key)
{
    if (!usable_)
        return;
    std::lock_guard guard(lock_);
    if (covers_.contains(key))
        return;
    const auto now = settings_.clock->now();
    absent_[key] = now;
    appendAbsent(key, now);
}

std::optional<ArtworkEntry> ArtworkCache::read(const ArtworkName &name)
{
    Cover seen;
    {
        std::lock_guard guard(lock_);
        auto found = covers_.find(name.key);
        if (found == covers_.end())
            return std::nullopt;
        seen = found->second;
    }
    const auto path = pathOf(name);
    auto read = posix::readRegularFile(path, largestEntry, posix::FollowLinks::no);
    auto *data = std::get_if<std::vector<std::byte>>(&read);
    auto format = data ? pictureFormat(*data) : std::nullopt;
    if (!format) {
        // Gone (the user cleared the cache) or spoilt: the cover is read again, not taken for
        // present while it can never be shown. Unless a store has replaced it meanwhile.
        std::lock_guard guard(lock_);
        auto found = covers_.find(name.key);
        if (found != covers_.end() && found->second.bytes == seen.bytes &&
            found->second.lastUse == seen.lastUse) {
            removeFiles(name.key);
            bytes_ -= found->second.bytes;
            covers_.erase(found);
        }
        return std::nullopt;
    }
    const auto now = fs::file_time_type::clock::now();
    std::error_code error;
    fs::last_write_time(path, now, error);
    {
        std::lock_guard guard(lock_);
        if (auto found = covers_.find(name.key); found != covers_.end())
            found->second.lastUse = now;
    }
    return ArtworkEntry{std::move(*data), std::string(format->mimeType)};
}

void ArtworkCache::removeFiles(std::uint64_t key)
{
    std::error_code error;
    for (auto size : {ArtworkSize::cover, ArtworkSize::row})
        fs::remove(pathOf({key, size}), error);
}

void ArtworkCache::evict(std::optional<std::uint64_t> keep)
{
    while (bytes_ > settings_.byteLimit) {
        auto oldest = covers_.end();
        for (auto it = covers_.begin(); it != covers_.end(); ++it) {
            if (it->first == keep)
                continue;
            if (oldest == covers_.end() ||
                std::tie(it->second.lastUse, it->first) < std::tie(oldest->second.lastUse, oldest->first))
                oldest = it;
        }
        if (oldest == covers_.end())
            return;
        removeFiles(oldest->first);
        bytes_ -= oldest->second.bytes;
        covers_.erase(oldest);
    }
}

} // namespace wheelbox
