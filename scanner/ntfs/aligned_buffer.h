#pragma once
// A byte buffer aligned for unbuffered volume reads.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "scanner/ntfs/volume_reader.h"

namespace mirrow::ntfs {

class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  explicit AlignedBuffer(std::size_t size) { resize(size); }

  // Discards the contents; the buffer holds size bytes afterwards.
  void resize(std::size_t size) {
    if (size == size_) return;
    bytes_.reset();
    size_ = 0;
    if (size == 0) return;
    bytes_.reset(static_cast<std::uint8_t*>(::operator new(size, std::align_val_t{volume_alignment})));
    size_ = size;
  }

  std::uint8_t* data() noexcept { return bytes_.get(); }
  const std::uint8_t* data() const noexcept { return bytes_.get(); }
  std::size_t size() const noexcept { return size_; }

 private:
  struct Release {
    void operator()(std::uint8_t* p) const noexcept { ::operator delete(p, std::align_val_t{volume_alignment}); }
  };
  std::unique_ptr<std::uint8_t, Release> bytes_;
  std::size_t size_ = 0;
};

}  // namespace mirrow::ntfs
