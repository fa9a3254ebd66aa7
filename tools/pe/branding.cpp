// The maker's version resource and icon, read from and written into an image.
#include "tools/pe/branding.h"

#include <algorithm>
#include <set>

#include "tools/pe/resource_section.h"

namespace pe {

namespace {

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

constexpr uint32_t kUsEnglish = 0x409;
constexpr const char* kMainIcon = "MAINICON";

// The images an icon group names, by their ids.
std::vector<uint32_t> GroupIds(const std::vector<uint8_t>& group) {
  std::vector<uint32_t> ids;
  if (group.size() < 6) return ids;
  const size_t count = host::Le16(group, 4);
  for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i) ids.push_back(host::Le16(group, 6 + 14 * i + 12));
  return ids;
}

bool IsMainIcon(const Resource& r) { return r.type == kResourceGroupIcon && r.name == kMainIcon; }

// The image's resources, or false with a reason.
bool Resources(host::ByteView image, std::vector<Resource>* out, std::string* error) {
  ImageInfo info;
  return Parse(image, &info, error) && ListResources(image, info, out, error);
}

// Removes "MAINICON" and the images only it names; returns its language.
uint32_t RemoveMainIcon(std::vector<Resource>* resources) {
  std::set<uint32_t> ours, others;
  uint32_t language = kUsEnglish;
  for (const Resource& r : *resources) {
    if (r.type != kResourceGroupIcon) continue;
    for (uint32_t id : GroupIds(r.data)) (IsMainIcon(r) ? ours : others).insert(id);
    if (IsMainIcon(r)) language = r.language;
  }
  resources->erase(std::remove_if(resources->begin(), resources->end(),
                                  [&](const Resource& r) {
                                    return IsMainIcon(r) || (r.type == kResourceIcon && r.name.empty() &&
                                                             ours.count(r.id) && !others.count(r.id));
                                  }),
                   resources->end());
  return language;
}

}  // namespace

bool Brand(std::vector<uint8_t>* image, const Branding& b, std::string* error, bool* tooLong) {
  if (tooLong) *tooLong = false;
  std::vector<Resource> resources;
  if (!Resources(*image, &resources, error)) return false;
  VersionInfo version;
  uint32_t versionLanguage = kUsEnglish;
  for (const Resource& r : resources) {
    if (r.type == kResourceVersion && ReadVersionInfo(r.data, &version)) versionLanguage = r.language;
  }
  if (b.productVersion) version.productVersion = *b.productVersion;
  if (b.fileVersion || b.productVersion) version.fileVersion = b.fileVersion.value_or(*b.productVersion);
  auto text = [&](const char* key, const std::optional<std::u16string>& given, const std::u16string& fallback) {
    const std::u16string* old = version.Find(key);
    return std::make_pair(std::string(key), given ? *given : old ? *old : fallback);
  };
  const std::u16string fileText = Wide(VersionText(version.fileVersion));
  const std::u16string productText = Wide(VersionText(version.productVersion));
  const bool numbersGiven = b.fileVersion || b.productVersion;
  version.strings = {
      text("CompanyName", b.company, u""),
      text("FileDescription", b.description, u""),
      text("FileVersion", numbersGiven ? std::optional(fileText) : std::nullopt, fileText),
      text("ProductName", b.product, u""),
      text("ProductVersion", numbersGiven ? std::optional(productText) : std::nullopt, productText),
      text("LegalCopyright", b.copyright, u""),
      {"OriginalFilename", b.originalFilename},
  };
  Resource block;
  block.type = kResourceVersion;
  block.id = 1;
  block.language = versionLanguage;
  block.data = VersionInfoBytes(version);
  if (block.data.empty()) {
    if (tooLong) *tooLong = true;
    return *error = "the version strings do not fit the 65535 bytes of a version block", false;
  }
  resources.erase(std::remove_if(resources.begin(), resources.end(),
                                 [](const Resource& r) { return r.type == kResourceVersion; }),
                  resources.end());
  resources.push_back(std::move(block));
  if (b.icon) {
    const uint32_t language = RemoveMainIcon(&resources);
    std::set<uint32_t> taken;
    for (const Resource& r : resources) {
      if (r.type == kResourceIcon && r.name.empty()) taken.insert(r.id);
    }
    Resource group;
    group.type = kResourceGroupIcon;
    group.name = kMainIcon;
    group.language = language;
    host::AppendLe16(&group.data, 0);
    host::AppendLe16(&group.data, 1);
    host::AppendLe16(&group.data, uint32_t(b.icon->size()));
    uint32_t id = 1;
    for (const IconImage& i : *b.icon) {
      while (taken.count(id)) ++id;
      taken.insert(id);
      group.data.insert(group.data.end(), {i.width, i.height, i.colors, 0});
      host::AppendLe16(&group.data, i.planes);
      host::AppendLe16(&group.data, i.bitCount);
      host::AppendLe32(&group.data, uint32_t(i.data.size()));
      host::AppendLe16(&group.data, id);
      resources.push_back(Resource{kResourceIcon, id, "", language, i.data});
    }
    resources.push_back(std::move(group));
  }
  return ReplaceResources(image, resources, error);
}

bool WithoutBranding(std::vector<uint8_t>* image, std::string* error) {
  std::vector<Resource> resources;
  if (!Resources(*image, &resources, error)) return false;
  RemoveMainIcon(&resources);
  resources.erase(std::remove_if(resources.begin(), resources.end(),
                                 [](const Resource& r) { return r.type == kResourceVersion; }),
                  resources.end());
  return ReplaceResources(image, resources, error);
}

bool ReadBranding(host::ByteView image, BrandingView* out, std::string* error) {
  *out = BrandingView();
  std::vector<Resource> resources;
  if (!Resources(image, &resources, error)) return false;
  for (const Resource& r : resources) {
    if (r.type == kResourceVersion && !out->hasVersion) out->hasVersion = ReadVersionInfo(r.data, &out->version);
  }
  for (const Resource& group : resources) {
    if (!IsMainIcon(group)) continue;
    const std::vector<uint32_t> ids = GroupIds(group.data);
    for (size_t i = 0; i < ids.size(); ++i) {
      const uint8_t* e = group.data.data() + 6 + 14 * i;
      IconImage icon;
      icon.width = e[0];
      icon.height = e[1];
      icon.colors = e[2];
      icon.planes = host::Le16(group.data, 6 + 14 * i + 4);
      icon.bitCount = host::Le16(group.data, 6 + 14 * i + 6);
      for (const Resource& r : resources) {
        if (r.type == kResourceIcon && r.name.empty() && r.id == ids[i]) icon.data = r.data;
      }
      icon.png = IsPng(icon.data);
      out->icons.push_back(std::move(icon));
    }
    break;
  }
  return true;
}

}  // namespace pe
