/* private_display.h -- a private X display for glimhost --headless. When
 * no display answers, Xvfb is started on a display number it picks itself
 * (-displayfd) and DISPLAY is pointed at it; the server ends with glimhost
 * however glimhost ends: at exit (after a signal too), and through the
 * kernel when glimhost is killed outright. */
#ifndef HOST_PRIVATE_DISPLAY_H
#define HOST_PRIVATE_DISPLAY_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Nothing when the display DISPLAY names answers; otherwise start Xvfb,
 * set DISPLAY to it and say so on standard output. 0, or -1 with a
 * one-line reason in err (Xvfb missing, or no display within 10 s). */
int private_display_ensure(char *err, size_t err_len);

/* Stop the server started here and wait for it (registered with atexit;
 * harmless when none runs). */
void private_display_stop(void);

#ifdef __cplusplus
}
#endif

#endif
