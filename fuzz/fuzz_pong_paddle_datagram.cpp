/* fuzz_pong_paddle_datagram.cpp -- paddle datagrams as the game takes
 * them, followed by frames of play with the paddles wherever they ended.
 * Input: records of one header byte (bit 7: paddle 2; low 3 bits: length
 * 0..7) and that many datagram bytes. */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "pong/my_pong.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = false;
    if (!quiet) {
        /* the game's messages would drown the fuzzer's own */
        if (!freopen("/dev/null", "w", stdout))
            return 0;
        quiet = true;
    }
    srand(1);
    reset_game();
    frames = 0;
    size_t i = 0;
    while (i < size) {
        int paddle = (data[i] & 0x80) ? 2 : 1;
        size_t len = data[i] & 7;
        i++;
        if (len > size - i)
            len = size - i;
        int moved = take_paddle_datagram(paddle, data + i, len);
        if (moved != (len >= 4))
            __builtin_trap();
        i += len;
        do_physics();
        /* Drawing the 60 x 100 picture is most of the cost: every fourth
         * frame, and the last, are drawn and checked. */
        if (frames % 4 == 0 || i >= size) {
            render_frame();
            for (int c = 0; c < LIGHT_CHANNELS; c++)
                if (master_light_data[c] < 0 || master_light_data[c] > 255)
                    __builtin_trap();
        }
        frames++;
    }
    return 0;
}
