// tests/app/LeakSuppressions.cpp: fontconfig keeps its caches for the life of the process, and Qt's
// font database never releases them; under the leak checker that is not ours to report.
extern "C" const char* __lsan_default_suppressions();  // NOLINT(bugprone-reserved-identifier)

extern "C" const char* __lsan_default_suppressions() {  // NOLINT(bugprone-reserved-identifier)
    return "leak:libfontconfig.so\n";
}
