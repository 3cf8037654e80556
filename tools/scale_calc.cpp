/* scale_calc.cpp -- dimtable: prints the dimming table of the box driver.
 *
 * For each power level 0..255 it scans the firing angle over one AC
 * half-cycle and prints the last angle (in 1/120ths of the half-cycle) at
 * which that much of the half-cycle's power (out of 256) has gone by.
 * The float/double mix is deliberate: the table is defined by it. */
#include <math.h>
#include <stdio.h>
#include <string.h>

static const float HALF_CYCLE = 3.14159f;
static const double ANGLE_STEP = 0.001;
static const float POWER_SCALE = 512;
static const float ANGLE_SCALE = 120;

/* Power gone by at `angle`: 512/pi times the integral of sin^2 from 0. */
static float get_power(float angle)
{
    double a = angle;
    float integral = (float)(a / 2 - sin(a) * cos(a) / 2);
    return integral / HALF_CYCLE * POWER_SCALE;
}

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    if (argc > 1) {
        if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
            printf("usage: dimtable\n"
                   "Prints the dimming table (firing delay in 1/120ths of the AC\n"
                   "half-cycle for each power level 0..255), 16 values a line.\n");
            return 0;
        }
        fprintf(stderr, "dimtable: takes no arguments (try --help)\n");
        return 2;
    }
    for (int i = 0; i < 256; i++) {
        int result = -1;
        for (float theta = 0; theta < HALF_CYCLE; theta = (float)(theta + ANGLE_STEP)) {
            float power = get_power(theta);
            if ((int)power == i)
                result = (int)(theta / HALF_CYCLE * ANGLE_SCALE);
        }
        if (i % 16 == 0)
            printf("\n");
        printf("% 2i,", result);
    }
    printf("\n");
    return 0;
}
