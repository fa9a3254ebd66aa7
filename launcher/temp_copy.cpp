// The temporary copy: its folder, its free name and its one whole write.
#include "launcher/temp_copy.h"

#include "launcher/arguments.h"
#include "launcher/fatal.h"
#include "platform/platform.h"

namespace launcher {

namespace {

int32_t LastBackslash(const char* path) {
  int32_t last = -1;
  for (int32_t i = 0; path[i] != 0; ++i) {
    if (path[i] == '\\') last = i;
  }
  return last;
}

}  // namespace

Text FolderPart(const char* path) { return Text(path, LastBackslash(path) + 1); }

Text FileNamePart(const char* path) { return Text(path + LastBackslash(path) + 1); }

bool PathExists(const char* path) {
  const platform::Handle search = platform::FindFirstFileA(path);
  if (search == platform::kInvalidHandleValue) return false;
  platform::FindClose(search);
  return true;
}

Text ChooseTemporaryFolder() {
  const int32_t count = ArgumentCount();
  if (EqualsIgnoreCase(Argument(count).Chars(), "/temp")) return FolderPart(Argument(0).Chars());

  constexpr uint32_t kRoom = 256;
  char buffer[kRoom + 1] = {};
  platform::GetTempPathA(kRoom, buffer);
  Text folder(buffer);  // up to the first zero byte
  if (folder.IsEmpty()) folder = Text("C:\\");
  for (int32_t i = count - 1; i >= 1; --i) {
    if (EqualsIgnoreCase(Argument(i).Chars(), "/temp")) {
      folder = Argument(i + 1);
      break;
    }
  }
  if (folder.Last() != '\\') folder.Append('\\');
  return folder;
}

Text MakeCopyPath(const Text& folder) {
  Text base(folder);
  base.Append(FileNamePart(Argument(0).Chars()));
  if (!PathExists(base.Chars())) return base;
  const int32_t at = base.Length() > 4 ? base.Length() - 4 : 0;
  for (uint32_t k = 2;; ++k) {
    Text candidate(base);
    const Text digits = DecimalText(k);
    candidate.Replace(at, 0, digits.Chars(), digits.Length());
    if (!PathExists(candidate.Chars())) return candidate;
  }
}

void WriteTemporaryCopy(const Text& copyPath, support::TStream* stream, uint32_t size) {
  const platform::Handle file =
      platform::CreateFileA(copyPath.Chars(), platform::kGenericWrite, platform::kFileShareRead,
                            platform::kCreateAlways, platform::kFileAttributeNormal);
  if (file == platform::kInvalidHandleValue) FatalTemporaryCopy();
  uint32_t written = 0;
  platform::WriteFile(file, stream->Memory, size, &written);
  platform::CloseHandle(file);
  if (written != size) {
    platform::DeleteFileA(copyPath.Chars());
    FatalTemporaryCopy();
  }
  SetUnstartedCopy(copyPath.Chars());
}

}  // namespace launcher
