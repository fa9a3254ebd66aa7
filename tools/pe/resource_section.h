// The resource section of a PE32 image, read as a list of resources and
// written anew from one: what the package tool uses to put an author's
// version strings and icon into the launcher image it builds a package from.
#ifndef TOOLS_PE_RESOURCE_SECTION_H_
#define TOOLS_PE_RESOURCE_SECTION_H_

#include <string>
#include <vector>

#include "host/pe_image.h"

namespace pe {

// One resource of the image: its type, name (an id, or a name when `name`
// is not empty), language and bytes.
struct Resource {
  uint32_t type = 0;
  uint32_t id = 0;
  std::string name;  // a named resource's name (ASCII names only)
  uint32_t language = 0;
  std::vector<uint8_t> data;
};
constexpr uint32_t kResourceIcon = 3, kResourceGroupIcon = 14, kResourceVersion = 16, kResourceManifest = 24;

// Every resource of the image, read from its resource directory (types by id
// only). False with a reason when the directory does not lie in the file.
bool ListResources(host::ByteView image, const ImageInfo& info, std::vector<Resource>* out,
                   std::string* error);

// The resource directory for `resources` as the bytes of a section that
// starts at `rva`: directories (named entries first, by name, then ids in
// ascending order, as the loader's binary search expects), data entries,
// names, then the data, each 8-byte aligned. The same list gives the same
// bytes.
std::vector<uint8_t> ResourceSectionBytes(const std::vector<Resource>& resources, uint32_t rva);

// Replaces the resources of `image` (no data after its last section) with
// `resources`. The resource section keeps its place; the base relocations,
// the only section that may follow it, move behind it with their directory
// entry. SizeOfImage, SizeOfInitializedData, the resource directory entry and
// the checksum are updated; the code and every other section keep their
// bytes and addresses. False with a reason for an image laid out otherwise.
bool ReplaceResources(std::vector<uint8_t>* image, const std::vector<Resource>& resources, std::string* error);

}  // namespace pe

#endif  // TOOLS_PE_RESOURCE_SECTION_H_
