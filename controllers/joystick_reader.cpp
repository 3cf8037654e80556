/* joystick_reader.cpp -- joysend: steer a pong paddle with a joystick.
 * Reads the 8-byte event records of a Linux joystick device (or of a pipe
 * that carries them) and sends the paddle state datagram to the game for
 * every event of axis 0 or button 0, with a status line on stdout. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "controllers/paddle_state.h"

/* Read one whole record; a pipe may hand it over in pieces. Returns the
 * number of bytes read: 8, fewer at end of input, -1 on an error. */
static ssize_t read_record(int fd, unsigned char record[JS_EVENT_BYTES])
{
    size_t got = 0;
    while (got < JS_EVENT_BYTES) {
        ssize_t n = read(fd, record + got, JS_EVENT_BYTES - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += (size_t)n;
    }
    return (ssize_t)got;
}

/* Send the state after every event of axis 0 or button 0 until the input
 * ends or fails. The exit status: 0 at the end of a pipe of records, 1
 * after a failed read. */
static int send_events(int js)
{
    /* centre and released until the driver reports otherwise */
    int32_t axis = 0;
    char button = 0;
    for (;;) {
        unsigned char record[JS_EVENT_BYTES];
        ssize_t n = read_record(js, record);
        if (n == 0) {
            /* a pipe or FIFO of records has ended; a device never does */
            printf("\n");
            fprintf(stderr, "joystick_reader: end of input\n");
            return 0;
        }
        if (n != JS_EVENT_BYTES) {
            if (n > 0)
                fprintf(stderr, "joystick_reader: error reading: "
                                "input ended inside an event record\n");
            else
                perror("joystick_reader: error reading");
            return 1;
        }
        if (js_take_event(record, &axis, &button))
            send_state(axis, button);
    }
}

int main(int argc, char **argv)
{
    struct paddle_options opts;
    char error[128];
    int settled = cli_settle(&paddle_joysend_cli,
                             paddle_parse_command_line(argc, argv, 1, &opts, error, sizeof error),
                             error);
    if (settled != CLI_GO_ON)
        return settled;
    paddle_open(opts.host, opts.port);
    int js = open(opts.device, O_RDONLY);
    if (js < 0) {
        perror("main: open");
        exit(1);
    }
    return send_events(js);
}
