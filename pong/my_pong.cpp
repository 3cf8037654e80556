/* my_pong.cpp -- the pong game: rules, picture, window and frame clock.
 *
 * State is the set of globals declared in my_pong.h. do_physics plays one
 * frame of the rules, render_frame turns the state into a faded picture
 * and a light frame, frame_loop keeps the absolute 33 ms schedule and
 * takes paddle datagrams while it waits. Called from pong_main.cpp (and
 * from the tests and benchmarks, which drive the same functions). */
#include "pong/my_pong.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>

double ball_pos_x, ball_pos_y;
double ball_spd_x, ball_spd_y;
int pdl_pos_1 = 30, pdl_pos_2 = 30;
int last_pdl1_pos = 30, last_pdl2_pos = 30;
uint32_t last_pdl1_frame, last_pdl2_frame;
uint32_t frames;
unsigned char frmbuf[PONG_WIDTH * PONG_HEIGHT];
int master_light_data[LIGHT_CHANNELS];
SDL_Surface *screen;
void (*pong_frame_started)(uint32_t due);

namespace {

const double SERVE_X = 30, SERVE_Y = 50;
const double SERVE_SPEED = 2;
const double MIN_ALONG_SPEED = 0.5;
const double WALL_LOW = 5, WALL_HIGH = 55;
const double PADDLE1_ZONE = 15, PADDLE2_ZONE = 85;
const double PADDLE_REACH = 11;   /* |d| after cutting towards zero */
const double BOUNCE_GAIN = 0.1;
const double LOST_PAUSE = -60;    /* serve again when the count gets here */
const int BALL_HALF = 4;          /* |offset| cut towards zero, drawn */
const int PADDLE_HALF = 6;        /* a paddle is 13 columns wide */
const int PADDLE1_LAST_ROW = 10;  /* rows 0..10 */
const int PADDLE2_FIRST_ROW = 90; /* rows 90..99 */
const int CELL = 10;              /* pixels per light cell, each way */

/* A paddle's latest movement per frame. The frame difference is at least
 * 1 in play; a message stamped in this very frame (only possible when the
 * functions are driven by hand) counts as 1 rather than dividing by 0. */
double paddle_push(int pos, int last_pos, uint32_t last_frame)
{
    uint32_t diff = frames - last_frame;
    if (diff == 0)
        diff = 1;
    return (double)(pos - last_pos) / (double)diff;
}

/* trunc(d) lies in -limit..limit exactly when -(limit+1) < d < limit+1;
 * comparing the doubles avoids converting far-off values to int. */
bool within(double d, int limit)
{
    return d > -(limit + 1) && d < limit + 1;
}

/* One datagram from a readable paddle socket; shorter ones are dropped. */
void read_paddle(int sock, int paddle)
{
    unsigned char buf[WIRE_PADDLE_BYTES];
    ssize_t n = recv(sock, buf, sizeof buf, 0);
    if (n > 0)
        take_paddle_datagram(paddle, buf, (size_t)n);
}

/* Wait until `deadline` in slices of at most 10 ms, taking paddle
 * datagrams as they come. The comparison is wrap-safe so that the clock
 * keeps going when SDL's 32-bit tick count rolls over (49.7 days). */
void wait_for_deadline(uint32_t deadline, int pdl1_sock, int pdl2_sock)
{
    while ((int32_t)(SDL_GetTicks() - deadline) < 0) {
        fd_set readable;
        FD_ZERO(&readable);
        int top = -1;
        if (pdl1_sock >= 0 && pdl1_sock < FD_SETSIZE) {
            FD_SET(pdl1_sock, &readable);
            top = pdl1_sock;
        }
        if (pdl2_sock >= 0 && pdl2_sock < FD_SETSIZE) {
            FD_SET(pdl2_sock, &readable);
            if (pdl2_sock > top)
                top = pdl2_sock;
        }
        struct timeval slice = {0, PONG_SLICE_US};
        /* After a failed select the set says nothing; the sockets block,
         * so read them only when select really reported them. */
        if (select(top + 1, &readable, NULL, NULL, &slice) <= 0)
            continue;
        if (pdl1_sock >= 0 && FD_ISSET(pdl1_sock, &readable))
            read_paddle(pdl1_sock, 1);
        if (pdl2_sock >= 0 && FD_ISSET(pdl2_sock, &readable))
            read_paddle(pdl2_sock, 2);
    }
}

/* Empty SDL's event queue. SDL turns SIGINT and SIGTERM into a quit
 * event, so without this the game could not be stopped but with SIGKILL;
 * closing the window ends it the same way. */
void pump_events(void)
{
    if (!screen)
        return;
    SDL_Event event;
    while (SDL_PollEvent(&event))
        if (event.type == SDL_QUIT)
            exit(0);
}

} // namespace

