#include "launcher/payload.h"

#include "launcher/fatal.h"
#include "launcher/file_handle.h"
#include "support/lzma_decoder.h"

namespace launcher {

void DecodePayload(platform::Handle ownFile, const PayloadEntry& entry, const PackageHeader& header,
                   support::TStream* compressed, support::TStream* decompressed) {
  const int32_t compressedSize = static_cast<int32_t>(entry.compressedSize);
  const int32_t uncompressedSize = static_cast<int32_t>(entry.uncompressedSize);
  if (compressedSize < 0 || uncompressedSize < 0) FatalDamagedPackage();
  compressed->SetSize(compressedSize);
  if (!ReadAt(ownFile, entry.offset, compressed->Memory, static_cast<uint32_t>(compressed->GetSize()))) {
    FatalDamagedPackage();
  }
  {
    support::TLZMADecoder decoder;
    if (!decoder.SetProperties(header.lzmaProperties, kLzmaPropertiesSize)) FatalDamagedPackage();
    decoder.Decode(compressed, decompressed, uncompressedSize);
  }
  if (decompressed->GetSize() != uncompressedSize) FatalDamagedPackage();
}

}  // namespace launcher
