// rtl/threads_win.cpp
#include "rtl/threads_win.h"

#include <utility>

namespace rtl {

bool TThread::Start(std::function<void()> work, std::size_t stackReserve) {
  Join();
  work_ = std::move(work);
  error_ = nullptr;
  handle_ = FileHandle(CreateThread(nullptr, stackReserve, Entry, this,
                                    stackReserve != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0,
                                    nullptr));
  return handle_.valid();
}

DWORD WINAPI TThread::Entry(void* self) {
  auto* t = static_cast<TThread*>(self);
  try {
    t->work_();
  } catch (...) {
    t->error_ = std::current_exception();
  }
  return 0;
}

std::exception_ptr TThread::Join() {
  if (handle_.valid()) {
    WaitForSingleObject(handle_.get(), INFINITE);
    handle_.close();
    work_ = nullptr;
  }
  return std::exchange(error_, nullptr);
}

}  // namespace rtl
