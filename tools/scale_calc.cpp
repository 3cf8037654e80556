/* scale_calc.cpp -- dimtable: prints the dimming table of the box driver.
 *
 * For each power level 0..255 it scans the firing angle over one AC
 * half-cycle and prints the last angle (in 1/120ths of the half-cycle) at
 * which that much of the half-cycle's power (out of 256) has gone by.
 * The float/double mix is deliberate: the table is defined by it. */
#include <math.h>
#include <stdio.h>

#include "cli/cli_legacy.h"

static const float HALF_CYCLE = 3.14159f;
static const double ANGLE_STEP = 0.001;
static const float POWER_SCALE = 512;
static const float ANGLE_SCALE = 120;

/* The program takes --help and nothing else. */
static const char REFUSAL[] = "dimtable: takes no arguments (try --help)";
static const cli_option options[] = {
    {"help", 'h', CLI_NO_VALUE, 0, NULL},
    {NULL, 0, CLI_NO_VALUE, 0, NULL},
};
static const cli_wording wording = {REFUSAL, REFUSAL};

static int take(void *help, int key, const char *, char *err, size_t errlen)
{
    if (key == CLI_OPERAND) {
        snprintf(err, errlen, "%s", REFUSAL);
        return -1;
    }
    *(int *)help = 1;
    return 1;
}

/* Power gone by at `angle`: 512/pi times the integral of sin^2 from 0. */
static float get_power(float angle)
{
    double a = angle;
    float integral = (float)(a / 2 - sin(a) * cos(a) / 2);
    return integral / HALF_CYCLE * POWER_SCALE;
}

int main(int argc, char **argv)
{
    int help = 0;
    char err[64];
    int parsed = cli_legacy_parse(argc, argv, options, &wording, take, &help, err, sizeof err);
    int settled = cli_legacy_settle(parsed, err, help,
                             "usage: dimtable\n"
                             "Prints the dimming table (firing delay in 1/120ths of the AC\n"
                             "half-cycle for each power level 0..255), 16 values a line.\n");
    if (settled != CLI_GO_ON)
        return settled;
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
