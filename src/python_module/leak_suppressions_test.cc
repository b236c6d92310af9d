// The C++ tests embed an interpreter and never finalize it (nor could they:
// objects the module keeps for the life of the process would dangle), so its
// own allocations are still live at exit. LeakSanitizer reads this list of
// suppressions at exit; only allocations made inside libpython are excused.

// Visible, so that the sanitizer runtime finds it despite hidden visibility.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() { return "leak:libpython3\n"; }
