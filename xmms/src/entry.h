/* entry.h -- the player's entry point and the plug-in record, and the
 * one way the plug-in's modules ask the player to switch it off. */
#ifndef GLIM_ENTRY_H
#define GLIM_ENTRY_H

#include "pattern.h"
#include "vis_plugin.h"

extern "C" {
GLIM_EXPORT VisPlugin *get_vplugin_info(void);
GLIM_EXPORT extern VisPlugin glim_vp;
}

/* Ask the player to disable the plug-in, when it has said how. */
void ask_disable(void);

#endif
