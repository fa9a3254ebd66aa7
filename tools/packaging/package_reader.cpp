// Reading a package back by the launcher's rules: records, map and problems.
#include "tools/packaging/package_reader.h"

#include <algorithm>
#include <cstdio>

#include "host/pe_image.h"
#include "launcher/crc32.h"
#include "support/lzma_decoder.h"
#include "tools/packaging/codes.h"
#include "tools/packaging/launcher_memory.h"

namespace packaging {

namespace {

std::u16string ReadMessage(host::ByteView file, const launcher::MessageReference& r, PackageView* v,
                           const char* which) {
  std::u16string text;
  if (r.length == 0) return text;
  if (uint64_t(r.offset) + 2ull * r.length > file.size() || r.offset >= launcher::kLimit) {
    AddProblem(v, ProblemCode::kMessagePastEnd, std::string(which) + " runs past the end of the file: the launcher shows the damaged-package message instead");
    return text;
  }
  for (uint32_t i = 0; i < r.length; ++i) {
    text.push_back(static_cast<char16_t>(file[r.offset + 2 * i] | file[r.offset + 2 * i + 1] << 8));
  }
  return text;
}

// Adds a region to the map, and its range's problems unless `checked`
// (the messages: their reading says what the launcher makes of them).
void AddRegion(PackageView* v, RegionKind kind, uint64_t start, uint64_t length, bool checked = false) {
  if (length == 0) return;
  const std::string name = RegionName(kind);
  v->regions.push_back(Region{kind, start, start + length});
  if (checked) return;
  if (start + length > v->fileSize) AddProblem(v, ProblemCode::kRegionPastEnd, name + " runs past the end of the file");
  if (start >= launcher::kLimit) AddProblem(v, ProblemCode::kRegionPast2Gib, name + " starts at or past 2 GiB, out of the launcher's reach");
}

}  // namespace

const char* RegionName(RegionKind kind) {
  switch (kind) {
    case RegionKind::kLauncherImage: return "launcher image";
    case RegionKind::kPackageHeader: return "package header";
    case RegionKind::kPayload32: return "32-bit payload";
    case RegionKind::kPayload64: return "64-bit payload";
    case RegionKind::kArchitectureMessage: return "architecture message";
    case RegionKind::kVersionMessage: return "version message";
    case RegionKind::kSetupData: return "setup data";
    case RegionKind::kAfterTheRecordedEnd: return "after the recorded end";
    case RegionKind::kSignature: return "signature (certificate table)";
  }
  return "?";
}

void AddProblem(PackageView* v, ProblemCode code, const std::string& text) {
  v->problems.push_back(text);
  v->problemCodes.push_back(CodeOf(code).name);
}

PackageView ReadPackage(host::ByteView file) {
  PackageView v;
  v.fileSize = file.size();
  if (file.size() < launcher::kLocatorOffset + launcher::kLocatorSize) {
    AddProblem(&v, ProblemCode::kFileTooShort,
               "it is too short to hold a package locator at offset 128 (" + std::to_string(file.size()) + " bytes)");
    return v;
  }
  v.locator = launcher::DecodeLocator(file.data() + launcher::kLocatorOffset);
  const launcher::PackageLocator& l = v.locator;
  if (l.headerOffset == 0) {
    AddProblem(&v, ProblemCode::kNoPackage, "its locator's header offset is 0 (a launcher image with nothing appended)");
    return v;
  }
  v.hasPackage = true;
  // The package file is the program Windows starts: its launcher image must
  // be one. Its certificate-table entry is a signature when it points after
  // the recorded end.
  std::string why;
  if (!pe::CheckProgram(file, pe::kMachineI386, &why)) {
    AddProblem(&v, ProblemCode::kLauncherImageDamaged, "the launcher image is damaged (" + why + "): Windows does not start the package at all");
  }
  pe::ImageInfo info;
  const bool certificateEntry = pe::Parse(file, &info, &why) && info.securitySize != 0;
  v.recordedSize = l.detachedSize != 0 ? l.detachedSize : launcher::TotalSize(l);
  if (launcher::IsTruncated(l, file.size())) AddProblem(&v, ProblemCode::kTruncated, "file is shorter than its recorded size: the launcher reports it as truncated");
  if (l.detachedSize == 0 && static_cast<int64_t>(launcher::TotalSize(l)) < 0) {
    char high[16];
    std::snprintf(high, sizeof high, "0x%08X", l.totalSizeHigh);
    AddProblem(&v, ProblemCode::kTotalSizeNegative,
               std::string("the recorded total size has its highest bit set (totalSizeHigh ") + high +
                   "): the launcher never finds the file short, and a setup program that reads where its data "
                   "ends from it gets nonsense");
  }
  AddRegion(&v, RegionKind::kLauncherImage, 0, l.headerOffset);
  if (uint64_t(l.headerOffset) + launcher::kHeaderSize > file.size()) {
    AddProblem(&v, ProblemCode::kHeaderPastEnd, "package header runs past the end of the file");
    return v;
  }
  launcher::BuildCrcTable();
  const uint64_t crcEnd = std::min<uint64_t>(uint64_t(l.headerOffset) + l.crcLength, file.size());
  v.computedCrc = launcher::Crc32(file.data() + l.headerOffset, crcEnd - l.headerOffset);
  v.crcMatches = crcEnd - l.headerOffset == l.crcLength && v.computedCrc == l.crcValue;
  if (!v.crcMatches) AddProblem(&v, ProblemCode::kCrcMismatch, "CRC-32 of the CRC region does not match: the launcher reports the package as damaged");
  const std::string memory = BlockMemoryError(l.crcLength);
  if (!memory.empty()) {
    AddProblem(&v, ProblemCode::kCrcRegionOutOfMemory, "the CRC region of " + std::to_string(l.crcLength >> 20) +
                    " MiB takes more memory than the launcher can have in one block: it ends with \"" + memory +
                    "\" (runtime error 203, out of memory)");
  }
  v.header = launcher::DecodeHeader(file.data() + l.headerOffset);
  v.headerRead = true;
  const launcher::PackageHeader& h = v.header;
  AddRegion(&v, RegionKind::kPackageHeader, l.headerOffset, launcher::kHeaderSize);
  const support::LzmaProperties p = support::SplitPropertiesByte(h.lzmaProperties[0]);
  v.lc = p.lc;
  v.lp = p.lp;
  v.pb = p.pb;
  if (v.pb > 4) AddProblem(&v, ProblemCode::kLzmaPropertiesByte, "LZMA properties byte 225 or more");
  else if (v.lc + v.lp > 4) AddProblem(&v, ProblemCode::kLzmaLcLp, "LZMA lc + lp above 4: the launcher cannot decode it");
  if (static_cast<int32_t>(launcher::DictionarySize(h)) < 0) AddProblem(&v, ProblemCode::kLzmaDictionary, "LZMA dictionary size of 2 GiB or more");
  if (h.payload32.offset != 0) AddRegion(&v, RegionKind::kPayload32, h.payload32.offset, h.payload32.compressedSize);
  if (launcher::HasPayload64(h)) {
    AddRegion(&v, RegionKind::kPayload64, h.payload64.offset, h.payload64.compressedSize);
  }
  if (h.payload32.offset == 0 && !launcher::HasPayload64(h)) {
    AddProblem(&v, ProblemCode::kNoSetupProgram, "no setup program in the package");
  }
  v.architectureMessage = ReadMessage(file, h.architectureMessage, &v, "architecture message");
  v.versionMessage = ReadMessage(file, h.versionMessage, &v, "version message");
  AddRegion(&v, RegionKind::kArchitectureMessage, h.architectureMessage.offset, 2u * h.architectureMessage.length,
            true);
  AddRegion(&v, RegionKind::kVersionMessage, h.versionMessage.offset, 2u * h.versionMessage.length, true);
  // Setup data: from the end of the payload area to the next region or the
  // recorded end.
  const uint32_t payloadEnd = launcher::PayloadEnd(h);
  uint64_t dataEnd = std::min<uint64_t>(v.recordedSize, file.size());
  for (const Region& r : v.regions) {
    if (r.start >= payloadEnd && r.start < dataEnd) dataEnd = r.start;
  }
  v.headerAndPayloadsEnd = uint64_t(l.headerOffset) + launcher::kHeaderSize;
  for (const Region& r : v.regions) {
    if (r.kind == RegionKind::kPayload32 || r.kind == RegionKind::kPayload64) {
      v.headerAndPayloadsEnd = std::max(v.headerAndPayloadsEnd, r.end);
    }
  }
  const uint64_t packageEnd = std::min<uint64_t>(v.recordedSize, file.size());
  if (payloadEnd == 0) {
    AddProblem(&v, ProblemCode::kPayloadEndZero, "the header's payload-end field is 0: setup programs cannot find their data");
  } else if (payloadEnd > packageEnd) {
    AddProblem(&v, ProblemCode::kPayloadEndPastEnd, "the header's payload-end field (" + std::to_string(payloadEnd) +
                         ") points past the end of the package (" + std::to_string(packageEnd) +
                         "): setup programs cannot find their data");
  } else if (payloadEnd < v.headerAndPayloadsEnd) {
    AddProblem(&v, ProblemCode::kPayloadEndBeforePayloads, "the header's payload-end field (" + std::to_string(payloadEnd) +
                         ") points before the end of the header and payloads (" + std::to_string(v.headerAndPayloadsEnd) +
                         "): setup programs would look for their data in the wrong place");
  } else if (payloadEnd < dataEnd) {
    AddRegion(&v, RegionKind::kSetupData, payloadEnd, dataEnd - payloadEnd);
  }
  if (v.recordedSize < file.size()) {
    Region after{RegionKind::kAfterTheRecordedEnd, v.recordedSize, file.size()};
    if (certificateEntry && info.securityOffset >= v.recordedSize &&
        uint64_t(info.securityOffset) + info.securitySize <= file.size()) {
      after.kind = RegionKind::kSignature;
      v.signature = after;
    }
    v.regions.push_back(after);
  }
  // A certificate-table entry that points anywhere but after the recorded end
  // is a signature the package outgrew: signing tools and Windows' checks fail.
  if (certificateEntry && !v.signature) {
    AddProblem(&v, ProblemCode::kStaleCertificateEntry,
               "the launcher image's certificate-table entry (offset " + std::to_string(info.securityOffset) + ", " +
                   std::to_string(info.securitySize) +
                   " bytes) does not point at a signature after the package: a stale entry; build again from an "
                   "unsigned launcher and sign the finished package");
  }
  std::sort(v.regions.begin(), v.regions.end(), [](const Region& a, const Region& b) { return a.start < b.start; });
  for (size_t i = 1; i < v.regions.size(); ++i) {
    if (v.regions[i].start < v.regions[i - 1].end) {
      AddProblem(&v, ProblemCode::kRegionsOverlap, v.regions[i - 1].name() + " and " + v.regions[i].name() + " overlap");
    }
  }
  return v;
}

bool CarriesPackage(host::ByteView file, const PackageView& v, std::string* why) {
  if (!v.hasPackage) return *why = v.problems.empty() ? "" : v.problems[0], false;
  if (v.crcMatches && v.locator.headerOffset >= launcher::kLocatorRoomEnd) return true;
  pe::ImageInfo info;
  std::string error;
  if (!pe::Parse(file, &info, &error)) return *why = "it is no Windows program (" + error + ")", false;
  if (info.peOffset < launcher::kLocatorRoomEnd) {
    return *why = "it is a Windows program with no room for a package locator (its PE header starts at offset " +
                  std::to_string(info.peOffset) + ", inside offsets 128..255)", false;
  }
  if (v.locator.headerOffset != info.imageEnd) {
    return *why = "nothing of a package follows its image (the bytes at offset 128 name offset " +
                  std::to_string(v.locator.headerOffset) + "; the image ends at " + std::to_string(info.imageEnd) +
                  ")", false;
  }
  return true;
}

}  // namespace packaging
