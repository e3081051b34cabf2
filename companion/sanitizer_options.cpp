// Run-time options of the sanitized build, linked only into programs built
// with AddressSanitizer. An allocation that cannot be served returns null, as
// the C library's allocator reports it in an optimised build, so a script's
// Read of a size that cannot be allocated answers nil instead of ending the
// companion with a sanitizer report.

extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
