#pragma once
// The call's phase as the operator sees it at a glance (the tray icon): the engine reports each change
// through this port; the user interface implements it and shows the phase on its own thread.

namespace halvane {

enum class CallPhase : int {
  kAtRest = 0,        // waiting for an incoming call
  kCallActive = 1,    // an answered caller is on the line
  kCallerOnHold = 2,  // the caller is held while the operator places or talks to the second call
  kJoined = 3,        // the two parties are joined
};

class CallPhases {
 public:
  virtual ~CallPhases() = default;
  // Called on the engine's thread; must return quickly.
  virtual void PhaseChanged(CallPhase phase) = 0;
};

// For an engine whose phase nobody shows.
inline CallPhases& NoCallPhases() {
  struct Ignored final : CallPhases {
    void PhaseChanged(CallPhase /*phase*/) override {}
  };
  static Ignored ignored;
  return ignored;
}

}  // namespace halvane
