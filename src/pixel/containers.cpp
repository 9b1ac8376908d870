#include "pixel/containers.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace vl {

// ---- CItemArray ----

CItemArray::CItemArray(CItemArray&& other) noexcept
    : buf_(std::move(other.buf_)), count_(std::exchange(other.count_, 0)), itemSize_(other.itemSize_) {}

CItemArray& CItemArray::operator=(CItemArray&& other) noexcept {
  if (this != &other) {
    buf_ = std::move(other.buf_);
    count_ = std::exchange(other.count_, 0);
    itemSize_ = other.itemSize_;
  }
  return *this;
}

// A new buffer of `bytes` holding as much of the old one as fits. On failure
// the array is unchanged.
bool CItemArray::reallocate(int32_t itemSize, int32_t count, int64_t bytes) {
  Block fresh;
  if (bytes > 0) {
    fresh = TryAlloc(uint64_t(bytes));
    if (!fresh) return false;
    if (buf_) std::memcpy(fresh.get(), buf_.get(), size_t(std::min(Bytes(), bytes)));
  }
  buf_ = std::move(fresh);
  itemSize_ = itemSize;
  count_ = buf_ ? count : 0;
  return true;
}

bool CItemArray::Setup(int32_t itemSize, int32_t count) {
  int64_t bytes = checkedBytes(itemSize, count);
  if (itemSize < 1 || bytes < 0) return false;
  if (itemSize != itemSize_) {
    Free();
    itemSize_ = itemSize;
  }
  if (buf_ && count == count_) return true;
  return reallocate(itemSize, count, bytes);
}

bool CItemArray::Resize(int32_t itemSize, int32_t count) {
  int64_t bytes = checkedBytes(itemSize, count);
  if (itemSize < 1 || bytes < 0) return false;
  return reallocate(itemSize, count, bytes);
}

void CItemArray::Fill(uint8_t value) {
  if (buf_) std::memset(buf_.get(), value, size_t(Bytes()));
}

void CItemArray::Free() {
  buf_.reset();
  count_ = 0;
}

Block CItemArray::Detach() {
  count_ = 0;
  return std::move(buf_);
}

bool CItemArray::Adopt(CItemArray& other) {
  if (&other == this) return true;
  if (buf_) return false;
  *this = std::move(other);
  return true;
}

// ---- CGridArray ----

CGridArray::CGridArray(CGridArray&& other) noexcept
    : cells_(std::move(other.cells_)),
      width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)) {}

CGridArray& CGridArray::operator=(CGridArray&& other) noexcept {
  if (this != &other) {
    cells_ = std::move(other.cells_);
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
  }
  return *this;
}

bool CGridArray::Setup(int32_t itemSize, int32_t width, int32_t height) {
  if (width < 0 || height < 0) return false;
  int64_t cells = int64_t(width) * height;
  if (cells > std::numeric_limits<int32_t>::max()) return false;
  if (!cells_.Setup(itemSize, int32_t(cells))) return false;
  width_ = cells_.Empty() ? 0 : width;
  height_ = cells_.Empty() ? 0 : height;
  return true;
}

void CGridArray::Free() {
  cells_.Free();
  width_ = height_ = 0;
}

Block CGridArray::Detach() {
  width_ = height_ = 0;
  return cells_.Detach();
}

bool CGridArray::Adopt(CGridArray& other) {
  if (&other == this) return true;
  if (!cells_.Empty()) return false;
  *this = std::move(other);
  return true;
}

// ---- CRingBuf ----

int32_t CRingBuf::wrap(int64_t index) const {
  int64_t n = slotCount();
  index %= n;
  return int32_t(index < 0 ? index + n : index);
}

bool CRingBuf::Setup(int32_t itemSize, int32_t backCapacity, int32_t forwardCapacity) {
  if (itemSize < 1 || backCapacity < 1 || forwardCapacity < 0) return false;
  int64_t bytes = checkedBytes(itemSize, int64_t(backCapacity) + forwardCapacity);
  if (bytes < 0) return false;
  Block fresh = TryAlloc(uint64_t(bytes));
  if (!fresh) return false;
  buf_ = std::move(fresh);
  totalBytes_ = bytes;
  itemSize_ = itemSize;
  backCap_ = backCapacity;
  forwardCap_ = forwardCapacity;
  Reset();
  return true;
}

