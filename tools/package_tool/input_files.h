// Inputs as the package tool reads them: regular files only (a folder or a
// device is named as such, never a crash), read whole or mapped.
#ifndef TOOLS_PACKAGE_TOOL_INPUT_FILES_H_
#define TOOLS_PACKAGE_TOOL_INPUT_FILES_H_

#include <memory>
#include <string>

#include "host/bytes.h"
#include "tools/packaging/package_writer.h"

namespace tool {

// Reads a whole regular file. False with "PATH: is a directory", "PATH: not
// a regular file" or "PATH: <system reason>" in *error.
bool ReadInputFile(const std::string& path, packaging::Bytes* out, std::string* error);

// A regular file mapped read only, for inputs of any size: its pages are read
// as they are used and never copied. `owner` keeps the mapping. A file that
// shrinks while mapped ends the tool with exit status 3 and a sentence.
struct MappedFile {
  host::ByteView bytes;
  std::shared_ptr<const void> owner;
};
bool MapInputFile(const std::string& path, MappedFile* out, std::string* error);

// A regular file read in pieces as a package is written, never held whole.
// A read that finds the file shorter than it was fails with "PATH: the file
// shrank while it was being read".
bool OpenPieceSource(const std::string& path, packaging::PieceSource* out, std::string* error);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_INPUT_FILES_H_
