// A program's certificate table, and a signed copy checked against its original.
#include "tools/pe/certificate_table.h"

#include <algorithm>

#include "host/pe_image.h"

namespace pe {

namespace {

constexpr uint32_t kSecurityDirectory = 4;
constexpr uint32_t kCertificateHeader = 8;  // WIN_CERTIFICATE: length, revision, type

// The file offsets of the checksum and of the certificate entry in a PE32
// or PE32+ header, and where the sections' data ends; false when the head
// holds no such header.
bool Fields(host::ByteView b, uint32_t* checksum, uint32_t* entry, uint64_t* sectionsEnd) {
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return false;
  const uint64_t pe = host::Le32(b, 60);
  if (pe + 24 > b.size() || b[pe] != 'P' || b[pe + 1] != 'E' || b[pe + 2] != 0 || b[pe + 3] != 0) return false;
  const uint32_t optionalSize = host::Le16(b, pe + 20), sections = host::Le16(b, pe + 6);
  const uint64_t oh = pe + 24;
  if (oh + optionalSize > b.size() || optionalSize < 2) return false;
  const uint16_t magic = host::Le16(b, oh);
  const uint32_t directories = magic == 0x20B ? 112 : magic == kOptionalMagicPe32 ? 96 : 0;
  if (directories == 0 || optionalSize < directories + 8 * (kSecurityDirectory + 1)) return false;
  if (host::Le32(b, oh + directories - 4) <= kSecurityDirectory) return false;  // NumberOfRvaAndSizes
  *checksum = static_cast<uint32_t>(oh + 64);
  *entry = static_cast<uint32_t>(oh + directories + 8 * kSecurityDirectory);
  const uint64_t table = oh + optionalSize;
  if (table + 40ull * sections > b.size()) return false;
  *sectionsEnd = 0;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint64_t s = table + 40ull * i;
    *sectionsEnd = std::max<uint64_t>(*sectionsEnd, uint64_t(host::Le32(b, s + 20)) + host::Le32(b, s + 16));
  }
  return true;
}

}  // namespace

CertificateTable CertificateTableOf(host::ByteView head, uint64_t size) {
  CertificateTable t;
  uint32_t checksum = 0, entry = 0;
  uint64_t sectionsEnd = 0;
  if (!Fields(head, &checksum, &entry, &sectionsEnd)) return t;
  t.offset = host::Le32(head, entry);
  t.size = host::Le32(head, entry + 4);
  t.present = t.size != 0;
  t.consistent = t.present && t.size >= kCertificateHeader && t.offset >= sectionsEnd &&
                 uint64_t(t.offset) + t.size <= size;
  return t;
}

std::string SignedCopyProblem(host::ByteView original, host::ByteView signed_) {
  uint32_t checksum = 0, entry = 0;
  uint64_t sectionsEnd = 0;
  if (!Fields(signed_, &checksum, &entry, &sectionsEnd)) return "the signed copy is no Windows program";
  const CertificateTable t = CertificateTableOf(signed_, signed_.size());
  if (!t.present) return "the signed copy carries no certificate table";
  if (!t.consistent || t.offset < original.size()) {
    return "the signed copy's certificate table is not appended after the program (offset " +
           std::to_string(t.offset) + ", " + std::to_string(t.size) + " bytes)";
  }
  for (uint64_t i = 0; i < original.size(); ++i) {
    const bool field = (i >= checksum && i < checksum + 4) || (i >= entry && i < entry + 8);
    if (!field && original[i] != signed_[i]) {
      return "the signer changed the program itself (its byte at offset " + std::to_string(i) +
             "), not only its checksum and certificate entry";
    }
  }
  return "";
}

}  // namespace pe
