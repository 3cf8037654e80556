/* my_pong.h -- two-player pong played on the hallway lights.
 *
 * The game state lives in the globals below (one game per process).
 * start_game and do_physics play the rules frame by frame; render_frame
 * draws the 60 x 100 picture, sends it as a light frame through the
 * network light server and shows it in the SDL window; frame_loop is the
 * 33 ms frame clock that also takes in the paddle datagrams. */
#ifndef PONG_MY_PONG_H
#define PONG_MY_PONG_H

#include <stddef.h>
#include <stdint.h>

#include <SDL.h>

#include "interface_2001.h"
#include "wire/wire.h"

#define PONG_WIDTH 60          /* picture columns, across the hallway */
#define PONG_HEIGHT 100        /* picture rows, along the hallway */
#define PONG_FRAME_MS 33       /* one frame of the game */
#define PONG_SLICE_US 10000    /* longest single wait for a paddle datagram */

/* Ball: centre and speed in playfield units (x across 0..60, y along
 * 0..100). While a ball is lost, ball_pos_x counts the frames since the
 * loss as -1, -2, ... */
extern double ball_pos_x, ball_pos_y;
extern double ball_spd_x, ball_spd_y;

/* Paddle centre columns, each one's column before its latest message and
 * the frame number at which that message arrived. */
extern int pdl_pos_1, pdl_pos_2;
extern int last_pdl1_pos, last_pdl2_pos;
extern uint32_t last_pdl1_frame, last_pdl2_frame;

/* Number of the current frame, from 0. */
extern uint32_t frames;

/* The picture, row i column j at i * 60 + j, and the light frame made
 * from it. */
extern unsigned char frmbuf[PONG_WIDTH * PONG_HEIGHT];
extern int master_light_data[LIGHT_CHANNELS];

/* The 8-bit window; render_frame skips the window while it is NULL. */
extern SDL_Surface *screen;

/* Called at the start of every frame of frame_loop with the SDL tick at
 * which the frame was due; NULL by default (benchmarks watch the clock). */
extern void (*pong_frame_started)(uint32_t due);

/* Serve a new ball from the centre at speed 2, never flatter than 0.5
 * along the hallway. */
void start_game(void);

/* Advance the game by one frame: the lost-ball pause, or move, bounce
 * off walls and paddles, and lose the ball past either end. */
void do_physics(void);

/* Draw the current state into the picture and the window and send the
 * light frame; while a ball is lost, flash all lights instead. */
void render_frame(void);

/* Paddle column for a paddle state value v: 30 - (v*30 >> 15) for
 * paddle 1, 30 + (v*30 >> 15) for paddle 2, with v*30 wrapping in 32
 * bits. */
int paddle1_column(int32_t v);
int paddle2_column(int32_t v);

/* Take one paddle datagram for paddle 1 or 2: move the paddle and stamp
 * the message with the current frame. Returns 1 when it moved the paddle,
 * 0 when the datagram is shorter than the 4-byte value. */
int take_paddle_datagram(int paddle, const unsigned char *data, size_t len);

/* Serve and put both paddles in the middle; clears the picture. */
void reset_game(void);

/* Start SDL video, open the 60 x 100 8-bit window and give it 256 greys.
 * 0 on success; 1 when SDL cannot start, 2 when the window cannot be
 * opened (both with a message on standard error). */
int open_window(void);

/* Run frames: physics, drawing, then wait out the frame's deadline while
 * taking paddle datagrams from the two sockets. `limit` frames, or for
 * ever when it is 0. Closing the window (or SIGINT/SIGTERM, which SDL
 * turns into a quit event) ends the process. */
void frame_loop(int pdl1_sock, int pdl2_sock, uint32_t limit);

#endif
