// A tiny little-endian byte builder, for tests that compare a writer's
// bytes with a saved-form layout assembled field by field.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace le_bytes {

class Builder {
 public:
  Builder& Tag(const char* tag) {
    fBytes += tag;
    return *this;
  }
  Builder& Int(std::int32_t v) {
    const std::uint32_t u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) fBytes += static_cast<char>((u >> (8 * i)) & 0xff);
    return *this;
  }
  Builder& Double(double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    for (int i = 0; i < 8; ++i) fBytes += static_cast<char>((u >> (8 * i)) & 0xff);
    return *this;
  }
  Builder& Doubles(const std::vector<double>& v) {
    for (double x : v) Double(x);
    return *this;
  }
  Builder& Raw(const std::string& bytes) {
    fBytes += bytes;
    return *this;
  }
  const std::string& Str() const { return fBytes; }

 private:
  std::string fBytes;
};

}  // namespace le_bytes