void start_game(void)
{
    ball_pos_x = SERVE_X;
    ball_pos_y = SERVE_Y;
    double angle;
    do {
        int r = rand();
        /* r + r in double: as an int sum it overflows for half the draws */
        angle = ((double)r + r) * 3.141592653589 / 2147483647.0;
        ball_spd_y = SERVE_SPEED * sin(angle);
    } while (fabs(ball_spd_y) < MIN_ALONG_SPEED);
    ball_spd_x = SERVE_SPEED * cos(angle);
}

void do_physics(void)
{
    if (ball_pos_x < 0) {
        ball_pos_x -= 1;
        if (ball_pos_x <= LOST_PAUSE) {
            start_game();
            printf("Starting new game...\n");
        }
        return;
    }

    ball_pos_x += ball_spd_x;
    ball_pos_y += ball_spd_y;

    if ((ball_pos_x <= WALL_LOW && ball_spd_x < 0) ||
        (ball_pos_x >= WALL_HIGH && ball_spd_x > 0)) {
        printf("Ball hit a wall\n");
        ball_spd_x = ball_spd_x < 0 ? -ball_spd_x + BOUNCE_GAIN
                                    : -ball_spd_x - BOUNCE_GAIN;
    }

    /* A moving paddle gives the ball a quarter of its latest movement
     * per frame, so a stroke pushes the ball sideways. */
    if (ball_pos_y <= PADDLE1_ZONE && ball_spd_y < 0) {
        if (within(ball_pos_x - pdl_pos_1, (int)PADDLE_REACH)) {
            ball_spd_y = -ball_spd_y + BOUNCE_GAIN;
            ball_spd_x = (3 * ball_spd_x +
                          paddle_push(pdl_pos_1, last_pdl1_pos, last_pdl1_frame)) / 4;
            printf("Ball hit paddle 1\n");
        }
    } else if (ball_pos_y >= PADDLE2_ZONE && ball_spd_y > 0) {
        if (within(ball_pos_x - pdl_pos_2, (int)PADDLE_REACH)) {
            ball_spd_y = -ball_spd_y - BOUNCE_GAIN;
            ball_spd_x = (3 * ball_spd_x +
                          paddle_push(pdl_pos_2, last_pdl2_pos, last_pdl2_frame)) / 4;
            printf("Ball hit paddle 2\n");
        }
    }

    if (ball_pos_y <= 0 || ball_pos_y >= PONG_HEIGHT) {
        ball_pos_x = -1;
        ball_pos_y = -10;
        printf("Ball lost\n");
    }
}

