// Whether a program carries a certificate table (an Authenticode
// signature): the security data directory of its PE32 or PE32+ header and
// where it points. Presence and consistency only; nothing is verified.
#ifndef TOOLS_PE_CERTIFICATE_TABLE_H_
#define TOOLS_PE_CERTIFICATE_TABLE_H_

#include <cstdint>
#include <string>

#include "host/bytes.h"

namespace pe {

struct CertificateTable {
  bool present = false;  // the directory entry names one
  uint32_t offset = 0, size = 0;
  bool consistent = false;  // it lies after the sections, inside the file, at least its own header long
};

// For a file of `size` bytes that begins with `head` (at least
// pe::HeadNeeded(head) bytes of it, or all of it).
CertificateTable CertificateTableOf(host::ByteView head, uint64_t size);

// What is wrong with `signed_` as the signed copy of `original`: a
// certificate table appended after what was there, and the rest unchanged
// (every byte of the original but its checksum and its certificate entry).
// "" when it is sound.
std::string SignedCopyProblem(host::ByteView original, host::ByteView signed_);

}  // namespace pe

#endif  // TOOLS_PE_CERTIFICATE_TABLE_H_
