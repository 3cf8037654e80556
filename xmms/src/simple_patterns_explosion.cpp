/* simple_patterns_explosion.cpp -- a fixed sequence that ignores the music:
 * a disc grows from the middle of the hallway (boxes 4/5, channels 2/3)
 * lighting everything it covers, then a hole burns out from the middle,
 * dimming what it covers, and the pattern ends (frame returns -1 on its
 * 44th call). Channel j of box i sits at (i - 4.5, 2j - 5): channels count
 * two units apart, boxes one. State: the radius alone. */
#include "simple_patterns_explosion.h"

#include "simple_patterns.h"

namespace {

/* Radius of the disc while it grows (0 or more); while it burns out,
 * negative, and -exp_rad is the radius of the burnt-out hole. */
double exp_rad = 0.0;

constexpr double GROW_STEP = 0.5;
constexpr double FULL_RADIUS = 7.0; /* covers the farthest channel, 6.73 */
constexpr double BURN_START = -1.0;
constexpr double BURN_END = -15.0;
constexpr int BURN_DIM = 32;

/* Squared distance of a channel from the centre. The radius is a multiple
 * of 0.5 and these are multiples of 0.25, so comparing squares is exact
 * and gives the same answer as comparing distances. */
double distance2(int box, int channel)
{
    double x = box - 4.5, y = 2 * channel - 5;
    return x * x + y * y;
}

} // namespace

extern "C" {

/* Starts a new explosion. Always accepts. */
int explosion_init(char *)
{
    exp_rad = 0.0;
    return 0;
}

/* One step of the sequence; light outside the disc or hole is left as it
 * is. Returns -1 once the hole has passed radius 15, else 0. */
int explosion_frame(double *, int16_t *, int *light_data, int16_t (*)[256],
                    int)
{
    if (exp_rad >= 0) {
        double r2 = exp_rad * exp_rad;
        for (int box = 0; box < LIGHT_BOXES; box++)
            for (int c = 0; c < LIGHT_CHANNELS_PER_BOX; c++)
                if (distance2(box, c) < r2)
                    light_data[light_index(box, c)] = 255;
        exp_rad += GROW_STEP;
        if (exp_rad > FULL_RADIUS)
            exp_rad = BURN_START;
        return 0;
    }

    double r2 = exp_rad * exp_rad;
    for (int box = 0; box < LIGHT_BOXES; box++)
        for (int c = 0; c < LIGHT_CHANNELS_PER_BOX; c++) {
            int *v = &light_data[light_index(box, c)];
            if (distance2(box, c) < r2)
                *v = dim(*v, BURN_DIM);
        }
    exp_rad -= GROW_STEP;
    return exp_rad < BURN_END ? -1 : 0;
}

int explosion_deinit(void)
{
    return 0;
}

} // extern "C"
