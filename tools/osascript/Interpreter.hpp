#pragma once

#include "Application.hpp"
#include "Syntax.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace wheelbox::osascript {

// Creates the application named in a tell block, or throws ApplicationError when it cannot.
using ApplicationFactory = std::function<std::unique_ptr<Application>(std::string_view name)>;

// Runs one parsed program. Applications are created on first use, so a program that never
// addresses Spotify never loads what Spotify needs. Throws ExecutionError with the failing
// statement's range.
class Interpreter {
  public:
    // `sleep` stands in for `delay`, so tests need not wait.
    using Sleeper = std::function<void(std::chrono::milliseconds)>;

    explicit Interpreter(ApplicationFactory factory, Sleeper sleep = {});
    ~Interpreter();

    // The program's result: the value of `return`, or of the last statement run.
    std::optional<Value> run(const syntax::Program &program);

    // Ends a run with an execution error once it has taken `steps` statements and loop turns. The
    // tool runs unbounded, as osascript does, and the app holds it to a deadline; a host that runs
    // programs in its own process (the fuzzer) bounds them here.
    void limitSteps(std::uint64_t steps) noexcept { stepsLeft_ = steps; }

  private:
    struct ExitRepeatSignal {};
    struct ReturnSignal {
        std::optional<Value> value;
    };

    void takeStep();
    void runBlock(const syntax::Block &block);
    void runStatement(const syntax::Statement &statement);
    void runRepeat(const syntax::Repeat &repeat);
    void runBody(const syntax::Block &body, bool &exited);
    void assign(const syntax::Expression &target, Value value);

    Value evaluate(const syntax::Expression &expression);
    Value evaluateBinary(const syntax::Binary &binary);
    Value evaluateItem(const syntax::ItemOf &item);
    Value evaluateProperty(const syntax::PropertyOf &property);
    Value evaluateCount(const Value &value);

    Application &tellTarget();
    Application &application(std::string_view name);
    const ObjectReference &objectOf(const Value &value, std::string_view context);
    // Runs an application request with the current timeout, turning its failure into the
    // script error "<App> got an error: …".
    template <typename Function> auto ask(Application &application, Function &&request);

    std::string delimiter() const;
    Value readVariable(const syntax::Variable &variable) const;

    ApplicationFactory factory_;
    Sleeper sleep_;
    std::map<std::string, std::unique_ptr<Application>, std::less<>> applications_;
    std::vector<Application *> tellStack_;
    std::chrono::milliseconds timeout_{120000};
    std::unordered_map<std::string, Value> variables_;
    Value textItemDelimiters_;
    std::optional<Value> result_;
    std::optional<std::uint64_t> stepsLeft_;
};

} // namespace wheelbox::osascript
