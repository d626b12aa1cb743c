// The Spotify application behind the module boundary.

#include "ModuleBoundary.hpp"
#include "SpotifyApplication.hpp"

namespace wheelbox::osascript {
namespace {

class SpotifyBoundary final : public BoundaryApplication {
  public:
    explicit SpotifyBoundary(Application &owner) : spotify_(SpotifyApplication::create())
    {
        spotify_->setOwner(owner);
    }

    void setTimeout(std::chrono::milliseconds timeout) noexcept override { spotify_->setTimeout(timeout); }
    Value getProperty(const ObjectReference *object, Property property,
                      BoundaryFailure &failure) noexcept override
    {
        return guard(failure, [&] { return spotify_->getProperty(object, property); });
    }
    void setProperty(const ObjectReference *object, Property property, const Value &value,
                     BoundaryFailure &failure) noexcept override
    {
        guard(failure, [&] {
            spotify_->setProperty(object, property, value);
            return Value();
        });
    }
    Value runCommand(Command command, const std::optional<Value> &directParameter,
                     BoundaryFailure &failure) noexcept override
    {
        return guard(failure, [&] { return spotify_->runCommand(command, directParameter); });
    }
    void invalidateReadings() noexcept override { spotify_->invalidateReadings(); }

  private:
    template <typename Function> static Value guard(BoundaryFailure &failure, Function &&request) noexcept
    {
        try {
            return request();
        } catch (const ApplicationError &error) {
            failure = {BoundaryFailure::Kind::Application, error.number(), error.what()};
        } catch (const ScriptError &error) {
            failure = {BoundaryFailure::Kind::Script, error.number(), error.what()};
        } catch (const std::exception &error) {
            failure = {BoundaryFailure::Kind::Application, errorNumber::handlerFailed, error.what()};
        } catch (...) {
            failure = {BoundaryFailure::Kind::Application, errorNumber::handlerFailed, "Unknown failure."};
        }
        return Value();
    }

    std::unique_ptr<SpotifyApplication> spotify_;
};

} // namespace
} // namespace wheelbox::osascript

extern "C" __attribute__((visibility("default"))) wheelbox::osascript::BoundaryApplication *
wheelboxCreateSpotifyApplication(wheelbox::osascript::Application *owner)
{
    try {
        return new wheelbox::osascript::SpotifyBoundary(*owner);
    } catch (...) {
        return nullptr;
    }
}
