/* scale_table.h -- the dimming table of the serial box back-end: firing
 * delays of a phase-angle dimmer in 1/120ths of the AC half-cycle, indexed
 * by 255 - light level. Made by dimtable, with entries 0 and 1 set to 1
 * and 8 so that the two brightest levels fire almost at once. */
#ifndef BOXLINE_SCALE_TABLE_H
#define BOXLINE_SCALE_TABLE_H

#ifdef __cplusplus
extern "C" {
#endif

extern const int scale_table[256];

#ifdef __cplusplus
}
#endif

#endif
