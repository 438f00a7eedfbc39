#pragma once
// The run's programs and its end, under one lock shared with the console's
// handler: every program the run starts, and all they start in turn, is in
// one job; before the key is put back the job is emptied and waited on; and
// once the run is interrupted or has ended, nothing more starts.
#include <windows.h>

#include <string>

#include "kit/key_guard.h"
#include "winlib/status.h"
#include "winlib/unique_handle.h"

namespace kit {

class RunControl {
 public:
  explicit RunControl(KeyGuard& guard) : guard_(guard) {}
  // The job, which dies with this process (and its programs with it).
  winlib::Status MakeJob();
  // Backs the key up (KeyGuard::Begin) under the lock the console's handler
  // ends the run by: a window closed meanwhile restores only once it is done.
  GuardStatus Begin();
  // Starts a program in folder, in the job, and waits for it; its leftovers
  // are ended too. output, when given, receives its standard output and error.
  // Its exit code, or the error that kept it from starting.
  winlib::Result<DWORD> Run(const std::wstring& program, const std::wstring& arguments,
                            const std::wstring& folder, HANDLE output);
  // Ends every program of the run; from here on none starts.
  void Interrupt();
  bool interrupted() const;
  // Ends every program of the run, then puts the key back: once; later calls
  // give the first one's status.
  GuardStatus End();

 private:
  // With the lock held: true once no program of the run is left; false, with
  // what is left said, if they are not all gone in time.
  bool EmptyJob() const;

  KeyGuard& guard_;
  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  bool interrupted_ = false;
  bool ended_ = false;
  bool begun_ = false;  // the key is backed up, so the end puts it back
  bool stuck_ = false;  // a program would not end: nothing more starts
  GuardStatus end_status_ = GuardStatus::Ready;
  winlib::UniqueJob job_;
};

}  // namespace kit
