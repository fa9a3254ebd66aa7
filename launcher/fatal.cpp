// The fatal exits, the package messages and the last-resort report.
#include "launcher/fatal.h"

#include "launcher/arguments.h"
#include "launcher/file_handle.h"
#include "launcher/text.h"
#include "support/memory.h"

namespace launcher {

const char kDamagedPackageMessage[] =
    "An error occurred while trying to read the setup package.  It has most likely been "
    "damaged.  Please obtain a new copy from the vendor.";
const char kTruncatedPackageMessage[] =
    "The setup package has been truncated.  You most likely have an incomplete download.  "
    "Try downloading it again.";
const char kTemporaryCopyMessage[] =
    "An error occurred while trying to create a temporary copy of the setup package.  Please "
    "make sure that you have sufficient access rights to this computer to install software and "
    "that the Windows TEMP folder can be written to.  You can make this installer use a "
    "different folder for its temporary files using the /temp command line parameter followed "
    "by the path to a folder you can write to and run applications from.";
const char kNotExecutedMessage[] =
    "The temporary copy of the setup package could not be executed.  Your system may have a "
    "software restriction policy in place that blocks executables in the temporary files "
    "folder.  You can make this installer use a different folder for its temporary files using "
    "the /temp command line parameter followed by the path to a folder you can write to and run "
    "applications from.";

namespace {

const char* unstartedCopy = nullptr;

void DeleteUnstartedCopy() {
  if (unstartedCopy != nullptr) platform::DeleteFileA(unstartedCopy);
  unstartedCopy = nullptr;
}

[[noreturn]] void ShowAndExit(const char* message) {
  Text caption = Argument(0);
  platform::MessageBoxA(message, caption.Chars(), platform::kMbIconError);
  platform::ExitProcess(0);
}

WideText AnsiToWide(const char* text) {
  WideText wide;
  const int32_t length = TextLength(text);
  if (length == 0) return wide;
  const uint32_t codePage = platform::GetACP();
  int32_t needed = platform::MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
  if (needed <= 0) return wide;
  wide.Reserve(needed);
  int32_t made = platform::MultiByteToWideChar(codePage, 0, text, length, wide.MutableChars(), needed);
  wide.SetLength(made > 0 ? made : 0);
  return wide;
}

Text WideToAnsi(const WideText& wide) {
  Text text;
  if (wide.IsEmpty()) return text;
  const uint32_t codePage = platform::GetACP();
  int32_t needed = platform::WideCharToMultiByte(codePage, 0, wide.Chars(), wide.Length(), nullptr, 0);
  if (needed <= 0) return text;
  text.Reserve(needed);
  int32_t made = platform::WideCharToMultiByte(codePage, 0, wide.Chars(), wide.Length(),
                                               text.MutableChars(), needed);
  text.SetLength(made > 0 ? made : 0);
  return text;
}

}  // namespace

void SetUnstartedCopy(const char* path) { unstartedCopy = path; }

void FatalDamagedPackage() { ShowAndExit(kDamagedPackageMessage); }
void FatalTruncatedPackage() { ShowAndExit(kTruncatedPackageMessage); }
void FatalTemporaryCopy() { ShowAndExit(kTemporaryCopyMessage); }
void FatalNotExecuted() { ShowAndExit(kNotExecutedMessage); }

void FatalPackageMessage(platform::Handle ownFile, const MessageReference& reference,
                         const char* substitution) {
  const uint32_t bytes = 2u * reference.length;
  WideText message;
  message.Reserve(reference.length);
  // The stored text has no terminator of its own: exactly `length` units.
  if (!ReadAt(ownFile, reference.offset, message.MutableChars(), bytes)) FatalDamagedPackage();
  // UTF-16LE on disk, assembled in place so that the host's byte order does
  // not matter: unit i only overwrites the two bytes it was made from.
  char16_t* units = message.MutableChars();
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(units);
  for (uint32_t i = 0; i < reference.length; ++i) {
    units[i] = static_cast<char16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
  }
  message.SetLength(reference.length);
  if (substitution != nullptr && substitution[0] != 0) {
    // No version name holds '%' or begins with a letter of "USER%", so no
    // new placeholder forms across an inserted one.
    WideText replacement = AnsiToWide(substitution);
    ReplaceAll(&message, u"%USER%", replacement);
    ReplaceAll(&message, u"%user%", replacement);
  }
  Text shown = WideToAnsi(message);
  ShowAndExit(shown.Chars());
}

void FormatRuntimeError(uint32_t number, uintptr_t address, char out[32]) {
  using Layout = platform::RuntimeErrorText;
  static const char kHex[] = "0123456789ABCDEF";
  for (int i = 0; i <= Layout::kLength; ++i) out[i] = Layout::kTemplate[i];
  int p = Layout::kNumberTo;
  do {
    out[p--] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0 && p >= Layout::kNumberFrom);
  const uint32_t low = static_cast<uint32_t>(address);
  for (int i = 0; i < 8; ++i) out[Layout::kAddressAt + i] = kHex[(low >> (28 - 4 * i)) & 0xF];
}

void RuntimeError(uint32_t number, const void* address) {
  char text[32];
  FormatRuntimeError(number, reinterpret_cast<uintptr_t>(address), text);
  DeleteUnstartedCopy();
  platform::MessageBoxA(text, "Error", platform::kMbOk);
  platform::ExitProcess(number);
}

}  // namespace launcher

namespace support {

// The memory layer's failures end in the last-resort report.
void ReportOutOfMemory(const void* callerAddress) {
  launcher::RuntimeError(launcher::kRuntimeErrorOutOfMemory, callerAddress);
}

}  // namespace support

namespace launcher {

uint32_t RuntimeErrorForException(uint32_t code) {
  switch (code) {
    case 0xC0000094u: return 200;  // integer division by zero
    case 0xC000008Eu: return 200;  // floating-point division by zero
    case 0xC000008Cu: return 201;  // array bounds exceeded
    case 0xC00000FDu: return 202;  // stack overflow
    case 0xC0000091u: return 205;  // floating-point overflow
    case 0xC0000093u: return 206;  // floating-point underflow
    case 0xC000008Du: return 206;  // denormal operand
    case 0xC000008Fu: return 207;  // inexact result
    case 0xC0000090u: return 207;  // invalid floating-point operation
    case 0xC0000092u: return 207;  // floating-point stack check
    case 0xC0000095u: return 215;  // integer overflow
    case 0xC0000005u: return 216;  // access violation
    case 0xC000013Au: return 217;  // control-break
    case 0xC0000096u: return 218;  // privileged instruction
    default: return 255;
  }
}

}  // namespace launcher
