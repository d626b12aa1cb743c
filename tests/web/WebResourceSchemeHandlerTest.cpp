#include "web/WebResourceSchemeHandler.hpp"
#include "support/ManualMainLoop.hpp"
#include "web/FirmwareFixture.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>

namespace wheelbox {
namespace {

using testing::ElementsAre;

// Records every call the handler makes, as the web view would see them.
class RecordingTask final : public SchemeTask {
  public:
    explicit RecordingTask(std::optional<std::string> url, std::optional<std::string> method = "GET")
        : url_(std::move(url)), method_(std::move(method))
    {}
    std::optional<std::string> requestURL() const override { return url_; }
    std::optional<std::string> requestMethod() const override { return method_; }
    void didReceiveResponse(const SchemeResponse &received) override
    {
        calls.push_back("response");
        response = received;
    }
    void didReceiveData(std::vector<std::byte> received) override
    {
        calls.push_back("data");
        data.assign(reinterpret_cast<const char *>(received.data()), received.size());
    }
    void didFinish() override { calls.push_back("finish"); }
    void didFailWithError(const WebResourceError &received) override
    {
        calls.push_back("fail");
        error = received;
    }

    std::vector<std::string> calls;
    SchemeResponse response;
    std::string data;
    std::optional<WebResourceError> error;

  private:
    std::optional<std::string> url_;
    std::optional<std::string> method_;
};

// The manual loop, counting what other threads post to it, so a test can wait for an answer to be
// queued without running it.
class CountingLoop final : public MainLoop {
  public:
    explicit CountingLoop(test::ManualMainLoop &loop) : loop_(loop) {}
    void post(std::function<void()> task) override
    {
        loop_.post(std::move(task));
        std::lock_guard guard(lock_);
        ++posted_;
        changed_.notify_all();
    }
    std::unique_ptr<Timer> schedule(std::chrono::nanoseconds delay, Repeat repeat,
                                    std::function<void()> task) override
    {
        return loop_.schedule(delay, repeat, std::move(task));
    }
    bool isMainThread() const noexcept override { return loop_.isMainThread(); }
    bool waitForPosts(int count)
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(10), [&] { return posted_ >= count; });
    }

  private:
    test::ManualMainLoop &loop_;
    std::mutex lock_;
    std::condition_variable changed_;
    int posted_ = 0;
};

class WebResourceSchemeHandlerTest : public testing::Test {
  protected:
    std::unique_ptr<WebResourceSchemeHandler> make()
    {
        return WebResourceSchemeHandler::make(fixture_.root(), loop_);
    }

    test::FirmwareFixture fixture_;
    test::ManualClock clock_;
    test::ManualMainLoop loop_{clock_};
};

TEST_F(WebResourceSchemeHandlerTest, AnswersWithResponseDataAndFinishInOrder)
{
    auto handler = make();
    auto page = std::make_shared<RecordingTask>("velto://app/index.html");
    auto picture = std::make_shared<RecordingTask>("velto://app//img/LOGO.PNG", std::nullopt);
    handler->start(page);
    handler->start(picture);
    ASSERT_TRUE(loop_.runUntil([&] { return page->calls.size() == 3 && picture->calls.size() == 3; }));

    EXPECT_THAT(page->calls, ElementsAre("response", "data", "finish"));
    EXPECT_EQ(page->response.url, "velto://app/index.html");
    EXPECT_EQ(page->response.mimeType, "text/html");
    EXPECT_EQ(page->response.textEncodingName, "utf-8");
    EXPECT_EQ(page->data, "<!doctype html><title>Wheelbox</title>");
    EXPECT_EQ(page->response.expectedContentLength, page->data.size());

    EXPECT_EQ(picture->response.url, "velto://app//img/LOGO.PNG") << "the URL as requested";
    EXPECT_EQ(picture->response.mimeType, "image/png");
    EXPECT_EQ(picture->response.textEncodingName, std::nullopt);
    EXPECT_EQ(picture->data.size(), 8u);
}

TEST_F(WebResourceSchemeHandlerTest, FailuresArriveAsOneCall)
{
    auto handler = make();
    auto escape = std::make_shared<RecordingTask>("velto://app/../secret.txt");
    auto post = std::make_shared<RecordingTask>("velto://app/index.html", "POST");
    handler->start(escape);
    handler->start(post);
    ASSERT_TRUE(loop_.runUntil([&] { return !escape->calls.empty() && !post->calls.empty(); }));
    loop_.runPosted();
    EXPECT_THAT(escape->calls, ElementsAre("fail"));
    EXPECT_EQ(escape->error->code(), WebResourceError::noPermissionsToReadFile);
    EXPECT_THAT(post->calls, ElementsAre("fail"));
    EXPECT_EQ(post->error->code(), WebResourceError::unsupportedURL);
}

TEST_F(WebResourceSchemeHandlerTest, AStoppedTaskHearsNothingEvenWhenItsReadWasUnderWay)
{
    CountingLoop counting(loop_);
    auto handler = WebResourceSchemeHandler::make(fixture_.root(), counting);
    auto early = std::make_shared<RecordingTask>("velto://app/index.html");
    auto late = std::make_shared<RecordingTask>("velto://app/css/device.css");
    auto other = std::make_shared<RecordingTask>("velto://app/notes.txt");
    handler->start(early);
    handler->stop(*early); // before its read
    handler->start(late);
    handler->start(other);
    // The late one's answer is queued for the main thread (answers queue in start order, and the
    // early one may or may not have been read), but not delivered: stop it now.
    ASSERT_TRUE(counting.waitForPosts(2));
    // The web view's adapter stops a task through the stopper, when the view that asked goes away.
    auto stop = handler->stopper();
    stop(*late);
    ASSERT_TRUE(loop_.runUntil([&] { return !other->calls.empty(); }));
    loop_.runPosted();
    EXPECT_TRUE(early->calls.empty());
    EXPECT_TRUE(late->calls.empty());
    EXPECT_THAT(other->calls, ElementsAre("response", "data", "finish"));
    handler->stop(*other); // after its answer: nothing happens
    // A view may outlive the handler: its stop then does nothing.
    handler.reset();
    stop(*early);
}

