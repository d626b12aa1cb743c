// Any bytes as the content of the user-defaults file: the store either loads them or moves the file
// aside, never crashes, and a file it loads writes back a file that loads to the same values, and
// that it writes back the same way.
#include "FuzzCheck.hpp"
#include "linux/FileUserDefaults.hpp"
#include "support/ManualClock.hpp"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <utility>

namespace {

using namespace wheelbox;
namespace fs = std::filesystem;

// A private folder on a memory file system where there is one: every change fsyncs.
const fs::path &folder()
{
    static const fs::path made = [] {
        fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (base / "wheelbox-fuzz-defaults.XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        std::atexit([] { fs::remove_all(folder()); });
        return fs::path(pattern);
    }();
    return made;
}

std::string contents(const fs::path &file)
{
    std::ifstream input(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(input), {});
}

// Rewrites the file from the store's values: setting a key to the value it has is a change. The
// file may hold the probe's key itself, so its value is put back as it was.
void rewrite(FileUserDefaults &store)
{
    constexpr std::string_view probe = "wheelbox.fuzz.probe";
    if (auto had = store.value(probe)) {
        store.set(probe, std::move(*had));
    } else {
        store.setBool(probe, true);
        store.remove(probe);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto &at = folder();
    for (const auto &entry : fs::directory_iterator(at))
        fs::remove_all(entry.path());
    const fs::path file = at / FileUserDefaults::fileName;
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));

    test::ManualClock clock;
    bool reported = false;
    auto listen = [&](std::string_view) {
        reported = true;
    };

    FileUserDefaults first(at, clock, listen);
    if (!fs::exists(file)) {
        // Moved aside, said so, and kept beside it; the store starts empty.
        WHEELBOX_FUZZ_CHECK(reported);
        WHEELBOX_FUZZ_CHECK(first.stored().empty());
        WHEELBOX_FUZZ_CHECK(std::distance(fs::directory_iterator(at), fs::directory_iterator()) == 1);
        return 0;
    }
    WHEELBOX_FUZZ_CHECK(contents(file) == std::string_view(reinterpret_cast<const char *>(data), size));
    auto loaded = first.stored();

    rewrite(first);
    WHEELBOX_FUZZ_CHECK(!reported);
    auto written = contents(file);

    FileUserDefaults second(at, clock, listen);
    WHEELBOX_FUZZ_CHECK(!reported);
    // Numbers compare as numbers, so -0 read back as 0 is the same value.
    WHEELBOX_FUZZ_CHECK(second.stored() == loaded);
    rewrite(second);
    WHEELBOX_FUZZ_CHECK(contents(file) == written);
    return 0;
}
