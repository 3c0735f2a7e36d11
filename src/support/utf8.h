#pragma once
// UTF-8 as the display checks it everywhere: overlong forms, surrogates and code points past
// U+10FFFF are not valid, so a text that passes is one every reader (Cairo, JSON parsers) takes.
#include <cstddef>
#include <string_view>

namespace plasma {

// Length of the valid UTF-8 sequence that starts at s[i] (1 for any ASCII byte, NUL included), or
// 0 when none starts there.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i);

bool isValidUtf8(std::string_view s);

}  // namespace plasma
