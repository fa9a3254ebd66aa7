#include "tools/package/package_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "host/pe_image.h"
#include "launcher/crc32.h"
#include "launcher/fatal.h"
#include "launcher/package.h"
#include "launcher/payload.h"
#include "platform/sim/sim_machine.h"
#include "support/lzma_decoder.h"
#include "support/memory.h"
#include "tools/package/codes.h"

namespace packaging {

namespace {

// The memory of the machine payloads are decoded on: what a 32-bit process
// on 64-bit Windows can have, less what the system itself takes there.
constexpr size_t kMachineMemory = size_t(3) << 30;
// Payloads from this size on show progress while they decode.
constexpr uint32_t kProgressFrom = 4u << 20;

// The launcher takes the CRC region in one block before it reads it: where
// a process cannot get that block, it ends in runtime error 203. The words
// it shows then, or "".
std::string CrcRegionMemoryError(uint32_t length) {
  if (length <= (1u << 30)) return "";  // every process gets that much
  sim::Machine machine;
  machine.memoryLimit = kMachineMemory;
  machine.Run([&] { support::ReleaseMemory(support::AllocateMemory(length)); });
  if (!machine.messageBoxes.empty() && OutOfMemory(machine.messageBoxes[0].text)) return machine.messageBoxes[0].text;
  return "";
}

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
    AddProblem(&v, ProblemCode::kFileTooShort, "file too short to hold the package locator at offset 128");
    return v;
  }
  v.locator = launcher::DecodeLocator(file.data() + launcher::kLocatorOffset);
  const launcher::PackageLocator& l = v.locator;
  if (l.headerOffset == 0) {
    AddProblem(&v, ProblemCode::kNoPackage, "no package attached (the locator's header offset is 0)");
    return v;
  }
  v.hasPackage = true;
  {
    // The package file is the program Windows starts: its launcher image
    // must be one.
    std::string why;
    if (!pe::CheckProgram(file, pe::kMachineI386, &why)) {
      AddProblem(&v, ProblemCode::kLauncherImageDamaged, "the launcher image is damaged (" + why + "): Windows does not start the package at all");
    }
  }
  v.recordedSize = l.detachedSize != 0 ? l.detachedSize : launcher::TotalSize(l);
  if (launcher::IsTruncated(l, file.size())) AddProblem(&v, ProblemCode::kTruncated, "file is shorter than its recorded size: the launcher reports it as truncated");
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
  const std::string memory = CrcRegionMemoryError(l.crcLength);
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
  const uint32_t payloadEnd = launcher::LoadLe32(h.notInterpreted);
  uint64_t dataEnd = std::min<uint64_t>(v.recordedSize, file.size());
  for (const Region& r : v.regions) {
    if (r.start >= payloadEnd && r.start < dataEnd) dataEnd = r.start;
  }
  uint64_t payloadsEnd = uint64_t(l.headerOffset) + launcher::kHeaderSize;
  for (const Region& r : v.regions) {
    if ((r.kind == RegionKind::kPayload32 || r.kind == RegionKind::kPayload64) && r.end > payloadsEnd) payloadsEnd = r.end;
  }
  const uint64_t packageEnd = std::min<uint64_t>(v.recordedSize, file.size());
  if (payloadEnd == 0) {
    AddProblem(&v, ProblemCode::kPayloadEndZero, "the header's payload-end field is 0: setup programs cannot find their data");
  } else if (payloadEnd > packageEnd) {
    AddProblem(&v, ProblemCode::kPayloadEndPastEnd, "the header's payload-end field (" + std::to_string(payloadEnd) +
                         ") points past the end of the package (" + std::to_string(packageEnd) +
                         "): setup programs cannot find their data");
  } else if (payloadEnd < payloadsEnd) {
    AddProblem(&v, ProblemCode::kPayloadEndBeforePayloads, "the header's payload-end field (" + std::to_string(payloadEnd) +
                         ") points before the end of the header and payloads (" + std::to_string(payloadsEnd) +
                         "): setup programs would look for their data in the wrong place");
  } else if (payloadEnd < dataEnd) {
    AddRegion(&v, RegionKind::kSetupData, payloadEnd, dataEnd - payloadEnd);
  }
  if (v.recordedSize < file.size()) {
    Region after{RegionKind::kAfterTheRecordedEnd, v.recordedSize, file.size()};
    pe::ImageInfo info;
    std::string error;
    if (pe::Parse(file, &info, &error) && info.securitySize != 0 && info.securityOffset >= v.recordedSize &&
        uint64_t(info.securityOffset) + info.securitySize <= file.size()) {
      after.kind = RegionKind::kSignature;
      v.signature = after;
    }
    v.regions.push_back(after);
  }
  // A certificate-table entry that points anywhere but after the recorded end
  // is a signature the package outgrew: signing tools and Windows' checks fail.
  {
    pe::ImageInfo info;
    std::string error;
    if (pe::Parse(file, &info, &error) && info.securitySize != 0 && !v.signature) {
      AddProblem(&v, ProblemCode::kStaleCertificateEntry, "the launcher image's certificate-table entry (offset " + std::to_string(info.securityOffset) +
                           ", " + std::to_string(info.securitySize) +
                           " bytes) does not point at a signature after the package: a stale entry; build again "
                           "from an unsigned launcher and sign the finished package");
    }
  }
  std::sort(v.regions.begin(), v.regions.end(), [](const Region& a, const Region& b) { return a.start < b.start; });
  for (size_t i = 1; i < v.regions.size(); ++i) {
    if (v.regions[i].start < v.regions[i - 1].end) {
      AddProblem(&v, ProblemCode::kRegionsOverlap, v.regions[i - 1].name() + " and " + v.regions[i].name() + " overlap");
    }
  }
  return v;
}

