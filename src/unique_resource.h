#pragma once

#include <windows.h>

#include <utility>

// Owns one OS resource and releases it exactly once, on every path out of the
// scope that obtained it. Traits supply the "empty" value and how to release.
template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { Reset(); }

  Type Get() const noexcept { return value_; }
  bool IsValid() const noexcept { return value_ != Traits::Invalid(); }

  // For out-parameters: drops the current value, then hands out its slot.
  Type* Put() noexcept {
    Reset();
    return &value_;
  }

  Type Release() noexcept { return std::exchange(value_, Traits::Invalid()); }

  void Reset(Type value = Traits::Invalid()) noexcept {
    Type old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

 private:
  Type value_;
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type handle) noexcept { ::CloseHandle(handle); }
};

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type key) noexcept { ::RegCloseKey(key); }
};

// CreateFileW's failure value is INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) noexcept { ::CloseHandle(handle); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
