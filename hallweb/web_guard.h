/* web_guard.h -- the controls' token guarded per address: a few tries a
 * second from one address, and the wrong ones logged once a minute with
 * a count, so that guessing is slow whatever the number of connections
 * and the journal sees it without being flooded. */
#ifndef HALLWEB_WEB_GUARD_H
#define HALLWEB_WEB_GUARD_H

#define WEB_TOKEN_TRIES_PER_SECOND 2.0
#define WEB_TOKEN_TRIES_BURST 3.0
#define WEB_TOKEN_LOG_SECONDS 60.0

/* May a page at `addr` try a token now (now: loop_now seconds)? 1, and
 * the try is counted; 0 when the address has used up its tries, and the
 * refusal counts as a wrong token. */
int web_guard_token_try(const char *addr, double now);

/* A token from `addr` was wrong: the first is logged at once, the next
 * ones counted until a minute has passed since the last line. */
void web_guard_token_wrong(const char *addr, double now);

/* Log the counts whose minute has passed; called once a second. */
void web_guard_tick(double now);

#endif
