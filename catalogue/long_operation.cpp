#include "catalogue/long_operation.h"

bool LongOperationGate::run(const QString& activity, const std::function<void()>& operation) {
  if (busy_) return false;
  struct Reopen {
    LongOperationGate& gate;
    ~Reopen() {
      gate.busy_ = false;
      gate.activity_.clear();
    }
  } reopen{*this};
  busy_ = true;
  activity_ = activity;
  operation();
  return true;
}
