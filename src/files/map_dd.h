#pragma once
// Map of 32-bit keys to 32-bit values (tone ids to stream offsets or tone
// indices). Failures to allocate are reported, never thrown.
#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace vl {

class CMapDD {
 public:
  // Room for initialSize entries up front; the map grows past it as needed.
  explicit CMapDD(size_t initialSize = 10);

  // Adds or replaces; false when memory ran out (the map is as it was).
  bool SetAt(uint32_t key, uint32_t value);
  // True and the value when the key is present; value untouched otherwise.
  bool Lookup(uint32_t key, uint32_t& value) const;
  // True when the key was present.
  bool RemoveKey(uint32_t key);
  void RemoveAll();
  size_t GetCount() const { return map.size(); }

 private:
  std::unordered_map<uint32_t, uint32_t> map;
};

}  // namespace vl
