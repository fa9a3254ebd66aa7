// Message boxes as Wine's relay trace of user32.MessageBoxA shows them.
#ifndef TESTS_HELPERS_RELAY_TRACE_H_
#define TESTS_HELPERS_RELAY_TRACE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace relay {

struct Box {
  std::string text;  // as far as the relay trace shows it (about 290 characters)
  std::string caption;
  uint32_t flags = 0;
};

// Every MessageBoxA call in a trace, in order.
std::vector<Box> ParseBoxes(const std::string& trace);

// True when `shown` is what a relay trace shows of `expected`: the same text,
// or its beginning when the trace cut it.
bool ShownAs(const std::string& shown, const std::string& expected);

}  // namespace relay

#endif  // TESTS_HELPERS_RELAY_TRACE_H_
