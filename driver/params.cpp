// driver/params.cpp: reading the positional arguments and the flag string.
#include "driver/params.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <memory>

#include "pitch/curve.h"
#include "pitch/dispatch.h"
#include "pitch/plain.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/wstrconv.h"

namespace velorin {

namespace {

struct PitchCurveFree {
    void operator()(int16_t* c) const { free_pitch_curve(c); }
};
using PitchCurvePtr = std::unique_ptr<int16_t, PitchCurveFree>;

// The double nearest to 1/1200: a point in cents times this is octaves.
constexpr double cents_to_octaves = 1.0 / 1200;

// Truncation toward zero. Values beyond the int range saturate and NaN gives 0, so a
// wild argument gives a wild number, never undefined behaviour.
int truncate_to_int(double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(INT_MAX) + 1.0) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);
}

// Keeps v within lo..hi; NaN counts as below the range.
double clamp_to(double v, double lo, double hi) {
    if (!(v >= lo)) return lo;
    if (v > hi) return hi;
    return v;
}

// The number after the first occurrence of `letter`, truncated; 0 when no number
// follows. False when the letter does not occur.
bool flag_value(const wchar_t* flags, wchar_t letter, int* value) {
    const wchar_t* at = std::wcschr(flags, letter);
    if (!at) return false;
    *value = truncate_to_int(wtof(at + 1));
    return true;
}

bool flag_present(const wchar_t* flags, wchar_t letter) {
    return std::wcschr(flags, letter) != nullptr;
}

double velocity_factor(double v) { return std::pow(2.0, v * 0.01 - 1); }

// The order of the letters matters where two of them touch the same field: 'v' comes
// after argument 4 and 't' tunes the pitch that argument 3 set.
void apply_flags(const wchar_t* flags, RenderParams* p) {
    int v = 0;
    if (flag_value(flags, L'g', &v)) p->gender = std::pow(10.0, v * 0.005);
    if (flag_present(flags, L'N')) p->no_filter = true;
    if (flag_value(flags, L'B', &v)) p->breath = v * 0.01;
    if (flag_value(flags, L'a', &v)) p->breath_alpha = clamp_to(v * 0.01, 0, 10);
    if (flag_value(flags, L'P', &v)) p->peak_strength = v * 0.01;
    if (flag_present(flags, L'R')) p->reverse = true;
    if (flag_value(flags, L'i', &v)) p->tail_ms = v * 0.01;
    if (flag_value(flags, L'v', &v)) p->tail_velocity = velocity_factor(v);
    if (flag_value(flags, L'S', &v)) p->thread_request = v;
    if (flag_present(flags, L'G')) p->regenerate = true;
    // Fine tuning is limited to two semitones each way; 't200' is ignored, 't-200' is not.
    if (flag_value(flags, L't', &v) && v >= -200 && v < 200)
        p->target_freq *= std::pow(2.0, v / 1200.0);
    if (flag_present(flags, L'n')) p->verbose = false;
}

// The tempo argument's first character is a marker ('!') and is skipped whatever it
// is, so a bare '120' reads as 20. The number stops at a '*', if any.
int read_tempo(const wchar_t* arg) {
    const double v = arg[0] != 0 ? wtof(arg + 1) : 0.0;
    return static_cast<int16_t>(truncate_to_int(v));  // a signed 16-bit value: wraps
}

// The tempo argument's codec choice and the bend string: the points in cents, empty
// when the string yields none.
std::vector<int16_t> read_pitch_bend(const wchar_t* tempo_arg, const wchar_t* bend) {
    int variant = 0;
    int order = 0;
    PitchCurvePtr curve(select_pitch_form(tempo_arg, &variant, &order)
                            ? decpitch(bend, order, variant)
                            : decplain(bend));
    if (!curve || curve.get()[0] <= 0) return {};
    const int16_t* points = curve.get();
    return std::vector<int16_t>(points + 1, points + 1 + points[0]);
}

void apply_pitch_bend(const NoteArgs& a, RenderParams* p) {
    p->tempo = a.tempo;
    // A curve without points is no curve: the target holds for the whole note.
    if (a.bend.empty()) return;
    const int count = static_cast<int>(a.bend.size());
    p->pitch_step = p->tempo >= 1 ? truncate_to_int(0.625 / p->tempo * 44100 + 0.5) : 256;
    p->pitch_count = count;
    p->pitch_freq.resize(static_cast<size_t>(count) + 1);
    for (int k = 1; k <= count; ++k)
        p->pitch_freq[k - 1] = p->target_freq * std::pow(2.0, a.bend[k - 1] * cents_to_octaves);
    // The entry past the last point stands for every position after the curve's end:
    // there the note sings the unbent target.
    p->pitch_freq[count] = p->target_freq;
}

}  // namespace

