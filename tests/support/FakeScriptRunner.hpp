#pragma once

#include "transport/ScriptError.hpp"
#include "transport/ScriptRunner.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wheelbox::test {

// A script runner that records every script it is given and answers from a table: the first rule
// whose fragment the script contains answers it. Rules added with `once` answer one script and
// are used up, before any standing rule; among standing rules the newest wins. A script that no
// rule matches succeeds with no output. Thread-safe.
class FakeScriptRunner final : public ScriptRunner {
  public:
    struct Call {
        std::string script;
        int timeoutSeconds = 0;
        bool started = false;
        // The poll generation the script ran for, or none for a request's script.
        std::optional<std::uint64_t> poll = std::nullopt;
    };
    // Answers one script; may throw (ScriptError, or anything a test wants to see travel).
    using Answer = std::function<std::optional<std::string>(const Call &)>;
    enum class Uses { once, always };

    void answer(std::string fragment, std::optional<std::string> output, Uses uses = Uses::always)
    {
        on(
            std::move(fragment), [output](const Call &) { return output; }, uses);
    }

    void fail(std::string fragment, ScriptError error, Uses uses = Uses::always)
    {
        on(
            std::move(fragment), [error](const Call &) -> std::optional<std::string> { throw error; }, uses);
    }

    void on(std::string fragment, Answer answer, Uses uses = Uses::always)
    {
        std::lock_guard guard(lock_);
        if (uses == Uses::once)
            once_.push_back({std::move(fragment), std::move(answer)});
        else
            always_.push_back({std::move(fragment), std::move(answer)});
    }

    std::optional<std::string> run(std::string_view script, int timeoutSeconds) override
    {
        return respond({std::string(script), timeoutSeconds, false, currentPoll()});
    }

    std::unique_ptr<StartedScript> start(std::string_view script, int timeoutSeconds) override
    {
        respond({std::string(script), timeoutSeconds, true, currentPoll()});
        return std::make_unique<Started>(*this);
    }

    // Polls are marked as the real runner marks them; cancellations are only counted.
    std::uint64_t pollGeneration() noexcept override
    {
        std::lock_guard guard(lock_);
        return pollGeneration_;
    }
    void runAsPoll(std::uint64_t generation, const std::function<void()> &poll) override
    {
        auto previous = std::exchange(threadPoll(), generation);
        struct Restore {
            std::optional<std::uint64_t> previous;
            ~Restore() { threadPoll() = previous; }
        } restore{previous};
        poll();
    }
    void cancelPolls() noexcept override
    {
        std::lock_guard guard(lock_);
        ++pollGeneration_;
    }
    void cancelRequests() noexcept override
    {
        std::lock_guard guard(lock_);
        ++requestCancellations_;
    }
    void cancelAll() noexcept override
    {
        std::lock_guard guard(lock_);
        ++pollGeneration_;
        ++requestCancellations_;
    }
    std::size_t requestCancellations() const
    {
        std::lock_guard guard(lock_);
        return requestCancellations_;
    }

    std::vector<Call> calls() const
    {
        std::lock_guard guard(lock_);
        return calls_;
    }

    std::vector<std::string> scripts() const
    {
        std::vector<std::string> texts;
        for (const auto &call : calls())
            texts.push_back(call.script);
        return texts;
    }

    // How many recorded scripts contain `fragment`.
    std::size_t count(std::string_view fragment) const
    {
        auto all = calls();
        return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), [&](const Call &call) {
            return call.script.find(fragment) != std::string::npos;
        }));
    }

    void clearCalls()
    {
        std::lock_guard guard(lock_);
        calls_.clear();
    }

    // Forgets every rule and every call.
    void reset()
    {
        std::lock_guard guard(lock_);
        once_.clear();
        always_.clear();
        calls_.clear();
    }

    // What stop() on a started script answers, and how many times it was called.
    bool stopSucceeds = true;
    std::size_t stopCount() const
    {
        std::lock_guard guard(lock_);
        return stops_;
    }

  private:
    struct Rule {
        std::string fragment;
        Answer answer;
    };

    class Started final : public StartedScript {
      public:
        explicit Started(FakeScriptRunner &runner) : runner_(runner) {}
        bool stop(std::chrono::nanoseconds) override
        {
            std::lock_guard guard(runner_.lock_);
            ++runner_.stops_;
            return runner_.stopSucceeds;
        }

      private:
        FakeScriptRunner &runner_;
    };

    static std::optional<std::uint64_t> &threadPoll()
    {
        thread_local std::optional<std::uint64_t> poll;
        return poll;
    }
    static std::optional<std::uint64_t> currentPoll() { return threadPoll(); }

    std::optional<std::string> respond(const Call &call)
    {
        Answer answer;
        {
            std::lock_guard guard(lock_);
            calls_.push_back(call);
            auto matches = [&](const Rule &rule) {
                return call.script.find(rule.fragment) != std::string::npos;
            };
            if (auto found = std::find_if(once_.begin(), once_.end(), matches); found != once_.end()) {
                answer = std::move(found->answer);
                once_.erase(found);
            } else if (auto standing = std::find_if(always_.rbegin(), always_.rend(), matches);
                       standing != always_.rend()) {
                answer = standing->answer;
            }
        }
        // Answered outside the lock: an answer may record or run scripts of its own.
        return answer ? answer(call) : std::nullopt;
    }

    mutable std::mutex lock_;
    std::deque<Rule> once_;
    std::vector<Rule> always_;
    std::vector<Call> calls_;
    std::size_t stops_ = 0;
    std::uint64_t pollGeneration_ = 0;
    std::size_t requestCancellations_ = 0;
};

} // namespace wheelbox::test
