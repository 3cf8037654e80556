/* cli.h -- command-line helpers shared by the programs: strict whole
 * number parsing with a range, so that "--rate 3x" or "--port 70000" is
 * refused with a clear message instead of being half-read. */
#ifndef TOOLS_CLI_H
#define TOOLS_CLI_H

/* Parse all of `text` as a decimal integer in min..max into *out.
 * 0 on success, -1 (and *out untouched) otherwise. */
int cli_parse_long(const char *text, long min, long max, long *out);

#endif
