/* installdirs.h -- where a program finds the files installed with it.
 * Installed, the plug-in and the data live in folders of their own at a
 * fixed place relative to bin/ (lib/hallway-lights, share/hallway-lights
 * under the same prefix), so a tree works wherever it lands: /usr from a
 * package, /usr/local, a DESTDIR. Paths are built from the folder of the
 * running program (/proc/self/exe). */
#ifndef INSTALLDIRS_INSTALLDIRS_H
#define INSTALLDIRS_INSTALLDIRS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* "<folder of this program>/<relative>" into buf (relative may climb with
 * ".."). Returns buf; the bare relative path when the program's own path
 * cannot be read. */
const char *installdirs_beside_program(char *buf, size_t len, const char *relative);

/* A file of the installed plug-in folder, e.g. "libglim.so". Returns buf. */
const char *installdirs_plugin(char *buf, size_t len, const char *name);

/* A file of the installed data folder, e.g. "wood.bmp". Returns buf. */
const char *installdirs_data(char *buf, size_t len, const char *name);

#ifdef __cplusplus
}
#endif

#endif
