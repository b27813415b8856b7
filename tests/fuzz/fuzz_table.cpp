// libFuzzer entry point for qmfuzz::table (see harnesses.h).
#include "harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qmfuzz::table(data, size);
  return 0;
}
