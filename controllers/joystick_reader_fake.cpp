/* joystick_reader_fake.cpp -- keysend: steer a pong paddle from the
 * keyboard. Every character read from the terminal sends the paddle state
 * datagram: "a" moves the wanted position 4000 down, "s" 4000 up, any
 * other character sends it unchanged. */
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

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

/* Send the value after every character read, until the input ends. */
static void send_keys(void)
{
    int32_t value = 0;
    for (int c; (c = getchar()) != EOF;) {
        value = key_apply(value, c);
        send_state(value, 0); /* the keyboard has no button */
    }
    /* end of input: every further read would return at once */
    printf("\n");
}

int main(int argc, char **argv)
{
    struct paddle_options opts;
    char error[128];
    int settled = cli_settle(&paddle_keysend_cli,
                             paddle_parse_command_line(argc, argv, 0, &opts, error, sizeof error),
                             error);
    if (settled != CLI_GO_ON)
        return settled;
    set_raw_mode();
    paddle_open(opts.host, opts.port);
    send_keys();
    return 0;
}
