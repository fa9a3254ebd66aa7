// Reading the chosen payload into memory and decoding it.
#include "launcher/payload.h"

#include "launcher/fatal.h"
#include "launcher/file_handle.h"

namespace launcher {

void ReadPayload(platform::Handle ownFile, const PayloadEntry& entry, const PackageHeader& header,
                 support::TStream* compressed, support::TLZMADecoder* decoder) {
  const int32_t compressedSize = static_cast<int32_t>(entry.compressedSize);
  if (compressedSize < 0 || static_cast<int32_t>(entry.uncompressedSize) < 0) FatalDamagedPackage();
  compressed->SetSize(compressedSize);
  if (!ReadAt(ownFile, entry.offset, compressed->Memory, static_cast<uint32_t>(compressed->GetSize()))) {
    FatalDamagedPackage();
  }
  if (!decoder->SetProperties(header.lzmaProperties, kLzmaPropertiesSize)) FatalDamagedPackage();
}

void CheckDecodedSize(const PayloadEntry& entry, int32_t produced) {
  if (produced != static_cast<int32_t>(entry.uncompressedSize)) FatalDamagedPackage();
}

void DecodePayload(platform::Handle ownFile, const PayloadEntry& entry, const PackageHeader& header,
                   support::TStream* compressed, support::TStream* decompressed, DecodeStep decode, void* context) {
  if (decode != nullptr) {
    decode(context, ownFile, entry, header, compressed, decompressed);
    return;
  }
  {
    support::TLZMADecoder decoder;
    ReadPayload(ownFile, entry, header, compressed, &decoder);
    decoder.Decode(compressed, decompressed, static_cast<int32_t>(entry.uncompressedSize));
  }
  CheckDecodedSize(entry, decompressed->GetSize());
}

}  // namespace launcher
