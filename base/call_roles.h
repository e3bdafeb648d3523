#pragma once
// Who is who in a transfer, kept beside the call table: the caller and the second party of this cycle,
// the parties parked while the operator went back to the caller, the dials made this cycle, the calls
// ringing that are no party yet, a call answered while the engine was busy (the next caller), and the
// calls that rang or were dialled while the engine watched: only those may ever become a party.
// Every call with a role is protected from the call table's eviction; every ringing call is followed.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace halvane {

class CallRoles {
 public:
  // Calls remembered as having rung or been dialled here: twice what the call table holds.
  static constexpr std::size_t kMostRang = 64;

  std::string caller;                // from its answer until the cycle starts over
  std::string second;                // the dial, or the party the operator talks to
  std::vector<std::string> parked;   // held or left ringing while the operator went back; oldest first
  std::vector<std::string> dialled;  // this cycle's dials, wherever they were placed
  std::vector<std::string> ringing;  // ringing and no party; oldest first
  std::string answered;              // the next caller

  void NoteRang(const std::string& id);
  bool RangHere(const std::string& id) const;
  static bool In(const std::vector<std::string>& ids, const std::string& id);
  static void Add(std::vector<std::string>& ids, const std::string& id);
  static void Drop(std::vector<std::string>& ids, const std::string& id);
  // The call's end was read: it holds no role any more but the caller's or the second party's, which
  // the engine lets go of itself.
  void Ended(const std::string& id);
  // Every call with a role; the caller and the second party only while `cycleLive`.
  std::vector<std::string> Protected(bool cycleLive) const;

 private:
  std::deque<std::string> rang_;
};

}  // namespace halvane