TEST_F(WebResourceSchemeHandlerTest, AnswersPendingWhenTheHandlerGoesAreDropped)
{
    auto handler = make();
    auto task = std::make_shared<RecordingTask>("velto://app/index.html");
    handler->start(task);
    handler.reset();
    loop_.runPosted();
    EXPECT_TRUE(task->calls.empty());
}

TEST_F(WebResourceSchemeHandlerTest, RootsWithAndWithoutTrailingSlashAreOne)
{
    EXPECT_EQ(WebResourceSchemeHandler::make(std::nullopt, loop_), nullptr);
    auto plain = WebResourceSchemeHandler::make(fixture_.root(), loop_);
    auto slashed = WebResourceSchemeHandler::make(fixture_.root().string() + "/", loop_);
    auto dotted = WebResourceSchemeHandler::make(fixture_.root() / "css" / "..", loop_);
    EXPECT_EQ(plain->root(), std::filesystem::canonical(fixture_.root()));
    EXPECT_EQ(slashed->root(), plain->root());
    EXPECT_EQ(dotted->root(), plain->root());

    auto task = std::make_shared<RecordingTask>("velto://app/index.html");
    slashed->start(task);
    ASSERT_TRUE(loop_.runUntil([&] { return task->calls.size() == 3; }));
}

// Covers that answer on a thread of their own, later, as a cover still to be read does.
class FakeArtworkEntries final : public ArtworkEntries {
  public:
    void open(const ArtworkName &name, std::function<void(std::optional<ArtworkEntry>)> done) override
    {
        {
            std::lock_guard guard(lock_);
            opened.push_back(formatArtworkName(name));
        }
        std::optional<ArtworkEntry> entry;
        if (name.key == 0x00FF12AB34CD56EF)
            entry = ArtworkEntry{{std::byte{0xFF}, std::byte{0xD8}, std::byte{0xFF}}, "image/jpeg"};
        threads_.emplace_back([done = std::move(done), entry = std::move(entry)] { done(entry); });
    }
    ~FakeArtworkEntries() override
    {
        for (auto &thread : threads_)
            thread.join();
    }

    std::vector<std::string> opened;

  private:
    std::mutex lock_;
    std::vector<std::thread> threads_;
};

TEST_F(WebResourceSchemeHandlerTest, ServesCoversByTheirEntryNamesOnly)
{
    FakeArtworkEntries entries;
    auto handler = WebResourceSchemeHandler::make(fixture_.root(), loop_, &entries);
    auto cover = std::make_shared<RecordingTask>("velto://app/artwork/00FF12AB34CD56EF-168");
    auto missing = std::make_shared<RecordingTask>("velto://app/artwork/0000000000000001-64");
    auto climbing = std::make_shared<RecordingTask>("velto://app/artwork/%2e%2e/%2e%2e/secret.txt");
    auto firmware = std::make_shared<RecordingTask>("velto://app/index.html");
    for (const auto &task : {cover, missing, climbing, firmware})
        handler->start(task);
    ASSERT_TRUE(loop_.runUntil([&] {
        return cover->calls.size() == 3 && missing->calls.size() == 1 && climbing->calls.size() == 1 &&
               firmware->calls.size() == 3;
    }));

    EXPECT_THAT(cover->calls, ElementsAre("response", "data", "finish"));
    EXPECT_EQ(cover->response.mimeType, "image/jpeg");
    EXPECT_EQ(cover->response.textEncodingName, std::nullopt);
    EXPECT_EQ(cover->response.expectedContentLength, 3u);
    EXPECT_EQ(cover->data, "\xFF\xD8\xFF");
    EXPECT_EQ(missing->error->code(), WebResourceError::fileDoesNotExist);
    EXPECT_EQ(climbing->error->code(), WebResourceError::noPermissionsToReadFile);
    EXPECT_THAT(entries.opened, ElementsAre("00FF12AB34CD56EF-168", "0000000000000001-64"));

    // Without covers an entry name is a file the firmware does not have.
    auto plain = make();
    auto unserved = std::make_shared<RecordingTask>("velto://app/artwork/00FF12AB34CD56EF-168");
    plain->start(unserved);
    ASSERT_TRUE(loop_.runUntil([&] { return !unserved->calls.empty(); }));
    EXPECT_EQ(unserved->error->code(), WebResourceError::fileDoesNotExist);
}

TEST(WebResourceSchemeHandlerStatics, StartURLAndTheBuiltFirmware)
{
    EXPECT_EQ(WebResourceSchemeHandler::startURL(), "velto://app/index.html");
    auto root = WebResourceSchemeHandler::firmwareRoot();
    ASSERT_TRUE(root) << "the build copies the firmware where its programs find it";
    EXPECT_TRUE(std::filesystem::is_regular_file(*root / "index.html"));
    EXPECT_TRUE(std::filesystem::is_regular_file(*root / "js" / "main.js"));
}

} // namespace
} // namespace wheelbox
