/* What the kit test needs done inside Wine that reg.exe cannot do:
 *   kit-helper link KEY TARGET   makes HKCU\KEY a registry link to HKCU\TARGET
 *   kit-helper unlink KEY        deletes that link, not its target
 *   kit-helper squat             holds the named mutex another user could make
 *                                first under the kit's lock as it was
 *   kit-helper [late]            stands in for the importer: starts a copy of
 *                                itself that writes the profile key 5 s later,
 *                                after its parent has gone */
#include <windows.h>
#include <sddl.h>
#include <stdio.h>
#include <wchar.h>

NTSTATUS NTAPI NtDeleteKey(HANDLE key);

static wchar_t* user_sid(void) {
  HANDLE token;
  static BYTE buffer[256];
  DWORD size;
  wchar_t* text = NULL;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size);
  ConvertSidToStringSidW(((TOKEN_USER*)buffer)->User.Sid, &text);
  return text;
}

int wmain(int argc, wchar_t** argv) {
  HKEY key;
  wchar_t text[512];
  if (argc == 4 && wcscmp(argv[1], L"link") == 0) {
    swprintf(text, 512, L"\\Registry\\User\\%ls\\%ls", user_sid(), argv[3]);
    return RegCreateKeyExW(HKEY_CURRENT_USER, argv[2], 0, NULL, REG_OPTION_CREATE_LINK,
                           KEY_ALL_ACCESS | KEY_CREATE_LINK, NULL, &key, NULL) != 0 ||
           RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, (const BYTE*)text,
                          (DWORD)(wcslen(text) * sizeof(wchar_t))) != 0;
  }
  if (argc == 3 && wcscmp(argv[1], L"unlink") == 0) {
    return RegOpenKeyExW(HKEY_CURRENT_USER, argv[2], REG_OPTION_OPEN_LINK, DELETE, &key) != 0 ||
           NtDeleteKey(key) != 0;
  }
  if (argc == 2 && wcscmp(argv[1], L"squat") == 0) {
    swprintf(text, 512, L"Global\\profile-import-kit-%ls", user_sid());
    CreateMutexW(NULL, TRUE, text);
    Sleep(INFINITE);
  }
  if (argc == 2 && wcscmp(argv[1], L"late") == 0) {
    Sleep(5000);
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tessavo", 0, NULL, 0, KEY_SET_VALUE, NULL, &key,
                    NULL);
    return RegSetValueExW(key, L"Late", 0, REG_SZ, (const BYTE*)L"after the restore", 36) != 0;
  }
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process;
  wchar_t self[400];
  GetModuleFileNameW(NULL, self, 400);
  swprintf(text, 512, L"\"%ls\" late", self);
  return !CreateProcessW(self, text, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
}
