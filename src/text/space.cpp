#include "text/text.h"

namespace tarnwick {

bool is_white_space(char32_t cp) {
  if (cp < 0x80) return cp == ' ' || (cp >= 0x09 && cp <= 0x0D);
  return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
         cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

std::string_view trim_white_space(std::string_view utf8) {
  size_t begin = 0;
  while (begin < utf8.size()) {
    size_t next = begin;
    if (!is_white_space(decode_utf8(utf8, next))) break;
    begin = next;
  }
  // Scanning forward keeps the decoding in step with character boundaries;
  // `end` is the end of the last character that is not white space.
  size_t end = begin;
  for (size_t pos = begin; pos < utf8.size();) {
    if (!is_white_space(decode_utf8(utf8, pos))) end = pos;
  }
  return utf8.substr(begin, end - begin);
}

}  // namespace tarnwick
