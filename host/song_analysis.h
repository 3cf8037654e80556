/* song_analysis.h -- a whole piece of music analysed ahead of playing it:
 * its beats, the bar's first beats (and so the metre), its sections
 * (where the music changes character) with their loudness, and its drops
 * (a loud section after a quiet one). The music is streamed through once,
 * a block at a time; what is kept grows with its length by a few tens of
 * kilobytes a second, never the decoded sound. Times are seconds from the
 * first sample. */
#ifndef HOST_SONG_ANALYSIS_H
#define HOST_SONG_ANALYSIS_H

#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Changes whenever the analysis would give other results for the same
 * music, so that analyses kept from an older one are done again. */
#define SONG_ANALYSIS_VERSION 3

/* The longest piece analysed, in seconds; longer music is analysed this
 * far (what is kept stays bounded). */
#define SONG_MAX_SECONDS 3600

/* Beats and sections at most, for readers of stored analyses. */
#define SONG_MAX_BEATS (SONG_MAX_SECONDS * 5)
#define SONG_MAX_SECTIONS 4096

typedef struct {
    double time;         /* when the beat is heard */
    int beat_in_bar;     /* 1 = the bar's first beat */
} song_beat;

typedef struct {
    double start, end;   /* seconds; a section ends where the next starts */
    double loudness;     /* 0..1 across the piece: 1 its loudest section */
    double level_db;     /* the section's mean level, dB below full scale */
    int drop;            /* 1: loud after a quiet section */
} song_section;

/* Why an analysis has no beat. */
enum song_verdict {
    SONG_BEATS,          /* beats, bars and sections found */
    SONG_TOO_SHORT,      /* less music than a few bars */
    SONG_SILENT,         /* nothing above the noise floor */
    SONG_NO_BEAT,        /* sound, but no steady beat */
};

typedef struct {
    enum song_verdict verdict;
    double duration;     /* seconds analysed */
    double tempo;        /* beats a minute (the median), 0 without beats */
    int beats_per_bar;   /* 4 or 3, 0 without beats */
    int num_beats;
    song_beat *beats;    /* sorted by time */
    int num_sections;
    song_section *sections;  /* in order, covering the piece */
} song_analysis;

/* Where the music comes from: up to `frames` mono samples (-1..1) into
 * `out`; how many, 0 at the end, -1 on an error. */
typedef int (*song_read_fn)(void *ctx, float *out, int frames);

/* Analyse music at `rate` samples a second from `read`. `stop`, when not
 * NULL, is polled between blocks: once it holds non-zero the analysis
 * gives up. 0 with *out filled (free it with song_analysis_free), -1 on a
 * read error, a stop or a lack of memory, with a one-line reason in err
 * (empty after a stop). */
int song_analyse(song_read_fn read, void *ctx, int rate, const int *stop, song_analysis *out,
                 char *err, size_t err_len);

/* The same for a sound file libsndfile reads (channels mixed down). */
int song_analyse_file(const char *path, const int *stop, song_analysis *out, char *err,
                      size_t err_len);

/* Free what an analysis holds and empty it. */
void song_analysis_free(song_analysis *a);

/* Write the analysis as JSON (one document, ending in a newline):
 * tempo, metre, beats, downbeats, sections and drops. */
void song_analysis_print_json(const song_analysis *a, FILE *out);

/* A one-line description for messages: "124.0 beats a minute, 4/4, 6
 * sections, 2 drops", or why there are no beats. Returns buf. */
const char *song_analysis_describe(const song_analysis *a, char *buf, size_t len);

#ifdef __cplusplus
}
#endif

#endif
