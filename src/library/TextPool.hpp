#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace wheelbox {

// Number of a text in a TextPool. 0 is always the empty text.
using TextID = std::uint32_t;

// Every distinct text of a library held once, back to back in one buffer: a song then costs four
// bytes per text instead of a string of its own, and a title or artist shared by many songs is
// stored once. Texts are compared byte for byte; normalising is the caller's business.
class TextPool {
  public:
    TextPool();
    // The index refers back to its pool.
    TextPool(const TextPool &) = delete;
    TextPool &operator=(const TextPool &) = delete;

    // The number of `text`, added if the pool does not hold it yet.
    TextID intern(std::string_view text);

    std::string_view text(TextID id) const noexcept
    {
        auto begin = id == 0 ? 0 : ends_[id - 1];
        return {bytes_.data() + begin, ends_[id] - begin};
    }
    std::size_t size() const noexcept { return ends_.size(); }

    // Drops the index intern() needs and the spare capacity: the pool is only read from now on.
    void seal();

  private:
    // Looks texts up by their bytes while storing only their numbers.
    struct Hash {
        using is_transparent = void;
        const TextPool *pool;
        std::size_t operator()(std::string_view text) const noexcept
        {
            return std::hash<std::string_view>{}(text);
        }
        std::size_t operator()(TextID id) const noexcept { return (*this)(pool->text(id)); }
    };
    struct Equal {
        using is_transparent = void;
        const TextPool *pool;
        std::string_view view(std::string_view text) const noexcept { return text; }
        std::string_view view(TextID id) const noexcept { return pool->text(id); }
        template <typename Left, typename Right>
        bool operator()(const Left &left, const Right &right) const noexcept
        {
            return view(left) == view(right);
        }
    };

    std::string bytes_;
    std::vector<std::uint32_t> ends_; // text i is bytes_[ends_[i - 1], ends_[i]), text 0 [0, ends_[0])
    std::unordered_set<TextID, Hash, Equal> index_;
};

} // namespace wheelbox
