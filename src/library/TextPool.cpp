#include "library/TextPool.hpp"

#include <limits>
#include <stdexcept>

namespace wheelbox {

TextPool::TextPool() : index_(0, Hash{this}, Equal{this})
{
    ends_.push_back(0);
    index_.insert(0);
}

TextID TextPool::intern(std::string_view text)
{
    if (auto found = index_.find(text); found != index_.end())
        return *found;
    // Offsets are 32 bits: a library whose distinct texts pass 4 GiB is refused, never wrapped.
    if (text.size() > std::numeric_limits<std::uint32_t>::max() - bytes_.size())
        throw std::length_error("The library's texts are too large");
    bytes_.append(text);
    ends_.push_back(static_cast<std::uint32_t>(bytes_.size()));
    auto id = static_cast<TextID>(ends_.size() - 1);
    index_.insert(id);
    return id;
}

void TextPool::seal()
{
    decltype(index_)(0, Hash{this}, Equal{this}).swap(index_);
    bytes_.shrink_to_fit();
    ends_.shrink_to_fit();
}

} // namespace wheelbox
