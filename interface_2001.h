/* interface_2001.h -- the light output contract.
 *
 * A light frame is 60 int values, index = box * 6 + channel (box 0..9 along
 * the hallway, channel 0..5 round its cross-section), 0 off to 255 full.
 * Every program links exactly one back-end that provides these four calls:
 * the network light server, the serial box back-end or the simulator.
 * Plain C so that C and C++ producers can link any back-end. */
#ifndef INTERFACE_2001_H
#define INTERFACE_2001_H

#define LIGHT_BOXES 10
#define LIGHT_CHANNELS_PER_BOX 6
#define LIGHT_CHANNELS (LIGHT_BOXES * LIGHT_CHANNELS_PER_BOX)

#ifdef __cplusplus
extern "C" {
#endif

/* Acquire the output; 0 on success, non-zero on failure. Called first. */
int init_lights(void);

/* Release the output; 0 when it was released. */
int deinit_lights(void);

/* Show or send one frame of 60 values; 0 to go on, negative to ask the
 * producer to stop. Values outside 0..255 are allowed. */
int renderFrame(int values[60]);

/* Set the six channels of box `light` to on * 255 in the back-end's own
 * current frame and output it; result as for renderFrame. */
int light_state(int light, int on);

#ifdef __cplusplus
}
#endif

#endif
