/* tests/lib/c_api_test.c: the header compiles as C89 and a C program renders through it.
 * A tone from memory, analysed in memory; the note into a buffer of the caller's and one of
 * the library's must agree, and an error must come back with its message. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "velorin/velorin.h"

static int failures = 0;

static void check(int ok, const char* what) {
    if (!ok) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    static short tone[44100];
    static short note[44100];
    velorin_error err;
    velorin_sample* sample;
    velorin_note n;
    short* again = NULL;
    size_t count = 0, count2 = 0, i;
    int major = -1;
    int harmonic;

    check(strcmp(velorin_version(&major, NULL, NULL), VELORIN_VERSION_STRING) == 0, "version");
    check(major == VELORIN_VERSION_MAJOR, "major version");

    for (i = 0; i < 44100; ++i) {
        double v = 0;
        for (harmonic = 1; harmonic <= 8; ++harmonic)
            v += sin(2 * 3.141592653589793 * 196.0 * harmonic * (double)i / 44100) / harmonic;
        tone[i] = (short)(6000 * v);
    }
    sample =
        velorin_sample_from_memory(tone, 44100, 44100, 1, 16, 0, VELORIN_LIST_MEMORY, NULL, &err);
    check(sample != NULL, "sample from memory");
    if (!sample) {
        printf("%s\n", err.message);
        return 1;
    }
    check(velorin_sample_list(sample) != NULL && velorin_sample_list(sample)->count > 100,
          "the analysis's list");

    velorin_note_init(&n);
    n.pitch_hz = velorin_note_hz("A3");
    n.length_ms = 500;
    n.consonant_ms = 40;
    n.flags = "g-10";
    check(velorin_render(sample, &n, note, sizeof note / sizeof note[0], &count, NULL, &err) ==
              VELORIN_OK,
          "render into the caller's buffer");
    check(count == velorin_note_samples(&n) && count == 22050, "the note's length");
    check(velorin_render_alloc(sample, &n, &again, &count2, NULL, &err) == VELORIN_OK,
          "render into the library's buffer");
    check(count2 == count && again && memcmp(note, again, count * sizeof(short)) == 0,
          "the two renders agree");
    velorin_free(again);

    n.length_ms = 1; /* too short */
    check(velorin_render_alloc(sample, &n, &again, &count2, NULL, &err) == VELORIN_ERROR_REFUSED,
          "a refused note");
    check(strstr(err.message, "too short") != NULL, "its message");
    velorin_sample_close(sample);
    if (failures == 0) printf("c_api_test: all passed\n");
    return failures != 0;
}
