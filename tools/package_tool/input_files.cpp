// Inputs read whole, mapped or in pieces, through the system seam.
#include "tools/package_tool/input_files.h"

#include <new>

#include "host/system/files.h"
#include "host/system/process.h"
#include "host/system/temporaries.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/report.h"

namespace tool {

namespace {

// A mapped input shrank: the temporaries go, a sentence (and, for --json,
// the error document) is written, and the tool ends with exit status 3.
// It may only call what is async-signal-safe.
void ReportShrinking() {
  static const char kSentence[] = "setup-package: an input file shrank while it was being read\n";
  sys::RemoveTemporaries();
  sys::WriteRaw(2, kSentence, sizeof kSentence - 1);
  if (JsonErrorPending()) {
    static_assert(kJsonSchemaVersion == 1, "the document below says its schema version");
    static const char kDocument[] =
        "{\n  \"schemaVersion\": 1,\n  \"error\": \"an input file shrank while it was being read\",\n"
        "  \"exitStatus\": 3\n}\n";
    sys::WriteRaw(1, kDocument, sizeof kDocument - 1);
  }
}

}  // namespace

bool ReadInputFile(const std::string& path, packaging::Bytes* out, std::string* error) {
  sys::File file;
  uint64_t size;
  if (!sys::OpenInput(path, &file, &size, error)) return false;
  try {
    out->resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    *error = path + ": " + std::to_string(size) + " bytes, more than this machine's memory holds at once";
    sys::Close(file, nullptr);
    return false;
  }
  size_t done = 0;
  while (done < out->size()) {
    std::string reason;
    const int64_t n = sys::ReadAt(file, done, out->data() + done, out->size() - done, &reason);
    if (n < 0) {
      *error = path + ": " + reason;
      sys::Close(file, nullptr);
      return false;
    }
    if (n == 0) break;  // shrank while being read
    done += static_cast<size_t>(n);
  }
  out->resize(done);
  sys::Close(file, nullptr);
  return true;
}

bool MapInputFile(const std::string& path, MappedFile* out, std::string* error) {
  sys::OnMappedInputShrank(ReportShrinking);
  sys::Mapping mapping;
  if (!sys::MapInput(path, &mapping, error)) return false;
  out->bytes = host::ByteView(mapping.data, static_cast<size_t>(mapping.size));
  out->owner = mapping.owner;
  return true;
}

bool OpenPieceSource(const std::string& path, packaging::PieceSource* out, std::string* error) {
  sys::File file;
  uint64_t size;
  if (!sys::OpenInput(path, &file, &size, error)) return false;
  const std::shared_ptr<sys::File> owner(new sys::File(file), [](sys::File* f) {
    sys::Close(*f, nullptr);
    delete f;
  });
  out->size = size;
  out->read = [owner, path](uint64_t offset, uint8_t* to, size_t count, std::string* why) {
    while (count > 0) {
      std::string reason;
      const int64_t n = sys::ReadAt(*owner, offset, to, count, &reason);
      if (n < 0) return *why = path + ": " + reason, false;
      if (n == 0) return *why = path + ": the file shrank while it was being read", false;
      to += n, offset += uint64_t(n), count -= size_t(n);
    }
    return true;
  };
  return true;
}

}  // namespace tool
