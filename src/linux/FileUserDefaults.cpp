#include "linux/FileUserDefaults.hpp"

#include "lib/icu/Unicode.hpp"
#include "lib/json/ExactJSON.hpp"
#include "lib/posix/FileDescriptor.hpp"

#include <boost/json/serialize.hpp>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <system_error>
#include <utility>

namespace wheelbox {
namespace {

// A settings file is a few kilobytes; anything this large is not one of ours.
constexpr std::size_t largestFile = 16 * 1024 * 1024;

using posix::FileDescriptor;

std::string errorText(int error)
{
    return std::system_category().message(error);
}

bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

struct FileContents {
    std::string text;
    // 0, or the errno of the failure; EFBIG when the file exceeds the limit.
    int error = 0;
    // False for a folder, a FIFO or a device in the file's place.
    bool regular = true;
};

FileContents readFile(const std::filesystem::path &path, std::size_t limit)
{
    // Non-blocking, so that a FIFO in the file's place is found out rather than waited on.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return {{}, errno};
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        return {{}, errno};
    if (!S_ISREG(info.st_mode))
        return {{}, 0, false};
    FileContents contents;
    std::array<char, 65536> buffer{};
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return {{}, errno};
        }
        if (got == 0)
            return contents;
        contents.text.append(buffer.data(), static_cast<std::size_t>(got));
        if (contents.text.size() > limit)
            return {{}, EFBIG};
    }
}

std::string jsonNumber(double value)
{
    // "-0" reads back as the integer 0; "-0.0" keeps the value exactly as it was.
    if (value == 0 && std::signbit(value))
        return "-0.0";
    std::array<char, 32> buffer{};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return error == std::errc() ? std::string(buffer.data(), end) : std::string("0");
}

// Boost.JSON writes an infinity as "Infinity", which no JSON parser reads, so the next start would
// move the whole file aside. A number past the range of a double ("1e400") makes one, and is written
// back as one still past it; the file never gives a NaN, but one would be written as 0.
void appendJSON(std::string &text, const boost::json::value &value)
{
    if (const auto *array = value.if_array()) {
        text += '[';
        for (std::size_t i = 0; i < array->size(); ++i) {
            if (i)
                text += ',';
            appendJSON(text, (*array)[i]);
        }
        text += ']';
    } else if (const auto *object = value.if_object()) {
        text += '{';
        bool first = true;
        for (const auto &entry : *object) {
            if (!std::exchange(first, false))
                text += ',';
            text += boost::json::serialize(boost::json::string_view(entry.key()));
            text += ':';
            appendJSON(text, entry.value());
        }
        text += '}';
    } else if (const auto *number = value.if_double(); number && !std::isfinite(*number)) {
        text += std::isnan(*number) ? "0" : *number > 0 ? "1e999" : "-1e999";
    } else {
        text += boost::json::serialize(value);
    }
}

std::string timestamp(std::chrono::system_clock::time_point time)
{
    std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y%m%dT%H%M%SZ", &parts);
    return text.data();
}

} // namespace

std::filesystem::path FileUserDefaults::defaultFolder()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and ignored, as every XDG-aware program does.
    if (config && config[0] == '/')
        return std::filesystem::path(config) / "wheelbox";
    const char *home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/") / ".config" / "wheelbox";
}

FileUserDefaults::FileUserDefaults(std::filesystem::path folder, const Clock &clock, Reporter report,
                                   std::chrono::milliseconds delay)
    : folder_(std::move(folder)), file_(folder_ / fileName), report_(std::move(report)), delay_(delay)
{
    if (!report_)
        report_ = [](std::string_view message) {
            std::cerr << "wheelbox: " << message << '\n';
        };
    load(clock);
}

FileUserDefaults::~FileUserDefaults()
{
    if (writer_.joinable()) {
        writer_.request_stop();
        writer_.join();
    }
    flush();
}

void FileUserDefaults::load(const Clock &clock)
{
    auto contents = readFile(file_, largestFile);
    // No file yet; a folder path that runs into a file shows up when the first change is written.
    if (contents.error == ENOENT || contents.error == ENOTDIR)
        return;
    if (!contents.regular) {
        moveAside(clock, "is not a file");
        return;
    }
    if (contents.error == EFBIG) {
        moveAside(clock, "is too large to be a settings file");
        return;
    }
    if (contents.error) {
        // Nothing says the file is damaged: it may be another user's, or the disk or the descriptor
        // table may be failing for the moment. It stays as it is, for a run that can read it.
        persists_ = false;
        report_(file_.string() + " cannot be read (" + errorText(contents.error) +
                "); it is left as it is, the settings start from their defaults, and changes are kept "
                "only until the program ends.");
        return;
    }
    boost::json::error_code error;
    // Read exactly, so that a number written back in its shortest form reads back as itself.
    auto parsed = parseExactJSON(contents.text, error);
    if (error) {
        moveAside(clock, "is not valid JSON: " + error.message());
        return;
    }
    if (!parsed.is_object()) {
        moveAside(clock, "does not hold a JSON object");
        return;
    }
    // A number past the range of a double stays in the file, as an entry the store cannot hold: no
    // setting is infinite.
    loading_ = true;
    for (const auto &entry : parsed.as_object()) {
        const auto &value = entry.value();
        if (value.is_bool())
            set(entry.key(), value.get_bool());
        else if (value.is_number() && std::isfinite(value.to_number<double>()))
            set(entry.key(), value.to_number<double>());
        else if (value.is_string())
            set(entry.key(), std::string(value.get_string()));
        else
            foreign_.insert_or_assign(entry.key(), value);
    }
    loading_ = false;
}

