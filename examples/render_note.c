/* examples/render_note.c: one note from a voice sample through libvelorin.
 *
 *   render_note SAMPLE.wav OUT.wav [NOTE [LENGTH_MS [FLAGS]]]
 *
 * Build against the installed library:
 *   cc render_note.c $(pkg-config --cflags --libs velorin) -o render_note
 * or statically:
 *   cc render_note.c $(pkg-config --static --cflags --libs velorin) -static -o render_note
 */
#include <stdio.h>
#include <stdlib.h>

#include <velorin/velorin.h>

static void show(void* context, int stream, const char* text, size_t size) {
    (void)context;
    fwrite(text, 1, size, stream == 1 ? stdout : stderr);
}

int main(int argc, char** argv) {
    velorin_report report;
    velorin_error err;
    velorin_sample* sample;
    velorin_note note;
    int status;

    if (argc < 3) {
        fprintf(stderr, "usage: render_note SAMPLE.wav OUT.wav [NOTE [LENGTH_MS [FLAGS]]]\n");
        return 2;
    }
    report.write = show;
    report.context = NULL;
    printf("libvelorin %s\n", velorin_version(NULL, NULL, NULL));

    /* The list beside the sample is read, or made and written there, as velorin does. */
    sample = velorin_sample_open(argv[1], VELORIN_LIST_BESIDE, NULL, &err);
    if (!sample) {
        fprintf(stderr, "render_note: %s\n", err.message);
        return 1;
    }
    velorin_note_init(&note);
    note.pitch_hz = velorin_note_hz(argc > 3 ? argv[3] : "A4");
    note.length_ms = argc > 4 ? atof(argv[4]) : 1000;
    note.consonant_ms = 50;
    note.flags = argc > 5 ? argv[5] : "";
    status = velorin_render_file(sample, &note, argv[2], &report, &err);
    if (status != VELORIN_OK) fprintf(stderr, "render_note: %s\n", err.message);
    velorin_sample_close(sample);
    return status == VELORIN_OK ? 0 : 1;
}
