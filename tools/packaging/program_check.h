// The decoded programs checked as Windows would take them for their slots,
// each payload decoded once in pieces (program_replay).
#ifndef TOOLS_PACKAGING_PROGRAM_CHECK_H_
#define TOOLS_PACKAGING_PROGRAM_CHECK_H_

#include "host/bytes.h"
#include "tools/packaging/package_reader.h"
#include "tools/packaging/program_replay.h"

namespace packaging {

// One payload slot checked by CheckPrograms: what decoding it gave, and
// where its bytes go (for extract) as they are decoded.
struct ProgramSlot {
  PieceSink sink;
  bool progress = false;  // see DecodeEntry
  Decoded decoded;
};

// Problems of the decoded programs: each payload decoded in pieces and its
// program checked against its slot (i386 for the 32-bit one, x86-64 for the
// 64-bit one), and the memory its decoding takes. Appended to view->problems.
void CheckPrograms(host::ByteView file, PackageView* view, ProgramSlot* slot32 = nullptr,
                   ProgramSlot* slot64 = nullptr);

}  // namespace packaging

#endif  // TOOLS_PACKAGING_PROGRAM_CHECK_H_
