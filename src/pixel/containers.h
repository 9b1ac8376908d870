#pragma once
// Small containers for the pixel code, the seed fill, the event recorder and
// the file readers. None is thread-safe; failure is a return value, and every
// operation copes with a missing buffer.
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "pixel/geometry.h"
#include "platform/memory.h"

namespace vl {

// Count items of a fixed byte size in one owned block.
class CItemArray {
 public:
  CItemArray() = default;
  CItemArray(CItemArray&& other) noexcept;
  CItemArray& operator=(CItemArray&& other) noexcept;

  // Another item size drops the old buffer; an existing buffer with the same
  // count is left alone; otherwise the buffer is reallocated and the overlap kept.
  bool Setup(int32_t itemSize, int32_t count);
  // Always a new buffer; the old bytes are kept as far as they fit.
  bool Resize(int32_t itemSize, int32_t count);
  void Fill(uint8_t value);
  void Free();
  // Hands the buffer to the caller; the array is left empty.
  Block Detach();
  // Takes other's buffer when this array has none; other is left empty.
  bool Adopt(CItemArray& other);

  uint8_t* Data() { return buf_.get(); }
  const uint8_t* Data() const { return buf_.get(); }
  uint8_t* Item(int32_t i) { return buf_.get() + int64_t(i) * itemSize_; }
  const uint8_t* Item(int32_t i) const { return buf_.get() + int64_t(i) * itemSize_; }
  template <class T>
  T* As() { return reinterpret_cast<T*>(buf_.get()); }
  template <class T>
  const T* As() const { return reinterpret_cast<const T*>(buf_.get()); }

  int32_t Count() const { return count_; }
  int32_t ItemSize() const { return itemSize_; }
  int64_t Bytes() const { return int64_t(count_) * itemSize_; }
  bool Empty() const { return !buf_; }

 private:
  bool reallocate(int32_t itemSize, int32_t count, int64_t bytes);

  Block buf_;
  int32_t count_ = 0;
  int32_t itemSize_ = 0;
};

// An item array of one trivially copyable type.
template <class T>
class CTypedArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  bool Setup(int32_t count) { return items_.Setup(int32_t(sizeof(T)), count); }
  bool Resize(int32_t count) { return items_.Resize(int32_t(sizeof(T)), count); }
  void Fill(uint8_t value) { items_.Fill(value); }
  void Free() { items_.Free(); }
  Block Detach() { return items_.Detach(); }
  bool Adopt(CTypedArray& other) { return items_.Adopt(other.items_); }

  T* Data() { return items_.As<T>(); }
  const T* Data() const { return items_.As<T>(); }
  T& operator[](int32_t i) { return Data()[i]; }
  const T& operator[](int32_t i) const { return Data()[i]; }
  T* begin() { return Data(); }
  T* end() { return Data() + items_.Count(); }
  const T* begin() const { return Data(); }
  const T* end() const { return Data() + items_.Count(); }

  int32_t Count() const { return items_.Count(); }
  bool Empty() const { return items_.Empty(); }

 private:
  CItemArray items_;
};

static_assert(sizeof(Point) == 8);
// Polygons and outlines.
using CPointArray = CTypedArray<Point>;

// Width × height cells of a fixed byte size, row after row.
class CGridArray {
 public:
  CGridArray() = default;
  CGridArray(CGridArray&& other) noexcept;
  CGridArray& operator=(CGridArray&& other) noexcept;

  // As CItemArray::Setup with width × height cells.
  bool Setup(int32_t itemSize, int32_t width, int32_t height);
  void Fill(uint8_t value) { cells_.Fill(value); }
  void Free();
  Block Detach();
  bool Adopt(CGridArray& other);

  uint8_t* Data() { return cells_.Data(); }
  const uint8_t* Data() const { return cells_.Data(); }
  uint8_t* Cell(int32_t x, int32_t y) { return cells_.Item(y * width_ + x); }
  const uint8_t* Cell(int32_t x, int32_t y) const { return cells_.Item(y * width_ + x); }
  template <class T>
  T& At(int32_t x, int32_t y) { return *reinterpret_cast<T*>(Cell(x, y)); }
  template <class T>
  const T& At(int32_t x, int32_t y) const { return *reinterpret_cast<const T*>(Cell(x, y)); }

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t CellCount() const { return cells_.Count(); }
  int32_t ItemSize() const { return cells_.ItemSize(); }
  bool Empty() const { return cells_.Empty(); }

 private:
  CItemArray cells_;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

// A stack whose capacity is fixed at construction: a push on a full stack
// sets the overflow flag and is dropped, so a runaway caller fails fast.
template <class T>
class CDynStack {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  explicit CDynStack(int32_t capacity) {
    if (capacity > 0 && items_.Setup(capacity)) top_ = items_.Data();
  }
  CDynStack(const CDynStack&) = delete;
  CDynStack& operator=(const CDynStack&) = delete;

  void Reset() {
    depth_ = 0;
    overflow_ = 0;
    top_ = items_.Data();
  }
  bool Push(const T& item) {
    if (depth_ < items_.Count()) {
      *top_++ = item;
      ++depth_;
      return true;
    }
    overflow_ = 1;
    return false;
  }
  bool Pop(T& item) {
    if (depth_ <= 0) return false;
    item = *--top_;
    --depth_;
    return true;
  }

  bool Overflowed() const { return overflow_ != 0; }
  int32_t Depth() const { return depth_; }
  int32_t Capacity() const { return items_.Count(); }
  bool IsReady() const { return !items_.Empty(); }

