// The simulated machine's text: the ANSI code page (over host/code_pages)
// and the message box.
#include "platform/sim/sim_state.h"

#include <cstdio>
#include <cstring>

#include "host/code_pages.h"
#include "host/system/memory.h"

namespace sim {
namespace {

// The last-resort report names a code address: on this machine a host
// address, which moves from run to run. It is shown as the offset into the
// host program instead, the same on every run.
std::string StableCodeAddress(const char* text) {
  using Layout = platform::RuntimeErrorText;
  std::string shown = text;
  unsigned number;
  unsigned long long address;
  if (shown.size() != size_t(Layout::kLength) ||
      shown.compare(0, Layout::kNumberFrom, Layout::kTemplate, Layout::kNumberFrom) != 0 ||
      std::sscanf(shown.c_str() + Layout::kNumberFrom, "%u at %llx", &number, &address) != 2) {
    return shown;
  }
  const uint64_t base = sys::ProgramBase();
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<uint32_t>(address - (base & 0xFFFFFFFFu)));
  return shown.replace(Layout::kAddressAt, 8, hex);
}

}  // namespace
}  // namespace sim

namespace platform {

using namespace sim;

uint32_t GetACP() { return TheMachine().codePage; }

int32_t MultiByteToWideChar(uint32_t codePage, uint32_t, const char* text, int32_t length,
                            char16_t* wide, int32_t wideLength) {
  if (length < 0) length = static_cast<int32_t>(std::strlen(text)) + 1;
  const std::u16string out = host::AnsiToWide(codePage, std::string(text, static_cast<size_t>(length)));
  const int32_t count = static_cast<int32_t>(out.size());
  if (wide == nullptr || wideLength == 0) return count;
  if (wideLength < count) return 0;
  std::memcpy(wide, out.data(), out.size() * sizeof(char16_t));
  return count;
}

int32_t WideCharToMultiByte(uint32_t codePage, uint32_t, const char16_t* wide, int32_t wideLength,
                            char* text, int32_t length) {
  const std::string out = host::WideToAnsi(codePage, std::u16string(wide, static_cast<size_t>(wideLength)));
  if (text == nullptr || length == 0) return static_cast<int32_t>(out.size());
  if (length < static_cast<int32_t>(out.size())) return 0;
  std::memcpy(text, out.data(), out.size());
  return static_cast<int32_t>(out.size());
}

const char* CharNextA(const char* p) {
  if (*p == 0) return p;
  if (host::IsLeadByte(TheMachine().codePage, static_cast<unsigned char>(*p)) && p[1] != 0) {
    return p + 2;
  }
  return p + 1;
}

int32_t MessageBoxA(const char* text, const char* caption, uint32_t type) {
  Machine& m = TheMachine();
  const std::string shown = StableCodeAddress(text);
  Log(m, "MessageBoxA " + shown);
  if (!Live(m)) return 0;
  sim::SystemLoads(m, "MessageBoxA");
  m.messageBoxes.push_back(sim::MessageBoxRecord{shown, caption, type});
  return 1;
}

}  // namespace platform
