// Reads typed values off the front of a fuzzer's input. Once the input runs out every read
// yields zero (and an empty text), so any input, however short, derives one complete case and
// a given input always derives the same one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tarvo::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t Left() const { return size_ - pos_; }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  int16_t Int16() {
    const uint16_t lo = Byte(), hi = Byte();
    return static_cast<int16_t>(lo | (hi << 8));
  }

  // Any bit pattern: NaN, infinities and subnormals included.
  double Double() {
    uint8_t bytes[sizeof(double)];
    for (uint8_t& b : bytes) b = Byte();
    double v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
  }

  // A number in [0, n) (n > 0).
  int Below(int n) { return Byte() % n; }

  // A length byte (cut to max), then that many bytes.
  std::string Text(size_t max) {
    size_t n = Byte();
    if (n > max) n = max;
    if (n > Left()) n = Left();
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }

  std::string Rest() {
    std::string s(reinterpret_cast<const char*>(data_ + pos_), Left());
    pos_ = size_;
    return s;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The input cut at each '\n' (a final line without one counts too).
inline std::vector<std::string> Lines(const uint8_t* data, size_t size) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n')
      lines.emplace_back();
    else
      lines.back() += static_cast<char>(data[i]);
  }
  return lines;
}

}  // namespace tarvo::fuzz