 private:
  CTypedArray<T> items_;
  uint8_t overflow_ = 0;
  int32_t depth_ = 0;
  T* top_ = nullptr;
};

// History of fixed-size items with a cursor. The back side ends with the item
// at the cursor; the forward side holds items stepped back over, ready to be
// stepped forward onto again. Keeps stream positions in step with undo/redo.
class CRingBuf {
 public:
  explicit CRingBuf(int32_t itemSize = 0) : itemSize_(itemSize) {}
  CRingBuf(const CRingBuf&) = delete;
  CRingBuf& operator=(const CRingBuf&) = delete;

  // Item size and back capacity must be at least 1; forward may be 0.
  bool Setup(int32_t itemSize, int32_t backCapacity, int32_t forwardCapacity);
  bool IsReady() const { return buf_ && backCap_ > 0; }
  void Reset();
  void Release();

  // Advances the cursor and writes there; everything ahead is discarded.
  bool Push(const void* item);
  // Overwrites the item at the cursor; an empty back side then holds it.
  bool WriteCurrent(const void* item);
  // Forgets the item at the cursor and everything ahead.
  bool Drop();
  bool StepBack();
  bool StepForward();
  bool Peek(void* item) const;
  // k < 0 looks |k| items back, k > 0 k items forward, 0 is Peek.
  bool PeekAt(int32_t k, void* item) const;
  // The forward count, which is cleared.
  int32_t TakeForward();
  // New capacities, keeping the most recent items behind the cursor and the
  // nearest ones ahead, in order.
  bool Rebuild(int32_t backCapacity, int32_t forwardCapacity);

  int32_t ItemSize() const { return itemSize_; }
  int32_t BackCapacity() const { return backCap_; }
  int32_t ForwardCapacity() const { return forwardCap_; }
  int32_t BackCount() const { return backCount_; }
  int32_t ForwardCount() const { return forwardCount_; }

 private:
  int32_t slotCount() const { return backCap_ + forwardCap_; }
  int32_t wrap(int64_t index) const;
  uint8_t* slot(int32_t index) const { return buf_.get() + int64_t(index) * itemSize_; }

  Block buf_;
  int64_t totalBytes_ = 0;
  int32_t itemSize_ = 0;
  int32_t backCap_ = 0;
  int32_t forwardCap_ = 0;
  int32_t backCount_ = 0;
  int32_t forwardCount_ = 0;
  int32_t cursor_ = 0;
};

// A ring of 32-bit values.
class CRingBufDWORD : public CRingBuf {
 public:
  CRingBufDWORD() : CRingBuf(4) {}

  bool Setup(int32_t backCapacity, int32_t forwardCapacity) {
    return CRingBuf::Setup(4, backCapacity, forwardCapacity);
  }
  // The value at the cursor, 0 when the back side is empty.
  uint32_t Current() const {
    uint32_t v = 0;
    Peek(&v);
    return v;
  }
  bool PushValue(uint32_t value) { return Push(&value); }
  bool WriteCurrentValue(uint32_t value) { return WriteCurrent(&value); }
  bool PeekAt(int32_t k, uint32_t& value) const { return CRingBuf::PeekAt(k, &value); }
};

// One fixed block; reads and writes are clamped to it.
class CMemSeg {
 public:
  explicit CMemSeg(int32_t size);
  CMemSeg(CMemSeg&& other) noexcept;
  CMemSeg& operator=(CMemSeg&& other) noexcept;

  // Bytes copied: 0 without a block, for a negative offset or length, or at or
  // past the end; otherwise as many as fit.
  int32_t Write(const void* source, int32_t offset, int32_t length);
  int32_t Read(void* destination, int32_t offset, int32_t length) const;
  void Release();

  bool IsValid() const { return valid_ != 0; }
  int32_t Size() const { return size_; }
  uint8_t* Data() { return buf_.get(); }
  const uint8_t* Data() const { return buf_.get(); }

 private:
  // Clamped byte count for a request, 0 when none may be copied.
  int32_t span(int32_t offset, int32_t length) const;

  Block buf_;
  int32_t size_ = 0;
  int32_t valid_ = 0;
};

enum class SeekFrom { Begin, Current, End };

// A stream over memory the caller owns. It never grows: writes stop at the
// end. Built from a const pointer it is read-only and every write gives 0.
class CFixedMemStream {
 public:
  CFixedMemStream(const void* data, int64_t size);
  CFixedMemStream(void* data, int64_t size);

  // Bytes read, up to n.
  int64_t Read(void* destination, int64_t n);
  // Bytes written, up to n and never past the end.
  int64_t Write(const void* source, int64_t n);
  // A target before the start or past the end is refused.
  bool Seek(int64_t offset, SeekFrom from = SeekFrom::Begin);
  bool Skip(int64_t n) { return Seek(n, SeekFrom::Current); }

  int64_t Position() const { return pos_; }
  int64_t Size() const { return size_; }
  int64_t Remaining() const { return size_ - pos_; }
  const uint8_t* Data() const { return data_; }

  // All n bytes or none; the position moves only on success.
  bool ReadBytes(void* destination, int64_t n);
  bool ReadU8(uint8_t& v);
  bool ReadU16(uint16_t& v);
  bool ReadI16(int16_t& v);
  bool ReadU32(uint32_t& v);
  bool ReadI32(int32_t& v);
  bool ReadU16BE(uint16_t& v);
  bool ReadU32BE(uint32_t& v);

 private:
  const uint8_t* data_ = nullptr;
  uint8_t* writable_ = nullptr;
  int64_t size_ = 0;
  int64_t pos_ = 0;
};

}  // namespace vl
