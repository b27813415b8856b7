// One long operation of the main window at a time. Deleting tables and the two transfers yield
// to window events while they work, so their buttons stay live; a second press while one runs
// must not start a nested operation on the same lists. The gate refuses it and keeps a short
// description of what runs ("deleting 3 of 12"), so the window can say why nothing happened.
#pragma once

#include <QString>
#include <functional>

class LongOperationGate {
 public:
  // Runs the operation unless one is running already; false when refused. The gate opens again
  // when the operation ends, also when it throws. activity describes the operation until it
  // updates the description itself.
  bool run(const QString& activity, const std::function<void()>& operation);
  bool busy() const { return busy_; }
  const QString& activity() const { return activity_; }
  void setActivity(const QString& activity) { activity_ = activity; }

 private:
  bool busy_ = false;
  QString activity_;
};
