#pragma once
// An output stream several threads may write while a test reads it. Tests only.

#include <mutex>
#include <ostream>
#include <sstream>
#include <string>

namespace tarnwick::testing {

class LockedBuffer final : public std::streambuf {
 public:
  std::string str() const {
    std::lock_guard lock(mutex_);
    return text_;
  }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard lock(mutex_);
    text_.append(s, static_cast<size_t>(n));
    return n;
  }
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) {
      std::lock_guard lock(mutex_);
      text_.push_back(static_cast<char>(c));
    }
    return c;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

class LockedStream final : public std::ostream {
 public:
  LockedStream() : std::ostream(&buffer_) {}
  std::string str() const { return buffer_.str(); }

 private:
  LockedBuffer buffer_;
};

}  // namespace tarnwick::testing
