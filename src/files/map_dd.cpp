#include "files/map_dd.h"

#include <algorithm>
#include <exception>
#include <new>

namespace vl {

CMapDD::CMapDD(size_t initialSize) {
  // The size may come from a file: a hint, never a reason to take gigabytes
  // of buckets before the first entry.
  constexpr size_t kMostReserved = size_t(1) << 16;
  try {
    map.reserve(std::min(initialSize, kMostReserved));
  } catch (const std::exception&) {
    // Out of memory, or an absurd size: the map still works and grows as needed.
  }
}

bool CMapDD::SetAt(uint32_t key, uint32_t value) {
  try {
    map.insert_or_assign(key, value);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool CMapDD::Lookup(uint32_t key, uint32_t& value) const {
  auto it = map.find(key);
  if (it == map.end()) return false;
  value = it->second;
  return true;
}

bool CMapDD::RemoveKey(uint32_t key) { return map.erase(key) != 0; }

void CMapDD::RemoveAll() { map.clear(); }

}  // namespace vl
