// tests/lib/library_test.cpp: the library's notes against the program's files,
// its lists against the program's, and many notes at once against one at a time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/support.h"
#include "velorin/velorin.h"

using namespace velorin_test;

namespace {

struct SampleFree {
    void operator()(velorin_sample* s) const { velorin_sample_close(s); }
};
using SamplePtr = std::unique_ptr<velorin_sample, SampleFree>;

// The 16-bit samples of a note file the program wrote (its canonical 44-byte header).
std::vector<int16_t> note_file_samples(const std::string& path) {
    const std::vector<uint8_t> bytes = read_bytes(path);
    std::vector<int16_t> out;
    for (size_t i = 44; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
    return out;
}

std::vector<int16_t> taken(short* values, size_t count) {
    std::vector<int16_t> out(values, values + count);
    velorin_free(values);
    return out;
}

// A vowel sample file with its list beside it, as the program would leave them.
std::string vowel_file(const TempDir& dir, const std::string& name, int rate, double f0,
                       int channels = 1) {
    const std::vector<int16_t> mono = to_i16(make_vowel(rate, 1.2, f0, 12000.0, 30.0));
    std::vector<int16_t> frames;
    for (int16_t v : mono)
        for (int c = 0; c < channels; ++c) frames.push_back(static_cast<int16_t>(v - 700 * c));
    const std::string path = dir.file(name);
    write_bytes(path, wav_bytes_i16(frames, channels, rate));
    return path;
}

// Arguments 3 to 13 of a note, as a host gives them.
struct NoteCase {
    const char* name;
    std::vector<std::string> args;
};

const NoteCase note_cases[] = {
    {"plain", {"A4", "100", "", "50", "600", "80", "-700", "100", "0"}},
    {"flags", {"C4", "120/80", "g-20B70a200P50t30", "30", "500", "60/40", "200", "90", "40"}},
    {"no filter, reverse", {"E3", "100", "NRB0", "10", "400", "40", "0", "150", "100"}},
    {"plain bend",
     {"G3", "100", "", "20", "450", "50", "-500", "100", "0", "!150", "AAAoBQAo#3#AyA8/i"}},
    {"compressed bend",
     {"D4", "100", "g10", "20", "450", "50", "-500", "100", "0", "!120*hff2", ""}},
};

class LibraryNotes : public testing::Test {
   protected:
    TempDir dir;
};

// Every case three ways: the program (or its run in this process), a sample handle with
// typed fields, and a handle with the command line's strings: the same samples.
TEST_F(LibraryNotes, EqualTheProgramsFileSampleForSample) {
    const std::string sample = vowel_file(dir, "vowel.wav", 44100, 220.0);
    velorin_error err;
    SamplePtr handle(velorin_sample_open(sample.c_str(), VELORIN_LIST_BESIDE, nullptr, &err));
    ASSERT_TRUE(handle) << err.message;
    for (NoteCase c : note_cases) {
        SCOPED_TRACE(c.name);
        if (c.args.size() > 10 && c.args[10].empty()) {  // the plain case's bend, compressed
            const short points[] = {0, 50, 100, 80, -40, -120, 0, 30};
            char* text = nullptr;
            ASSERT_EQ(velorin_pitch_encode(points, 8, VELORIN_PITCH_HFF, 2, &text, &err),
                      VELORIN_OK);
            c.args[10] = text;
            velorin_free(text);
        }
        const std::string out = dir.file(std::string("note.wav"));
        std::vector<const char*> argv{"velorin", sample.c_str(), out.c_str()};
        for (const std::string& a : c.args) argv.push_back(a.c_str());
#ifndef _WIN32
        std::string why;
        const std::string program = built_program("velorin", &why);
        ASSERT_FALSE(program.empty()) << why;
        std::string command = shell_quoted(program);
        for (size_t i = 1; i < argv.size(); ++i) command += " " + shell_quoted(argv[i]);
        ASSERT_EQ(std::system((command + " > /dev/null 2>&1").c_str()), 0);
#else
        ASSERT_EQ(velorin_run(int(argv.size()), argv.data(), nullptr, &err), 0) << err.message;
#endif
        const std::vector<int16_t> expected = note_file_samples(out);
        ASSERT_GT(expected.size(), 1000u);

        // The strings, from the handle.
        short* values = nullptr;
        size_t count = 0;
        ASSERT_EQ(velorin_render_args(handle.get(), int(argv.size()) - 1, argv.data() + 1, &values,
                                      &count, nullptr, &err),
                  VELORIN_OK)
            << err.message;
        EXPECT_EQ(taken(values, count), expected);

        // The same note as typed fields.
        velorin_note note;
        velorin_note_init(&note);
        note.pitch_hz = velorin_note_hz(c.args[0].c_str());
        note.velocity = std::atof(c.args[1].c_str());
        const size_t slash = c.args[1].find('/');
        note.has_tail_velocity = slash != std::string::npos;
        if (note.has_tail_velocity) note.tail_velocity = std::atof(c.args[1].c_str() + slash + 1);
        note.flags = c.args[2].c_str();
        note.offset_ms = std::atof(c.args[3].c_str());
        note.length_ms = std::atof(c.args[4].c_str());
        note.consonant_ms = std::atof(c.args[5].c_str());
        const size_t tail = c.args[5].find('/');
        note.has_tail_ms = tail != std::string::npos;
        if (note.has_tail_ms) note.tail_ms = std::atof(c.args[5].c_str() + tail + 1);
        note.cutoff_ms = std::atof(c.args[6].c_str());
        note.volume = std::atof(c.args[7].c_str());
        note.modulation = std::atof(c.args[8].c_str());
        short* bend = nullptr;
        if (c.args.size() > 10) {
            note.tempo = std::atoi(c.args[9].c_str() + 1);
            int form = 0, order = 0;
            velorin_pitch_form(c.args[9].c_str(), &form, &order);
            ASSERT_EQ(velorin_pitch_decode(c.args[10].c_str(), form, order, &bend, &note.bend_count,
                                           &err),
                      VELORIN_OK);
            note.bend = bend;
        }
        std::vector<int16_t> typed(velorin_note_samples(&note));
        ASSERT_EQ(typed.size(), expected.size());
        ASSERT_EQ(
            velorin_render(handle.get(), &note, typed.data(), typed.size(), &count, nullptr, &err),
            VELORIN_OK)
            << err.message;
        EXPECT_EQ(typed, expected);
        velorin_free(bend);
    }
}

// Samples the program reads from files, given from memory and given a list by the
// caller: the same notes as the file's.
TEST_F(LibraryNotes, MemorySamplesAndCallersListsGiveTheFilesNotes) {
    const std::string path = vowel_file(dir, "stereo.wav", 48000, 180.0, 2);
    velorin_error err;
    SamplePtr file(velorin_sample_open(path.c_str(), VELORIN_LIST_BESIDE, nullptr, &err));
    ASSERT_TRUE(file) << err.message;
    const std::vector<uint8_t> bytes = read_bytes(path);
    const size_t frames = (bytes.size() - 44) / 4;
    SamplePtr memory(velorin_sample_from_memory(bytes.data() + 44, frames, 48000, 2, 16, 0,
                                                VELORIN_LIST_MEMORY, nullptr, &err));
    ASSERT_TRUE(memory) << err.message;
    SamplePtr given(velorin_sample_from_memory(bytes.data() + 44, frames, 48000, 2, 16, 0,
                                               VELORIN_LIST_CALLER, nullptr, &err));
    ASSERT_TRUE(given);
    velorin_list* read = velorin_list_read(path.c_str(), &err);
    ASSERT_TRUE(read) << err.message;
    ASSERT_EQ(velorin_sample_set_list(given.get(), read, &err), VELORIN_OK);

    // The lists: the file's, the one analysed in memory, and the analysis alone.
    const velorin_list* a = velorin_sample_list(file.get());
    const velorin_list* b = velorin_sample_list(memory.get());
    velorin_list* c =
        velorin_analyse_memory(bytes.data() + 44, frames, 48000, 2, 16, 0, 1, nullptr, &err);
    ASSERT_TRUE(a && b && c);
    for (const velorin_list* l :
         {b, static_cast<const velorin_list*>(c), static_cast<const velorin_list*>(read)}) {
        ASSERT_EQ(l->count, a->count);
        EXPECT_EQ(l->step, a->step);
        EXPECT_EQ(std::memcmp(l->hz, a->hz, sizeof(double) * size_t(a->count)), 0);
        EXPECT_EQ(l->average_hz, a->average_hz);
    }
    velorin_list_free(c);
    velorin_list_free(read);

    velorin_note note;
    velorin_note_init(&note);
    note.pitch_hz = 300;
    note.length_ms = 700;
    note.consonant_ms = 60;
    note.modulation = 50;
    note.flags = "B60";
    std::vector<std::vector<int16_t>> notes;
    for (velorin_sample* s : {file.get(), memory.get(), given.get()}) {
        short* values = nullptr;
        size_t count = 0;
        ASSERT_EQ(velorin_render_alloc(s, &note, &values, &count, nullptr, &err), VELORIN_OK)
            << err.message;
        notes.push_back(taken(values, count));
    }
    EXPECT_EQ(notes[1], notes[0]);
    EXPECT_EQ(notes[2], notes[0]);
}

// Failures come back as codes and messages; nothing is printed, nothing is left behind.
TEST_F(LibraryNotes, FailuresAreCodesWithMessages) {
    const std::string sample = vowel_file(dir, "v.wav", 44100, 200.0);
    velorin_error err;
    EXPECT_FALSE(velorin_sample_open(dir.file("missing.wav").c_str(), 0, nullptr, &err));
    EXPECT_EQ(err.code, VELORIN_ERROR_LOAD);
    EXPECT_NE(std::string(err.message).find("missing.wav"), std::string::npos);

    std::string report;
    velorin_report r{[](void* ctx, int stream, const char* text, size_t size) {
                         if (stream == 1) static_cast<std::string*>(ctx)->append(text, size);
                     },
                     &report};
    SamplePtr s(velorin_sample_open(sample.c_str(), VELORIN_LIST_MEMORY, &r, &err));
    ASSERT_TRUE(s);
    EXPECT_FALSE(file_exists(dir.file("v_wav.frq")));  // analysed in memory only
    velorin_note note;
    velorin_note_init(&note);
    note.length_ms = 300;
    note.cutoff_ms = 5000;  // more than the sample
    EXPECT_EQ(velorin_render_file(s.get(), &note, dir.file("n.wav").c_str(), &r, &err),
              VELORIN_ERROR_REFUSED);
    EXPECT_STREQ(err.message, "the note was not rendered: No samples available.");
    EXPECT_FALSE(file_exists(dir.file("n.wav")));
    EXPECT_NE(report.find("target freq = 265.0000"), std::string::npos) << report;

    note.cutoff_ms = 0;
    short small[10];
    size_t count = 0;
    EXPECT_EQ(velorin_render(s.get(), &note, small, 10, &count, nullptr, &err),
              VELORIN_ERROR_BUFFER);
    EXPECT_EQ(count, size_t(13230));
    EXPECT_EQ(velorin_render_file(s.get(), &note, dir.file("no/such/folder/n.wav").c_str(), nullptr,
                                  &err),
              VELORIN_ERROR_WRITE);
    EXPECT_EQ(velorin_render(nullptr, &note, nullptr, 0, &count, nullptr, &err), VELORIN_OK);
    short* none = nullptr;
    EXPECT_EQ(velorin_render_alloc(nullptr, &note, &none, &count, nullptr, &err),
              VELORIN_ERROR_ARGUMENT);
}

TEST(LibraryPitch, TextsRoundTripInEveryForm) {
    const short points[] = {0, 5, 12, 30, 31, 31, -20, -150, -140, 0, 0, 0, 0, 7};
    const int n = int(sizeof points / sizeof points[0]);
    for (int form = VELORIN_PITCH_PLAIN; form <= VELORIN_PITCH_HFF; ++form) {
        SCOPED_TRACE(form);
        char* text = nullptr;
        velorin_error err;
        ASSERT_EQ(velorin_pitch_encode(points, n, form, 2, &text, &err), VELORIN_OK);
        short* back = nullptr;
        int count = 0;
        ASSERT_EQ(velorin_pitch_decode(text, form, 2, &back, &count, &err), VELORIN_OK);
        EXPECT_EQ(std::vector<short>(back, back + count), std::vector<short>(points, points + n));
        velorin_free(text);
        velorin_free(back);
    }
    int form = -1, order = -1;
    velorin_pitch_form("!120*cmp1", &form, &order);
    EXPECT_EQ(form, VELORIN_PITCH_CMP);
    EXPECT_EQ(order, 1);
    velorin_pitch_form("!120", &form, &order);
    EXPECT_EQ(form, VELORIN_PITCH_PLAIN);
}

// 8 threads rendering 200 notes from 4 handles give the bytes one thread gives.
struct Job {
    velorin_sample* sample;
    velorin_note note;
    std::vector<int16_t> out;
    int status = -1;
};

struct Worker {
    std::vector<Job>* jobs;
    int first;
    int stride;
};

void render_jobs(void* arg) {
    const Worker& w = *static_cast<Worker*>(arg);
    for (size_t i = size_t(w.first); i < w.jobs->size(); i += size_t(w.stride)) {
        Job& j = (*w.jobs)[i];
        short* values = nullptr;
        size_t count = 0;
        j.status = velorin_render_alloc(j.sample, &j.note, &values, &count, nullptr, nullptr);
        if (j.status == VELORIN_OK) j.out = taken(values, count);
    }
}

TEST(LibraryThreads, ManyNotesAtOnceGiveTheBytesOfOneAtATime) {
    TempDir dir;
    std::vector<SamplePtr> samples;
    const double f0[4] = {150.0, 210.0, 260.0, 330.0};
    for (int k = 0; k < 4; ++k) {
        const std::string path =
            vowel_file(dir, "v" + std::to_string(k) + ".wav", k == 3 ? 22050 : 44100, f0[k]);
        velorin_error err;
        samples.emplace_back(velorin_sample_open(path.c_str(), k % 2, nullptr, &err));
        ASSERT_TRUE(samples.back()) << err.message;
    }
    const char* flags[] = {"", "g-30", "B80", "NS1", "Rg15", "P0B20"};
    std::vector<Job> jobs(200);
    for (size_t i = 0; i < jobs.size(); ++i) {
        Job& j = jobs[i];
        j.sample = samples[i % 4].get();
        velorin_note_init(&j.note);
        j.note.pitch_hz = 120.0 + 7.0 * double(i % 50);
        j.note.length_ms = 100.0 + double(i % 7) * 30.0;
        j.note.consonant_ms = 30;
        j.note.modulation = double(i % 3) * 50;
        j.note.flags = flags[i % 6];
    }
    std::vector<Job> alone = jobs;
    Worker one{&alone, 0, 1};
    render_jobs(&one);
    Worker workers[8];
    velorin::Thread* threads[8];
    for (int t = 0; t < 8; ++t) {
        workers[t] = Worker{&jobs, t, 8};
        threads[t] = velorin::thread_start(render_jobs, &workers[t]);
        ASSERT_TRUE(threads[t]);
    }
    for (velorin::Thread* t : threads) velorin::thread_join(t);
    for (size_t i = 0; i < jobs.size(); ++i) {
        ASSERT_EQ(alone[i].status, VELORIN_OK) << i;
        ASSERT_EQ(jobs[i].status, VELORIN_OK) << i;
        ASSERT_EQ(jobs[i].out, alone[i].out) << i;
    }
}

}  // namespace
