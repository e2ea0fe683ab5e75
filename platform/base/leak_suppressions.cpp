// Libraries that keep allocations for the life of the process (SDL's audio
// driver list, fontconfig's caches) are not leaks of ours; the leak checker
// of the sanitizer build asks this hook for what to pass over.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libSDL2\nleak:libfontconfig\n";
}
