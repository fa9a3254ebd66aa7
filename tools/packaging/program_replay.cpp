#include "tools/packaging/program_replay.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "host/pe_image.h"
#include "host/system/memory.h"
#include "launcher/fatal.h"
#include "launcher/package.h"
#include "launcher/payload.h"
#include "platform/sim/sim_machine.h"
#include "support/lzma_tool_decoder.h"
#include "tools/packaging/codes.h"
#include "tools/packaging/launcher_memory.h"

namespace packaging {

namespace {

// A PE header at least this far into the program is kept without the bytes
// before it.
constexpr uint64_t kFarHeader = uint64_t(64) << 10;

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

void ProgramHead::Take(const uint8_t* bytes, size_t count) {
  for (size_t at = 0; at < count;) {
    const uint64_t position = seen_ + at;
    if (position < sizeof dos_) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(count - at, sizeof dos_ - position));
      std::memcpy(dos_ + position, bytes + at, n);
      at += n;
      size_ = static_cast<size_t>(seen_ + at);
      if (size_ < sizeof dos_) continue;
      // The whole DOS header: room for the most its PE header's offset can
      // make the head need, in pages that are only backed where written.
      const size_t room = size_t(launcher::LoadLe32(dos_ + 60)) + 24 + 0xFFFF + 40 * 0xFFFF;
      void* block = sys::MapBlock(room);
      if (block == nullptr) throw std::bad_alloc();
      block_ = std::shared_ptr<uint8_t>(static_cast<uint8_t*>(block), [room](uint8_t* p) { sys::FreeBlock(p, room); });
      std::memcpy(block_.get(), dos_, sizeof dos_);
      continue;
    }
    const host::ByteView view = View();
    const uint64_t needed = pe::HeadNeeded(view);
    if (size_ >= needed) break;
    const uint64_t pe = launcher::LoadLe32(dos_ + 60);
    if (pe >= kFarHeader && position < pe) {  // between the DOS header and a far PE header
      at += static_cast<size_t>(std::min<uint64_t>(count - at, pe - position));
      continue;
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count - at, needed - position));
    std::memcpy(block_.get() + position, bytes + at, n);
    size_ = static_cast<size_t>(position + n);
    at += n;
  }
  seen_ += count;
}

uint64_t ProgramHead::Wanted(uint64_t position) const {
  if (position < sizeof dos_) return position;
  if (size_ >= pe::HeadNeeded(View())) return UINT64_MAX;
  const uint64_t pe = launcher::LoadLe32(dos_ + 60);
  return pe >= kFarHeader && position < pe ? pe : position;
}

bool ProgramHead::Read(const PieceSource& program, std::string* error) {
  uint8_t piece[4096];
  for (;;) {
    const uint64_t wanted = Wanted(seen_);
    if (wanted >= program.size) return true;
    seen_ = wanted;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof piece, program.size - wanted));
    if (!program.read(wanted, piece, n, error)) return false;
    Take(piece, n);
  }
}

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
    slot->decoded = DecodeEntry(file, v->header, s.entry, slot->sink, slot->progress);
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
    if (pe::CheckProgram(d.head.View(), uint64_t(d.produced), s.machine, &problem)) continue;
    if (s.machine == pe::kMachineAmd64 && pe::CheckProgram(d.head.View(), uint64_t(d.produced), pe::kMachineI386, &as32)) {
      AddProblem(v, ProblemCode::kProgram32BitIn64BitSlot, std::string(s.name) +
                     ": an i386 (32-bit) program: 64-bit Windows starts it as a 32-bit program, not the 64-bit "
                     "one the slot is for");
      continue;
    }
    AddProblem(v, ProblemCode::kProgramNotStartable, std::string(s.name) + ": " + problem + ": Windows will not start it");
  }
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
