#include "catalogue/long_operation.h"

bool LongOperationGate::run(const std::function<void()>& operation) {
  if (busy_) return false;
  struct Reopen {
    bool& busy;
    ~Reopen() { busy = false; }
  } reopen{busy_};
  busy_ = true;
  operation();
  return true;
}
