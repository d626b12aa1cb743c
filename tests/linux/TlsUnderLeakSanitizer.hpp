#pragma once

// Include in one source file of a test program that makes TLS connections through GIO.
//
// GIO's TLS module loads GnuTLS, whose thread-local storage LeakSanitizer's walk at exit cannot
// read (it stops with a fault of its own); the other sanitizer checks still run.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char *__lsan_default_options()
{
    return "detect_leaks=0";
}
#endif
