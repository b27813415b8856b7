// Work a transfer attaches to the script it leaves in the preview window, run by the execution
// at a given point of the script rather than while the script is being built. The FoxPro-to-MySQL
// transfer uses it to copy a table's rows right after the line that creates the table has run
// and before the line that drops its temporary key column, so nothing reaches the database
// before the user executes the preview. Both transfers use it to take away a table left half
// built when a run fails or stops.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ado {
class Connection;
}

namespace transfer {

class ScriptJob {
 public:
  virtual ~ScriptJob() = default;

  // The table the job serves, for the notes shown to the user.
  virtual std::string table() const = 0;
  // True for the script line after whose successful execution the job runs (at most once per
  // execution). A job whose line the user removed or changed beyond recognition does not run;
  // the execution then says so in its notes.
  virtual bool runsAfter(const std::string& line) const = 0;
  // Does the work on the connection the script runs on. progress(percent) may be called as it
  // goes (the window updates its bar and yields there). Problems that do not stop the run (a
  // row the server refused) are added to notes; a failure that must stop the run throws, and
  // the execution reports it like a failing line.
  virtual void run(ado::Connection& target, const std::function<void(int percent)>& progress,
                   std::vector<std::string>& notes) = 0;

  // What the job's last run did not bring across as it was, for a caller that must tell whether
  // everything arrived (the notes say it in words).
  struct Losses {
    long long rowsRefused = 0;    // rows the target refused
    long long valuesChanged = 0;  // values the target stored otherwise than sent
  };
  virtual Losses losses() const { return {}; }

  // A job may leave work that is not complete until later lines have run (a table built under a
  // name of its own that takes the old one's place at the end). After each line that ran once
  // the job has run, settledBy says whether that line completed it. When the run fails or stops
  // before then, undo() is called on the same connection to take away what is left half done,
  // saying so in notes; it must not throw. The default needs no undoing.
  virtual bool settledBy(std::string_view /*line*/) const { return true; }
  virtual void undo(ado::Connection& /*target*/, std::vector<std::string>& /*notes*/) {}
  // What the notes say when the job's line never ran; empty for a job whose absence loses
  // nothing.
  virtual std::string skippedNote() const;
};

}  // namespace transfer
