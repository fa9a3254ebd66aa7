#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "launcher/package_format.h"
#include "tools/package/package_reader.h"
#include "tools/package_tool/commands.h"
#include "tools/pe/pe_image.h"

namespace tool {

namespace {

const char kUsage[] =
    "usage: setup-package build --launcher IMAGE --output FILE [options]\n"
    "\n"
    "setup programs (at least one):\n"
    "  --program32 FILE          the 32-bit setup program\n"
    "  --program64 FILE          the 64-bit setup program (with --program32: used on 64-bit Windows)\n"
    "  --not-for-64bit           the 32-bit program must not run on 64-bit Windows\n"
    "contents:\n"
    "  --setup-data FILE         data for the setup program, placed after the payloads\n"
    "  --architecture-message TEXT | --architecture-message-file FILE\n"
    "                            shown when the machine's architecture does not suit (UTF-8)\n"
    "  --version-message TEXT | --version-message-file FILE\n"
    "                            shown when the Windows version is not allowed; %USER% becomes\n"
    "                            the version's name (UTF-8)\n"
    "requirements and start:\n"
    "  --versions LIST           allowed versions, comma-separated: Windows 95, Windows 98,\n"
    "                            Windows ME, Windows NT 4, Windows 2000, Windows XP,\n"
    "                            Windows Vista, Windows 7, Windows 8, Windows 8.1, Windows 10,\n"
    "                            later (default: all of them)\n"
    "  --elevation 0|1|2         with /silent or /s on Vista and later without administrator\n"
    "                            rights: 0 plain, 1 elevated (runas), 2 with /noadmin (default 0)\n"
    "  --detached                the launcher neither waits for the setup program nor deletes\n"
    "                            its temporary copy\n"
    "checking and compression:\n"
    "  --crc-reach WHAT          payloads (header and payloads, default), whole, or a byte count\n"
    "  --lzma-preset 0-9         compression preset (default 6)\n"
    "  --dictionary BYTES        LZMA dictionary size (default 4194304)\n"
    "  --lc N --lp N --pb N      LZMA literal and position bits (default 3, 0, 2; lc + lp <= 4)\n"
    "  --replace                 accept an image that already carries a package and replace it\n";

bool ParseNumber(const std::string& text, uint64_t max, uint32_t* out) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const uint64_t v = std::stoull(text);
  if (v > max) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

bool ParseVersions(const std::string& list, uint64_t* set, std::string* unknown) {
  *set = 0;
  std::stringstream in(list);
  std::string name;
  while (std::getline(in, name, ',')) {
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    while (!name.empty() && name.back() == ' ') name.pop_back();
    const int bit = packaging::VersionBit(name);
    if (bit < 0) {
      *unknown = name;
      return false;
    }
    *set |= uint64_t(1) << bit;
  }
  return true;
}

bool ReadMessage(const std::string& text, std::u16string* out) { return packaging::Utf8ToUtf16(text, out); }

// Refuses images that cannot take a package. With `replace`, an image that
// already carries one is cut back to its last section.
bool PrepareImage(packaging::Bytes* image, bool replace, const std::string& path, std::string* error) {
  pe::ImageInfo info;
  std::string why;
  if (!pe::Parse(*image, &info, &why)) return *error = path + ": not a PE32 launcher image (" + why + ")", false;
  if (info.peOffset < launcher::kLocatorRoomEnd) {
    return *error = path + ": no room for the package locator at offsets 128..255 (PE header at " +
                    std::to_string(info.peOffset) + ")", false;
  }
  bool room = true;
  for (uint32_t i = launcher::kLocatorOffset; i < launcher::kLocatorRoomEnd; ++i) room = room && (*image)[i] == 0;
  const bool carries = !room || info.imageEnd < image->size();
  if (carries && !replace) {
    return *error = path + ": the image already carries a package or other data after its last section "
                           "(use --replace to replace it)", false;
  }
  image->resize(info.imageEnd);
  std::fill(image->begin() + launcher::kLocatorOffset, image->begin() + launcher::kLocatorRoomEnd, 0);
  return true;
}

}  // namespace

int Build(Arguments& args) {
  packaging::PackageInput input;
  std::string output, launcherPath;
  bool replace = false;
  std::string v;
  while (!args.Done()) {
    const std::string option = args.Next();
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (option == "--launcher" && args.Value(&launcherPath)) {
      if (!ReadFile(launcherPath, &input.image)) return Fail(launcherPath + ": cannot read the launcher image");
    } else if ((option == "--program32" || option == "--program64") && args.Value(&v)) {
      std::error_code ec;
      const auto size = std::filesystem::file_size(v, ec);
      if (!ec && size >= launcher::kLimit) return Fail(v + ": setup programs must be smaller than 2 GiB");
      packaging::Bytes program;
      if (!ReadFile(v, &program)) return Fail(v + ": cannot read the setup program");
      (option == "--program32" ? input.program32 : input.program64) = program;
    } else if (option == "--setup-data" && args.Value(&v)) {
      if (!ReadFile(v, &input.setupData)) return Fail(v + ": cannot read the setup data");
    } else if ((option == "--architecture-message" || option == "--version-message") && args.Value(&v)) {
      std::u16string* target = option == "--version-message" ? &input.versionMessage : &input.architectureMessage;
      if (!ReadMessage(v, target)) return Fail(option + ": the text is not UTF-8");
    } else if ((option == "--architecture-message-file" || option == "--version-message-file") && args.Value(&v)) {
      packaging::Bytes text;
      if (!ReadFile(v, &text)) return Fail(v + ": cannot read the message");
      std::string s(text.begin(), text.end());
      if (s.size() >= 3 && s.compare(0, 3, "\xEF\xBB\xBF") == 0) s.erase(0, 3);
      while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
      std::u16string* target =
          option == "--version-message-file" ? &input.versionMessage : &input.architectureMessage;
      if (!ReadMessage(s, target)) return Fail(v + ": the message is not UTF-8");
    } else if (option == "--versions" && args.Value(&v)) {
      std::string unknown;
      if (!ParseVersions(v, &input.allowedVersions, &unknown)) {
        return Fail("--versions: unknown version name '" + unknown + "' (see --help)");
      }
    } else if (option == "--elevation" && args.Value(&v)) {
      uint32_t mode;
      if (!ParseNumber(v, 2, &mode)) return Fail("--elevation takes 0, 1 or 2");
      input.elevationMode = static_cast<uint8_t>(mode);
    } else if (option == "--crc-reach" && args.Value(&v)) {
      if (v == "payloads") {
        input.crcReach = packaging::CrcReach::kHeaderAndPayloads;
      } else if (v == "whole") {
        input.crcReach = packaging::CrcReach::kWholePackage;
      } else if (ParseNumber(v, launcher::kLimit - 1, &input.crcByteCount)) {
        input.crcReach = packaging::CrcReach::kByteCount;
      } else {
        return Fail("--crc-reach takes payloads, whole or a byte count below 2 GiB");
      }
    } else if (option == "--lzma-preset" && args.Value(&v)) {
      if (!ParseNumber(v, 9, &input.lzma.preset)) return Fail("--lzma-preset takes 0 to 9");
    } else if (option == "--dictionary" && args.Value(&v)) {
      if (!ParseNumber(v, 1u << 30, &input.lzma.dictionarySize) || input.lzma.dictionarySize < 4096) {
        return Fail("--dictionary takes a size from 4096 to 1073741824 bytes");
      }
    } else if ((option == "--lc" || option == "--lp" || option == "--pb") && args.Value(&v)) {
      uint32_t* target = option == "--lc" ? &input.lzma.lc : option == "--lp" ? &input.lzma.lp : &input.lzma.pb;
      if (!ParseNumber(v, 4, target)) return Fail(option + " takes 0 to 4");
    } else if (option == "--not-for-64bit") {
      input.notFor64BitWindows = true;
    } else if (option == "--detached") {
      input.detached = true;
    } else if (option == "--replace") {
      replace = true;
    } else if (option == "--output" && args.Value(&output)) {
    } else {
      std::fprintf(stderr, "setup-package build: unknown or incomplete option '%s'\n", option.c_str());
      return UsageError(kUsage);
    }
  }
  if (launcherPath.empty() || output.empty()) return UsageError(kUsage);
  if (!input.program32 && !input.program64) return Fail("give --program32, --program64 or both");
  if (input.lzma.lc + input.lzma.lp > 4) return Fail("--lc plus --lp must be at most 4 (liblzma decodes nothing else)");
  std::string error;
  if (!PrepareImage(&input.image, replace, launcherPath, &error)) return Fail(error);
  // A progress line on a terminal for programs of more than a few MiB.
  const size_t largest = std::max(input.program32 ? input.program32->size() : 0,
                                  input.program64 ? input.program64->size() : 0);
  const bool showProgress = isatty(STDERR_FILENO) && largest > (size_t(4) << 20);
  if (showProgress) {
    input.lzma.progress = [](uint64_t done, uint64_t total) {
      std::fprintf(stderr, "\rcompressing: %3u%% of %llu MiB", static_cast<unsigned>(done * 100 / total),
                   static_cast<unsigned long long>(total >> 20));
      if (done == total) std::fputc('\n', stderr);
    };
  }
  packaging::BuiltPackage package;
  if (!packaging::BuildPackage(input, &package, &error)) return Fail(output + ": " + error);
  if (!WriteFileAtomically(output, package.bytes)) return Fail(output + ": cannot write");
  std::printf("%s: %zu bytes (header at %u, CRC over %u bytes)\n", output.c_str(), package.bytes.size(),
              package.locator.headerOffset, package.locator.crcLength);
  return 0;
}

}  // namespace tool
