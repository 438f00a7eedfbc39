#include "platform/windows_sync_port.h"

#include <windows.h>

#include "platform/ntdll_calls.h"

#include <bit>

namespace profile_import::platform {
namespace {

const wchar_t* Wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}

std::uint64_t Ticks(FILETIME time) {
  return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

// A handle closed on every path; the program's other handles go through the
// port's owners, these never leave this file.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  OwnedHandle(OwnedHandle&&) = delete;
  OwnedHandle& operator=(OwnedHandle&&) = delete;
  ~OwnedHandle() {
    if (*this) {
      ::CloseHandle(handle_);
    }
  }
  [[nodiscard]] HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// What the thread of runWithin runs; kept beyond a deadline missed, since the
// thread may still read it.
struct Work {
  void (*work)(void*);
  void* context;
};
Work pending;  // zero until set: no bytes in the file

DWORD WINAPI RunWork(void* work) {
  const Work& what = *static_cast<const Work*>(work);
  what.work(what.context);
  return 0;
}

HANDLE AppendTo(const char16_t* path) {
  return ::CreateFileW(Wide(path), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

using RegisterEventSourceFunction = HANDLE(WINAPI*)(LPCWSTR, LPCWSTR);
using ReportEventFunction = BOOL(WINAPI*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR*,
                                          LPVOID);
using DeregisterEventSourceFunction = BOOL(WINAPI*)(HANDLE);

template <typename Function>
Function Find(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

}  // namespace

const char16_t* WindowsSyncPort::getCommandLine() {
  return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}

void WindowsSyncPort::setErrorMode() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

std::size_t WindowsSyncPort::getEnvironmentVariable(const char16_t* name, std::span<char16_t> out) {
  const DWORD length = ::GetEnvironmentVariableW(Wide(name), reinterpret_cast<wchar_t*>(out.data()),
                                                 static_cast<DWORD>(out.size()));
  return length < out.size() ? length : 0;  // a value that does not fit counts as unset
}

std::uint64_t WindowsSyncPort::getSystemTimeAsFileTime() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

std::uint64_t WindowsSyncPort::getTickCount64() {
  return ::GetTickCount64();
}

void WindowsSyncPort::sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

bool WindowsSyncPort::runWithin(std::uint32_t milliseconds, void (*work)(void*), void* context) {
  pending = {work, context};
  const OwnedHandle thread{::CreateThread(nullptr, 0, RunWork, &pending, 0, nullptr)};
  if (!thread) {
    work(context);  // no thread to be had: no deadline either, but an answer
    return true;
  }
  return ::WaitForSingleObject(thread.get(), milliseconds) == WAIT_OBJECT_0;
}

FileResult WindowsSyncPort::createFileForSharedReading(const char16_t* path) {
  // Others may read it meanwhile, and delete it or rename it away; nobody
  // may write it. (Renaming another file over it waits for this handle.)
  const HANDLE file = ::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return {static_cast<PlatformError>(::GetLastError()),
            static_cast<NtStatus>(::RtlGetLastNtStatus()), kInvalidFile};
  }
  return {kSuccess, kStatusSuccess, std::bit_cast<RawFile>(file)};
}

bool WindowsSyncPort::readFileCounted(RawFile file, std::span<std::uint8_t> buffer,
                                      std::size_t& read) {
  DWORD count = 0;
  const bool done = ::ReadFile(std::bit_cast<HANDLE>(file), buffer.data(),
                               static_cast<DWORD>(buffer.size()), &count, nullptr) != FALSE;
  read = count;
  return done;
}

AttributesResult WindowsSyncPort::getFileAttributes(const char16_t* path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return {static_cast<PlatformError>(::GetLastError()), kInvalidFileAttributes};
  }
  return {kSuccess, attributes};
}

std::uint32_t WindowsSyncPort::getDriveType(const char16_t* root) {
  return ::GetDriveTypeW(Wide(root));
}

KeyResult WindowsSyncPort::regOpenKeyForReading(Root root, const char16_t* path) {
  // Policies are shared between the registry's 32- and 64-bit views; asked
  // for the 64-bit one, the x86 build on 64-bit Windows reads the same key.
  const bool machine = root == Root::LocalMachine;
  HKEY key = nullptr;
  const LSTATUS error =
      ::RegOpenKeyExW(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, Wide(path), 0,
                      KEY_QUERY_VALUE | (machine ? KEY_WOW64_64KEY : 0), &key);
  return {error, error == ERROR_SUCCESS ? std::bit_cast<RawKey>(key) : kNoKey};
}

ValueResult WindowsSyncPort::regQueryValueEx(RawKey key, const char16_t* name,
                                             std::span<std::byte> data) {
  DWORD type = 0;
  auto size = static_cast<DWORD>(data.size());
  const LSTATUS error = ::RegQueryValueExW(std::bit_cast<HKEY>(key), Wide(name), nullptr, &type,
                                           reinterpret_cast<BYTE*>(data.data()), &size);
  return {error, type, size};
}

PlatformError WindowsSyncPort::regDeleteValue(RawKey key, const char16_t* name) {
  return ::RegDeleteValueW(std::bit_cast<HKEY>(key), Wide(name));
}

bool WindowsSyncPort::appendLine(const char16_t* folder, const char16_t* path,
                                 const char16_t* rotated, std::uint64_t limit,
                                 std::span<const std::uint8_t> line) {
  ::CreateDirectoryW(Wide(folder), nullptr);  // there already, most of the time
  {
    const OwnedHandle log{AppendTo(path)};
    LARGE_INTEGER size{};
    if (!log || ::GetFileSizeEx(log.get(), &size) == FALSE ||
        static_cast<std::uint64_t>(size.QuadPart) + line.size() <= limit) {
      DWORD written = 0;
      // One write of the whole line: appends from two runs never interleave.
      return log && ::WriteFile(log.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                                nullptr) != FALSE;
    }
  }
  ::MoveFileExW(Wide(path), Wide(rotated), MOVEFILE_REPLACE_EXISTING);
  const OwnedHandle log{AppendTo(path)};
  DWORD written = 0;
  return log && ::WriteFile(log.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                            nullptr) != FALSE;
}

std::uint64_t WindowsSyncPort::getLastWriteTime(const char16_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (::GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data) == FALSE) {
    return 0;
  }
  return Ticks(data.ftLastWriteTime);
}

void WindowsSyncPort::writeStandardOutput(std::span<const std::uint8_t> line) {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    return;
  }
  const DWORD type = ::GetFileType(out);
  if (type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK) {
    DWORD written = 0;
    ::WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
}

bool WindowsSyncPort::reportEvent(const char16_t* source, EventSeverity severity,
                                  std::uint32_t event_id,
                                  std::span<const char16_t* const> strings) {
  // Loaded only for an event: the run that has nothing to do never loads it.
  const HMODULE advapi32 = ::LoadLibraryW(L"advapi32.dll");
  if (advapi32 == nullptr) {
    return false;
  }
  const auto register_source = Find<RegisterEventSourceFunction>(advapi32, "RegisterEventSourceW");
  const auto report = Find<ReportEventFunction>(advapi32, "ReportEventW");
  const auto deregister = Find<DeregisterEventSourceFunction>(advapi32, "DeregisterEventSource");
  bool reported = false;
  if (register_source != nullptr && report != nullptr && deregister != nullptr) {
    const HANDLE log = register_source(nullptr, Wide(source));
    if (log != nullptr) {
      const WORD type = severity == EventSeverity::Error     ? EVENTLOG_ERROR_TYPE
                        : severity == EventSeverity::Warning ? EVENTLOG_WARNING_TYPE
                                                             : EVENTLOG_INFORMATION_TYPE;
      // NOLINTNEXTLINE(*-const-cast): ReportEventW only reads the strings
      auto** texts = const_cast<LPCWSTR*>(reinterpret_cast<const LPCWSTR*>(strings.data()));
      reported = report(log, type, 0, event_id, nullptr, static_cast<WORD>(strings.size()), 0,
                        texts, nullptr) != FALSE;
      deregister(log);
    }
  }
  ::FreeLibrary(advapi32);
  return reported;
}

}  // namespace profile_import::platform
