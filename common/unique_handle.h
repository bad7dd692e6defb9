#pragma once
// One RAII owner for every kind of Windows handle: get, reset, release, no
// copies. Each handle kind is a small traits struct naming its invalid value
// and how it is closed. Traits may carry state, such as the table of platform
// calls (a seam) a handle is closed through, so that a test which scripts the
// calls sees every close too.
#include <windows.h>

#include <utility>

namespace mirrow {

template <typename Traits>
class Unique {
 public:
  using pointer = typename Traits::pointer;

  Unique() noexcept = default;
  explicit Unique(pointer value) noexcept : value_(value) {}
  Unique(pointer value, Traits traits) noexcept : value_(value), traits_(traits) {}
  ~Unique() { reset(); }

  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& other) noexcept : value_(other.release()), traits_(other.traits_) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) {
      reset(other.release());
      traits_ = other.traits_;
    }
    return *this;
  }

  pointer get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::is_valid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  // Closes the current value (if any) and takes ownership of the new one.
  void reset(pointer value = Traits::invalid()) noexcept {
    const pointer old = std::exchange(value_, value);
    if (Traits::is_valid(old)) traits_.close(old);
  }

  // Gives up ownership without closing.
  pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

  // Address for calls that hand back a new handle through an out-parameter.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

 private:
  pointer value_ = Traits::invalid();
  [[no_unique_address]] Traits traits_{};
};

// Kernel handles: both null and INVALID_HANDLE_VALUE mean "none".
struct KernelHandleTraits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(pointer h) noexcept { CloseHandle(h); }
};

struct FindHandleTraits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool is_valid(pointer h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(pointer h) noexcept { FindClose(h); }
};

struct ModuleTraits {
  using pointer = HMODULE;
  static pointer invalid() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr; }
  static void close(pointer h) noexcept { FreeLibrary(h); }
};

// A view of a file mapping.
struct MappedViewTraits {
  using pointer = const void*;
  static pointer invalid() noexcept { return nullptr; }
  static bool is_valid(pointer view) noexcept { return view != nullptr; }
  static void close(pointer view) noexcept { UnmapViewOfFile(view); }
};

using UniqueHandle = Unique<KernelHandleTraits>;
using UniqueMappedView = Unique<MappedViewTraits>;
using UniqueFindHandle = Unique<FindHandleTraits>;
using UniqueModule = Unique<ModuleTraits>;

// Pure code keeps UTF-16 as char16_t; Windows calls want wchar_t, which is
// the same 16-bit unit there.
inline const wchar_t* wide(const char16_t* s) noexcept { return reinterpret_cast<const wchar_t*>(s); }
inline wchar_t* wide(char16_t* s) noexcept { return reinterpret_cast<wchar_t*>(s); }
inline const char16_t* utf16(const wchar_t* s) noexcept { return reinterpret_cast<const char16_t*>(s); }
inline char16_t* utf16(wchar_t* s) noexcept { return reinterpret_cast<char16_t*>(s); }

}  // namespace mirrow
