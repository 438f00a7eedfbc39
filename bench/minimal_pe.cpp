// The start-up limit for the benchmark: a GUI-subsystem PE with no C runtime
// whose entry only ends the process, so its time is what Windows itself needs
// to start and end a process that loads nothing beyond kernel32.dll.
#include <windows.h>

extern "C" [[noreturn]] void WINAPI MinimalEntry() {
  ::ExitProcess(0);
}
