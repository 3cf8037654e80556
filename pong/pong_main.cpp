/* pong_main.cpp -- hallpong: start-up of the pong game on the hallway
 * lights. Publishes the game on port 7880, takes paddle 1 on UDP port
 * 8000 and paddle 2 on 8001, shows the picture in a small window. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "cli/cli.h"
#include "wire/feed_client.h"
#include "netserver/hall.h"
#include "pong/my_pong.h"

/* No options of its own: --help and --version. */
static cli_program pong_cli = {.name = "hallpong"};

/* The about text of --help: the ports and sizes from the wire header. */
static const char *describe_game(void)
{
    static char about[512];
    snprintf(about, sizeof about,
             "Two-player pong on the hallway lights.\n"
             "  Frames go to every subscriber of UDP port %d (%d bytes, ~30 per second).\n"
             "  Paddle 1 (box 0 end) listens on UDP port %d, paddle 2 (box 9 end) on %d,\n"
             "  for %d-byte paddle state datagrams (joysend, keysend).\n"
             "  Close the window or press Ctrl-C to stop.\n",
             WIRE_PORT_PONG, WIRE_FRAME_BYTES, WIRE_PORT_PADDLE1, WIRE_PORT_PADDLE2,
             WIRE_PADDLE_BYTES);
    return about;
}

/* The light server, the random serve, the window and the first ball. 0,
 * or the exit status after a message. */
static int start_show(void)
{
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
    return 0;
}

/* A paddle's socket; without it there is no game, so the process ends. */
static int open_paddle(int port, const char *what)
{
    int sock = open_udp_server(port);
    if (sock < 0) {
        perror(what);
        exit(1);
    }
    return sock;
}

int main(int argc, char **argv)
{
    char err[256];
    pong_cli.about = describe_game();
    int settled =
        cli_settle(&pong_cli, cli_parse(&pong_cli, argc, argv, NULL, err, sizeof err), err);
    if (settled != CLI_GO_ON)
        return settled;
    int status = start_show();
    if (status != 0)
        return status;
    /* Paddle 1 first: its failure is the one reported when both fail. */
    int pdl1_sock =
        open_paddle(WIRE_PORT_PADDLE1, "open_udp_server(" WIRE_TEXT(WIRE_PORT_PADDLE1) ")");
    int pdl2_sock =
        open_paddle(WIRE_PORT_PADDLE2, "open_udp_server(" WIRE_TEXT(WIRE_PORT_PADDLE2) ")");
    frame_loop(pdl1_sock, pdl2_sock, 0);
    return 0;
}
