// A file's or a buffer's bytes, as every host tool passes them.
#ifndef HOST_BYTES_H_
#define HOST_BYTES_H_

#include <cstdint>
#include <vector>

namespace host {

using Bytes = std::vector<uint8_t>;

}  // namespace host

#endif  // HOST_BYTES_H_
