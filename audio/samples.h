// audio/samples.h: the stored sample formats, decoded in one place.
//
// Every reader of sample data (the render reader in audio/wav.cpp, the
// windowed-sinc readers in synth/kernels.cpp, the pitch estimate in
// frq/period.cpp and its amplitude measure in frq/freq_gen.cpp) takes its
// values from here: first the stored value (`stored_*`, no scaling), then a
// scaling onto the 16-bit scale, where full scale is about +-32768.
//
// Two scalings of the same formats exist on purpose, and their outputs depend
// on them bit for bit:
// - The render reader centres its formats on the middle of the 16-bit range:
//   8-bit samples are (x - 127.5) * 256 and floats x * 32767.5, so full scale
//   reaches +-32767.5 either way, and the WAV writer divides floats by the
//   same 32767.5 so that a float file reads back as written.
// - The analysis readers filter the stored values first and scale the
//   filtered result: 8-bit as v * 256 - 32640 (the same centre, 127.5 * 256,
//   subtracted after the filter) and floats by 2^15 = 32768, an exact power of
//   two that leaves the filtered value's bits alone. 64-bit floats are not
//   scaled there at all.
// Header-only: the synthesis layer uses it without linking the audio library.
#pragma once

#include <cstdint>

#include "audio/bytes.h"

namespace velorin {

// Stored values, little-endian, before any scaling.
inline int32_t le_i24(const uint8_t* p) {
    int32_t x = static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16);
    if (x & 0x800000) x -= 0x1000000;  // sign from bit 23
    return x;
}
inline double stored_u8(const uint8_t* p) { return static_cast<double>(p[0]); }
inline double stored_i16(const uint8_t* p) { return static_cast<int16_t>(le_u16(p)); }
inline double stored_i24(const uint8_t* p) { return static_cast<double>(le_i24(p)); }
inline double stored_i32(const uint8_t* p) { return static_cast<int32_t>(le_u32(p)); }
inline double stored_f32(const uint8_t* p) { return static_cast<double>(le_f32(p)); }
inline double stored_f64(const uint8_t* p) { return le_f64(p); }

// Scalings onto the 16-bit scale.
constexpr double u8_centre = 127.5;                    // between stored 127 and 128
constexpr double u8_to_16bit = 256.0;                  // 2^8
constexpr double i24_to_16bit = 0.00390625;            // 2^-8
constexpr double i32_to_16bit = 0.0000152587890625;    // 2^-16
constexpr double float_full_scale_render = 32767.5;    // the render reader and the writer
constexpr double float_full_scale_analysis = 32768.0;  // the analysis readers, 2^15

// The render reader's value of one stored sample; 0 for a depth it does not
// convert. A 32-bit sample is an integer with format tag 1, a float otherwise.
inline double render_sample_value(const uint8_t* p, int bits, int format_tag) {
    switch (bits) {
        case 8:
            return (p[0] - u8_centre) * u8_to_16bit;
        case 16:
            return stored_i16(p);
        case 24:
            return le_i24(p) * i24_to_16bit;
        case 32:
            if (format_tag == 1) return static_cast<int32_t>(le_u32(p)) * i32_to_16bit;
            return le_f32(p) * float_full_scale_render;
        case 64:
            return le_f64(p) * float_full_scale_render;
        default:
            return 0.0;
    }
}

// The analysis readers' stored value of one sample (32 bits is a float
// there); 0 for a depth they do not read.
inline double analysis_stored_value(const uint8_t* p, int bits) {
    switch (bits) {
        case 8:
            return stored_u8(p);
        case 16:
            return stored_i16(p);
        case 24:
            return stored_i24(p);
        case 32:
            return stored_f32(p);
        case 64:
            return stored_f64(p);
        default:
            return 0.0;
    }
}

// The analysis readers' scaling of a filtered value v: v * scale - offset.
struct AnalysisScaling {
    double scale;
    double offset;
};
inline AnalysisScaling analysis_scaling(int bits) {
    switch (bits) {
        case 8:
            return {u8_to_16bit, u8_centre * u8_to_16bit};  // 32640
        case 24:
            return {i24_to_16bit, 0.0};
        case 32:
            return {float_full_scale_analysis, 0.0};
        default:  // 16 bits as stored; 64-bit floats unscaled
            return {1.0, 0.0};
    }
}

}  // namespace velorin
