// libFuzzer entry point for qmfuzz::sql (see harnesses.h).
#include "harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qmfuzz::sql(data, size);
  return 0;
}
