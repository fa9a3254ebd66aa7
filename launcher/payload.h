// Reading and decoding the chosen payload.
#ifndef LAUNCHER_PAYLOAD_H_
#define LAUNCHER_PAYLOAD_H_

#include "launcher/tool_steps.h"
#include "launcher/package_format.h"
#include "platform/platform.h"
#include "support/lzma_decoder.h"
#include "support/stream.h"

namespace launcher {

// Reads the entry's compressed bytes into `compressed` with one read and
// decodes them into `decompressed`, which then holds exactly
// `uncompressedSize` bytes. Both streams come in empty. Every refusal ends in
// the damaged-package message. A tool's `decode` step (with its `context`)
// does all of it instead.
void DecodePayload(platform::Handle ownFile, const PayloadEntry& entry, const PackageHeader& header,
                   support::TStream* compressed, support::TStream* decompressed, DecodeStep decode = nullptr,
                   void* context = nullptr);

// The part of DecodePayload before the decoding: the compressed bytes read
// into `compressed` and `decoder` set up for them. For tools that decode the
// stream another way (in pieces, or not again).
void ReadPayload(platform::Handle ownFile, const PayloadEntry& entry, const PackageHeader& header,
                 support::TStream* compressed, support::TLZMADecoder* decoder);

// Ends the run with the damaged-package message unless `produced` is the
// entry's uncompressed size.
void CheckDecodedSize(const PayloadEntry& entry, int32_t produced);

}  // namespace launcher

#endif  // LAUNCHER_PAYLOAD_H_
