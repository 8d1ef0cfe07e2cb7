// fontconfig loses a few bytes while it parses its configuration files, once
// per process, inside the library. In the sanitizer builds LeakSanitizer is
// told to leave that out of its report; the test programs' own code keeps its
// leak checks.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
