#include "run_control.h"

#include "kit_text.h"
#include "run_arguments.h"
#include "winlib/process.h"

namespace kit {

namespace {

// How often an emptied job is asked whether its processes are gone.
constexpr DWORD kJobPollMs = 20;

class Locked {
 public:
  explicit Locked(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  Locked(Locked&&) = delete;
  Locked& operator=(Locked&&) = delete;
  ~Locked() { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK& lock_;
};

}  // namespace

bool RunControl::MakeJob(DWORD& error) {
  job_.reset(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job_ || SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits,
                                       sizeof(limits)) == FALSE) {
    error = GetLastError();
    return false;
  }
  return true;
}

bool RunControl::EmptyJob() const {
  if (TerminateJobObject(job_.get(), STATUS_CONTROL_C_EXIT) == FALSE) {
    return false;
  }
  for (;;) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
                                  sizeof(accounting), nullptr) == FALSE) {
      return false;
    }
    if (accounting.ActiveProcesses == 0) {
      return true;
    }
    Sleep(kJobPollMs);
  }
}

Started RunControl::Run(const std::wstring& program, const std::wstring& arguments,
                        const std::wstring& folder, HANDLE output) {
  winlib::ProcessStart start{program, Quoted(program) + arguments, folder, CREATE_SUSPENDED,
                             output != nullptr};
  if (output != nullptr) {
    start.startup.dwFlags = STARTF_USESTDHANDLES;
    start.startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.startup.hStdOutput = output;
    start.startup.hStdError = output;
  }
  winlib::UniqueProcess process;
  {
    // Started, put in the job and let go under the lock: the console's
    // handler ends it or finds the run over.
    const Locked locked(lock_);
    if (interrupted_ || ended_) {
      return {false, ERROR_CANCELLED};
    }
    winlib::Result<winlib::StartedProcess> started = winlib::StartProcess(start);
    if (!started.ok()) {
      return {false, started.status.error};
    }
    process = std::move(started.value.process);
    if (AssignProcessToJobObject(job_.get(), process.get()) == FALSE) {
      const DWORD error = GetLastError();
      TerminateProcess(process.get(), ERROR_CANCELLED);
      return {false, error};
    }
    ResumeThread(started.value.thread.get());
  }
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  // What it started and left behind goes with it, before anything else runs.
  const Locked locked(lock_);
  EmptyJob();
  return {true, code};
}

void RunControl::Interrupt() {
  const Locked locked(lock_);
  interrupted_ = true;
  EmptyJob();
}

bool RunControl::interrupted() const {
  const Locked locked(lock_);
  return interrupted_;
}

GuardStatus RunControl::End() {
  const Locked locked(lock_);
  if (!ended_) {
    ended_ = true;
    if (EmptyJob()) {
      end_status_ = guard_.End();
    } else {
      PrintLine(L"kit-runner: the run's programs cannot be ended (" + ErrorText(GetLastError()) +
                L"); the key is not put back while they may still write it: run this again");
      end_status_ = GuardStatus::kNotRestored;
    }
  }
  return end_status_;
}

}  // namespace kit
