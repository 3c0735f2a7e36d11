#pragma once
#include <cstddef>

// The artwork compiled into the program: logos, splash pictures and the window icon.
namespace plasma::artwork {

struct Blob {
  const unsigned char* data;
  std::size_t size;
  bool empty() const { return data == nullptr || size == 0; }
};

// Looks an embedded file up by its name in resources/ ("logo-navy.bmp"); empty when unknown.
Blob find(const char* name);

}  // namespace plasma::artwork
