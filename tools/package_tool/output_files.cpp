// Outputs all or none, and scratch files, through the system seam.
#include "tools/package_tool/output_files.h"

#include "host/system/temporaries.h"

namespace tool {

bool CheckReplaceable(const std::string& path, std::string* error) {
  switch (sys::KindOf(path)) {
    case sys::FileKind::kMissing:
    case sys::FileKind::kRegular: return true;
    case sys::FileKind::kFolder: return *error = path + ": is a directory", false;
    case sys::FileKind::kOther: break;
  }
  return *error = path + ": not a regular file (a device, FIFO or socket is never written over)", false;
}

bool ScratchFile::Create(const std::string& near, std::string* error) {
  file_ = sys::kNoFile;
  slot_ = sys::CreateTemporary(near, &file_, error);
  if (slot_ < 0) return false;
  path_ = sys::TemporaryPath(slot_);
  return true;
}

ScratchFile::~ScratchFile() {
  Close();
  sys::ReleaseTemporary(slot_);
}

void ScratchFile::Close() {
  if (file_ != sys::kNoFile) sys::Close(file_, nullptr);
  file_ = sys::kNoFile;
}

void ScratchFile::CloseAndRemove() {
  Close();
  sys::RemoveFile(path_);
}

bool ScratchFile::Publish(const std::string& path, std::string* error) {
  Close();
  if (!CheckReplaceable(path, error)) return false;
  std::string reason;
  if (!sys::FinishPath(path_, &reason) ||
      sys::RenameFile(path_, path, sys::Rename::kReplace, &reason) != sys::Outcome::kDone) {
    return *error = path + ": " + reason, false;
  }
  sys::ForgetTemporary(slot_);
  return true;
}

OutputSet::~OutputSet() { Abandon(); }

void OutputSet::Abandon() {
  for (Output& output : outputs_) {
    if (output.file != sys::kNoFile) sys::Close(output.file, nullptr);
    output.file = sys::kNoFile;
  }
  for (Output& output : outputs_) sys::ReleaseTemporary(output.slot), output.slot = -1;
  outputs_.clear();
  sys::RemoveMadeFolder();
}

bool OutputSet::MadeFolder(const std::string& folder) { return sys::RegisterMadeFolder(folder); }

int OutputSet::Add(const std::string& path, std::string* error) {
  if (!CheckReplaceable(path, error)) return -1;
  if (sys::Exists(path) && existing_ == Existing::kRefuse) {
    return *error = path + ": exists (use --force to replace it)", -1;
  }
  Output output;
  output.path = path;
  output.slot = sys::CreateTemporary(path, &output.file, error);
  if (output.slot < 0) return -1;
  outputs_.push_back(output);
  return static_cast<int>(outputs_.size()) - 1;
}

void OutputSet::Write(int index, const uint8_t* bytes, size_t count) {
  Output& output = outputs_[index];
  if (!output.error.empty()) return;
  if (sys::WriteAt(output.file, output.written, bytes, count, &output.error)) output.written += count;
}

void OutputSet::Drop(int index) { outputs_[index].dropped = true; }

bool OutputSet::Commit(std::string* error) {
  static const char kShrank[] = "an input file shrank while it was being read";
  bool ok = true;
  for (Output& output : outputs_) {
    if (output.dropped) continue;
    if (output.error.empty()) sys::Finish(output.file, &output.error);
    if (!output.error.empty()) {
      *error = output.error == kShrank ? kShrank : output.path + ": " + output.error, ok = false;
      break;
    }
  }
  for (Output& output : outputs_) {
    std::string reason;
    if (!sys::Close(output.file, &reason) && ok && !output.dropped) *error = output.path + ": " + reason, ok = false;
    output.file = sys::kNoFile;
  }
  // All written: each takes its name (without --force only while the name is
  // still free). An existing file is swapped with its replacement, so that it
  // stays in the temporary name until every output has its name; on any
  // failure the swaps are undone and the new names removed, leaving the
  // folder as it was.
  struct Done {
    const Output* output;
    bool swapped;  // the old file is now in the temporary name
  };
  std::vector<Done> done;
  for (size_t i = 0; ok && i < outputs_.size(); ++i) {
    const Output& output = outputs_[i];
    if (output.dropped) continue;
    const std::string temporary = sys::TemporaryPath(output.slot);
    std::string reason;
    sys::Outcome result;
    bool swapped = false;
    if (!CheckReplaceable(output.path, error)) {  // made meanwhile
      ok = false;
      break;
    }
    if (existing_ == Existing::kRefuse) {
      result = sys::RenameFile(temporary, output.path, sys::Rename::kNoReplace, &reason);
    } else {
      result = sys::RenameFile(temporary, output.path, sys::Rename::kExchange, &reason);
      swapped = result == sys::Outcome::kDone;
      if (result == sys::Outcome::kNothingToExchange) {
        result = sys::RenameFile(temporary, output.path, sys::Rename::kReplace, &reason);
      }
    }
    if (result != sys::Outcome::kDone) {
      *error = result == sys::Outcome::kExists ? output.path + ": exists (use --force to replace it)"
                                               : output.path + ": " + reason;
      ok = false;
      break;
    }
    done.push_back({&output, swapped});
  }
  for (auto d = done.rbegin(); d != done.rend(); ++d) {
    const int slot = d->output->slot;
    std::string ignored;
    if (ok) {
      if (!d->swapped) sys::ForgetTemporary(slot);  // the old file, if swapped, goes with the temporary
    } else if (d->swapped) {
      sys::RenameFile(sys::TemporaryPath(slot), d->output->path, sys::Rename::kExchange, &ignored);
    } else {
      sys::RemoveFile(d->output->path);
      sys::ForgetTemporary(slot);
    }
  }
  if (ok) sys::ForgetMadeFolder();
  return ok;
}

bool WriteOutputFile(const std::string& path, const packaging::Bytes& bytes, Existing existing,
                     std::string* error) {
  OutputSet set(existing);
  const int index = set.Add(path, error);
  if (index < 0) return false;
  set.Write(index, bytes.data(), bytes.size());
  return set.Commit(error);
}

}  // namespace tool