void FileUserDefaults::moveAside(const Clock &clock, std::string_view why)
{
    std::string message = file_.string() + " " + std::string(why);
    auto base = file_.string() + ".corrupt-" + timestamp(clock.now());
    for (int attempt = 1; attempt <= 100; ++attempt) {
        auto target = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        if (::renameat2(AT_FDCWD, file_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            report_(message + "; it was moved to " + target + " and the settings start from their defaults.");
            return;
        }
        if (errno != EEXIST)
            break;
    }
    persists_ = false;
    report_(message + " and could not be moved aside (" + errorText(errno) +
            "); it is left as it is and settings changes are kept only until the program ends.");
}

void FileUserDefaults::changed()
{
    if (loading_ || !persists_)
        return;
    std::unique_lock guard(pendingLock_);
    // The first change of a burst sets the time; later ones ride along.
    if (!due_)
        due_ = std::chrono::steady_clock::now() + delay_;
    if (!writer_.joinable()) {
        try {
            writer_ = std::jthread([this](std::stop_token stop) { writeLoop(std::move(stop)); });
        } catch (const std::system_error &) {
            // No thread to be had: this change is written now, on the caller's thread.
            guard.unlock();
            flush();
            return;
        }
    }
    wake_.notify_one();
}

void FileUserDefaults::writeLoop(std::stop_token stop)
{
    std::unique_lock pending(pendingLock_);
    // A stop leaves what is pending to the destructor.
    while (wake_.wait(pending, stop, [this] { return due_.has_value(); }) && !stop.stop_requested()) {
        auto due = *due_;
        // Until it is due, unless a flush wrote it meanwhile.
        if (wake_.wait_until(pending, stop, due, [this, due] { return due_ != due; }) ||
            stop.stop_requested())
            continue;
        pending.unlock();
        flush();
        pending.lock();
    }
}

void FileUserDefaults::flush()
{
    if (!persists_)
        return;
    // The write lock is taken first, so a flush returns only once whatever was pending is written,
    // by this call or by the writer thread; the snapshot is taken under it, so the last writer
    // writes the newest state.
    std::lock_guard written(writeLock_);
    {
        std::lock_guard guard(pendingLock_);
        if (!due_)
            return;
        due_.reset();
    }
    write(serialized(stored()));
}

std::string FileUserDefaults::serialized(const std::map<std::string, DefaultsValue, std::less<>> &values)
{
    std::map<std::string, std::string, std::less<>> lines;
    for (const auto &entry : foreign_) {
        if (!values.contains(std::string_view(entry.key()))) {
            std::string text;
            appendJSON(text, entry.value());
            lines.emplace(entry.key(), std::move(text));
        }
    }
    for (const auto &[key, value] : values) {
        const auto *text = std::get_if<std::string>(&value);
        const auto *number = std::get_if<double>(&value);
        bool savable = icu::isValidUTF8(key) && (!text || icu::isValidUTF8(*text)) &&
                       (!number || std::isfinite(*number));
        if (!savable && unsavedReported_.insert(key).second) {
            if (number)
                report_("the setting \"" + key +
                        "\" is not a finite number and is kept only until the program ends.");
            else
                report_("a setting" + std::string(icu::isValidUTF8(key) ? " \"" + key + "\"" : "") +
                        " is not UTF-8 text and is kept only until the program ends.");
        }
        if (!savable)
            continue;
        if (text)
            lines.emplace(key, boost::json::serialize(boost::json::string_view(*text)));
        else if (number)
            lines.emplace(key, jsonNumber(*number));
        else
            lines.emplace(key, std::get<bool>(value) ? "true" : "false");
    }
    std::string json = "{";
    for (const auto &[key, value] : lines) {
        json += json.size() == 1 ? "\n  " : ",\n  ";
        json += boost::json::serialize(boost::json::string_view(key));
        json += ": ";
        json += value;
    }
    json += lines.empty() ? "}\n" : "\n}\n";
    return json;
}

void FileUserDefaults::write(const std::string &text)
{
    auto fail = [&](std::string_view step, int error) {
        if (!reportedWriteFailure_)
            report_("settings cannot be saved in " + folder_.string() + " (" + std::string(step) + ": " +
                    errorText(error) + "); changes are kept only until the program ends.");
        reportedWriteFailure_ = true;
    };
    std::error_code created;
    std::filesystem::create_directories(folder_, created);
    std::string temporary = (folder_ / (std::string(fileName) + ".XXXXXX")).string();
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0)
        return fail("create", errno);
    if (!writeAll(fd.get(), text) || ::fsync(fd.get()) != 0 || !fd.reset()) {
        int error = errno;
        ::unlink(temporary.c_str());
        return fail("write", error);
    }
    if (::rename(temporary.c_str(), file_.c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        return fail("rename", error);
    }
    // The rename lives in the folder: make it durable too.
    FileDescriptor folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0 || ::fsync(folder.get()) != 0)
        return fail("sync", errno);
    reportedWriteFailure_ = false;
}

} // namespace wheelbox
