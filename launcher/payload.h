// Reading and decoding the chosen payload.
#ifndef LAUNCHER_PAYLOAD_H_
#define LAUNCHER_PAYLOAD_H_

#include "launcher/package_format.h"
#include "platform/platform.h"
#include "support/stream.h"

namespace launcher {

// Reads the entry's compressed bytes into `compressed` with one read and
// decodes them into `decompressed`, which then holds exactly
// `uncompressedSize` bytes. Both streams come in empty. Every refusal ends in
// the damaged-package message.
void DecodePayload(platform::Handle ownFile, const PayloadEntry& entry, const PackageHeader& header,
                   support::TStream* compressed, support::TStream* decompressed);

}  // namespace launcher

#endif  // LAUNCHER_PAYLOAD_H_