void CRingBuf::Reset() {
  cursor_ = 0;
  backCount_ = 0;
  forwardCount_ = 0;
}

void CRingBuf::Release() {
  buf_.reset();
  totalBytes_ = 0;
  backCap_ = forwardCap_ = 0;
  Reset();
}

bool CRingBuf::Push(const void* item) {
  if (!IsReady()) return false;
  cursor_ = wrap(int64_t(cursor_) + 1);
  std::memcpy(slot(cursor_), item, size_t(itemSize_));
  backCount_ = std::min(backCount_ + 1, backCap_);
  forwardCount_ = 0;
  return true;
}

bool CRingBuf::WriteCurrent(const void* item) {
  if (!IsReady()) return false;
  std::memcpy(slot(cursor_), item, size_t(itemSize_));
  if (backCount_ == 0) {
    backCount_ = 1;
    // With no spare slot the cursor's slot would also be the farthest item ahead.
    forwardCount_ = std::min(forwardCount_, slotCount() - 1);
  }
  return true;
}

bool CRingBuf::Drop() {
  if (!IsReady() || backCount_ <= 0) return false;
  cursor_ = wrap(int64_t(cursor_) - 1);
  --backCount_;
  forwardCount_ = 0;
  return true;
}

bool CRingBuf::StepBack() {
  if (!IsReady() || backCount_ <= 0) return false;
  cursor_ = wrap(int64_t(cursor_) - 1);
  --backCount_;
  ++forwardCount_;
  return true;
}

bool CRingBuf::StepForward() {
  if (!IsReady() || forwardCount_ <= 0) return false;
  cursor_ = wrap(int64_t(cursor_) + 1);
  ++backCount_;
  --forwardCount_;
  return true;
}

bool CRingBuf::Peek(void* item) const {
  if (!IsReady() || backCount_ <= 0) return false;
  std::memcpy(item, slot(cursor_), size_t(itemSize_));
  return true;
}

bool CRingBuf::PeekAt(int32_t k, void* item) const {
  if (k == 0) return Peek(item);
  if (!IsReady()) return false;
  int64_t step = k;
  if (k < 0 && -step > int64_t(backCount_) - 1) return false;
  if (k > 0 && step > forwardCount_) return false;
  std::memcpy(item, slot(wrap(cursor_ + step)), size_t(itemSize_));
  return true;
}

int32_t CRingBuf::TakeForward() {
  return std::exchange(forwardCount_, 0);
}

bool CRingBuf::Rebuild(int32_t backCapacity, int32_t forwardCapacity) {
  if (buf_ && backCapacity == backCap_ && forwardCapacity == forwardCap_) return true;
  if (itemSize_ < 1 || backCapacity < 1 || forwardCapacity < 0) return false;
  int32_t keepBack = buf_ ? std::min(backCount_, backCapacity) : 0;
  int32_t keepForward = buf_ ? std::min(forwardCount_, forwardCapacity) : 0;
  // Items ahead need the cursor's item to stand behind.
  if (keepForward > 0 && keepBack == 0) return false;
  int64_t bytes = checkedBytes(itemSize_, int64_t(backCapacity) + forwardCapacity);
  if (bytes < 0) return false;
  Block fresh = TryAlloc(uint64_t(bytes));
  if (!fresh) return false;

  // Oldest kept item first, the cursor's item at keepBack − 1, then the items ahead.
  size_t n = size_t(itemSize_);
  for (int32_t i = 0; i < keepBack; ++i)
    std::memcpy(fresh.get() + int64_t(i) * n, slot(wrap(int64_t(cursor_) - (keepBack - 1 - i))), n);
  for (int32_t j = 1; j <= keepForward; ++j)
    std::memcpy(fresh.get() + int64_t(keepBack - 1 + j) * n, slot(wrap(int64_t(cursor_) + j)), n);

  buf_ = std::move(fresh);
  totalBytes_ = bytes;
  backCap_ = backCapacity;
  forwardCap_ = forwardCapacity;
  backCount_ = keepBack;
  forwardCount_ = keepForward;
  cursor_ = keepBack > 0 ? keepBack - 1 : 0;
  return true;
}

// ---- CMemSeg ----

CMemSeg::CMemSeg(int32_t size) {
  if (size <= 0) return;
  buf_ = TryAlloc(uint64_t(size));
  if (!buf_) return;
  size_ = size;
  valid_ = 1;
}

