#include "text/text.h"

namespace tarnwick {

namespace {

// Bounds of the second byte of a sequence by its lead byte (Unicode Table 3-7).
bool second_byte_ok(unsigned char lead, unsigned char b) {
  switch (lead) {
    case 0xE0: return b >= 0xA0 && b <= 0xBF;
    case 0xED: return b >= 0x80 && b <= 0x9F;
    case 0xF0: return b >= 0x90 && b <= 0xBF;
    case 0xF4: return b >= 0x80 && b <= 0x8F;
    default: return b >= 0x80 && b <= 0xBF;
  }
}

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

char32_t decode_utf8(std::string_view text, size_t& pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  const unsigned char lead = p[pos];
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int len;
  char32_t cp;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    cp = lead & 0x07;
  } else {
    ++pos;
    return kReplacementChar;
  }
  size_t i = pos + 1;
  for (int k = 1; k < len; ++k, ++i) {
    if (i >= n) {
      pos = i;
      return kReplacementChar;
    }
    const unsigned char b = p[i];
    const bool ok = (k == 1) ? second_byte_ok(lead, b) : is_continuation(b);
    if (!ok) {
      pos = i;  // the offending byte starts the next sequence
      return kReplacementChar;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  pos = i;
  return cp;
}

void append_utf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::u16string utf8_to_utf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = decode_utf8(utf8, pos);
    if (cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
    } else {
      const char32_t v = cp - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    }
  }
  return out;
}

namespace {

// One code point from the units that `unit(i)` reads; unpaired surrogates
// become U+FFFD. Advances `i` past what it used.
template <typename UnitAt>
char32_t decode_utf16(UnitAt unit, size_t n, size_t& i) {
  const char16_t u = unit(i++);
  if (u < 0xD800 || u > 0xDFFF) return u;
  if (u <= 0xDBFF && i < n) {
    const char16_t low = unit(i);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      ++i;
      return 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
    }
  }
  return kReplacementChar;
}

}  // namespace

std::string utf16_to_utf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  const auto unit = [&](size_t i) { return utf16[i]; };
  for (size_t i = 0; i < utf16.size();) append_utf8(decode_utf16(unit, utf16.size(), i), out);
  return out;
}

void append_utf16le(const unsigned char* bytes, size_t units, std::string& out) {
  const auto unit = [bytes](size_t i) {
    return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  };
  // Most names are ASCII: copy that leading run in one step.
  size_t ascii = 0;
  while (ascii < units && bytes[2 * ascii + 1] == 0 && bytes[2 * ascii] < 0x80) ++ascii;
  out.reserve(out.size() + ascii);
  for (size_t k = 0; k < ascii; ++k) out.push_back(static_cast<char>(bytes[2 * k]));
  for (size_t i = ascii; i < units;) append_utf8(decode_utf16(unit, units, i), out);
}

bool is_valid_utf8(std::string_view bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const size_t start = pos;
    const char32_t cp = decode_utf8(bytes, pos);
    // A literal U+FFFD in the input is three bytes long; a replacement is shorter
    // or marks an error.
    if (cp == kReplacementChar && !(pos - start == 3 && bytes.substr(start, 3) == "\xEF\xBF\xBD")) {
      return false;
    }
  }
  return true;
}

bool is_valid_utf16(std::u16string_view units) {
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::string_view utf8_prefix(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  size_t cut = max_bytes;
  // Step back over continuation bytes to the lead byte of the cut character;
  // keep it only if the whole character fits.
  size_t lead = cut;
  while (lead > 0 && is_continuation(static_cast<unsigned char>(text[lead]))) --lead;
  if (lead < cut || is_continuation(static_cast<unsigned char>(text[cut]))) {
    size_t end = lead;
    decode_utf8(text, end);
    if (end > cut) cut = lead;
  }
  return text.substr(0, cut);
}

std::string_view file_name(std::string_view path) {
  // A plain backward scan: find_last_of makes a library call per character,
  // and this runs for every file change.
  size_t start = path.size();
  while (start > 0 && path[start - 1] != '\\' && path[start - 1] != '/') --start;
  return path.substr(start);
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace tarnwick
