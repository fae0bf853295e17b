#include "format.h"
#include <cstring>

namespace zqa {

bool Reader::read(void* dst, size_t n) {
  if (!can(n)) { failed = true; std::memset(dst, 0, n); return false; }
  std::memcpy(dst, base + pos, n);
  pos += n;
  return true;
}

const uint8_t* Reader::take(size_t n) {
  if (!can(n)) { failed = true; return nullptr; }
  const uint8_t* p = base + pos;
  pos += n;
  return p;
}

bool Reader::skip(size_t n) {
  if (!can(n)) { failed = true; return false; }
  pos += n;
  return true;
}

}  // namespace zqa
