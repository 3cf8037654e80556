/* paddle_state.cpp -- the paddle state datagram and the controllers'
 * shared pieces.
 *
 * Keeps the destination (`server`, `server_port`, `host`) and the sending
 * socket `sock` for the life of the controller. */
#include "controllers/paddle_state.h"
#include "cli/cli_legacy.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

char server[PADDLE_HOST_MAX + 1] = PADDLE_DEFAULT_HOST; /* game host text */
uint16_t server_port = WIRE_PORT_PADDLE1;               /* game port */
struct sockaddr_in host;                                /* built from the two */
int sock = -1;                                          /* sending socket */

/* inet_aton accepts exactly what inet_addr converts, but also tells
 * 255.255.255.255 apart from an error. */
bool valid_host(const char *text)
{
    struct in_addr a;
    return inet_aton(text, &a) != 0;
}

/* A decimal port 1..65535, nothing else in the text (no sign either). */
bool parse_port(const char *text, uint16_t *port)
{
    long v;
    if (text[0] < '0' || text[0] > '9' || cli_parse_long(text, 1, 65535, &v) != 0)
        return false;
    *port = (uint16_t)v;
    return true;
}

enum { KEY_HELP, KEY_DEVICE };

const cli_option joysend_options[] = {
    {"help", 'h', CLI_NO_VALUE, KEY_HELP, nullptr},
    {"device", 0, CLI_VALUE, KEY_DEVICE, "--device needs a path"},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_option keysend_options[] = {
    {"help", 'h', CLI_NO_VALUE, KEY_HELP, nullptr},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_wording wording = {"unknown option '%.40s'", "%s needs a value"};

/* What the walk fills: the options, and how many plain arguments (host,
 * then port; any further ones are ignored) came so far. */
struct parse_state {
    struct paddle_options *opts;
    int plain;
};

/* One option or plain argument into the record. */
int take(void *record, int key, const char *arg, char *error, size_t error_size)
{
    parse_state *st = (parse_state *)record;
    switch (key) {
    case KEY_HELP:
        st->opts->help = 1;
        return 1;
    case KEY_DEVICE:
        st->opts->device = arg;
        return 0;
    default:
        break;
    }
    if (st->plain == 0) {
        if (strlen(arg) > PADDLE_HOST_MAX) {
            snprintf(error, error_size, "host argument longer than %d characters",
                     PADDLE_HOST_MAX);
            return -1;
        }
        if (!valid_host(arg)) {
            snprintf(error, error_size, "'%.40s' is not a dotted-decimal IPv4 address", arg);
            return -1;
        }
        st->opts->host = arg;
    } else if (st->plain == 1 && !parse_port(arg, &st->opts->port)) {
        snprintf(error, error_size, "'%.40s' is not a port number 1..65535", arg);
        return -1;
    }
    st->plain++;
    return 0;
}

} // namespace

extern "C" {

int paddle_parse_command_line(int argc, char *const argv[], int with_device,
                              struct paddle_options *opts, char *error,
                              size_t error_size)
{
    opts->host = PADDLE_DEFAULT_HOST;
    opts->port = WIRE_PORT_PADDLE1;
    opts->device = PADDLE_DEFAULT_DEVICE;
    opts->help = 0;
    /* The walk stops at the first null argument, as a C argv ends. */
    int given = argc > 0 ? 1 : 0;
    while (given < argc && argv[given])
        given++;
    parse_state st = {opts, 0};
    int r = cli_legacy_parse(given, (char **)argv, with_device ? joysend_options : keysend_options,
                      &wording, take, &st, error, error_size);
    if (r != 0 || opts->help)
        return r;
    if (with_device && opts->device[0] == '\0') {
        snprintf(error, error_size, "--device needs a path");
        return -1;
    }
    return 0;
}

void paddle_usage(const char *prog, int with_device, int to_stderr)
{
    FILE *to = to_stderr ? stderr : stdout;
    if (with_device)
        fprintf(to,
                "Usage: %s [--device PATH] [host [port]]\n"
                "Send the position of joystick axis 0 and button 0 to the pong game.\n"
                "  --device PATH  joystick device, or a pipe of 8-byte event records\n"
                "                 (default %s)\n",
                prog, PADDLE_DEFAULT_DEVICE);
    else
        fprintf(to,
                "Usage: %s [host [port]]\n"
                "Steer a pong paddle from the keyboard: \"a\" moves it one way, \"s\" the other.\n",
                prog);
    fprintf(to,
            "  host           dotted-decimal address of the game (default %s)\n"
            "  port           %d for paddle 1, %d for paddle 2 (default %d)\n"
            "  --help         this text\n",
            PADDLE_DEFAULT_HOST, WIRE_PORT_PADDLE1, WIRE_PORT_PADDLE2, WIRE_PORT_PADDLE1);
}

int paddle_open(const char *text, uint16_t port)
{
    if (strlen(text) > PADDLE_HOST_MAX || !valid_host(text))
        return -1;
    strcpy(server, text);
    server_port = port;
    memset(&host, 0, sizeof host);
    host.sin_family = AF_INET;
    host.sin_addr.s_addr = inet_addr(server);
    host.sin_port = htons(server_port);
    sock = socket(AF_INET, SOCK_DGRAM, 0);
    return 0;
}

void paddle_encode(int32_t value, char button, unsigned char out[PADDLE_DATAGRAM_BYTES])
{
    memcpy(out, &value, 4);
    out[4] = (unsigned char)button;
}

void send_state(int32_t value, char button)
{
    unsigned char datagram[PADDLE_DATAGRAM_BYTES];
    paddle_encode(value, button, datagram);
    sendto(sock, datagram, sizeof datagram, 0, (struct sockaddr *)&host, sizeof host);
    printf("val: %d   button: %d            \r", value, (int)button);
    fflush(stdout);
}

int js_take_event(const unsigned char record[JS_EVENT_BYTES], int32_t *axis,
                  char *button)
{
    /* time (4 bytes), value (int16), type, number; machine order */
    int16_t value;
    memcpy(&value, record + 4, sizeof value);
    unsigned char type = record[6];
    unsigned char number = record[7];
    if (number != 0)
        return 0;
    switch (type & 0x7f) { /* initial-state events count as the others */
    case JS_EVENT_BUTTON:
        *button = (char)(value & 0xff);
        break;
    case JS_EVENT_AXIS:
        *axis = value;
        break;
    default:
        break;
    }
    return 1;
}

int32_t key_apply(int32_t value, int c)
{
    if (c == 'a')
        return (int32_t)((uint32_t)value - PADDLE_KEY_STEP);
    if (c == 's')
        return (int32_t)((uint32_t)value + PADDLE_KEY_STEP);
    return value;
}

} // extern "C"
