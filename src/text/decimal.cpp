#include <charconv>

#include "text/text.h"

namespace tarnwick {

void append_decimal(uint64_t value, std::string& out) {
  char buf[20];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, result.ptr);
}

}  // namespace tarnwick