CMemSeg::CMemSeg(CMemSeg&& other) noexcept
    : buf_(std::move(other.buf_)), size_(std::exchange(other.size_, 0)), valid_(std::exchange(other.valid_, 0)) {}

CMemSeg& CMemSeg::operator=(CMemSeg&& other) noexcept {
  if (this != &other) {
    buf_ = std::move(other.buf_);
    size_ = std::exchange(other.size_, 0);
    valid_ = std::exchange(other.valid_, 0);
  }
  return *this;
}

int32_t CMemSeg::span(int32_t offset, int32_t length) const {
  if (!buf_ || offset < 0 || length <= 0 || offset >= size_) return 0;
  return std::min(length, size_ - offset);
}

int32_t CMemSeg::Write(const void* source, int32_t offset, int32_t length) {
  int32_t n = source ? span(offset, length) : 0;
  if (n > 0) std::memcpy(buf_.get() + offset, source, size_t(n));
  return n;
}

int32_t CMemSeg::Read(void* destination, int32_t offset, int32_t length) const {
  int32_t n = destination ? span(offset, length) : 0;
  if (n > 0) std::memcpy(destination, buf_.get() + offset, size_t(n));
  return n;
}

void CMemSeg::Release() {
  buf_.reset();
  size_ = 0;
  valid_ = 0;
}

// ---- CFixedMemStream ----

CFixedMemStream::CFixedMemStream(const void* data, int64_t size) {
  if (data && size > 0) {
    data_ = static_cast<const uint8_t*>(data);
    size_ = size;
  }
}

CFixedMemStream::CFixedMemStream(void* data, int64_t size) : CFixedMemStream(static_cast<const void*>(data), size) {
  if (data_) writable_ = static_cast<uint8_t*>(data);
}

int64_t CFixedMemStream::Read(void* destination, int64_t n) {
  if (!destination || n <= 0) return 0;
  int64_t m = std::min(n, Remaining());
  if (m > 0) std::memcpy(destination, data_ + pos_, size_t(m));
  pos_ += m;
  return m;
}

int64_t CFixedMemStream::Write(const void* source, int64_t n) {
  if (!writable_ || !source || n <= 0) return 0;
  int64_t m = std::min(n, Remaining());
  if (m > 0) std::memcpy(writable_ + pos_, source, size_t(m));
  pos_ += m;
  return m;
}

bool CFixedMemStream::Seek(int64_t offset, SeekFrom from) {
  int64_t base = from == SeekFrom::Begin ? 0 : from == SeekFrom::Current ? pos_ : size_;
  // base + offset within 0 … size, without overflowing.
  if (offset < -base || offset > size_ - base) return false;
  pos_ = base + offset;
  return true;
}

bool CFixedMemStream::ReadBytes(void* destination, int64_t n) {
  if (!destination || n < 0 || n > Remaining()) return false;
  if (n > 0) std::memcpy(destination, data_ + pos_, size_t(n));
  pos_ += n;
  return true;
}

bool CFixedMemStream::ReadU8(uint8_t& v) { return ReadBytes(&v, 1); }

bool CFixedMemStream::ReadU16(uint16_t& v) {
  uint8_t b[2];
  if (!ReadBytes(b, 2)) return false;
  v = uint16_t(b[0] | (b[1] << 8));
  return true;
}

bool CFixedMemStream::ReadI16(int16_t& v) {
  uint16_t u;
  if (!ReadU16(u)) return false;
  v = int16_t(u);
  return true;
}

bool CFixedMemStream::ReadU32(uint32_t& v) {
  uint8_t b[4];
  if (!ReadBytes(b, 4)) return false;
  v = uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
  return true;
}

bool CFixedMemStream::ReadI32(int32_t& v) {
  uint32_t u;
  if (!ReadU32(u)) return false;
  v = int32_t(u);
  return true;
}

bool CFixedMemStream::ReadU16BE(uint16_t& v) {
  uint8_t b[2];
  if (!ReadBytes(b, 2)) return false;
  v = uint16_t((b[0] << 8) | b[1]);
  return true;
}

bool CFixedMemStream::ReadU32BE(uint32_t& v) {
  uint8_t b[4];
  if (!ReadBytes(b, 4)) return false;
  v = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
  return true;
}

}  // namespace vl
