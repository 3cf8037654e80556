/* pong_render_bench.cpp -- the cost of one game frame: physics, drawing
 * the picture and building the light frame, with and without the 8-bit
 * window (SDL's dummy driver, so only our own drawing is timed). */
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "pong/my_pong.h"

static void play_frames(benchmark::State &state)
{
    srand(1);
    reset_game();
    for (auto _ : state) {
        do_physics();
        render_frame();
        frames++;
        benchmark::DoNotOptimize(master_light_data[27]);
    }
}

static void BM_frame_without_window(benchmark::State &state)
{
    SDL_Surface *window = screen;
    screen = NULL;
    play_frames(state);
    screen = window;
}
BENCHMARK(BM_frame_without_window);

static void BM_frame_with_window(benchmark::State &state)
{
    if (!screen) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        if (open_window() != 0) {
            state.SkipWithError("no window");
            return;
        }
    }
    play_frames(state);
}
BENCHMARK(BM_frame_with_window);

int main(int argc, char **argv)
{
    /* the game's messages ("Ball lost" ...) would bury the table: they
     * go to /dev/null, the table to the original standard output */
    int table_fd = dup(1);
    /* append: opening the descriptor anew must not truncate a log file */
    std::ofstream table("/dev/fd/" + std::to_string(table_fd), std::ios::app);
    if (!freopen("/dev/null", "w", stdout))
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&table);
    reporter.SetErrorStream(&table);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    return 0;
}
