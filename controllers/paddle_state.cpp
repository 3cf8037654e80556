/* paddle_state.cpp -- the paddle state datagram and the controllers'
 * shared pieces.
 *
 * Keeps the destination (`server`, `server_port`, `host`) and the sending
 * socket `sock` for the life of the controller, and while a command line
 * is parsed, how many of its operands came. */
#include "controllers/paddle_state.h"

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
int operands_taken = 0; /* host, then port; any further ones are ignored */

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

/* The host, the port, or one more to ignore. */
int take_operand(void *record, const char *arg, char *error, size_t error_size)
{
    paddle_options *opts = (paddle_options *)record;
    if (operands_taken == 0) {
        if (strlen(arg) > PADDLE_HOST_MAX) {
            snprintf(error, error_size, "host argument longer than %d characters",
                     PADDLE_HOST_MAX);
            return -1;
        }
        if (!valid_host(arg)) {
            snprintf(error, error_size, "'%.40s' is not a dotted-decimal IPv4 address", arg);
            return -1;
        }
        opts->host = arg;
    } else if (operands_taken == 1 && !parse_port(arg, &opts->port)) {
        snprintf(error, error_size, "'%.40s' is not a port number 1..65535", arg);
        return -1;
    }
    operands_taken++;
    return 0;
}

const char operands_help[] =
    "arguments:\n"
    "  host  dotted-decimal address of the game (default " PADDLE_DEFAULT_HOST ")\n"
    "  port  " WIRE_TEXT(WIRE_PORT_PADDLE1) " for paddle 1, " WIRE_TEXT(WIRE_PORT_PADDLE2)
    " for paddle 2 (default " WIRE_TEXT(WIRE_PORT_PADDLE1) ")\n";

const cli_opt joysend_rows[] = {
    {.name = "device", .kind = CLI_PATH,
     .help = "joystick device, or a pipe of 8-byte event records",
     .dflt = PADDLE_DEFAULT_DEVICE, CLI_INTO(paddle_options, device)},
    {},
};

} // namespace

extern "C" {

const cli_program paddle_joysend_cli = {
    .name = "joysend",
    .synopsis = "[--device PATH] [host [port]]",
    .about = "Send the position of joystick axis 0 and button 0 to the pong game.\n",
    .opts = joysend_rows,
    .footer = operands_help,
    .operand = take_operand,
};

const cli_program paddle_keysend_cli = {
    .name = "keysend",
    .synopsis = "[host [port]]",
    .about = "Steer a pong paddle from the keyboard: \"a\" moves it one way, \"s\" the other.\n",
    .footer = operands_help,
    .operand = take_operand,
};

int paddle_parse_command_line(int argc, char *const argv[], int with_device,
                              struct paddle_options *opts, char *error,
                              size_t error_size)
{
    opts->host = PADDLE_DEFAULT_HOST;
    opts->port = WIRE_PORT_PADDLE1;
    opts->device = PADDLE_DEFAULT_DEVICE;
    operands_taken = 0;
    /* The walk stops at the first null argument, as a C argv ends. */
    int given = argc > 0 ? 1 : 0;
    while (given < argc && argv[given])
        given++;
    return cli_parse(with_device ? &paddle_joysend_cli : &paddle_keysend_cli, given,
                     (char **)argv, opts, error, error_size);
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
