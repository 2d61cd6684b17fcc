/* velorin/velorin.h: the velorin library, the voice resampler inside the velorin program.
 *
 * A sample is opened once (from a file or from memory) with its frequency list, and any
 * number of notes are rendered from it: into the caller's buffer, into a buffer the
 * library allocates, or into a 44.1 kHz 16-bit mono WAV file. A note gives the very
 * samples the velorin program writes for the same arguments.
 *
 * Conventions:
 * - Texts are UTF-8. Paths are UTF-8 on every system.
 * - A function that can fail returns a status (VELORIN_OK is 0) and, when `err` is not
 *   null, fills it with the status and a message; the library never prints. A function
 *   that returns a pointer returns null on failure.
 * - `report`, where a call takes one, receives the console report the program would
 *   print (stream 1) and its messages (stream 2); null: nothing is reported.
 * - Thread safety: every function may be called from any thread at any time. A sample
 *   handle is read-only once opened (velorin_sample_set_list aside), so any number of
 *   notes may render from one or several handles at once. The library keeps no global
 *   state that one call can see of another's.
 * - Memory the library allocates for the caller is released with velorin_free, lists with
 *   velorin_list_free, samples with velorin_sample_close.
 */
#ifndef VELORIN_VELORIN_H
#define VELORIN_VELORIN_H

#include <stddef.h>

#define VELORIN_VERSION_MAJOR 0
#define VELORIN_VERSION_MINOR 5
#define VELORIN_VERSION_PATCH 0
#define VELORIN_VERSION_STRING "0.5.0"

#if defined(VELORIN_STATIC)
#define VELORIN_API
#elif defined(_WIN32)
#if defined(VELORIN_BUILDING)
#define VELORIN_API __declspec(dllexport)
#else
#define VELORIN_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define VELORIN_API __attribute__((visibility("default")))
#else
#define VELORIN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Version ------------------------------------------------------------------ */

/* The library's version, "MAJOR.MINOR.PATCH"; the parts, when not null, get its numbers.
 * A program built against this header may compare them with the macros above. */
VELORIN_API const char* velorin_version(int* major, int* minor, int* patch);

/* ---- Errors and the report ------------------------------------------------------ */

enum velorin_status {
    VELORIN_OK = 0,
    VELORIN_ERROR_ARGUMENT = 1, /* a null pointer or a value outside its domain */
    VELORIN_ERROR_LOAD = 2,     /* the sample cannot be read */
    VELORIN_ERROR_LIST = 3,     /* no frequency list: none could be read or analysed */
    VELORIN_ERROR_REFUSED = 4,  /* the note was refused: too short, no samples in its
                                   region, no stretchable range, or too long */
    VELORIN_ERROR_WRITE = 5,    /* a file could not be written */
    VELORIN_ERROR_MEMORY = 6,   /* memory ran out */
    VELORIN_ERROR_BUFFER = 7,   /* the caller's buffer is too small */
    VELORIN_ERROR_PITCH = 8     /* a pitch-bend text or curve that cannot be coded */
};

/* What went wrong: the status and a message, zero-terminated (truncated to fit). */
typedef struct velorin_error {
    int code;
    char message[512];
} velorin_error;

/* The console report: `stream` 1 for the report, 2 for messages; `text` holds `size`
 * bytes, not terminated. Called from the calling thread and from the threads a call
 * starts, one at a time within a call. */
typedef void (*velorin_report_fn)(void* context, int stream, const char* text, size_t size);
typedef struct velorin_report {
    velorin_report_fn write;
    void* context;
} velorin_report;

/* Releases memory the library allocated for the caller (notes, points, texts). */
VELORIN_API void velorin_free(void* memory);

/* ---- Frequency lists ------------------------------------------------------------ */

/* A frequency list: one frame every `step` samples of the sample, each with the
 * frequency found (Hz; 0 or anything <= 1 is unvoiced) and the amplitude. */
typedef struct velorin_list {
    int step;          /* samples of the source between frames */
    int count;         /* frames */
    int sample_rate;   /* Hz; 0 where the file does not say */
    double average_hz; /* the list's average frequency */
    double* hz;        /* count values */
    double* amplitude; /* count values */
} velorin_list;

/* Analyses a sample file (WAV, AIFF, or a compressed form through its decoder) with
 * `threads` threads (0: one per processor; every count gives the same list) and returns
 * the list; nothing is written. */
