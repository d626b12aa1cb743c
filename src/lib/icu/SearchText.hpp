#pragma once

#include <string>
#include <string_view>

// Text as search compares it. Names and queries go through the same folding, so whatever a name
// reads as, typing it (in any case, with or without its accents) finds it.
namespace wheelbox::icu {

// The words of a text, folded and joined by single spaces: compatibility forms unified (NFKC),
// case folded, accents and other nonspacing marks dropped, apostrophes dropped inside a word
// ("Don’t" is "dont"). Words are runs of letters, digits and spacing marks; every other character
// separates them, except that each ideograph and kana stands as a word of its own, as those
// scripts put no spaces between words. A text without any letter or digit ("!!!") keeps its
// folded non-space runs as its words, so it can still be found by typing it. Ill-formed UTF-8
// reads as U+FFFD. Thread-safe.
std::string foldForSearch(std::string_view text);
// The same, and whether the text had no letter or digit (the words are then its own runs). Folding
// is the same on each part of a text between ASCII spaces, so a caller may fold the parts apart:
// the text's words are the parts' words, or the parts' runs when no part has a word.
std::string foldForSearch(std::string_view text, bool &withoutWords);

// The text's first `count` user-perceived characters (extended grapheme clusters), so a cut never
// splits a character or a UTF-8 sequence. Ill-formed UTF-8 is made well formed first.
std::string leadingCharacters(std::string_view text, std::size_t count);

} // namespace wheelbox::icu
