/* hall.h -- the hallway simulator's light output back-end: draws every
 * light frame as a textured 3D hallway in an OpenGL window and lets the
 * user walk through it. Besides the four calls of the output contract it
 * offers the drawing and navigation steps, so that tests and benchmarks
 * can drive them one by one. */
#ifndef HALLSIM_HALL_H
#define HALLSIM_HALL_H

#include <stdint.h>

#include <SDL.h>

#include "interface_2001.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Where the viewer stands and looks, and how fast it moves. Angles in
 * degrees, velocities in units per second. */
struct view_state {
    float x, y, z;              /* position; z = 45 is the start end */
    float pitch;                /* -90 (down) .. 90 (up) */
    float yaw;                  /* 0 .. <360, 0 looks towards -z */
    float vel_x, vel_y, vel_z;
};

/* Open the window, set the GL state, load the textures. 0 on success, 2
 * when the window cannot be opened; exits with status 1 when a texture
 * cannot be loaded. */
int InitGL(int width, int height);

/* Load "wood.bmp", "wall.bmp", "carpet.bmp", "ceiling.bmp" into the four
 * texture objects, each from the working directory when it is there, else
 * from the installed data folder (share/hallway-lights beside bin/);
 * exits with status 1 (after SDL_Quit) when one of them cannot be loaded. */
void InitTextures(void);

/* Load one BMP file and turn it into OpenGL's layout: rows bottom-up,
 * bytes red, green, blue, three per pixel. Null (with a message) when it
 * cannot be loaded. The caller frees the surface. */
SDL_Surface *LoadBMP(const char *path);

/* Draw the whole hallway for `view` lit by `values`, then swap buffers. */
void DrawGLScene(struct view_state *view, int values[60]);

/* One wall section, lower and upper halves lit by the two values. */
void DrawWallSect(int lower, int upper);

/* One door section: the band above the door lit by `upper`, the trim and
 * the door leaf in their own colours. */
void DrawDoorSect(int upper);

/* One ceiling section, left and right halves lit by the two values. */
void DrawCeilingSect(int left, int right);

/* Brightness of a surface lit by channel value v: v / 319 + 0.2. */
float scaleRawValue(int v);

/* Take every waiting SDL event, then move the viewer by the time passed
 * since the last call. 1 when the user asked to quit, else 0. */
int UpdateViewState(struct view_state *view);

/* --- settings and hooks beyond the contract --- */

/* Open a 640 x 480 window instead of taking the full screen; set before
 * init_lights. */
void hall_set_windowed(int windowed);

/* The millisecond clock used for movement and light_state pacing
 * (SDL_GetTicks unless replaced; null restores it). For tests. */
void hall_set_clock(uint32_t (*ticks)(void));

/* Everything DrawGLScene draws, without the buffer swap, so that the
 * picture can be read back from the back buffer. */
void hall_draw_scene(struct view_state *view, int values[60]);

/* Frames drawn by renderFrame so far. */
uint32_t hall_frames_drawn(void);

#ifdef __cplusplus
}
#endif

#endif
