// Program entry of the shipped executable, the last-resort handler for
// processor exceptions, and the C++ allocation functions (kept here so that
// libstdc++'s, with their exception machinery, are never linked).
#include <cstdint>
#include <cstdlib>
#include <new>

#include "launcher/fatal.h"
#include "launcher/main_sequence.h"
#include "platform/win32/windows_api.h"

namespace {

// An x86 SEH registration record; it must live on the stack.
struct Registration {
  Registration* next;
  void* handler;
};

extern "C" EXCEPTION_DISPOSITION __cdecl LastResortHandler(EXCEPTION_RECORD* record, void*,
                                                          CONTEXT* context, void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
    return ExceptionContinueSearch;
  }
  EXCEPTION_POINTERS pointers{record, context};
  if (UnhandledExceptionFilter(&pointers) == EXCEPTION_CONTINUE_SEARCH) {
    return ExceptionContinueSearch;  // a debugger wants it
  }
  launcher::RuntimeError(launcher::RuntimeErrorForException(record->ExceptionCode),
                         record->ExceptionAddress);
}

}  // namespace

// The image's entry point. No C runtime start-up code is linked
// (-nostartfiles): the launcher needs none of it (no arguments parsed by the
// runtime, no static constructors, no thread-local data, no floating point),
// and msvcrt.dll sets itself up as it loads. The stack is aligned here for
// the code that keeps SSE values on it.
extern "C" [[noreturn]] __attribute__((force_align_arg_pointer)) void WINAPI LauncherEntry() {
  Registration registration;
  registration.handler = reinterpret_cast<void*>(&LastResortHandler);
  __asm__ __volatile__("movl %%fs:0, %0" : "=r"(registration.next));
  __asm__ __volatile__("movl %0, %%fs:0" : : "r"(&registration) : "memory");
  launcher::LauncherMain();
}

// The launcher creates no objects with new; these exist so that nothing pulls
// in the library versions.
void* operator new(std::size_t size) { return std::malloc(size); }
void* operator new[](std::size_t size) { return std::malloc(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
