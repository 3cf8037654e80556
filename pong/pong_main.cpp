/* pong_main.cpp -- hallpong: start-up of the pong game on the hallway
 * lights. Publishes the game on port 7880, takes paddle 1 on UDP port
 * 8000 and paddle 2 on 8001, shows the picture in a small window. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "cli/cli_legacy.h"
#include "wire/feed_client.h"
#include "netserver/hall.h"
#include "pong/my_pong.h"

/* The game takes --help and nothing else. */
static const char UNKNOWN[] = "hallpong: unknown argument '%s'";
static const cli_option options[] = {
    {"help", 'h', CLI_NO_VALUE, 0, NULL},
    {NULL, 0, CLI_NO_VALUE, 0, NULL},
};
static const cli_wording wording = {UNKNOWN, UNKNOWN};

static int take(void *help, int key, const char *value, char *err, size_t errlen)
{
    if (key == CLI_OPERAND) {
        snprintf(err, errlen, UNKNOWN, value);
        return -1;
    }
    *(int *)help = 1;
    return 1;
}

static void usage(FILE *to)
{
    fprintf(to,
            "Usage: hallpong [--help]\n"
            "Two-player pong on the hallway lights.\n"
            "  Frames go to every subscriber of UDP port %d (%d bytes, ~30 per second).\n"
            "  Paddle 1 (box 0 end) listens on UDP port %d, paddle 2 (box 9 end) on %d,\n"
            "  for %d-byte paddle state datagrams (joysend, keysend).\n"
            "  Close the window or press Ctrl-C to stop.\n",
            WIRE_PORT_PONG, WIRE_FRAME_BYTES, WIRE_PORT_PADDLE1, WIRE_PORT_PADDLE2,
            WIRE_PADDLE_BYTES);
}

int main(int argc, char **argv)
{
    cli_legacy_line_buffered();
    int help = 0;
    char err[256];
    if (cli_legacy_parse(argc, argv, options, &wording, take, &help, err, sizeof err) != 0) {
        fprintf(stderr, "%s\n", err);
        usage(stderr);
        return 2;
    }
    if (help) {
        usage(stdout);
        return 0;
    }
    if (cli_legacy_version())
        return 0;

    server_port = WIRE_PORT_PONG;
    if (init_lights() != 0) {
        fprintf(stderr, "init_lights failed!\n");
        return -1;
    }
    srand((unsigned)time(NULL));

    int status = open_window();
    if (status != 0)
        return status;

    reset_game();

    int pdl1_sock = open_udp_server(WIRE_PORT_PADDLE1);
    if (pdl1_sock < 0) {
        perror("open_udp_server(" WIRE_TEXT(WIRE_PORT_PADDLE1) ")");
        exit(1);
    }
    int pdl2_sock = open_udp_server(WIRE_PORT_PADDLE2);
    if (pdl2_sock < 0) {
        perror("open_udp_server(" WIRE_TEXT(WIRE_PORT_PADDLE2) ")");
        exit(1);
    }

    frame_loop(pdl1_sock, pdl2_sock, 0);
    return 0;
}
