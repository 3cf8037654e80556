/* quiet_stderr.h -- keep the code under test's complaints on standard
 * error out of a fuzzer's log, and nothing else. Only the stdio stream
 * variable `stderr` (what fprintf(stderr) and perror write to) is aimed
 * at /dev/null; file descriptor 2 stays as it was. libFuzzer took its own
 * copy of the stream at start-up and the sanitizers write to fd 2, so
 * statistics, crash reports and the names of saved inputs still come out,
 * even for a crash inside the call. */
#pragma once

#include <stdio.h>

/* Call before the code under test; later calls do nothing. */
inline void fuzz_quiet_stderr(void)
{
    static FILE *null_stream = nullptr;
    if (null_stream)
        return;
    null_stream = fopen("/dev/null", "w");
    if (null_stream)
        stderr = null_stream; /* glibc: a variable like any other */
}
