#include "tests/differential/corpus.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "host/utf.h"

namespace differential {

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = [] {
    std::vector<Row> read;
    std::ifstream file(std::string(DIFFERENTIAL_DIR) + "/rows.tsv");
    for (std::string line; std::getline(file, line);) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      Row row;
      std::string version, option;
      int bits = 0;
      char dot = 0;
      fields >> row.name >> row.prefix >> row.wineVersion >> version >> option >> bits;
      std::istringstream(version) >> row.major >> dot >> row.minor;
      row.with32 = option == "/32";
      row.is64 = bits == 64;
      read.push_back(row);
    }
    return read;
  }();
  return rows;
}

namespace {

// A small deterministic generator (the corpus must be the same everywhere).
struct Random {
  uint64_t state;
  uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
};

std::u16string Utf16(const std::string& utf8) {
  std::u16string out;
  host::Utf8ToUtf16(utf8, &out);
  return out;
}

const char* const kMessages[] = {
    "",
    "This package does not suit this computer.",
    "Not on %USER%.",
    "\xc5\x81\xc3\xb3" "d\xc5\xba: %USER% \xc4\x80\xc5\x91",        // letters with diacritics
    "\xef\xbc\xa1\xef\xbc\xa2\xef\xbc\xa3 %USER%",                // fullwidth forms
    "smile \xf0\x9f\x98\x80 on %USER%",                            // a surrogate pair
    "%user% and %USER% and %USER%",
};

const uint64_t kVersionSets[] = {
    ~uint64_t(0),
    uint64_t(1) << 10,                      // Windows 10 only
    ~(uint64_t(1) << 7),                    // all but Windows 7
    uint64_t(1) << 63,                      // later only
    (uint64_t(1) << 7) | (uint64_t(1) << 10),
    0,
};

packaging::PackageInput ValidInput(Random& r, const packaging::Bytes& launcher, const packaging::Bytes& p32,
                                   const packaging::Bytes& p64, std::string* name) {
  packaging::PackageInput in;
  in.image = launcher;
  const uint32_t programs = r.Below(4);
  static const char* const kPrograms[] = {"p32", "p64", "both", "not64"};
  if (programs != 1) in.program32 = p32;
  if (programs == 1 || programs == 2) in.program64 = p64;
  in.notFor64BitWindows = programs == 3;
  in.allowedVersions = kVersionSets[r.Below(6)];
  in.architectureMessage = Utf16(kMessages[r.Below(7)]);
  in.versionMessage = Utf16(kMessages[r.Below(7)]);
  in.elevationMode = static_cast<uint8_t>(r.Below(3));
  in.detached = r.Below(8) == 0;
  in.setupData = packaging::Bytes(r.Below(3) * 3000, static_cast<uint8_t>(r.Next()));
  const uint32_t reach = r.Below(3);
  in.crcReach = reach == 0 ? packaging::CrcReach::kHeaderAndPayloads
                           : reach == 1 ? packaging::CrcReach::kWholePackage : packaging::CrcReach::kByteCount;
  in.crcByteCount = 66;
  const uint32_t lzma = r.Below(5);
  if (lzma == 1) in.lzma.lc = 0, in.lzma.lp = 2, in.lzma.pb = 0;
  if (lzma == 2) in.lzma.lc = 4, in.lzma.lp = 0, in.lzma.pb = 4;
  if (lzma == 3) in.lzma.dictionarySize = 4096;
  if (lzma == 4) in.lzma.endMarker = true;
  in.lzma.preset = 1;
  *name = std::string(kPrograms[programs]) + "-v" + std::to_string(in.allowedVersions == ~uint64_t(0) ? 0 : 1) +
          "-e" + std::to_string(in.elevationMode) + (in.detached ? "-det" : "") + "-crc" + std::to_string(reach) +
          "-lz" + std::to_string(lzma);
  return in;
}

const uint32_t kEdges[] = {0, 1, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};

// One damaged package: a valid one changed in one way.
void Damage(Random& r, packaging::PackageInput* in, packaging::BuiltPackage* out, std::string* name) {
  const uint32_t kind = r.Below(7);
  const uint32_t edge = kEdges[r.Below(5)];
  const int32_t delta = static_cast<int32_t>(r.Below(2) ? 1 : 1000) * (r.Below(2) ? 1 : -1);
  std::string error;
  auto rebuild = [&](bool crcMatches) {
    in->recomputeCrcAfterAdjust = crcMatches;
    packaging::BuildPackage(*in, out, &error);
  };
  switch (kind) {
    case 0: {  // a flipped byte somewhere in the package
      packaging::BuildPackage(*in, out, &error);
      const uint32_t start = out->locator.headerOffset;
      // Where, as a share of the package (names stay the same when the
      // launcher image changes size).
      const uint32_t permille = r.Below(1000);
      const uint32_t at = start + static_cast<uint32_t>(uint64_t(out->bytes.size() - start) * permille / 1000);
      out->bytes[at] ^= static_cast<uint8_t>(1u << r.Below(8));
      *name = "flip-" + std::to_string(permille);
      return;
    }
    case 1: {  // cut short
      packaging::BuildPackage(*in, out, &error);
      const uint32_t cuts[] = {1, 100, out->locator.headerOffset, out->locator.headerOffset + 30,
                               static_cast<uint32_t>(out->bytes.size()) - 1,
                               static_cast<uint32_t>(out->bytes.size()) - 100};
      static const char* const kCutNames[] = {"1", "100", "at-header", "header-plus-30", "last-byte", "last-100"};
      const uint32_t which = r.Below(6);
      out->bytes.resize(cuts[which]);
      *name = std::string("cut-") + kCutNames[which];
      return;
    }
    case 2: {  // a locator field at an edge value
      const uint32_t field = r.Below(6);
      in->adjust = [=](launcher::PackageLocator& l, launcher::PackageHeader&) {
        uint32_t* f[] = {&l.headerOffset, &l.crcLength, &l.crcValue, &l.totalSizeLow, &l.totalSizeHigh, &l.detachedSize};
        *f[field] = edge;
      };
      rebuild(field != 2);
      *name = "locator" + std::to_string(field) + "-" + std::to_string(edge);
      return;
    }
    case 3:
    case 4: {  // a payload field at an edge value or off by some, the CRC made to match (or not)
      const uint32_t field = r.Below(6);
      const bool offBy = r.Below(2) == 0;
      in->adjust = [=](launcher::PackageLocator&, launcher::PackageHeader& h) {
        uint32_t* f[] = {&h.payload32.offset,        &h.payload32.compressedSize, &h.payload32.uncompressedSize,
                         &h.payload64.offset,        &h.payload64.compressedSize, &h.payload64.uncompressedSize};
        *f[field] = offBy ? *f[field] + static_cast<uint32_t>(delta) : edge;
      };
      const bool crc = kind == 3;
      rebuild(crc);
      *name = "payload" + std::to_string(field) + (offBy ? "-by" + std::to_string(delta) : "-" + std::to_string(edge)) +
              (crc ? "" : "-crc");
      return;
    }
    case 5: {  // LZMA properties: the properties byte or the dictionary size
      const uint8_t bytes[] = {0, 9, 45, 93, 224, 225, 255};
      const uint32_t dictionaries[] = {0, 4096, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
      const bool dictionary = r.Below(2) == 0;
      const uint8_t b = bytes[r.Below(7)];
      const uint32_t d = dictionaries[r.Below(5)];
      in->adjust = [=](launcher::PackageLocator&, launcher::PackageHeader& h) {
        if (dictionary) {
          for (int i = 0; i < 4; ++i) h.lzmaProperties[1 + i] = static_cast<uint8_t>(d >> (8 * i));
        } else {
          h.lzmaProperties[0] = b;
        }
      };
      rebuild(true);
      *name = dictionary ? "dictionary-" + std::to_string(d) : "properties-" + std::to_string(b);
      return;
    }
    default: {  // a message reference at an edge value or off by some
      const bool version = r.Below(2) == 0;
      const bool length = r.Below(2) == 0;
      const bool toEdge = r.Below(2) == 0;
      in->versionMessage = Utf16("Not on %USER%.");
      in->architectureMessage = Utf16("Not this kind of Windows.");
      in->allowedVersions = 0;
      in->adjust = [=](launcher::PackageLocator&, launcher::PackageHeader& h) {
        launcher::MessageReference& m = version ? h.versionMessage : h.architectureMessage;
        if (length) m.length = static_cast<uint16_t>(edge == 0 ? 0 : edge == 1 ? 1 : 0xFFFF);
        else m.offset = toEdge ? edge : m.offset + static_cast<uint32_t>(delta);
      };
      rebuild(true);
      *name = std::string(version ? "version" : "architecture") + "-message-" + (length ? "length" : "offset");
      return;
    }
  }
}

// Seed 3: setup programs Windows does not start as a process (the 32-bit
// program as a DLL, without its executable-image flag, as a native and as an
// EFI image), beside the program as it is.
std::vector<CorpusPackage> ProgramKinds(int count, const packaging::Bytes& launcher, const packaging::Bytes& program32) {
  struct Kind {
    const char* name;
    uint32_t at;  // from the PE signature
    uint16_t value;
  };
  const Kind kinds[] = {{"valid", 0, 0}, {"dll", 22, 0x2102}, {"unfinished", 22, 0x0100},
                        {"native", 24 + 68, 1}, {"efi", 24 + 68, 10}};
  std::vector<CorpusPackage> corpus;
  for (int i = 0; i < count && i < 5; ++i) {
    packaging::PackageInput in;
    in.image = launcher;
    in.program32 = program32;
    if (kinds[i].at != 0) {
      const uint32_t pe = launcher::LoadLe32(&(*in.program32)[60]);
      launcher::StoreLe16(&(*in.program32)[pe + kinds[i].at], kinds[i].value);
    }
    in.lzma.preset = 1;
    packaging::BuiltPackage out;
    std::string error;
    packaging::BuildPackage(in, &out, &error);
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "s3-%03d-", i);
    corpus.push_back({prefix + std::string("program-") + kinds[i].name, std::move(out.bytes)});
  }
  return corpus;
}

}  // namespace

std::vector<CorpusPackage> MakeCorpus(uint32_t seed, int count, const packaging::Bytes& launcher,
                                      const packaging::Bytes& program32, const packaging::Bytes& program64) {
  if (seed == 3) return ProgramKinds(count, launcher, program32);
  Random r{seed * 0x9E3779B97F4A7C15ull + 1};
  std::vector<CorpusPackage> corpus;
  for (int i = 0; i < count; ++i) {
    std::string name;
    packaging::PackageInput in = ValidInput(r, launcher, program32, program64, &name);
    packaging::BuiltPackage out;
    std::string error;
    if (r.Below(5) < 2) {
      packaging::BuildPackage(in, &out, &error);
    } else {
      // Damage a package that would run on the rows where it can.
      in.allowedVersions = ~uint64_t(0);
      Damage(r, &in, &out, &name);
    }
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "s%u-%03d-", seed, i);
    corpus.push_back({prefix + name, std::move(out.bytes)});
  }
  return corpus;
}

}  // namespace differential
