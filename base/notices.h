#pragma once
// Events that need the operator while they work in the client: the engine and the link report them
// through this port; the user interface shows each as a quiet balloon from the tray icon (or not at
// all, as the operator's settings say).

namespace halvane {

enum class Notice : int {
  kDialUnanswered = 0,    // the dial ended without an answer: dial again, or press Return
  kHeldCallerHungUp = 1,  // the held caller hung up
  kJoinRefused = 2,       // the client refused to join the two calls
  kClientBack = 3,        // the client was lost for more than 10 s and has been found again
  kHoldReminder = 4,      // the caller has been on hold for a while with no second party talking
  kSetupProblem = 5,      // a problem with Halvane.ini or a system-wide key; the detail says which
};

class Notices {
 public:
  virtual ~Notices() = default;
  // Called on any of the program's threads; must return quickly. detail may be null.
  virtual void Notify(Notice notice, const char* detail) = 0;
};

// For a program part whose notices nobody shows.
inline Notices& NoNotices() {
  struct Ignored final : Notices {
    void Notify(Notice /*notice*/, const char* /*detail*/) override {}
  };
  static Ignored ignored;
  return ignored;
}

}  // namespace halvane