VELORIN_API velorin_list* velorin_analyse_file(const char* path, int threads,
                                               const velorin_report* report, velorin_error* err);

/* The same for samples in memory (see velorin_sample_from_memory for the layout). */
VELORIN_API velorin_list* velorin_analyse_memory(const void* samples, size_t frames, int rate,
                                                 int channels, int bits, int is_float, int threads,
                                                 const velorin_report* report, velorin_error* err);

/* Reads a list file (a sample's path names the list beside it, "voice_wav.frq" for
 * "voice.wav"; a path ending in ".frq" is the list itself). */
VELORIN_API velorin_list* velorin_list_read(const char* path, velorin_error* err);

/* Writes a list file, whole or not at all, to `path` (a sample's path: beside it). */
VELORIN_API int velorin_list_write(const char* path, const velorin_list* list, velorin_error* err);

/* A new list of `count` frames, all zero, to fill and give to velorin_sample_set_list
 * or velorin_list_write. */
VELORIN_API velorin_list* velorin_list_new(int count, int step, int sample_rate,
                                           velorin_error* err);

VELORIN_API void velorin_list_free(velorin_list* list); /* null is ignored */

/* ---- Samples -------------------------------------------------------------------- */

typedef struct velorin_sample velorin_sample;

/* How a sample gets its frequency list. */
enum velorin_list_source {
    VELORIN_LIST_BESIDE = 0,  /* read the list beside the sample; when it is missing or
                                 unusable, analyse and write it there (the program's way) */
    VELORIN_LIST_REFRESH = 1, /* analyse and write it beside the sample (the program's G) */
    VELORIN_LIST_MEMORY = 2,  /* analyse, and read and write no file */
    VELORIN_LIST_CALLER = 3   /* none yet: the caller gives it (velorin_sample_set_list) */
};

/* Opens a sample file for rendering and obtains its list as `list_source` says. Notes
 * render from WAV files as the program does; a sample the analysis reads in another form
 * (AIFF, or a compressed form) is rendered from its decoded samples. */
VELORIN_API velorin_sample* velorin_sample_open(const char* path, int list_source,
                                                const velorin_report* report, velorin_error* err);

/* A sample from memory: `frames` frames of `channels` interleaved values as a WAV file
 * stores them (little-endian; 8-bit values unsigned), `bits` 8, 16, 24 or 32 integer, or
 * 32 or 64 with `is_float`. The samples are copied. `list_source` is VELORIN_LIST_MEMORY
 * or VELORIN_LIST_CALLER (there is no file to put a list beside). */
VELORIN_API velorin_sample* velorin_sample_from_memory(const void* samples, size_t frames, int rate,
                                                       int channels, int bits, int is_float,
                                                       int list_source,
                                                       const velorin_report* report,
                                                       velorin_error* err);

/* Gives the sample the caller's list (copied). Not while notes render from it. */
VELORIN_API int velorin_sample_set_list(velorin_sample* sample, const velorin_list* list,
                                        velorin_error* err);

/* The sample's list (owned by the sample), or null while it has none. */
VELORIN_API const velorin_list* velorin_sample_list(const velorin_sample* sample);

/* The sample's format and length; any pointer may be null. */
VELORIN_API void velorin_sample_format(const velorin_sample* sample, int* rate, int* channels,
                                       int* bits, size_t* frames);

VELORIN_API void velorin_sample_close(velorin_sample* sample); /* null is ignored */

/* ---- Notes ---------------------------------------------------------------------- */

/* A note's arguments, the command line's arguments 3 to 13 as values. Start from
 * velorin_note_init. */
typedef struct velorin_note {
    double pitch_hz;       /* 3: the target pitch (velorin_note_hz reads a note name) */
    double velocity;       /* 4: consonant velocity, 100 keeps the natural speed */
    int has_tail_velocity; /* 4 after "/": the tail's own velocity */
    double tail_velocity;
    const char* flags;   /* 5: the flag letters and their numbers, e.g. "g-5B40"; may be null:
                            g formant shift, B breath, a breath shape, P peak normalisation,
                            N no filter, R reverse, i tail, v tail velocity, t fine tuning in
                            cents, S workers, n no report (G is the sample's list source) */
    double offset_ms;    /* 6: start of the used region */
    double length_ms;    /* 7: the note's length; samples: ceil(length_ms * 44.1) */
    double consonant_ms; /* 8: the fixed head */
    int has_tail_ms;     /* 8 after "/": the fixed tail (wins over flag i) */
    double tail_ms;
    double cutoff_ms;  /* 9: end of the region; negative: measured from the offset */
    double volume;     /* 10: percent, 0..200 */
    double modulation; /* 11: percent of the sample's own pitch wobble kept */
    int tempo;         /* 12: beats per minute of the bend's points (0: 256 samples each) */
    const short* bend; /* 13: the bend's points in cents, one every 0.625 / tempo minutes */
    int bend_count;
} velorin_note;

