/* scale_calc.cpp -- dimtable: prints the dimming table of the box driver.
 *
 * For each index i 0..255 it scans the firing angle over one AC
 * half-cycle and prints the last angle (in 1/120ths of the half-cycle) at
 * which i/256 of the half-cycle's power has gone by, so that the rest
 * reaches the lamp: entry i is the delay for lamp level 255 - i.
 * The float/double mix is deliberate: the table is defined by it. */
#include <math.h>
#include <stdio.h>

#include "cli/cli.h"

static const float HALF_CYCLE = 3.14159f;
static const double ANGLE_STEP = 0.001;
static const float POWER_SCALE = 512;
static const float ANGLE_SCALE = 120;

/* No options of its own: --help and --version. */
static const cli_program dimtable_cli = {
    .name = "dimtable",
    .about = "Prints the dimming table, 16 values a line: entry i (0..255) is the\n"
             "firing delay, in 1/120ths of the AC half-cycle, that lets the lamp\n"
             "have level 255 - i (entry 0 is full on, entry 255 dark; level 7 goes\n"
             "out as entry 248).\n",
};

/* Power gone by at `angle`: 512/pi times the integral of sin^2 from 0. */
static float get_power(float angle)
{
    double a = angle;
    float integral = (float)(a / 2 - sin(a) * cos(a) / 2);
    return integral / HALF_CYCLE * POWER_SCALE;
}

/* The table, as the box driver's initialiser wants it: a newline, then
 * 16 lines of 16 values, each followed by a comma. */
static void print_table(void)
{
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
}

int main(int argc, char **argv)
{
    char err[256];
    int settled =
        cli_settle(&dimtable_cli, cli_parse(&dimtable_cli, argc, argv, NULL, err, sizeof err), err);
    if (settled != CLI_GO_ON)
        return settled;
    print_table();
    return 0;
}
