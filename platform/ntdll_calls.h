#pragma once

#include <windows.h>

// ntdll.dll's calls, which MinGW's headers do not declare. ntdll.dll, like
// kernel32.dll, is in every process before its entry runs, so they cost no
// library load; advapi32.dll's token calls would.
extern "C" {
DECLSPEC_IMPORT LONG NTAPI NtOpenProcessToken(HANDLE process, ACCESS_MASK access, PHANDLE token);
DECLSPEC_IMPORT LONG NTAPI NtQueryInformationToken(HANDLE token, TOKEN_INFORMATION_CLASS kind,
                                                   PVOID information, ULONG length,
                                                   PULONG returned);
DECLSPEC_IMPORT LONG NTAPI NtClose(HANDLE handle);
// UNICODE_STRING, declared here with the calls: <winternl.h> would declare
// them again without their import attribute.
struct CountedString {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
};
// The SID is only read: declared const here, as the call treats it.
DECLSPEC_IMPORT LONG NTAPI RtlConvertSidToUnicodeString(CountedString* text, const void* sid,
                                                        BOOLEAN allocate);
DECLSPEC_IMPORT LONG NTAPI RtlGetLastNtStatus();
}
