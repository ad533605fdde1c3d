// framework/com.h
// Owners for interface pointers of the component object model and for memory from its task
// allocator, both rtl::THandle instances.
#pragma once
#include <objbase.h>

#include "rtl/handle.h"

namespace fw {

template <typename I>
struct TComTraits : rtl::TNullIsEmpty<I*> {
  static bool Close(I* p) noexcept {
    p->Release();
    return true;
  }
};
// One reference to an interface, released on close.
template <typename I>
using ComPtr = rtl::THandle<TComTraits<I>>;

template <typename T>
struct TTaskMemTraits : rtl::TNullIsEmpty<T> {
  static bool Close(T p) noexcept {
    CoTaskMemFree(p);
    return true;
  }
};
// Memory from the task allocator, which is also the shell's since Windows 2000 (SHGetMalloc
// may be gone from later systems).
template <typename T>
using TaskMemory = rtl::THandle<TTaskMemTraits<T>>;

}  // namespace fw
