// framework/gdi.h
#pragma once
#include <windows.h>

namespace fw {

// Owns one GDI object (font, brush, bitmap, ...).
template <typename T>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(T h) : h_(h) {}
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  GdiObject(GdiObject&& other) noexcept : h_(other.h_) { other.h_ = nullptr; }
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = other.h_;
      other.h_ = nullptr;
    }
    return *this;
  }
  ~GdiObject() { reset(); }
  T get() const { return h_; }
  void reset(T h = nullptr) {
    if (h_) DeleteObject(h_);
    h_ = h;
  }

 private:
  T h_ = nullptr;
};

// Selects an object into a DC for one scope and restores the previous one.
class ScopedSelect {
 public:
  ScopedSelect(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;
  ~ScopedSelect() { SelectObject(dc_, old_); }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// Owns an icon made at run time.
class IconHandle {
 public:
  IconHandle() = default;
  explicit IconHandle(HICON h) : h_(h) {}
  IconHandle(const IconHandle&) = delete;
  IconHandle& operator=(const IconHandle&) = delete;
  ~IconHandle() {
    if (h_) DestroyIcon(h_);
  }
  HICON get() const { return h_; }

 private:
  HICON h_ = nullptr;
};

}  // namespace fw
