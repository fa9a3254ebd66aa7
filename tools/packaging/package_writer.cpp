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

bool CompressLzma1(const Bytes& data, const LzmaSettings& s, Bytes* out, std::string* error) {
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
  lzma_ret ret = lzma_raw_encoder(&stream, filters);
  if (ret != LZMA_OK) return *error = "LZMA settings refused by liblzma", false;
  out->assign(data.size() + data.size() / 2 + 65536, 0);
  // The input goes in by pieces so that progress can be reported.
  constexpr size_t kPiece = size_t(1) << 20;
  size_t fed = 0;
  stream.next_out = out->data();
  stream.avail_out = out->size();
  for (;;) {
    if (stream.avail_in == 0 && fed < data.size()) {
      const size_t n = std::min(kPiece, data.size() - fed);
      stream.next_in = data.data() + fed;
      stream.avail_in = n;
      fed += n;
      if (s.progress) s.progress(fed - n, data.size());
    }
    ret = lzma_code(&stream, fed == data.size() ? LZMA_FINISH : LZMA_RUN);
    if (ret == LZMA_STREAM_END) break;
    if (ret != LZMA_OK) {
      lzma_end(&stream);
      return *error = "LZMA compression failed", false;
    }
    if (stream.avail_out == 0) {
      const size_t done = out->size();
      out->resize(done * 2);
      stream.next_out = out->data() + done;
      stream.avail_out = out->size() - done;
    }
  }
  if (s.progress) s.progress(data.size(), data.size());
  out->resize(stream.total_out);
  lzma_end(&stream);
  return true;
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

bool BuildPackage(const PackageInput& in, BuiltPackage* out, std::string* error) {
  *out = BuiltPackage();
  if (in.image.size() < launcher::kLocatorRoomEnd) return *error = "image too small", false;
  if (!in.program32 && !in.program64) return *error = "no setup program given", false;
  if (in.notFor64BitWindows && (!in.program32 || in.program64)) {
    return *error = "\"not for 64-bit Windows\" needs a 32-bit program and no 64-bit one", false;
  }
  const uint32_t start = PackageStart(in.image);
  Bytes& b = out->bytes;
  b.assign(in.image.begin(), in.image.begin() + start);

  launcher::PackageHeader& h = out->header;
  h = launcher::PackageHeader{};
  h.lzmaProperties[0] = support::PropertiesByte({in.lzma.lc, in.lzma.lp, in.lzma.pb});
  launcher::StoreLe32(h.lzmaProperties + 1, in.lzma.dictionarySize);
  h.allowedVersions = in.allowedVersions;
  h.elevationMode = in.elevationMode;
  b.resize(b.size() + kHeaderSize, 0);

  auto addPayload = [&](const Bytes& program, launcher::PayloadEntry* entry) {
    Bytes stream;
    if (program.size() >= kLimit) return *error = "setup program of 2 GiB or more", false;
    if (!CompressLzma1(program, in.lzma, &stream, error)) return false;
    if (b.size() + stream.size() >= kLimit) return *error = "payload would lie at or past 2 GiB", false;
    entry->offset = static_cast<uint32_t>(b.size());
    entry->compressedSize = static_cast<uint32_t>(stream.size());
    entry->uncompressedSize = static_cast<uint32_t>(program.size());
    b.insert(b.end(), stream.begin(), stream.end());
    return true;
  };
  if (in.program32 && !addPayload(*in.program32, &h.payload32)) return false;
  if (in.program64 && !addPayload(*in.program64, &h.payload64)) return false;
  if (in.notFor64BitWindows) h.payload64.offset = launcher::kNotFor64BitWindows;
  out->payloadEnd = static_cast<uint32_t>(b.size());
  launcher::SetPayloadEnd(&h, out->payloadEnd);

  out->setupDataOffset = static_cast<uint32_t>(b.size());
  b.insert(b.end(), in.setupData.begin(), in.setupData.end());

  // Messages go last, behind the setup data, so that the setup data starts
  // where the payload area ends.
  out->messagesOffset = static_cast<uint32_t>(b.size());
  auto addMessage = [&](const std::u16string& text, launcher::MessageReference* ref) {
    if (text.empty()) return true;
    if (text.size() > 0xFFFF) return *error = "message longer than 65535 UTF-16 units", false;
    if (b.size() + 2 * text.size() >= kLimit) return *error = "message would lie past 2 GiB", false;
    ref->offset = static_cast<uint32_t>(b.size());
    ref->length = static_cast<uint16_t>(text.size());
    for (char16_t c : text) {
      b.push_back(static_cast<uint8_t>(c));
      b.push_back(static_cast<uint8_t>(c >> 8));
    }
    return true;
  };
  if (!addMessage(in.architectureMessage, &h.architectureMessage)) return false;
  if (!addMessage(in.versionMessage, &h.versionMessage)) return false;

  launcher::PackageLocator& l = out->locator;
  if (!LocatorSizes(in, start, out->payloadEnd, b.size(), &l, error)) return false;
  WriteRecords(out);
  UpdateCrc(out);
  if (in.adjust) {
    in.adjust(l, h);
    WriteRecords(out);
    if (in.recomputeCrcAfterAdjust) UpdateCrc(out);
  }
  return true;
}

bool LocatorSizes(const PackageInput& in, uint32_t start, uint64_t payloadEnd, uint64_t size,
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
