/* config.h -- build settings of the pattern plug-in. */
#ifndef XMMS_CONFIG_H
#define XMMS_CONFIG_H

#define VERSION "0.1.0"

#endif
