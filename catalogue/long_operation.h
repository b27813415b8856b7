// One long operation of the main window at a time. Deleting tables and the two transfers yield
// to window events while they work, so their buttons stay live; a second press while one runs
// must not start a nested operation on the same lists. The gate refuses it quietly: the user
// sees the first one go on, and may press again once it has ended.
#pragma once

#include <functional>

class LongOperationGate {
 public:
  // Runs the operation unless one is running already; false when refused. The gate opens again
  // when the operation ends, also when it throws.
  bool run(const std::function<void()>& operation);
  bool busy() const { return busy_; }

 private:
  bool busy_ = false;
};
