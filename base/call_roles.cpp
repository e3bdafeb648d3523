#include "base/call_roles.h"

#include <algorithm>

namespace halvane {

void CallRoles::NoteRang(const std::string& id) {
  if (id.empty() || RangHere(id)) return;
  if (rang_.size() >= kMostRang) rang_.pop_front();
  rang_.push_back(id);
}

bool CallRoles::RangHere(const std::string& id) const {
  return !id.empty() && std::find(rang_.begin(), rang_.end(), id) != rang_.end();
}

bool CallRoles::In(const std::vector<std::string>& ids, const std::string& id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

void CallRoles::Add(std::vector<std::string>& ids, const std::string& id) {
  if (!id.empty() && !In(ids, id)) ids.push_back(id);
}

void CallRoles::Drop(std::vector<std::string>& ids, const std::string& id) {
  ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
}

void CallRoles::Ended(const std::string& id) {
  Drop(parked, id);
  Drop(dialled, id);
  Drop(ringing, id);
  if (answered == id) answered.clear();
}

std::vector<std::string> CallRoles::Protected(bool cycleLive) const {
  std::vector<std::string> ids;
  if (cycleLive) Add(ids, caller), Add(ids, second);
  for (const auto* list : {&parked, &dialled, &ringing}) {
    for (const std::string& id : *list) Add(ids, id);
  }
  Add(ids, answered);
  return ids;
}

}  // namespace halvane
