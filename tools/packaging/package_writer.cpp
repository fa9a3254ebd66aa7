// Writing a package in one pass: layout, parts, messages, CRC and records.
#include "tools/packaging/package_writer.h"

#include <algorithm>
#include <optional>

#include "host/pe_image.h"
#include "launcher/crc32.h"
#include "launcher/package.h"
#include "support/lzma_decoder.h"
#include "tools/packaging/side_compression.h"

namespace packaging {

using launcher::kHeaderSize;
using launcher::kLimit;

uint32_t PackageStart(const Bytes& image) {
  pe::ImageInfo info;
  std::string error;
  if (pe::Parse(image, &info, &error)) return info.imageEnd;
  return static_cast<uint32_t>(image.size());
}

namespace {

// Appends to a sink, counting the bytes and taking the CRC-32 of those
// between crcFrom and crcTo as they pass.
struct Appender {
  PackageSink* sink;
  uint64_t crcFrom = 0, crcTo = UINT64_MAX;
  uint64_t size = 0;
  uint32_t crc = 0;

  bool Append(const uint8_t* p, size_t n) {
    const uint64_t from = std::max(size, crcFrom), to = std::min(size + n, crcTo);
    if (from < to) crc = launcher::Crc32Update(crc, p + (from - size), static_cast<size_t>(to - from));
    size += n;
    return sink->Append(p, n);
  }
};

// Copies a part into the package, piece by piece.
WriteResult CopyPart(const PieceSource& part, Appender* to, std::string* error) {
  bool unwritten = false;
  if (ForEachPiece(part, [&](uint64_t, const uint8_t* p, size_t n) { return to->Append(p, n) || (unwritten = true, false); },
                   error)) {
    return WriteResult::kWritten;
  }
  if (unwritten) *error = to->sink->Reason();
  return WriteResult::kInputOutputFailed;
}

// The stream a side compression made, appended where it belongs: as
// AddPayload would have written it.
WriteResult AppendSideStream(SideCompression* side, const PieceSource& program, Appender* to,
                             launcher::PayloadEntry* entry, std::string* error) {
  PieceSource stream;
  const WriteResult made = side->Wait(&stream, error);
  if (made != WriteResult::kWritten) return made;
  const uint64_t offset = to->size;
  if (offset + stream.size >= kLimit) return *error = "payload would lie at or past 2 GiB", WriteResult::kRefused;
  const WriteResult copied = CopyPart(stream, to, error);
  if (copied != WriteResult::kWritten) return copied;
  entry->offset = static_cast<uint32_t>(offset);
  entry->compressedSize = static_cast<uint32_t>(stream.size);
  entry->uncompressedSize = static_cast<uint32_t>(program.size);
  return WriteResult::kWritten;
}

// A program compressed into the package at its end.
WriteResult AddPayload(const PieceSource& program, const LzmaSettings& lzma, Appender* to,
                       launcher::PayloadEntry* entry, std::string* error) {
  if (program.size >= kLimit) return *error = "setup program of 2 GiB or more", WriteResult::kRefused;
  const uint64_t offset = to->size;
  bool past = false, unwritten = false, unread = false;
  PieceSource reading = program;
  reading.read = [&](uint64_t at, uint8_t* p, size_t n, std::string* why) {
    return program.read(at, p, n, why) || (unread = true, false);
  };
  const bool ok = CompressLzma1(reading, lzma, [&](const uint8_t* p, size_t n) {
    if (to->size + n >= kLimit) return past = true, false;
    if (!to->Append(p, n)) return unwritten = true, false;
    return true;
  }, error);
  if (past) return *error = "payload would lie at or past 2 GiB", WriteResult::kRefused;
  if (unwritten) return *error = to->sink->Reason(), WriteResult::kInputOutputFailed;
  if (!ok) return unread ? WriteResult::kInputOutputFailed : WriteResult::kRefused;
  entry->offset = static_cast<uint32_t>(offset);
  entry->compressedSize = static_cast<uint32_t>(to->size - offset);
  entry->uncompressedSize = static_cast<uint32_t>(program.size);
  return WriteResult::kWritten;
}

// The messages' bytes (UTF-16LE), placed at the end, with their references.
bool LayOutMessages(const PackageSettings& in, uint64_t at, launcher::PackageHeader* h, Bytes* bytes,
                    std::string* error) {
  auto add = [&](const std::u16string& text, launcher::MessageReference* ref) {
    if (text.empty()) return true;
    if (text.size() > 0xFFFF) return *error = "message longer than 65535 UTF-16 units", false;
    if (at + bytes->size() + 2 * text.size() >= kLimit) return *error = "message would lie past 2 GiB", false;
    ref->offset = static_cast<uint32_t>(at + bytes->size());
    ref->length = static_cast<uint16_t>(text.size());
    for (char16_t c : text) {
      bytes->push_back(static_cast<uint8_t>(c));
      bytes->push_back(static_cast<uint8_t>(c >> 8));
    }
    return true;
  };
  return add(in.architectureMessage, &h->architectureMessage) && add(in.versionMessage, &h->versionMessage);
}

// The limits that the sizes known before writing already break: the
// package holds at least the image, the header, the setup data and the
// messages (a compressed program's size is known only once it is written:
// it counts as nothing here, and the checks as the parts are written hold
// the rest). Nothing is read or written for a package that cannot be.
bool CheckLimitsAhead(const PackageSettings& in, const PackageParts& parts, uint32_t start, std::string* error) {
  const uint64_t messages = 2 * (uint64_t(in.architectureMessage.size()) + in.versionMessage.size());
  const uint64_t least = uint64_t(start) + kHeaderSize + parts.setupData.size + messages;
  if (messages > 0 && least >= kLimit) return *error = "message would lie past 2 GiB", false;
  const bool crcPast = in.crcReach == CrcReach::kByteCount ? uint64_t(start) + in.crcByteCount >= kLimit
                       : in.crcReach == CrcReach::kWholePackage ? least >= kLimit
                                                                 : false;
  if (crcPast) return *error = "CRC region would reach past 2 GiB", false;
  if (in.detached && least > 0xFFFFFFFFu) {
    return *error = "a detached package must be smaller than 4 GiB (its size is a 32-bit field)", false;
  }
  return true;
}

}  // namespace

WriteResult WritePackage(const PackageSettings& in, const PackageParts& parts, PackageSink* sink,
                         PackageLayout* out, std::string* error, SpillStore* spill) {
  constexpr WriteResult kRefused = WriteResult::kRefused;
  *out = PackageLayout();
  if (in.image.size() < launcher::kLocatorRoomEnd) return *error = "image too small", kRefused;
  if (!parts.program32 && !parts.program64) return *error = "no setup program given", kRefused;
  if (in.notFor64BitWindows && (!parts.program32 || parts.program64)) {
    return *error = "\"not for 64-bit Windows\" needs a 32-bit program and no 64-bit one", kRefused;
  }
  launcher::BuildCrcTable();
  const uint32_t start = PackageStart(in.image);
  if (!CheckLimitsAhead(in, parts, start, error)) return kRefused;
  // The header's CRC is joined to that of what follows it at the end, when
  // the header is known.
  Appender to{sink, uint64_t(start) + kHeaderSize};
  if (in.crcReach == CrcReach::kByteCount) to.crcTo = uint64_t(start) + in.crcByteCount;
  const Bytes room(kHeaderSize, 0);
  if (!to.Append(in.image.data(), start) || !to.Append(room.data(), room.size())) {
    return *error = sink->Reason(), WriteResult::kInputOutputFailed;
  }

  launcher::PackageHeader& h = out->header;
  h.lzmaProperties[0] = support::PropertiesByte({in.lzma.lc, in.lzma.lp, in.lzma.pb});
  launcher::StoreLe32(h.lzmaProperties + 1, in.lzma.dictionarySize);
  h.allowedVersions = in.allowedVersions;
  h.elevationMode = in.elevationMode;
  WriteResult result = WriteResult::kWritten;
  // The 64-bit program's stream does not depend on where it goes: with a
  // thread to spare it is made while the 32-bit one is.
  std::optional<SideCompression> side;
  if (parts.program32 && parts.program64 && spill != nullptr && in.threads >= 2) side.emplace(*parts.program64, in.lzma, spill);
  if (parts.program32 && (result = AddPayload(*parts.program32, in.lzma, &to, &h.payload32, error)) !=
                             WriteResult::kWritten) {
    return result;
  }
  if (side && (result = AppendSideStream(&*side, *parts.program64, &to, &h.payload64, error)) != WriteResult::kWritten) {
    return result;
  }
  if (!side && parts.program64 && (result = AddPayload(*parts.program64, in.lzma, &to, &h.payload64, error)) !=
                                      WriteResult::kWritten) {
    return result;
  }
  if (in.notFor64BitWindows) h.payload64.offset = launcher::kNotFor64BitWindows;
  out->payloadEnd = static_cast<uint32_t>(to.size);
  launcher::SetPayloadEnd(&h, out->payloadEnd);
  if (in.crcReach == CrcReach::kHeaderAndPayloads) to.crcTo = to.size;

  out->setupDataOffset = static_cast<uint32_t>(to.size);
  if ((result = CopyPart(parts.setupData, &to, error)) != WriteResult::kWritten) return result;
  // Messages go last, behind the setup data, so that the setup data starts
  // where the payload area ends.
  out->messagesOffset = static_cast<uint32_t>(to.size);
  Bytes messages;
  if (!LayOutMessages(in, to.size, &h, &messages, error)) return kRefused;
  if (!to.Append(messages.data(), messages.size())) return *error = sink->Reason(), WriteResult::kInputOutputFailed;
  out->size = to.size;

  launcher::PackageLocator& l = out->locator;
  if (!LocatorSizes(in, start, out->payloadEnd, to.size, &l, error)) return kRefused;
  uint8_t header[kHeaderSize];
  launcher::EncodeHeader(h, header);
  const uint64_t crcEnd = std::min<uint64_t>(uint64_t(start) + l.crcLength, to.size);
  const uint64_t afterHeader = crcEnd > to.crcFrom ? crcEnd - to.crcFrom : 0;
  l.crcValue = launcher::Crc32Combine(launcher::Crc32(header, std::min<uint64_t>(kHeaderSize, crcEnd - start)),
                                      to.crc, afterHeader);
  uint8_t locator[launcher::kLocatorSize];
  launcher::EncodeLocator(l, locator);
  if (!sink->Put(start, header, kHeaderSize) || !sink->Put(launcher::kLocatorOffset, locator, sizeof locator)) {
    return *error = sink->Reason(), WriteResult::kInputOutputFailed;
  }
  return WriteResult::kWritten;
}

bool LocatorSizes(const PackageSettings& in, uint32_t start, uint64_t payloadEnd, uint64_t size,
                  launcher::PackageLocator* l, std::string* error) {
  l->headerOffset = start;
  uint64_t reach = 0;  // the CRC region's length, before it is a 32-bit field
  switch (in.crcReach) {
    case CrcReach::kHeaderAndPayloads: reach = payloadEnd - start; break;
    case CrcReach::kWholePackage: reach = size - start; break;
    case CrcReach::kByteCount: reach = in.crcByteCount; break;
  }
  if (size - start > 0 && start + reach >= kLimit) return *error = "CRC region would reach past 2 GiB", false;
  // A detached package's size is one 32-bit field, and 0 there means not
  // detached.
  if (in.detached && size > 0xFFFFFFFFu) {
    return *error = "a detached package must be smaller than 4 GiB (its size is a 32-bit field)", false;
  }
  l->crcLength = static_cast<uint32_t>(reach);
  l->totalSizeLow = static_cast<uint32_t>(size);
  l->totalSizeHigh = static_cast<uint32_t>(size >> 32);
  l->detachedSize = in.detached ? static_cast<uint32_t>(size) : 0;
  return true;
}

}  // namespace packaging
