// Decoding a payload once, and replaying that decoding on every row.
#include "tools/packaging/program_replay.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "host/pe_image.h"
#include "launcher/fatal.h"
#include "launcher/package.h"
#include "launcher/payload.h"
#include "platform/sim/sim_machine.h"
#include "support/lzma_tool_decoder.h"
#include "tools/packaging/codes.h"
#include "tools/packaging/launcher_memory.h"

namespace packaging {

namespace {

// Takes decoded pieces: keeps the program's head, hands every piece on.
struct HeadKeeper {
  Decoded* decoded;
  const PieceSink* sink;
};

void KeepHead(void* context, const uint8_t* bytes, size_t count) {
  HeadKeeper* k = static_cast<HeadKeeper*>(context);
  k->decoded->head.Take(bytes, count);
  if (*k->sink) (*k->sink)(bytes, count);
}

}  // namespace

Decoded DecodeEntry(host::ByteView file, const launcher::PackageHeader& header, const launcher::PayloadEntry& entry,
                    const PieceSink& sink, bool progress) {
  Decoded d;
  sim::Machine machine;
  machine.memoryLimit = kMachineMemory;
  const std::string path = "C:\\package.exe";
  machine.modulePath = path;
  // The machine reads the caller's bytes where they are (no copy of a file
  // that may be gigabytes); it lives only for this call and only reads.
  machine.AddHeldFile(path, file, nullptr);
  const bool showProgress = progress && entry.uncompressedSize > kProgressFrom;
  if (showProgress) std::fprintf(stderr, "decoding %u MiB...", entry.uncompressedSize >> 20);
  HeadKeeper keeper{&d, &sink};
  machine.Run([&] {
    platform::Handle own = platform::CreateFileA(path.c_str(), platform::kGenericRead, platform::kFileShareRead,
                                                 platform::kOpenExisting, 0);
    support::TStream compressed;
    support::TToolLZMADecoder decoder;
    launcher::ReadPayload(own, entry, header, &compressed, &decoder);  // a refusal ends the run here
    d.read = true;
    decoder.DecodeInPieces(compressed.Memory, static_cast<size_t>(compressed.Size), entry.uncompressedSize, &KeepHead,
                           &keeper, &d.produced);
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
    support::TToolLZMADecoder decoder;
    if (!decoder.SetProperties(header.lzmaProperties, launcher::kLzmaPropertiesSize) ||
        !decoder.Replay(compressed, entry.uncompressedSize, static_cast<int32_t>(decoded->produced), decompressed)) {
      launcher::FatalDamagedPackage();
    }
  }
  launcher::CheckDecodedSize(entry, decompressed->GetSize());
  if (decompressed->Size > 0) {
    sim::Machine::Current().DeclareBlock(decompressed->Memory, decoded->head.View(), uint64_t(decompressed->Size), decoded);
  }
}

std::string ReplayedMemoryError(const launcher::PayloadEntry& entry, const launcher::PackageHeader& header,
                                const Decoded& decoded) {
  sim::Machine machine;
  machine.memoryLimit = kMachineMemory;
  auto shared = std::make_shared<Decoded>(decoded);
  shared->head.Clear();  // nothing is started here
  machine.Run([&] {
    support::TStream compressed, decompressed;
    ReplayDecodePayload(entry, header, shared, &compressed, &decompressed);
  });
  if (!machine.messageBoxes.empty() && OutOfMemory(machine.messageBoxes[0].text)) return machine.messageBoxes[0].text;
  return "";
}

void RunCache::Add(const launcher::PayloadEntry& entry, Decoded decoded, const char* slot) {
  if (!decoded.read && decoded.message.empty()) return;  // a slot the check did not decode
  // A decoding that ran out of memory itself got as far as that machine
  // let it: each row decodes for itself.
  if (decoded.read && OutOfMemory(decoded.message)) return;
  entries_.push_back({entry, std::make_shared<const Decoded>(std::move(decoded)), slot});
}

std::string RunCache::WhichProgram(host::ByteView start) const {
  for (const Cached& c : entries_) {
    if (!start.empty() && start.data() == c.decoded->head.View().data()) return c.slot;
  }
  return "other";
}

void RunCache::Decode(void* context, platform::Handle ownFile, const launcher::PayloadEntry& entry,
                      const launcher::PackageHeader& header, support::TStream* compressed,
                      support::TStream* decompressed) {
  for (const Cached& c : static_cast<RunCache*>(context)->entries_) {
    if (c.entry.offset == entry.offset && c.entry.compressedSize == entry.compressedSize &&
        c.entry.uncompressedSize == entry.uncompressedSize) {
      ReplayDecodePayload(entry, header, c.decoded, compressed, decompressed);
      return;
    }
  }
  launcher::DecodePayload(ownFile, entry, header, compressed, decompressed);  // an entry the check left
}

bool RunCache::RegionCrc(void* context, platform::Handle ownFile, uint32_t offset, uint8_t* region, uint32_t length,
                         uint32_t* crc) {
  std::optional<RegionSum>& sum = static_cast<RunCache*>(context)->region_;
  if (!sum || sum->offset != offset || sum->length != length) {
    sum = RegionSum{offset, length, false, 0};
    sum->read = launcher::ReadRegionCrc(nullptr, ownFile, offset, region, length, &sum->crc);
  }
  *crc = sum->crc;
  return sum->read;
}

}  // namespace packaging
