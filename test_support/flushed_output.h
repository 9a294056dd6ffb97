// An output stream for tests that tells what has been flushed from what is still
// buffered: text reaches Flushed() only when the stream is flushed, as it reaches a
// file or pipe on the platform only when the C runtime's buffer is written out.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

class FlushedOutput {
 public:
  FlushedOutput() : stream_(&buffer_) {}
  FlushedOutput(const FlushedOutput&) = delete;
  FlushedOutput& operator=(const FlushedOutput&) = delete;

  std::ostream& Stream() { return stream_; }
  const std::string& Flushed() const { return buffer_.flushed; }
  // Everything written, flushed or not.
  std::string Written() const { return buffer_.flushed + buffer_.pending; }

 private:
  struct Buffer : std::streambuf {
    std::string pending;
    std::string flushed;
    int_type overflow(int_type ch) override {
      if (!traits_type::eq_int_type(ch, traits_type::eof()))
        pending += traits_type::to_char_type(ch);
      return traits_type::not_eof(ch);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
      pending.append(text, static_cast<std::size_t>(count));
      return count;
    }
    int sync() override {
      flushed += pending;
      pending.clear();
      return 0;
    }
  };
  Buffer buffer_;
  std::ostream stream_;
};
