# The same sources built for 64-bit Windows, for the test suites alone, on a machine whose
# kernel runs no 32-bit program (and so no 32-bit Wine). The program users get is 32-bit.
set(ZEL_MINGW_ARCH x86_64)
set(ZEL_WINE wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
