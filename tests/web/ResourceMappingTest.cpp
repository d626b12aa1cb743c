#include "web/ResourceMapping.hpp"
#include "web/FirmwareFixture.hpp"

#include <gtest/gtest.h>

#include <cerrno>

namespace wheelbox {
namespace {

using Code = WebResourceError::URLCode;

class ResourceMappingTest : public testing::Test {
  protected:
    std::variant<ResourceFile, WebResourceError> map(std::optional<std::string> url,
                                                     std::optional<std::string> method = std::nullopt)
    {
        return mapResourceRequest(std::filesystem::canonical(fixture_.root()), url, method);
    }

    test::FirmwareFixture fixture_;
};

TEST_F(ResourceMappingTest, ServesFilesUnderTheFolderWithTheirTypes)
{
    struct Case {
        const char *url;
        const char *file;
        const char *mimeType;
        std::optional<std::string> encoding;
    } cases[] = {
        {"velto://app/index.html", "index.html", "text/html", "utf-8"},
        {"velto://app//css/device.css", "css/device.css", "text/css", "utf-8"},
        {"velto://app/css%2Fdevice.css", "css/device.css", "text/css", "utf-8"},
        {"velto://app/css/./../css/device.css", "css/device.css", "text/css", "utf-8"},
        {"velto://app/img/LOGO.PNG", "img/LOGO.PNG", "image/png", std::nullopt},
        {"velto://app/notes.txt", "notes.txt", "application/octet-stream", "utf-8"},
        {"velto://app/LICENSE", "LICENSE", "application/octet-stream", std::nullopt},
        {"velto://app/inside", "css/device.css", "text/css", "utf-8"}, // a link that stays inside
        {"velto://app/index.html?reload=1#top", "index.html", "text/html", "utf-8"},
    };
    for (const auto &c : cases) {
        auto mapped = map(c.url, "GET");
        ASSERT_TRUE(std::holds_alternative<ResourceFile>(mapped))
            << c.url << ": " << std::get<WebResourceError>(mapped).what();
        const auto &file = std::get<ResourceFile>(mapped);
        EXPECT_EQ(file.path, std::filesystem::canonical(fixture_.root() / c.file)) << c.url;
        EXPECT_EQ(file.mimeType, c.mimeType) << c.url;
        EXPECT_EQ(file.textEncoding, c.encoding) << c.url;
    }
}

TEST_F(ResourceMappingTest, RefusesEverythingElseWithItsCode)
{
    std::string deep;
    for (int i = 0; i < 50; ++i)
        deep += "../";
    std::string huge(70'000, 'a');
    struct Case {
        std::optional<std::string> url;
        std::optional<std::string> method;
        Code code;
    } cases[] = {
        {std::nullopt, std::nullopt, Code::badURL},
        {"velto://app", std::nullopt, Code::badURL},
        {"velto://app/", std::nullopt, Code::badURL},
        {"velto://app///", std::nullopt, Code::badURL},
        {"velto://app/index.html", "POST", Code::unsupportedURL},
        {"velto://app/index.html", "HEAD", Code::unsupportedURL},
        {"velto://app/index.html", "get", Code::unsupportedURL},
        {"velto://other/index.html", std::nullopt, Code::unsupportedURL},
        {"velto://APP/index.html", std::nullopt, Code::unsupportedURL},
        {"velto:index.html", std::nullopt, Code::unsupportedURL},
        {"file:///etc/passwd", std::nullopt, Code::unsupportedURL},
        {"https://app/index.html", std::nullopt, Code::unsupportedURL},
        {"not a url", std::nullopt, Code::badURL},
        {"velto://app/index.html%00.png", std::nullopt, Code::badURL},
        {"velto://app/%zz", std::nullopt, Code::badURL},
        {"velto://app/index.html%", std::nullopt, Code::badURL},
        {"velto://app/../secret.txt", std::nullopt, Code::noPermissionsToReadFile},
        {"velto://app/%2e%2e/secret.txt", std::nullopt, Code::noPermissionsToReadFile},
        {"velto://app/..%2fsecret.txt", std::nullopt, Code::noPermissionsToReadFile},
        {"velto://app/css/../../secret.txt", std::nullopt, Code::noPermissionsToReadFile},
        {"velto://app/missing/../../secret.txt", std::nullopt, Code::noPermissionsToReadFile},
        {"velto://app/" + deep + "etc/passwd", std::nullopt, Code::noPermissionsToReadFile},
        {"velto://app/out", std::nullopt, Code::noPermissionsToReadFile},
        {"velto://app/up/secret.txt", std::nullopt, Code::noPermissionsToReadFile},
        {"velto://app/.", std::nullopt, Code::noPermissionsToReadFile}, // the root itself
        {"velto://app/css/..", std::nullopt, Code::noPermissionsToReadFile},
        {"velto://app/index.html/..", std::nullopt, Code::noPermissionsToReadFile},
        {"velto://app/css", std::nullopt, Code::fileDoesNotExist},
        {"velto://app/js/", std::nullopt, Code::fileDoesNotExist},
        {"velto://app/missing.js", std::nullopt, Code::fileDoesNotExist},
        {"velto://app/index.html/x", std::nullopt, Code::fileDoesNotExist},
        {"velto://app/pipe", std::nullopt, Code::fileDoesNotExist},
    };
    for (const auto &c : cases) {
        auto mapped = map(c.url, c.method);
        std::string shown = c.url.value_or("(none)").substr(0, 80);
        ASSERT_TRUE(std::holds_alternative<WebResourceError>(mapped)) << shown;
        const auto &error = std::get<WebResourceError>(mapped);
        EXPECT_EQ(error.domain(), WebResourceError::Domain::url) << shown;
        EXPECT_EQ(error.code(), c.code) << shown;
    }

    // Paths the system cannot resolve come back as its own error, never as a file.
    for (const std::string &url : {std::string("velto://app/loop"), "velto://app/" + huge}) {
        auto mapped = map(url);
        ASSERT_TRUE(std::holds_alternative<WebResourceError>(mapped)) << url.substr(0, 40);
        EXPECT_EQ(std::get<WebResourceError>(mapped).domain(), WebResourceError::Domain::fileSystem);
    }
}

TEST(ResourceTypes, MimeTableAndTextEncodings)
{
    struct Case {
        const char *extension;
        const char *mimeType;
        bool text;
    } cases[] = {
        {"html", "text/html", true},
        {"css", "text/css", true},
        {"js", "text/javascript", true},
        {"json", "application/json", true},
        {"svg", "image/svg+xml", true},
        {"png", "image/png", false},
        {"webp", "image/webp", false},
        {"wav", "audio/wav", false},
        {"mp3", "audio/mpeg", false},
        {"woff", "font/woff", false},
        {"woff2", "font/woff2", false},
        {"txt", "application/octet-stream", true},
        {"", "application/octet-stream", false},
        {"mjs", "application/octet-stream", false},
        {"htm", "application/octet-stream", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(mimeTypeForExtension(c.extension), c.mimeType) << c.extension;
        EXPECT_EQ(textEncodingForExtension(c.extension).has_value(), c.text) << c.extension;
    }
}

} // namespace
} // namespace wheelbox

namespace wheelbox {
namespace {

// Cache entries are named only in their exact form; everything else under artwork/ is an ordinary
// path of the firmware folder, refused by its guard as before, and never reaches the cache.
TEST_F(ResourceMappingTest, OnlyExactEntryNamesReachTheCovers)
{
    const ArtworkName cover{0x00FF12AB34CD56EF, ArtworkSize::cover};
    const ArtworkName row{0x00FF12AB34CD56EF, ArtworkSize::row};
    struct Named {
        const char *url;
        ArtworkName name;
    } named[] = {
        {"velto://app/artwork/00FF12AB34CD56EF-168", cover},
        {"velto://app/artwork/00FF12AB34CD56EF-64", row},
        {"velto://app///artwork/00FF12AB34CD56EF-168", cover},
        {"velto://app/artwork%2F00FF12AB34CD56EF-168", cover},
        {"velto://app/artwork/00FF12AB34CD56EF-168?size=large#top", cover},
    };
    for (const auto &c : named)
        EXPECT_EQ(artworkRequestName(c.url, "GET"), c.name) << c.url;

    std::string overlong = "velto://app/artwork/" + std::string(70'000, 'A');
    struct Refused {
        std::optional<std::string> url;
        std::optional<std::string> method;
        std::optional<Code> code; // what the firmware folder's mapping says; nothing: a system error
    } refused[] = {
        {"velto://app/artwork/00FF12AB34CD56EF-168", "POST", Code::unsupportedURL},
        {"velto://other/artwork/00FF12AB34CD56EF-168", "GET", Code::unsupportedURL},
        {"velto://app/artwork/00ff12ab34cd56ef-168", "GET", Code::fileDoesNotExist},
        {"velto://app/artwork/00FF12AB34CD56EF-169", "GET", Code::fileDoesNotExist},
        {"velto://app/artwork/00FF12AB34CD56EF-0168", "GET", Code::fileDoesNotExist},
        {"velto://app/artwork/00FF12AB34CD56EF", "GET", Code::fileDoesNotExist},
        {"velto://app/artwork/-168", "GET", Code::fileDoesNotExist},
        {"velto://app/artwork/00FF12AB34CD56EF-168.png", "GET", Code::fileDoesNotExist},
        {"velto://app/artwork/00FF12AB34CD56EF-168/", "GET", Code::fileDoesNotExist},
        {"velto://app/artwork/sub/00FF12AB34CD56EF-168", "GET", Code::fileDoesNotExist},
        {"velto://app/artwork/", "GET", Code::fileDoesNotExist},
        {"velto://app/artwork/..", "GET", Code::noPermissionsToReadFile},
        {"velto://app/artwork/%2e%2e", "GET", Code::noPermissionsToReadFile},
        {"velto://app/artwork/%2E%2E/%2e%2e/secret.txt", "GET", Code::noPermissionsToReadFile},
        {"velto://app/artwork/..%2F..%2Fsecret.txt", "GET", Code::noPermissionsToReadFile},
        {"velto://app/artwork/00FF12AB34CD56EF-168%00", "GET", Code::badURL},
        {"velto://app/artwork/%0000FF12AB34CD56EF-168", "GET", Code::badURL},
        {"velto://app/artwork/00FF12AB34CD56EF-168\n", "GET", Code::badURL},
        {"velto://app/artwork/00FF12AB34CD56EF-168%", "GET", Code::badURL},
        {overlong, "GET", std::nullopt},
    };
    for (const auto &c : refused) {
        const std::string shown = c.url.value_or("(none)").substr(0, 60);
        EXPECT_EQ(artworkRequestName(c.url, c.method), std::nullopt) << shown;
        auto mapped = map(c.url, c.method);
        ASSERT_TRUE(std::holds_alternative<WebResourceError>(mapped)) << shown;
        const auto &error = std::get<WebResourceError>(mapped);
        if (c.code) {
            EXPECT_EQ(error.domain(), WebResourceError::Domain::url) << shown;
            EXPECT_EQ(error.code(), *c.code) << shown;
        } else {
            EXPECT_EQ(error.domain(), WebResourceError::Domain::fileSystem) << shown;
        }
    }
}

} // namespace
} // namespace wheelbox
