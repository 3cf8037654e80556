/* joystick_reader_fake.cpp -- keysend: steer a pong paddle from the
 * keyboard. Every character read from the terminal sends the paddle state
 * datagram: "a" moves the wanted position 4000 down, "s" 4000 up, any
 * other character sends it unchanged. */
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

#include "cli/cli_legacy.h"
#include "controllers/paddle_state.h"

/* Character-at-a-time input on standard input (echo and signal keys
 * stay). 0, or -1 with a message when the terminal cannot be set, in
 * which case input stays line by line. */
static int set_raw_mode(void)
{
    struct termios t;
    if (tcgetattr(0, &t) < 0) {
        perror("tcgetattr");
        return -1;
    }
    t.c_lflag &= ~ICANON; /* no line editing: each key at once */
    if (tcsetattr(0, TCSANOW, &t) < 0) {
        perror("tcsetattr");
        return -1;
    }
    setbuf(stdin, NULL);
    return 0;
}

int main(int argc, char **argv)
{
    cli_legacy_line_buffered();

    struct paddle_options opts;
    char error[128];
    if (paddle_parse_command_line(argc, argv, 0, &opts, error, sizeof error) != 0) {
        fprintf(stderr, "keysend: %s\n", error);
        paddle_usage("keysend", 0, 1);
        return 2;
    }
    if (opts.help) {
        paddle_usage("keysend", 0, 0);
        return 0;
    }
    if (cli_legacy_version())
        return 0;

    int32_t value = 0;
    set_raw_mode();
    paddle_open(opts.host, opts.port);

    for (;;) {
        int c = getchar();
        if (c == EOF) {
            /* end of input: every further read would return at once */
            printf("\n");
            return 0;
        }
        value = key_apply(value, c);
        send_state(value, 0); /* the keyboard has no button */
    }
}
