// Under LeakSanitizer (sanitizer builds only): PLplot loads its output drivers through libltdl
// and draws text through fontconfig and cairo, which keep caches for the life of the process
// and never free them. Those are not leaks of this program; the leak checker is told to
// ignore allocations made inside those libraries. In other builds nothing calls these.
extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libltdl.so\n"
         "leak:libplplot.so\n"
         "leak:libcairo.so\n"
         "leak:libpango\n"
         "leak:libglib-2.0.so\n"
         "leak:libgobject-2.0.so\n"
         "leak:libharfbuzz.so\n"
         "leak:libfreetype.so\n";
}

// And not to list the suppressed allocations on stderr, which belongs to the program's own
// messages.
extern "C" const char* __lsan_default_options();

extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