void print_usage_banner() {
    sayf(stdout, "velorin.exe ver%d.%02d test for x%d\n", 0, 5, sizeof(void*) == 8 ? 64 : 86);
    say(stdout,
        "usage: velorin.exe INPUT OUTPUT [PITCH [VELOCITY [FLAGS [OFFSET [LENGTH [CONSONANT "
        "[CUTOFF [VOLUME [MODULATION [TEMPO PITCHBEND]]]]]]]]]]\n");
}

double note_name_to_hz(const wchar_t* name) {
    static const int semitone_of[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    const wint_t letter = std::towupper(static_cast<wint_t>(name[0]));
    const int semitone = letter >= L'A' && letter <= L'G' ? semitone_of[letter - L'A'] : 0;
    int accidental = 0;
    const wchar_t* octave_text = name[0] != 0 ? name + 1 : name;
    if (octave_text[0] == L'#' || octave_text[0] == L'b') {
        accidental = octave_text[0] == L'#' ? 1 : -1;
        ++octave_text;
    }
    wchar_t* rest = nullptr;
    const int32_t octave = wcstol32(octave_text, &rest, 10);
    // The note number is 32-bit arithmetic that wraps, as on the Windows build; a
    // saturated octave then lands wherever the wrap puts it, never on undefined behaviour.
    const int64_t wide_n = int64_t{semitone} + accidental + int64_t{12} * octave + 12;
    const int n = static_cast<int32_t>(static_cast<uint32_t>(wide_n));
    const int cents = rest[0] != 0 ? wtoi32(rest) : 0;
    // Single precision on purpose: the rounding of the note number to float and the
    // float subtraction are part of the result, and so is the factor, a little below
    // 1/12.
    const float note = static_cast<float>(n + cents * 0.01);
    const float from_a4 = note - 69.0f;
    const double x = from_a4;
    return 440.0 * std::pow(2.0, x * 0.0833333333333333);
}

void params_from_args(const NoteArgs& a, RenderParams* params) {
    RenderParams& p = *params;
    p.volume = a.volume * 0.01;
    p.modulation = a.modulation * 0.01;
    p.offset_ms = a.offset_ms;
    p.cutoff_ms = a.cutoff_ms;
    p.outlen = truncate_to_int(std::ceil(a.length_ms * 44.1));
    p.target_freq = a.pitch_hz;
    p.head_velocity = velocity_factor(a.velocity);
    p.tail_velocity = a.has_tail_velocity ? velocity_factor(a.tail_velocity) : p.head_velocity;
    apply_flags(a.flags.c_str(), &p);
    p.consonant_ms = a.consonant_ms;
    // An explicit tail here wins over flag i.
    if (a.has_tail_ms) p.tail_ms = a.tail_ms;
    p.volume = clamp_to(p.volume, 0, 2);
    apply_pitch_bend(a, &p);
}

int parse_invocation(int argc, wchar_t** argv, RenderParams* params, bool switch_locale) {
    RenderParams& p = *params;
    p = RenderParams();
    NoteArgs a;
    auto arg = [&](int i) -> const wchar_t* { return i < argc ? argv[i] : nullptr; };

    // These four are read before the locale switch, so their decimal separator is
    // always '.'; the length and everything after it follow the user's locale.
    if (const wchar_t* v = arg(10)) a.volume = wtof(v);
    if (const wchar_t* v = arg(11)) a.modulation = wtof(v);
    if (const wchar_t* v = arg(6)) a.offset_ms = wtof(v);
    if (const wchar_t* v = arg(9)) a.cutoff_ms = wtof(v);
    if (switch_locale) locale_from_environment();
    if (const wchar_t* v = arg(7)) a.length_ms = wtof(v);

    // Without an output path there is nothing to render either.
    if (argc < 3) {
        print_usage_banner();
        return 99;
    }
    p.input_path = argv[1];
    p.output_path = argv[2];
    // The WAV stream goes to standard output; no report may mix with it.
    if (p.output_path == L"-") p.verbose = false;

    if (const wchar_t* v = arg(3)) {
        // Upper case only: 'a4' is not a note name and reads as the number 0.
        a.pitch_hz = v[0] >= L'A' && v[0] <= L'G' ? note_name_to_hz(v) : wtof(v);
    }
    if (const wchar_t* v = arg(4)) {
        a.velocity = wtof(v);
        const wchar_t* slash = std::wcschr(v, L'/');
        a.has_tail_velocity = slash != nullptr;
        if (slash) a.tail_velocity = wtof(slash + 1);
    }
    if (const wchar_t* v = arg(5)) a.flags = v;
    if (const wchar_t* v = arg(8)) {
        a.consonant_ms = wtof(v);
        const wchar_t* slash = std::wcschr(v, L'/');
        a.has_tail_ms = slash != nullptr;
        if (slash) a.tail_ms = wtof(slash + 1);
    }
    if (argc >= 14) {
        a.tempo = read_tempo(argv[12]);
        a.bend = read_pitch_bend(argv[12], argv[13]);
    }
    params_from_args(a, &p);
    return 0;
}

}  // namespace velorin
