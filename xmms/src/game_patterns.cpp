/* game_patterns.cpp -- auto_pong, pong on the lights with no music input.
 *
 * Paddle 1 guards box 0 and moves smoothly (a third of a channel at a
 * time), paddle 2 guards box 9 and jumps whole channels; the ball is one
 * full light between them. The paddles and the ball's direction carry over
 * from game to game; init only resets the score, the serve and the ball. */
#include "game_patterns.h"

#include <cmath>
#include <cstdlib>

#include "simple_patterns.h"

namespace {

float pong_paddle_1_pos = 0.0f; /* channels, fractional */
float pong_paddle_2_pos = 0.0f; /* channels, whole steps */
float pong_ball_x_pos = 3.0f;   /* across, 0 to 5 */
float pong_ball_y_pos = 5.0f;   /* along, 1 to 9 */
float pong_ball_x_speed = 0.1f; /* only the signs ever change */
float pong_ball_y_speed = 0.1f;
int pong_counter = 0;      /* frames since init */
int pong_ball_counter = 0; /* frames until the serve; 0 = in play */
int pong_loss_count = 0;   /* misses since init */

constexpr int SERVE_WAIT = 60;
constexpr int MISSES_TO_END = 3;
constexpr float COURT_MID = 5.0f;

/* A miss: the ball waits in the middle on a random channel and is then
 * served away from the player who missed. */
void pong_miss(void)
{
    pong_ball_y_pos = COURT_MID;
    pong_ball_x_pos = (float)(rand() % LIGHT_CHANNELS_PER_BOX);
    pong_ball_y_speed = -pong_ball_y_speed;
    pong_ball_counter = SERVE_WAIT;
    pong_loss_count++;
}

void pong_move_ball(void)
{
    pong_ball_x_pos += pong_ball_x_speed;
    if (pong_ball_x_pos > 5.0f) {
        pong_ball_x_pos = 5.0f;
        pong_ball_x_speed = -pong_ball_x_speed;
    } else if (pong_ball_x_pos < 0.0f) {
        pong_ball_x_pos = 0.0f;
        pong_ball_x_speed = -pong_ball_x_speed;
    }

    pong_ball_y_pos += pong_ball_y_speed;
    if (pong_ball_y_pos > 9.0f) {
        /* Paddle 2 only returns a ball on exactly its own channel. */
        if (pong_paddle_2_pos == (float)(int)pong_ball_x_pos) {
            pong_ball_y_pos = 9.0f;
            pong_ball_y_speed = -pong_ball_y_speed;
        } else {
            pong_miss();
        }
    }
    if (pong_ball_y_pos < 1.0f) {
        /* Paddle 1 returns anything within one channel of it. */
        if (pong_ball_x_pos > pong_paddle_1_pos - 1 &&
            pong_ball_x_pos < pong_paddle_1_pos + 1) {
            pong_ball_y_pos = 1.0f;
            pong_ball_y_speed = -pong_ball_y_speed;
        } else {
            pong_miss();
        }
    }
}

/* Move a paddle by step towards the ball's channel. */
void pong_follow(float *paddle, float step)
{
    int target = (int)pong_ball_x_pos;
    if (target < *paddle)
        *paddle -= step;
    else if (target > *paddle)
        *paddle += step;
}

void pong_draw(int *light_data)
{
    for (int k = 0; k < LIGHT_CHANNELS; k++)
        light_data[k] = 0;

    /* Paddle 1 pulses and shares its light between the two channels it
     * straddles (k + 1 is at most 6: the paddle stays below 5.33). */
    float ft = 175 + 75 * sin(pong_counter / 5.0);
    int k = (int)pong_paddle_1_pos;
    float fraction = pong_paddle_1_pos - k;
    light_data[k] = (int)(ft * (1 - fraction));
    light_data[k + 1] = (int)(ft * fraction);

    /* Paddle 2 pulses two frames ahead of paddle 1. */
    light_data[light_index(LIGHT_BOXES - 1, (int)pong_paddle_2_pos)] =
        (int)(175 + 75 * sin((pong_counter + 2) / 5.0));

    if (pong_ball_counter == 0)
        light_data[light_index((int)pong_ball_y_pos, (int)pong_ball_x_pos)] =
            255;
}

} // namespace

extern "C" {

/* A new game: score 0, ball waiting in the middle. Always accepts. */
int auto_pong_init(char *)
{
    pong_counter = 0;
    pong_ball_counter = SERVE_WAIT;
    pong_loss_count = 0;
    pong_ball_x_pos = (float)(rand() % LIGHT_CHANNELS_PER_BOX);
    pong_ball_y_pos = COURT_MID;
    return 0;
}

/* One move of the game and the whole frame. Returns -1 on the frame of
 * the third miss, else 0. */
int auto_pong_frame(double *, int16_t *, int *light_data, int16_t (*)[256],
                    int)
{
    pong_counter++;
    if (pong_ball_counter > 0)
        pong_ball_counter--;
    if (pong_ball_counter == 0)
        pong_move_ball();

    /* Each player moves only while the ball comes towards its half. */
    if (pong_ball_y_pos < COURT_MID && pong_ball_y_speed < 0) {
        int r = rand() % 5 + 2;
        if (pong_counter % r == 0)
            pong_follow(&pong_paddle_1_pos, 0.33f);
    }
    if (pong_ball_y_pos > COURT_MID && pong_ball_y_speed > 0) {
        int r = rand() % 2 + 1;
        if (pong_counter % r == 0)
            pong_follow(&pong_paddle_2_pos, 1.0f);
    }

    pong_draw(light_data);
    return pong_loss_count >= MISSES_TO_END ? -1 : 0;
}

int auto_pong_deinit(void)
{
    return 0;
}

} // extern "C"
