// Post-link step of the launcher build: make_locator_room IMAGE
// rewrites IMAGE in place (see pe::MakeLocatorRoom).
#include <cstdio>
#include <fstream>
#include <iterator>

#include "host/pe_image.h"
#include "tools/pe/pe_rewrite.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_locator_room IMAGE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::string error;
  if (image.empty() || !pe::MakeLocatorRoom(&image, &error)) {
    std::fprintf(stderr, "make_locator_room: %s: %s\n", argv[1], image.empty() ? "cannot read" : error.c_str());
    return 1;
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (!out) {
    std::fprintf(stderr, "make_locator_room: %s: cannot write\n", argv[1]);
    return 1;
  }
  return 0;
}
