/* vis_plugin.h -- the audio player's visualisation plug-in record.
 *
 * Our own declaration of the record a version 1 player expects from a
 * visualisation plug-in, field for field in the player's order so that the
 * player and the plug-in agree on its layout. Plain C. */
#ifndef XMMS_VIS_PLUGIN_H
#define XMMS_VIS_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _VisPlugin VisPlugin;

struct _VisPlugin {
    void *handle;              /* filled by the player: dlopen handle */
    char *filename;            /* filled by the player */
    int xmms_session;          /* filled by the player */
    char *description;
    int num_pcm_chs_wanted;    /* 0, 1 or 2 channels of waveform */
    int num_freq_chs_wanted;   /* 0, 1 or 2 channels of spectrum */
    void (*init)(void);        /* enable */
    void (*cleanup)(void);     /* disable */
    void (*about)(void);
    void (*configure)(void);
    void (*disable_plugin)(VisPlugin *);  /* filled by the player */
    void (*playback_start)(void);
    void (*playback_stop)(void);
    void (*render_pcm)(int16_t pcm_data[2][512]);
    void (*render_freq)(int16_t freq_data[2][256]);
};

#ifdef __cplusplus
}
#endif

#endif
