#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace wheelbox {

// Random numbers for what must differ between runs: temporary playlist names, the shuffled play
// order, the device serial. Injected so tests draw from a seeded source.
class RandomSource {
  public:
    virtual ~RandomSource() = default;

    // 64 uniformly random bits.
    virtual std::uint64_t next() = 0;

    // A uniformly random number in [0, bound), without modulo bias; 0 when bound is 0.
    std::uint64_t below(std::uint64_t bound);

    // A random version 4 UUID in its upper-case text form, "8-4-4-4-12" hexadecimal digits.
    std::string uuid();

    // The source as a uniform random bit generator, for the standard library's algorithms. It refers
    // to this source, which must outlive it.
    class BitGenerator {
      public:
        using result_type = std::uint64_t;
        explicit BitGenerator(RandomSource &source) noexcept : source_(&source) {}
        static constexpr result_type min() noexcept { return 0; }
        static constexpr result_type max() noexcept { return std::numeric_limits<result_type>::max(); }
        result_type operator()() { return source_->next(); }

      private:
        RandomSource *source_;
    };
    BitGenerator bits() noexcept { return BitGenerator(*this); }

    // The kernel's random source (getrandom). Thread-safe.
    static RandomSource &system();
};

// A reproducible sequence (SplitMix64) for tests. Not thread-safe.
class SeededRandomSource final : public RandomSource {
  public:
    explicit SeededRandomSource(std::uint64_t seed) noexcept : state_(seed) {}
    std::uint64_t next() override;

  private:
    std::uint64_t state_;
};

} // namespace wheelbox
