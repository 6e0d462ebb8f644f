// The system's own rights inside a scope of a user's (UserRights), for the steps that are not the
// user's file work.
#pragma once

namespace os {

// Gives the run's thread the process's own rights, the system's, for this object's life, and the
// user's back at its end, when it begins inside a UserRights scope; nothing changes elsewhere.
// Taken around what must never act for the user: the update lock, the reading of a held file's
// security, the check of who made a leftover. Should the user's rights not come back, the run
// ends here, as a killed one would: the work after it is the user's.
class SystemRights {
 public:
  SystemRights();
  ~SystemRights();
  SystemRights(const SystemRights&) = delete;
  SystemRights& operator=(const SystemRights&) = delete;

 private:
  bool given_ = false;  // by this object, and so to be taken back
};

// Whether the run's thread has a user's rights at this moment: inside a UserRights scope, outside
// any SystemRights.
bool UserRightsNow();

}  // namespace os
