// rtl/handle.h
// One owner for every kind of handle. A traits type gives the handle type, its empty value,
// what counts as valid, and how to close it; a traits object may carry what the close needs
// (the window a device context came from).
#pragma once
#include <utility>

namespace rtl {

template <typename Traits>
class THandle {
 public:
  using Type = typename Traits::Type;

  THandle() noexcept = default;
  explicit THandle(Type h, Traits traits = Traits()) noexcept : h_(h), traits_(traits) {}
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  THandle(THandle&& other) noexcept : h_(other.release()), traits_(other.traits_) {}
  THandle& operator=(THandle&& other) noexcept {
    if (this != &other) {
      close();
      traits_ = other.traits_;
      h_ = other.release();
    }
    return *this;
  }
  ~THandle() { close(); }

  bool valid() const noexcept { return Traits::IsValid(h_); }
  explicit operator bool() const noexcept { return valid(); }
  Type get() const noexcept { return h_; }
  Type release() noexcept { return std::exchange(h_, Traits::Empty()); }
  void reset(Type h = Traits::Empty()) noexcept {
    if (h != h_) close();
    h_ = h;
  }
  // False when the system refused to close the handle.
  bool close() noexcept {
    const Type h = release();
    return !Traits::IsValid(h) || traits_.Close(h);
  }

 private:
  Type h_ = Traits::Empty();
  Traits traits_{};
};

// Handles whose only empty value is null.
template <typename T>
struct TNullIsEmpty {
  using Type = T;
  static constexpr T Empty() noexcept { return nullptr; }
  static bool IsValid(T h) noexcept { return h != nullptr; }
};

}  // namespace rtl