/* The defaults: 265 Hz, velocity 100, volume 100, everything else 0 or null. */
VELORIN_API void velorin_note_init(velorin_note* note);

/* A note name such as "A4", "C#3", "Bb2" or "A4+50" (cents) in Hz, as the command line
 * reads argument 3. */
VELORIN_API double velorin_note_hz(const char* name);

/* The samples a note will have (0 for a length the note refuses). */
VELORIN_API size_t velorin_note_samples(const velorin_note* note);

/* Renders a note into `out` (44.1 kHz mono, 16-bit values); *count gets the samples
 * written. With `out` null or `capacity` too small nothing is rendered: *count gets the
 * samples needed and VELORIN_ERROR_BUFFER is returned (VELORIN_OK for a null `out`). */
VELORIN_API int velorin_render(const velorin_sample* sample, const velorin_note* note, short* out,
                               size_t capacity, size_t* count, const velorin_report* report,
                               velorin_error* err);

/* Renders into a buffer the library allocates (velorin_free). */
VELORIN_API int velorin_render_alloc(const velorin_sample* sample, const velorin_note* note,
                                     short** out, size_t* count, const velorin_report* report,
                                     velorin_error* err);

/* Renders into a 44.1 kHz 16-bit mono WAV file, written whole or not at all. */
VELORIN_API int velorin_render_file(const velorin_sample* sample, const velorin_note* note,
                                    const char* path, const velorin_report* report,
                                    velorin_error* err);

/* Renders from the command line's strings: `args` holds `count` (at most 13) of the
 * program's arguments in their order, input, output, pitch, velocity, flags, offset,
 * length, consonant, cutoff, volume, modulation, tempo and pitch bend. The input and
 * output are not read: the note comes from `sample` into a buffer the library allocates.
 * Numbers are read in the calling process's locale, which the library never changes. */
VELORIN_API int velorin_render_args(const velorin_sample* sample, int count,
                                    const char* const* args, short** out, size_t* samples,
                                    const velorin_report* report, velorin_error* err);

/* One run of the velorin program in this process: `argv` as its main receives it
 * (argv[0] the program's name, then up to 13 arguments); the sample is loaded and the note
 * written as the program does, the report goes to `report`. Returns the program's exit
 * code (0, 1 or 99); `err` gets the message of a run that ends without a note. */
VELORIN_API int velorin_run(int argc, const char* const* argv, const velorin_report* report,
                            velorin_error* err);

/* ---- Pitch-bend texts ------------------------------------------------------------ */

/* The forms of a bend text: the plain form (two base64 digits a point, "#n#" repeating
 * the last point), and the three compressed forms with their delta order. A command line names a
 * compressed form after a "*" in the tempo argument ("!120*hff2"); velorin_pitch_form reads it from
 * there. */
enum velorin_pitch_forms {
    VELORIN_PITCH_PLAIN = 0,
    VELORIN_PITCH_ENC = 1,
    VELORIN_PITCH_CMP = 2,
    VELORIN_PITCH_HFF = 3
};

/* The form and order a tempo argument names (VELORIN_PITCH_PLAIN without a "*"). */
VELORIN_API void velorin_pitch_form(const char* tempo, int* form, int* order);

/* Decodes a bend text into points in cents (velorin_free); *count 0 and no points when
 * the text holds none. */
VELORIN_API int velorin_pitch_decode(const char* text, int form, int order, short** points,
                                     int* count, velorin_error* err);

/* Encodes points (at most 32767) as a bend text (velorin_free). */
VELORIN_API int velorin_pitch_encode(const short* points, int count, int form, int order,
                                     char** text, velorin_error* err);

#ifdef __cplusplus
}
#endif

#endif /* VELORIN_VELORIN_H */
