// The sanitizer tree runs this binary under LeakSanitizer. Leaks that are not ours stay out of
// its report, named by the library function that keeps them (the Qt test binary keeps its own
// list): glibc's setlocale keeps the search list it builds from LOCPATH (__argz_add_sep) for the
// life of the process, and the number-text test runs under a locale found through LOCPATH.

#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_FAULT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_FAULT_ASAN 1
#endif
#endif

#if defined(KESTREL_FAULT_ASAN)
extern "C" const char* __lsan_default_suppressions() {
    return "leak:__argz_add_sep\n";
}
#endif