void render_frame(void)
{
    if (ball_pos_x < 0) {
        /* Flash in blocks of 16 frames; the window keeps the last picture
         * of play. The count stays far inside int range in practice; the
         * clamp only keeps the conversion defined. */
        double x = ball_pos_x < -1e9 ? -1e9 : ball_pos_x;
        int k = (int)x;
        int level = (k & 16) ? 255 : 0;
        for (int c = 0; c < LIGHT_CHANNELS; c++)
            master_light_data[c] = level;
        renderFrame(master_light_data);
        return;
    }

    memset(master_light_data, 0, sizeof master_light_data);

    unsigned char *pixels = NULL;
    int pitch = 0;
    if (screen) {
        if (SDL_MUSTLOCK(screen))
            SDL_LockSurface(screen);
        pixels = (unsigned char *)screen->pixels;
        pitch = screen->pitch;
    }

    for (int i = 0; i < PONG_HEIGHT; i++) {
        bool ball_row = within(i - ball_pos_y, BALL_HALF);
        int paddle = i <= PADDLE1_LAST_ROW ? pdl_pos_1
                   : i >= PADDLE2_FIRST_ROW ? pdl_pos_2 : 0;
        bool paddle_row = i <= PADDLE1_LAST_ROW || i >= PADDLE2_FIRST_ROW;
        int *cells = master_light_data + (i / CELL) * LIGHT_CHANNELS_PER_BOX;
        unsigned char *row = frmbuf + i * PONG_WIDTH;
        for (int j = 0; j < PONG_WIDTH; j++) {
            int p = row[j];
            p = paddle_row ? 0 : (p * 7) >> 3; /* trails fade to 7/8 */
            if (ball_row && within(j - ball_pos_x, BALL_HALF))
                p = 255;
            /* long long: paddle columns are not limited */
            if (paddle_row && llabs((long long)j - paddle) <= PADDLE_HALF)
                p = 255;
            row[j] = (unsigned char)p;
            cells[j / CELL] += p;
            if (pixels)
                pixels[i * pitch + j] = (unsigned char)p;
        }
    }

    for (int c = 0; c < LIGHT_CHANNELS; c++)
        master_light_data[c] /= CELL * CELL;
    renderFrame(master_light_data);

    if (screen) {
        if (SDL_MUSTLOCK(screen))
            SDL_UnlockSurface(screen);
        SDL_UpdateRect(screen, 0, 0, 0, 0);
    }
}

int paddle1_column(int32_t v)
{
    /* v * 30 wraps in 32 bits; >> on a negative int rounds down */
    int32_t scaled = (int32_t)((uint32_t)v * 30u);
    return 30 - (scaled >> 15);
}

int paddle2_column(int32_t v)
{
    int32_t scaled = (int32_t)((uint32_t)v * 30u);
    return (scaled >> 15) + 30;
}

int take_paddle_datagram(int paddle, const unsigned char *data, size_t len)
{
    if (len < 4)
        return 0; /* no complete value */
    int32_t v;
    memcpy(&v, data, sizeof v); /* machine byte order, as the sender wrote it */
    if (paddle == 1) {
        last_pdl1_pos = pdl_pos_1;
        pdl_pos_1 = paddle1_column(v);
        last_pdl1_frame = frames;
    } else {
        last_pdl2_pos = pdl_pos_2;
        pdl_pos_2 = paddle2_column(v);
        last_pdl2_frame = frames;
    }
    return 1;
}

void reset_game(void)
{
    memset(frmbuf, 0, sizeof frmbuf);
    pdl_pos_1 = pdl_pos_2 = 30;
    last_pdl1_pos = last_pdl2_pos = 30;
    start_game();
    last_pdl1_frame = last_pdl2_frame = 0;
}

int open_window(void)
{
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        fprintf(stderr, "Unable to init SDL: %s\n", SDL_GetError());
        return 1;
    }
    screen = SDL_SetVideoMode(PONG_WIDTH, PONG_HEIGHT, 8, 0);
    if (!screen) {
        fprintf(stderr, "Unable to create window: %s\n", SDL_GetError());
        SDL_Quit();
        return 2;
    }
    atexit(SDL_Quit);
    SDL_WM_SetCaption("hallpong", "hallpong");

    SDL_Color greys[256];
    for (int n = 0; n < 256; n++) {
        greys[n].r = greys[n].g = greys[n].b = (Uint8)n;
        greys[n].unused = 0;
    }
    SDL_SetPalette(screen, SDL_LOGPAL, greys, 0, 256);
    return 0;
}

void frame_loop(int pdl1_sock, int pdl2_sock, uint32_t limit)
{
    uint32_t deadline = SDL_GetTicks() + PONG_FRAME_MS;
    frames = 0;
    for (uint32_t n = 0; limit == 0 || n < limit; n++) {
        if (pong_frame_started)
            pong_frame_started(deadline - PONG_FRAME_MS);
        do_physics();
        render_frame();
        pump_events();
        /* absolute schedule: a late frame is made up by shorter waits */
        wait_for_deadline(deadline, pdl1_sock, pdl2_sock);
        deadline += PONG_FRAME_MS;
        frames++;
    }
}
