#include "lib/json/ExactJSON.hpp"

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace wheelbox {
namespace {

namespace json = boost::json;

double nearestDouble(std::string_view text, double approximate) noexcept
{
    double exact = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), exact);
    if (error == std::errc() && end == text.data() + text.size())
        return exact;
    if (error != std::errc::result_out_of_range)
        return approximate;
    // Out of range either way: Boost.JSON's reading tells which way.
    bool negative = !text.empty() && text.front() == '-';
    double magnitude = std::fabs(approximate) >= 1 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -magnitude : magnitude;
}

// boost::json::parser's own handler, but for the numbers it reads from their text.
class ExactHandler {
  public:
    static constexpr std::size_t max_object_size = json::object::max_size();
    static constexpr std::size_t max_array_size = json::array::max_size();
    static constexpr std::size_t max_key_size = json::string::max_size();
    static constexpr std::size_t max_string_size = json::string::max_size();

    json::value_stack stack;

    bool on_document_begin(json::error_code &) { return true; }
    bool on_document_end(json::error_code &) { return true; }
    bool on_object_begin(json::error_code &) { return true; }
    bool on_object_end(std::size_t n, json::error_code &)
    {
        stack.push_object(n);
        return true;
    }
    bool on_array_begin(json::error_code &) { return true; }
    bool on_array_end(std::size_t n, json::error_code &)
    {
        stack.push_array(n);
        return true;
    }
    bool on_key_part(json::string_view part, std::size_t, json::error_code &)
    {
        stack.push_chars(part);
        return true;
    }
    bool on_key(json::string_view last, std::size_t, json::error_code &)
    {
        stack.push_key(last);
        return true;
    }
    bool on_string_part(json::string_view part, std::size_t, json::error_code &)
    {
        stack.push_chars(part);
        return true;
    }
    bool on_string(json::string_view last, std::size_t, json::error_code &)
    {
        stack.push_string(last);
        return true;
    }
    bool on_number_part(json::string_view part, json::error_code &)
    {
        number_.append(part.data(), part.size());
        return true;
    }
    bool on_int64(std::int64_t value, json::string_view, json::error_code &)
    {
        number_.clear();
        stack.push_int64(value);
        return true;
    }
    bool on_uint64(std::uint64_t value, json::string_view, json::error_code &)
    {
        number_.clear();
        stack.push_uint64(value);
        return true;
    }
    bool on_double(double approximate, json::string_view last, json::error_code &)
    {
        number_.append(last.data(), last.size());
        stack.push_double(nearestDouble(number_, approximate));
        number_.clear();
        return true;
    }
    bool on_bool(bool value, json::error_code &)
    {
        stack.push_bool(value);
        return true;
    }
    bool on_null(json::error_code &)
    {
        stack.push_null();
        return true;
    }
    bool on_comment_part(json::string_view, json::error_code &) { return true; }
    bool on_comment(json::string_view, json::error_code &) { return true; }

  private:
    // The text of a number split across writes; one write of the whole text never splits it.
    std::string number_;
};

} // namespace

json::value parseExactJSON(std::string_view text, json::error_code &error, const json::parse_options &options)
{
    json::basic_parser<ExactHandler> parser(options);
    parser.handler().stack.reset();
    std::size_t read = parser.write_some(false, text.data(), text.size(), error);
    if (!error && read < text.size())
        error = json::error::extra_data;
    if (error)
        return nullptr;
    return parser.handler().stack.release();
}

} // namespace wheelbox
