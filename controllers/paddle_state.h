/* paddle_state.h -- what the two paddle controllers share: the command
 * line (host and port of the game, the joystick device), the 5-byte
 * paddle state datagram, sending it with the status line, and turning
 * joystick event records and key presses into paddle state. */
#ifndef CONTROLLERS_PADDLE_STATE_H
#define CONTROLLERS_PADDLE_STATE_H

#include <stddef.h>
#include <stdint.h>

#include "cli/cli.h"
#include "wire/wire.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PADDLE_DATAGRAM_BYTES WIRE_PADDLE_BYTES
#define PADDLE_DEFAULT_HOST "127.0.0.1"
#define PADDLE_DEFAULT_DEVICE "/dev/js0"
#define PADDLE_HOST_MAX 255 /* characters; the buffer holds 256 bytes */
#define PADDLE_KEY_STEP 4000

/* The Linux joystick event record, 8 bytes in machine order. */
#define JS_EVENT_BUTTON 0x01
#define JS_EVENT_AXIS 0x02
#define JS_EVENT_INIT 0x80
#define JS_EVENT_BYTES 8

/* What a controller's command line asked for. */
struct paddle_options {
    const char *host;   /* dotted-decimal game host */
    uint16_t port;      /* 8000 for paddle 1, 8001 for paddle 2 */
    const char *device; /* joysend only: the joystick device or a pipe */
};

/* Parse `prog [--device PATH] [host [port]]` (--device only when
 * `with_device`); further plain arguments are ignored. cli_parse's
 * answer: CLI_REFUSED with a one-line reason in `error` (size
 * `error_size`) for an unknown option, a host that is not a
 * dotted-decimal IPv4 address or longer than 255 characters, or a port
 * that is not a number 1..65535. */
int paddle_parse_command_line(int argc, char *const argv[], int with_device,
                              struct paddle_options *opts, char *error,
                              size_t error_size);

/* The command lines of joysend and keysend, as --help describes them. */
extern const struct cli_program paddle_joysend_cli, paddle_keysend_cli;

/* Set the destination and create the sending socket. 0, or -1 when the
 * host is not a dotted-decimal address (a failed socket is not an error:
 * sends then fail silently, as a lost datagram would). */
int paddle_open(const char *host, uint16_t port);

/* Build the datagram: the value's 4 bytes in memory order, the button. */
void paddle_encode(int32_t value, char button, unsigned char out[PADDLE_DATAGRAM_BYTES]);

/* Send one datagram to the game (result ignored) and rewrite the status
 * line "val: %d   button: %d            \r" on standard output. */
void send_state(int32_t value, char button);

/* Apply one 8-byte joystick event record to the axis and button state.
 * Returns 1 when the event is for axis or button number 0 (a datagram is
 * due, the initial-state events included), 0 when it is ignored. */
int js_take_event(const unsigned char record[JS_EVENT_BYTES], int32_t *axis,
                  char *button);

/* The value after key `c`: "a" 4000 lower, "s" 4000 higher, anything
 * else unchanged. Not limited; wraps at 32 bits rather than overflowing. */
int32_t key_apply(int32_t value, int c);

#ifdef __cplusplus
}
#endif

#endif
