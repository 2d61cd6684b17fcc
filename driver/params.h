// driver/params.h: the command line of one run, read into the render parameters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velorin {

// Positional arguments (argv index): 1 input, 2 output, 3 target pitch, 4 velocities,
// 5 flags, 6 offset, 7 length, 8 consonant/tail, 9 cutoff, 10 volume, 11 modulation,
// 12 tempo, 13 pitch-bend string. Filled once by parse_invocation before the input is
// loaded; read-only afterwards, except that the driver may decide `verbose` once more
// when `regenerate` is set.
struct RenderParams {
    std::wstring input_path;
    std::wstring output_path;    // "-" writes the WAV to standard output
    double target_freq = 265.0;  // Hz, after fine tuning (flag t)
    double head_velocity = 1.0;  // speed factor of the fixed head (consonant) region
    double tail_velocity = 1.0;  // speed factor of the fixed tail region
    double offset_ms = 0;        // start of the used region of the sample
    int outlen = 0;              // output samples at 44100 Hz
    double consonant_ms = 0;     // fixed head region
    double tail_ms = 0;          // fixed tail region
    double cutoff_ms = 0;        // end of the used region; negative: measured from the offset
    double volume = 1.0;         // factor, 0..2
    double modulation = 0;       // share of the sample's own pitch wobble kept; not clamped
    double gender = 1.0;         // formant shift factor
    bool no_filter = false;
    double breath = 0.5;          // fraction, not clamped
    double breath_alpha = 0.5;    // 0..10
    double peak_strength = 0.86;  // exponent of the peak normalisation, clamped where used
    bool reverse = false;
    int thread_request = 0;          // 1..64: that many workers; anything else: automatic
    bool regenerate = false;         // rebuild the frequency list
    bool verbose = true;             // console report on standard output
    std::vector<double> pitch_freq;  // pitch_count + 1 values in Hz, the last one unbent;
                                     // empty: no bend, target_freq throughout
    int pitch_count = 0;             // number of points of the pitch-bend curve
    int pitch_step = 256;            // output samples per point
    int tempo = 0;                   // as read, a signed 16-bit value
};

// The note's arguments as the values their strings read as, before the flags and the
// bend are applied: what a caller that holds numbers rather than a command line gives.
struct NoteArgs {
    double pitch_hz = 265.0;         // argument 3
    double velocity = 100;           // argument 4; 100 keeps the natural speed
    bool has_tail_velocity = false;  // argument 4 after its '/'
    double tail_velocity = 100;
    std::wstring flags;        // argument 5
    double offset_ms = 0;      // argument 6
    double length_ms = 0;      // argument 7
    double consonant_ms = 0;   // argument 8
    bool has_tail_ms = false;  // argument 8 after its '/'
    double tail_ms = 0;
    double cutoff_ms = 0;       // argument 9
    double volume = 100;        // argument 10, percent
    double modulation = 0;      // argument 11, percent
    int tempo = 0;              // argument 12 as read: a signed 16-bit value
    std::vector<int16_t> bend;  // argument 13 decoded: points in cents; empty: no bend
};

// Sets every field of `params` the arguments decide, as the command line does: the
// flags after argument 4 and before argument 8's tail, the volume clamped, the bend
// last. The paths and `verbose` stay as they are unless flag n turns the report off.
void params_from_args(const NoteArgs& args, RenderParams* params);

// Reads the wide argument vector into `params`. Returns 0 to go on with the run, or 99
// after printing the usage banner: for the program name alone, and for an input without
// an output path. Never rejects a value: unreadable numbers read as 0, missing arguments
// keep their defaults. Switches every locale category to the user's default on the way,
// so the length and everything after it follow the user's decimal separator, while the
// volume, modulation, offset and cutoff are read before the switch. Main thread only.
// Without `switch_locale` (a caller inside someone else's process) the locale is left as
// the process has it, and every number follows it.
int parse_invocation(int argc, wchar_t** argv, RenderParams* params, bool switch_locale = true);

// The two banner lines on standard output.
void print_usage_banner();

// A note name such as "A4", "C#3", "Bb2" or "A4+50" (cents) in Hz, A4 being 440 Hz.
// The first letter is taken without regard to case; an unknown letter counts as C.
double note_name_to_hz(const wchar_t* name);

}  // namespace velorin
