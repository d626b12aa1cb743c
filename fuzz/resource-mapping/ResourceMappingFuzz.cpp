// Request URLs against the URL-to-file mapping of the resource scheme, over a firmware folder with
// links that stay inside and links that lead out, beside a folder whose name extends the root's; and
// against the naming of cover entries, which only their exact names reach.
#include "FuzzCheck.hpp"
#include "web/ResourceMapping.hpp"
#include "web/ResourceURL.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>

namespace {

using namespace wheelbox;
namespace fs = std::filesystem;

struct Fixture {
    fs::path base;
    fs::path root;
    // The regular files under the root, by their resolved paths: the only things a request may name.
    std::set<fs::path> files;

    Fixture()
    {
        std::string pattern = (fs::temp_directory_path() / "wheelbox-fuzz-resources.XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        base = fs::canonical(pattern);
        root = base / "Web";
        for (auto folder : {"css", "js", "img", "empty"})
            fs::create_directories(root / folder);
        for (auto file : {"index.html", "css/app.css", "js/main.js", "img/Logo.PNG", "a b%.txt", ".hidden",
                          "noextension", "js/data.JSON"}) {
            std::ofstream(root / file) << file;
            files.insert(root / file);
        }
        fs::create_directories(base / "Web-other");
        std::ofstream(base / "Web-other" / "secret.txt") << "outside";
        std::ofstream(base / "outside.txt") << "outside";
        fs::create_symlink("css/app.css", root / "inside-link.css");
        fs::create_symlink("css", root / "css-link");
        fs::create_symlink("../outside.txt", root / "out-link.txt");
        fs::create_symlink("..", root / "up");
        fs::create_symlink(base / "Web-other", root / "other");
        fs::create_symlink("loop", root / "loop");
        fs::create_symlink("nowhere", root / "broken");
        if (::mkfifo((root / "pipe").c_str(), 0600) != 0)
            std::abort();
    }

    ~Fixture() { fs::remove_all(base); }
};

const Fixture &fixture()
{
    static Fixture made;
    return made;
}

std::string lowerExtension(const fs::path &path)
{
    std::string extension = path.extension().native();
    if (!extension.empty())
        extension.erase(0, 1);
    for (char &c : extension)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto &folder = fixture();
    std::string url(reinterpret_cast<const char *>(data), size);
    auto mapped = mapResourceRequest(folder.root, url, std::string("GET"));

    // A request without a method is a GET; any other method is refused before the file system.
    auto withoutMethod = mapResourceRequest(folder.root, url, std::nullopt);
    WHEELBOX_FUZZ_CHECK(mapped.index() == withoutMethod.index());
    auto posted = mapResourceRequest(folder.root, url, std::string("POST"));
    WHEELBOX_FUZZ_CHECK(std::holds_alternative<WebResourceError>(posted));

    // A cover entry is named by a firmware address whose decoded path is exactly artwork/ and the
    // name, written back the same; nothing else is, and a POST never is.
    if (auto name = artworkRequestName(url, std::string("GET"))) {
        WHEELBOX_FUZZ_CHECK(isFirmwareURL(url));
        auto decoded = percentDecode(parseResourceURL(url)->path);
        WHEELBOX_FUZZ_CHECK(decoded);
        std::string_view path = *decoded;
        path.remove_prefix(std::min(path.find_first_not_of('/'), path.size()));
        WHEELBOX_FUZZ_CHECK(path == std::string(artworkPathFolder) + formatArtworkName(*name));
        WHEELBOX_FUZZ_CHECK(artworkRequestName(url, std::nullopt) == name);
    }
    WHEELBOX_FUZZ_CHECK(!artworkRequestName(url, std::string("POST")));

    const auto *file = std::get_if<ResourceFile>(&mapped);
    if (!file) {
        const auto &error = std::get<WebResourceError>(mapped);
        if (!parseResourceURL(url))
            WHEELBOX_FUZZ_CHECK(error == WebResourceError::url(WebResourceError::badURL));
        return 0;
    }

    // Only the firmware's own address maps, only to a regular file strictly inside the root, named
    // without links, dots or doubled separators.
    WHEELBOX_FUZZ_CHECK(isFirmwareURL(url));
    WHEELBOX_FUZZ_CHECK(folder.files.contains(file->path));
    WHEELBOX_FUZZ_CHECK(file->path == file->path.lexically_normal());
    for (fs::path at = file->path; at != folder.root; at = at.parent_path()) {
        WHEELBOX_FUZZ_CHECK(at.has_relative_path() && at != at.parent_path());
        WHEELBOX_FUZZ_CHECK(!fs::is_symlink(at));
    }
    WHEELBOX_FUZZ_CHECK(std::get<ResourceFile>(withoutMethod).path == file->path);

    auto extension = lowerExtension(file->path);
    WHEELBOX_FUZZ_CHECK(file->mimeType == mimeTypeForExtension(extension));
    WHEELBOX_FUZZ_CHECK(file->textEncoding.has_value() == textEncodingForExtension(extension).has_value());
    return 0;
}