namespace {

// Decoded pieces: the program's head kept, the rest handed on.
struct Taking {
  Decoded* decoded;
  const PieceSink* sink;
};

void Take(void* context, const uint8_t* bytes, size_t count) {
  Taking* t = static_cast<Taking*>(context);
  Bytes& head = t->decoded->head;
  for (size_t at = 0; at < count && head.size() < pe::HeadNeeded(head);) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count - at, pe::HeadNeeded(head) - head.size()));
    head.insert(head.end(), bytes + at, bytes + at + n);
    at += n;
  }
  if (*t->sink) (*t->sink)(bytes, count);
}

}  // namespace

bool OutOfMemory(const std::string& message) {
  char text[32];
  launcher::FormatRuntimeError(launcher::kRuntimeErrorOutOfMemory, 0, text);
  const std::string prefix(text, std::string(text).find(" at "));  // "Runtime error 203"
  return message.compare(0, prefix.size(), prefix) == 0;
}

Decoded DecodeEntry(host::ByteView file, const launcher::PayloadEntry& entry, const PieceSink& sink, bool progress) {
  Decoded d;
  sim::Machine machine;
  machine.memoryLimit = kMachineMemory;
  const std::string path = "C:\\package.exe";
  machine.modulePath = path;
  // The machine reads the caller's bytes where they are (no copy of a file
  // that may be gigabytes); it lives only for this call and only reads.
  machine.AddHeldFile(path, file, nullptr);
  const uint32_t headerOffset = file.size() < launcher::kLocatorOffset + launcher::kLocatorSize
                                    ? 0
                                    : launcher::DecodeLocator(file.data() + launcher::kLocatorOffset).headerOffset;
  if (headerOffset == 0 || uint64_t(headerOffset) + launcher::kHeaderSize > file.size()) {
    d.message = launcher::kDamagedPackageMessage;
    return d;
  }
  const launcher::PackageHeader header = launcher::DecodeHeader(file.data() + headerOffset);
  const bool showProgress = progress && entry.uncompressedSize > kProgressFrom;
  if (showProgress) std::fprintf(stderr, "decoding %u MiB...", entry.uncompressedSize >> 20);
  Taking taking{&d, &sink};
  machine.Run([&] {
    platform::Handle own = platform::CreateFileA(path.c_str(), platform::kGenericRead, platform::kFileShareRead,
                                                 platform::kOpenExisting, 0);
    support::TStream compressed;
    support::TLZMADecoder decoder;
    launcher::ReadPayload(own, entry, header, &compressed, &decoder);  // a refusal ends the run here
    d.read = true;
    decoder.DecodeInPieces(compressed.Memory, static_cast<size_t>(compressed.Size), entry.uncompressedSize, &Take,
                           &taking, &d.produced);
    launcher::CheckDecodedSize(entry, static_cast<int32_t>(d.produced));
  });
  if (showProgress) std::fprintf(stderr, " done\n");
  d.ok = machine.messageBoxes.empty();
  if (!d.ok) d.message = machine.messageBoxes[0].text;
  return d;
}

