#include "kit/run_control.h"

#include <array>
#include <cstddef>

#include "kit/kit_text.h"
#include "kit/run_arguments.h"
#include "winlib/process.h"

namespace kit {

namespace {

// How often an emptied job is asked whether its processes are gone, and for
// how long: a process stuck in a driver call never ends, and the run must
// still say so rather than hang.
constexpr DWORD kJobPollMs = 20;
constexpr ULONGLONG kJobEndTimeoutMs = 30000;
// The processes a stuck job's message names at most.
constexpr DWORD kMostNamed = 16;

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

// JOBOBJECT_BASIC_PROCESS_ID_LIST with room for more than its one id.
struct ProcessIds {
  DWORD assigned = 0;
  DWORD listed = 0;
  std::array<ULONG_PTR, kMostNamed> ids{};
};
static_assert(offsetof(ProcessIds, ids) ==
              offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList));

// The processes still in job, each as its id and program.
std::wstring Remaining(HANDLE job) {
  ProcessIds list;
  // More than fit: the call fills what fits and says so.
  if (QueryInformationJobObject(job, JobObjectBasicProcessIdList, &list, sizeof(list), nullptr) ==
          FALSE &&
      GetLastError() != ERROR_MORE_DATA) {
    return L"which cannot be told";
  }
  std::wstring text;
  for (DWORD i = 0; i < list.listed && i < kMostNamed; ++i) {
    const auto id = static_cast<DWORD>(list.ids.at(i));
    const std::wstring name = winlib::RunningProgram(id);
    text += (text.empty() ? L"" : L", ") + std::to_wstring(id) + L" " + name;
  }
  return text;
}

}  // namespace

winlib::Status RunControl::MakeJob() {
  job_.reset(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  // A suite that crashes ends at once, never held at Windows Error
  // Reporting's dialog with the run waiting on it.
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  if (!job_ || SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits,
                                       sizeof(limits)) == FALSE) {
    return winlib::Status::LastError();
  }
  return {};
}

bool RunControl::EmptyJob() const {
  if (TerminateJobObject(job_.get(), STATUS_CONTROL_C_EXIT) == FALSE) {
    PrintLine(L"kit-runner: the run's programs cannot be ended: " + ErrorText(GetLastError()));
    return false;
  }
  const ULONGLONG deadline = GetTickCount64() + kJobEndTimeoutMs;
  for (;;) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
                                  sizeof(accounting), nullptr) == FALSE) {
      PrintLine(L"kit-runner: cannot tell whether the run's programs have ended: " +
                ErrorText(GetLastError()));
      return false;
    }
    if (accounting.ActiveProcesses == 0) {
      return true;
    }
    if (GetTickCount64() >= deadline) {
      PrintLine(L"kit-runner: " + std::to_wstring(accounting.ActiveProcesses) +
                L" of the run's programs did not end within " +
                std::to_wstring(kJobEndTimeoutMs / 1000) + L" s: process " + Remaining(job_.get()));
      return false;
    }
    Sleep(kJobPollMs);
  }
}

winlib::Result<DWORD> RunControl::Run(const std::wstring& program, const std::wstring& arguments,
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
      return {{ERROR_CANCELLED}};
    }
    // Not started, and counted as such: a run with a program stuck must not
    // pass.
    if (stuck_) {
      return {{ERROR_BUSY}};
    }
    winlib::Result<winlib::StartedProcess> started = winlib::StartProcess(start);
    if (!started.ok()) {
      return {started.status};
    }
    process = std::move(started.value.process);
    if (AssignProcessToJobObject(job_.get(), process.get()) == FALSE) {
      const DWORD error = GetLastError();
      TerminateProcess(process.get(), ERROR_CANCELLED);
      return {{error}};
    }
    ResumeThread(started.value.thread.get());
  }
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  // What it started and left behind goes with it, before anything else runs.
  const Locked locked(lock_);
  stuck_ = stuck_ || !EmptyJob();
  return {{}, code};
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

GuardStatus RunControl::Begin() {
  const Locked locked(lock_);
  const GuardStatus status = guard_.Begin();
  begun_ = status == GuardStatus::Ready;
  return status;
}

GuardStatus RunControl::End() {
  const Locked locked(lock_);
  if (!ended_) {
    ended_ = true;
    if (!begun_) {
      end_status_ = GuardStatus::Ready;  // nothing was backed up
    } else if (EmptyJob()) {
      end_status_ = guard_.End();
    } else {
      PrintLine(
          L"kit-runner: the key is not put back while they may still write it; its "
          L"backup is kept: end them, then run this again");
      end_status_ = GuardStatus::NotRestored;
    }
  }
  return end_status_;
}

}  // namespace kit
