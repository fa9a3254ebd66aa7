#include "tools/packaging/package_writer.h"

#include <lzma.h>

#include <algorithm>

#include "host/pe_image.h"
#include "launcher/crc32.h"
#include "launcher/package.h"
#include "support/lzma_decoder.h"

namespace packaging {

using launcher::kHeaderSize;
using launcher::kLimit;

PieceSource InMemory(const Bytes& bytes) {
  PieceSource source;
  source.size = bytes.size();
  source.read = [&bytes](uint64_t offset, uint8_t* to, size_t count, std::string*) {
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), count, to);
    return true;
  };
  return source;
}

namespace {

// Pieces in which parts are read, compressed and written.
constexpr size_t kPiece = size_t(1) << 20;

}  // namespace

bool CompressLzma1(const PieceSource& data, const LzmaSettings& s,
                   const std::function<bool(const uint8_t*, size_t)>& out, std::string* error) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, s.preset)) return *error = "bad LZMA preset", false;
  options.dict_size = s.dictionarySize;
  options.lc = s.lc;
  options.lp = s.lp;
  options.pb = s.pb;
  // LZMA1EXT without its end-marker flag writes no end marker; the decoder
  // takes the size from the payload entry.
  options.ext_flags = 0;
  options.ext_size_low = UINT32_MAX;
  options.ext_size_high = UINT32_MAX;
  lzma_filter filters[2] = {{s.endMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&stream, filters) != LZMA_OK) return *error = "LZMA settings refused by liblzma", false;
  Bytes in(static_cast<size_t>(std::min<uint64_t>(kPiece, data.size))), pieceOut(kPiece);
  uint64_t fed = 0;
  bool ok = true;
  stream.next_out = pieceOut.data();
  stream.avail_out = pieceOut.size();
  for (;;) {
    if (stream.avail_in == 0 && fed < data.size) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, data.size - fed));
      if (s.progress) s.progress(fed, data.size);
      if (!data.read(fed, in.data(), n, error)) {
        ok = false;
        break;
      }
      stream.next_in = in.data();
      stream.avail_in = n;
      fed += n;
    }
    const lzma_ret ret = lzma_code(&stream, fed == data.size ? LZMA_FINISH : LZMA_RUN);
    if (ret != LZMA_OK && ret != LZMA_STREAM_END) {
      *error = "LZMA compression failed";
      ok = false;
      break;
    }
    if (stream.avail_out == 0 || ret == LZMA_STREAM_END) {
      if (!out(pieceOut.data(), pieceOut.size() - stream.avail_out)) {
        ok = false;
        break;
      }
      stream.next_out = pieceOut.data();
      stream.avail_out = pieceOut.size();
    }
    if (ret == LZMA_STREAM_END) break;
  }
  lzma_end(&stream);
  if (ok && s.progress) s.progress(data.size, data.size);
  return ok;
}

bool CompressLzma1(const Bytes& data, const LzmaSettings& s, Bytes* out, std::string* error) {
  out->clear();
  return CompressLzma1(InMemory(data), s, [out](const uint8_t* p, size_t n) {
    out->insert(out->end(), p, p + n);
    return true;
  }, error);
}

uint32_t PackageStart(const Bytes& image) {
  pe::ImageInfo info;
  std::string error;
  if (pe::Parse(image, &info, &error)) return info.imageEnd;
  return static_cast<uint32_t>(image.size());
}

void WriteRecords(BuiltPackage* p) {
  launcher::EncodeLocator(p->locator, p->bytes.data() + launcher::kLocatorOffset);
  if (p->locator.headerOffset != 0 && p->locator.headerOffset + uint64_t(kHeaderSize) <= p->bytes.size()) {
    launcher::EncodeHeader(p->header, p->bytes.data() + p->locator.headerOffset);
  }
}

void UpdateCrc(BuiltPackage* p) {
  launcher::BuildCrcTable();
  const uint64_t start = p->locator.headerOffset;
  const uint64_t end = std::min<uint64_t>(start + p->locator.crcLength, p->bytes.size());
  p->locator.crcValue = start < end ? launcher::Crc32(p->bytes.data() + start, end - start) : 0;
  launcher::EncodeLocator(p->locator, p->bytes.data() + launcher::kLocatorOffset);
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
  Bytes piece(static_cast<size_t>(std::min<uint64_t>(kPiece, part.size)));
  for (uint64_t done = 0; done < part.size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, part.size - done));
    if (!part.read(done, piece.data(), n, error)) return WriteResult::kInputOutputFailed;
    if (!to->Append(piece.data(), n)) return *error = to->sink->Reason(), WriteResult::kInputOutputFailed;
    done += n;
  }
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

class MemorySink : public PackageSink {
 public:
  explicit MemorySink(Bytes* bytes) : bytes_(bytes) {}
  bool Append(const uint8_t* p, size_t n) override {
    bytes_->insert(bytes_->end(), p, p + n);
    return true;
  }
  bool Put(uint64_t offset, const uint8_t* p, size_t n) override {
    std::copy_n(p, n, bytes_->begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
  }
  std::string Reason() const override { return ""; }

 private:
  Bytes* bytes_;
};

}  // namespace

WriteResult WritePackage(const PackageSettings& in, const PackageParts& parts, PackageSink* sink,
                         PackageLayout* out, std::string* error) {
  constexpr WriteResult kRefused = WriteResult::kRefused;
  *out = PackageLayout();
  if (in.image.size() < launcher::kLocatorRoomEnd) return *error = "image too small", kRefused;
  if (!parts.program32 && !parts.program64) return *error = "no setup program given", kRefused;
  if (in.notFor64BitWindows && (!parts.program32 || parts.program64)) {
    return *error = "\"not for 64-bit Windows\" needs a 32-bit program and no 64-bit one", kRefused;
  }
  launcher::BuildCrcTable();
  const uint32_t start = PackageStart(in.image);
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
  if (parts.program32 && (result = AddPayload(*parts.program32, in.lzma, &to, &h.payload32, error)) !=
                             WriteResult::kWritten) {
    return result;
  }
  if (parts.program64 && (result = AddPayload(*parts.program64, in.lzma, &to, &h.payload64, error)) !=
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

bool BuildPackage(const PackageInput& in, BuiltPackage* out, std::string* error) {
  *out = BuiltPackage();
  PackageParts parts;
  if (in.program32) parts.program32 = InMemory(*in.program32);
  if (in.program64) parts.program64 = InMemory(*in.program64);
  parts.setupData = InMemory(in.setupData);
  MemorySink sink(&out->bytes);
  if (WritePackage(in, parts, &sink, out, error) != WriteResult::kWritten) return false;
  if (in.adjust) {
    in.adjust(out->locator, out->header);
    WriteRecords(out);
    if (in.recomputeCrcAfterAdjust) UpdateCrc(out);
  }
  return true;
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
