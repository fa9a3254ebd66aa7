// Encoding and decoding the package's records.
#include "launcher/package_format.h"

namespace launcher {

namespace {

PayloadEntry DecodeEntry(const uint8_t* p) {
  return PayloadEntry{LoadLe32(p), LoadLe32(p + 4), LoadLe32(p + 8)};
}
void EncodeEntry(const PayloadEntry& e, uint8_t* p) {
  StoreLe32(p, e.offset);
  StoreLe32(p + 4, e.compressedSize);
  StoreLe32(p + 8, e.uncompressedSize);
}
MessageReference DecodeReference(const uint8_t* p) {
  return MessageReference{LoadLe32(p), LoadLe16(p + 4)};
}
void EncodeReference(const MessageReference& r, uint8_t* p) {
  StoreLe32(p, r.offset);
  StoreLe16(p + 4, r.length);
}

}  // namespace

PackageLocator DecodeLocator(const uint8_t b[kLocatorSize]) {
  return PackageLocator{LoadLe32(b),      LoadLe32(b + 4),  LoadLe32(b + 8),
                        LoadLe32(b + 12), LoadLe32(b + 16), LoadLe32(b + 20)};
}

void EncodeLocator(const PackageLocator& l, uint8_t b[kLocatorSize]) {
  StoreLe32(b, l.headerOffset);
  StoreLe32(b + 4, l.crcLength);
  StoreLe32(b + 8, l.crcValue);
  StoreLe32(b + 12, l.totalSizeLow);
  StoreLe32(b + 16, l.totalSizeHigh);
  StoreLe32(b + 20, l.detachedSize);
}

PackageHeader DecodeHeader(const uint8_t b[kHeaderSize]) {
  PackageHeader h;
  for (uint32_t i = 0; i < kLzmaPropertiesSize; ++i) h.lzmaProperties[i] = b[i];
  h.allowedVersions = uint64_t(LoadLe32(b + kHeaderAllowedVersions)) |
                      uint64_t(LoadLe32(b + kHeaderAllowedVersions + 4)) << 32;
  h.elevationMode = b[kHeaderElevationMode];
  h.payload32 = DecodeEntry(b + kHeaderPayload32);
  h.payload64 = DecodeEntry(b + kHeaderPayload64);
  for (uint32_t i = 0; i < 16; ++i) h.notInterpreted[i] = b[kHeaderNotInterpreted + i];
  h.architectureMessage = DecodeReference(b + kHeaderArchitectureMessage);
  h.versionMessage = DecodeReference(b + kHeaderVersionMessage);
  return h;
}

void EncodeHeader(const PackageHeader& h, uint8_t b[kHeaderSize]) {
  for (uint32_t i = 0; i < kLzmaPropertiesSize; ++i) b[i] = h.lzmaProperties[i];
  StoreLe32(b + kHeaderAllowedVersions, uint32_t(h.allowedVersions));
  StoreLe32(b + kHeaderAllowedVersions + 4, uint32_t(h.allowedVersions >> 32));
  b[kHeaderElevationMode] = h.elevationMode;
  EncodeEntry(h.payload32, b + kHeaderPayload32);
  EncodeEntry(h.payload64, b + kHeaderPayload64);
  for (uint32_t i = 0; i < 16; ++i) b[kHeaderNotInterpreted + i] = h.notInterpreted[i];
  EncodeReference(h.architectureMessage, b + kHeaderArchitectureMessage);
  EncodeReference(h.versionMessage, b + kHeaderVersionMessage);
}

}  // namespace launcher
