/* status_line.h -- glimhost's one-line status on a terminal. What the
 * program and its plug-in print on standard output meanwhile (the same
 * terminal) would land in the middle of that line: while it is shown,
 * standard output goes through a pipe the main loop reads, each line
 * printed there is written above the status line, and the status line
 * is drawn again below it. */
#ifndef HOST_STATUS_LINE_H
#define HOST_STATUS_LINE_H

/* Start, on the main loop: 1 when standard error is a terminal (the line
 * is shown), else 0 and nothing changes. */
int status_line_start(void);

/* Draw the line anew (main loop). */
void status_line_show(const char *text);

/* End it: the line is left as it is, standard output is given back and
 * what is still in the pipe printed. */
void status_line_end(void);

#endif