void ReplayDecodePayload(const launcher::PayloadEntry& entry, const launcher::PackageHeader& header,
                         const std::shared_ptr<const Decoded>& decoded, support::TStream* compressed,
                         support::TStream* decompressed) {
  const int32_t compressedSize = static_cast<int32_t>(entry.compressedSize);
  if (!decoded->read) {
    // Refused before decoding: sizes at once, a read past the end or
    // settings the decoder refuses after the stream's block was had.
    if (compressedSize >= 0 && static_cast<int32_t>(entry.uncompressedSize) >= 0) compressed->SetSize(compressedSize);
    launcher::FatalDamagedPackage();
  }
  compressed->SetSize(compressedSize);
  {
    support::TLZMADecoder decoder;
    if (!decoder.SetProperties(header.lzmaProperties, launcher::kLzmaPropertiesSize) ||
        !decoder.Replay(compressed, entry.uncompressedSize, static_cast<int32_t>(decoded->produced), decompressed)) {
      launcher::FatalDamagedPackage();
    }
  }
  launcher::CheckDecodedSize(entry, decompressed->GetSize());
  if (decompressed->Size > 0) {
    sim::Machine::Current().DeclareBlock(decompressed->Memory, decoded->head, uint64_t(decompressed->Size), decoded);
  }
}

std::string ReplayedMemoryError(const launcher::PayloadEntry& entry, const launcher::PackageHeader& header,
                                const Decoded& decoded) {
  sim::Machine machine;
  machine.memoryLimit = kMachineMemory;
  auto shared = std::make_shared<Decoded>(decoded);
  shared->head.clear();  // nothing is started here
  machine.Run([&] {
    support::TStream compressed, decompressed;
    ReplayDecodePayload(entry, header, shared, &compressed, &decompressed);
  });
  if (!machine.messageBoxes.empty() && OutOfMemory(machine.messageBoxes[0].text)) return machine.messageBoxes[0].text;
  return "";
}

void CheckPrograms(host::ByteView file, PackageView* v, ProgramSlot* slot32, ProgramSlot* slot64) {
  if (!v->headerRead) return;
  struct Slot {
    const launcher::PayloadEntry& entry;
    const char* name;
    uint16_t machine;
    ProgramSlot* out;
  };
  const launcher::PayloadEntry& e64 = v->header.payload64;
  for (const Slot& s : {Slot{v->header.payload32, "32-bit payload", pe::kMachineI386, slot32},
                        Slot{e64, "64-bit payload", pe::kMachineAmd64, slot64}}) {
    if (s.entry.offset == 0 || (s.machine == pe::kMachineAmd64 && s.entry.offset == launcher::kNotFor64BitWindows)) {
      continue;
    }
    ProgramSlot local;
    ProgramSlot* slot = s.out != nullptr ? s.out : &local;
    slot->decoded = DecodeEntry(file, s.entry, slot->sink, slot->progress);
    const Decoded& d = slot->decoded;
    std::string memory = d.read ? ReplayedMemoryError(s.entry, v->header, d) : "";
    if (memory.empty() && OutOfMemory(d.message)) memory = d.message;
    if (!memory.empty()) {
      AddProblem(v, ProblemCode::kPayloadOutOfMemory, std::string(s.name) + ": decoding it takes more memory than the launcher can have in " +
                            "one block: it ends with \"" + memory + "\" (runtime error 203, out of memory)");
      continue;
    }
    if (!d.ok) {
      AddProblem(v, ProblemCode::kPayloadRefused, std::string(s.name) + ": the launcher refuses it with \"" + d.message +
                            "\" (its stream does not decode to the recorded " +
                            std::to_string(s.entry.uncompressedSize) + " bytes)");
      continue;
    }
    std::string problem, as32;
    if (pe::CheckProgram(d.head, uint64_t(d.produced), s.machine, &problem)) continue;
    if (s.machine == pe::kMachineAmd64 && pe::CheckProgram(d.head, uint64_t(d.produced), pe::kMachineI386, &as32)) {
      AddProblem(v, ProblemCode::kProgram32BitIn64BitSlot, std::string(s.name) +
                     ": an i386 (32-bit) program: 64-bit Windows starts it as a 32-bit program, not the 64-bit "
                     "one the slot is for");
      continue;
    }
    AddProblem(v, ProblemCode::kProgramNotStartable, std::string(s.name) + ": " + problem + ": Windows will not start it");
  }
}

}  // namespace packaging
