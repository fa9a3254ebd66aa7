/* A stand-in signer for the Windows tool's tests under Wine (no signing tool
 * runs there): "cert_appender IN OUT" copies IN to OUT with a certificate
 * table appended (one WIN_CERTIFICATE of PKCS#7 type holding filler bytes)
 * and the PE's certificate-table entry pointing at it, as a signer leaves
 * them. Nothing is checked cryptographically. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | (unsigned)p[3] << 24; }
static void Put32(unsigned char* p, unsigned v) {
  p[0] = (unsigned char)v, p[1] = (unsigned char)(v >> 8), p[2] = (unsigned char)(v >> 16), p[3] = (unsigned char)(v >> 24);
}

int main(int argc, char** argv) {
  if (argc != 3) return fprintf(stderr, "usage: cert_appender IN OUT\n"), 2;
  FILE* in = fopen(argv[1], "rb");
  if (in == NULL) return fprintf(stderr, "cert_appender: cannot read %s\n", argv[1]), 1;
  fseek(in, 0, SEEK_END);
  const long size = ftell(in);
  fseek(in, 0, SEEK_SET);
  const long padded = (size + 7) & ~7L, table = 8 + 56;
  unsigned char* bytes = calloc(1, (size_t)(padded + table));
  if (bytes == NULL || fread(bytes, 1, (size_t)size, in) != (size_t)size) return 1;
  fclose(in);
  const unsigned pe = Le32(bytes + 0x3C);
  const unsigned optional = pe + 24;
  const int pe32plus = bytes[optional] == 0x0B && bytes[optional + 1] == 0x02;
  unsigned char* entry = bytes + optional + (pe32plus ? 112 : 96) + 4 * 8;
  Put32(entry, (unsigned)padded);
  Put32(entry + 4, (unsigned)table);
  unsigned char* certificate = bytes + padded;
  Put32(certificate, (unsigned)table);
  certificate[4] = 0x00, certificate[5] = 0x02; /* WIN_CERT_REVISION_2_0 */
  certificate[6] = 0x02, certificate[7] = 0x00; /* WIN_CERT_TYPE_PKCS_SIGNED_DATA */
  memset(certificate + 8, 0x5A, (size_t)table - 8);
  FILE* out = fopen(argv[2], "wb");
  if (out == NULL || fwrite(bytes, 1, (size_t)(padded + table), out) != (size_t)(padded + table) || fclose(out) != 0) {
    return fprintf(stderr, "cert_appender: cannot write %s\n", argv[2]), 1;
  }
  return 0;
}
