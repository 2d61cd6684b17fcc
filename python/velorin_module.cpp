// python/velorin_module.cpp: the Python module velorin, a caller of the C API
// (velorin/velorin.h) with numpy arrays in and out. Renders and analyses let go
// of the interpreter's lock, so Python threads render at once.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "velorin/velorin.h"

namespace py = pybind11;

namespace {

// velorin.Error: every failure of the library, with its message; `code` holds the status.
PyObject* error_type = nullptr;

[[noreturn]] void raise(const velorin_error& err) {
    py::object e = py::reinterpret_borrow<py::object>(error_type)(std::string(err.message));
    e.attr("code") = err.code;
    PyErr_SetObject(error_type, e.ptr());
    throw py::error_already_set();
}

void check(int status, const velorin_error& err) {
    if (status != VELORIN_OK) raise(err);
}

// A list owned by Python.
struct FrequencyList {
    std::shared_ptr<velorin_list> list;

    explicit FrequencyList(velorin_list* l) : list(l, velorin_list_free) {}
    py::array_t<double> hz() const { return py::array_t<double>(list->count, list->hz); }
    py::array_t<double> amplitude() const {
        return py::array_t<double>(list->count, list->amplitude);
    }
};

FrequencyList owned_list(velorin_list* list, const velorin_error& err) {
    if (!list) raise(err);
    return FrequencyList(list);
}

int list_source_of(const std::string& name) {
    if (name == "beside") return VELORIN_LIST_BESIDE;
    if (name == "refresh") return VELORIN_LIST_REFRESH;
    if (name == "memory") return VELORIN_LIST_MEMORY;
    if (name == "caller") return VELORIN_LIST_CALLER;
    throw py::value_error("list must be 'beside', 'refresh', 'memory' or 'caller', not '" + name +
                          "'");
}

int pitch_form_of(const std::string& name) {
    if (name == "plain") return VELORIN_PITCH_PLAIN;
    if (name == "enc") return VELORIN_PITCH_ENC;
    if (name == "cmp") return VELORIN_PITCH_CMP;
    if (name == "hff") return VELORIN_PITCH_HFF;
    throw py::value_error("form must be 'plain', 'enc', 'cmp' or 'hff', not '" + name + "'");
}

// The samples of an array as the library takes them: frames by channels, C order,
// little-endian as stored in a WAV file.
struct ArraySamples {
    py::array array;  // kept alive while the bytes are read
    size_t frames = 0;
    int channels = 1;
    int bits = 16;
    int is_float = 0;
};

ArraySamples samples_of(const py::array& x) {
    ArraySamples s;
    const py::dtype t = x.dtype();
    if (t.is(py::dtype::of<int16_t>())) {
        s.bits = 16;
    } else if (t.is(py::dtype::of<int32_t>())) {
        s.bits = 32;
    } else if (t.is(py::dtype::of<uint8_t>())) {
        s.bits = 8;
    } else if (t.is(py::dtype::of<float>())) {
        s.bits = 32;
        s.is_float = 1;
    } else if (t.is(py::dtype::of<double>())) {
        s.bits = 64;
        s.is_float = 1;
    } else {
        throw py::type_error("samples must be uint8, int16, int32, float32 or float64");
    }
    if (x.ndim() != 1 && x.ndim() != 2)
        throw py::value_error("samples must be (frames,) or (frames, channels)");
    s.array = py::array::ensure(x, py::array::c_style | py::array::forcecast);
    s.frames = static_cast<size_t>(x.shape(0));
    s.channels = x.ndim() == 2 ? static_cast<int>(x.shape(1)) : 1;
    return s;
}

// A note's keywords as the library's record; `bend` and `flags` stay alive in `keep`.
struct NoteKeywords {
    velorin_note note;
    std::string flags;
    std::vector<short> bend;
};

void fill_note(NoteKeywords* k, const std::variant<double, std::string>& pitch, double length_ms,
               double velocity, std::optional<double> tail_velocity, const std::string& flags,
               double offset_ms, double consonant_ms, std::optional<double> tail_ms,
               double cutoff_ms, double volume, double modulation, int tempo,
               const std::vector<int>& bend) {
    velorin_note& n = k->note;
    velorin_note_init(&n);
    n.pitch_hz = std::holds_alternative<double>(pitch)
                     ? std::get<double>(pitch)
                     : velorin_note_hz(std::get<std::string>(pitch).c_str());
    n.length_ms = length_ms;
    n.velocity = velocity;
    n.has_tail_velocity = tail_velocity.has_value();
    n.tail_velocity = tail_velocity.value_or(velocity);
    k->flags = flags;
    n.flags = k->flags.c_str();
    n.offset_ms = offset_ms;
    n.consonant_ms = consonant_ms;
    n.has_tail_ms = tail_ms.has_value();
    n.tail_ms = tail_ms.value_or(0.0);
    n.cutoff_ms = cutoff_ms;
    n.volume = volume;
    n.modulation = modulation;
    n.tempo = tempo;
    for (int c : bend) {
        if (c < -32768 || c > 32767) throw py::value_error("bend points are cents within 16 bits");
        k->bend.push_back(static_cast<short>(c));
    }
    n.bend = k->bend.empty() ? nullptr : k->bend.data();
    n.bend_count = static_cast<int>(k->bend.size());
}

py::array_t<int16_t> note_array(short* values, size_t count) {
    py::capsule owner(values, [](void* p) { velorin_free(p); });
    return py::array_t<int16_t>({static_cast<py::ssize_t>(count)}, {sizeof(int16_t)},
                                reinterpret_cast<int16_t*>(values), owner);
}

class Sample {
   public:
    explicit Sample(velorin_sample* s) : sample_(s, velorin_sample_close) {}

    static Sample open(const std::string& path, const std::string& list) {
        const int source = list_source_of(list);
        velorin_error err;
        velorin_sample* s;
        {
            py::gil_scoped_release unlocked;
            s = velorin_sample_open(path.c_str(), source, nullptr, &err);
        }
        if (!s) raise(err);
        return Sample(s);
    }

    static Sample from_array(const py::array& x, int rate, const std::string& list) {
        const int source = list_source_of(list);
        const ArraySamples a = samples_of(x);
        velorin_error err;
        velorin_sample* s;
        {
            py::gil_scoped_release unlocked;
            s = velorin_sample_from_memory(a.array.data(), a.frames, rate, a.channels, a.bits,
                                           a.is_float, source, nullptr, &err);
        }
        if (!s) raise(err);
        return Sample(s);
    }

    py::array_t<int16_t> render(const std::variant<double, std::string>& pitch, double length_ms,
                                double velocity, std::optional<double> tail_velocity,
                                const std::string& flags, double offset_ms, double consonant_ms,
                                std::optional<double> tail_ms, double cutoff_ms, double volume,
                                double modulation, int tempo, const std::vector<int>& bend) const {
        NoteKeywords k;
        fill_note(&k, pitch, length_ms, velocity, tail_velocity, flags, offset_ms, consonant_ms,
                  tail_ms, cutoff_ms, volume, modulation, tempo, bend);
        short* values = nullptr;
        size_t count = 0;
        velorin_error err;
        int status;
        {
            py::gil_scoped_release unlocked;
            status = velorin_render_alloc(sample_.get(), &k.note, &values, &count, nullptr, &err);
        }
        check(status, err);
        return note_array(values, count);
    }

    py::array_t<int16_t> render_args(const std::vector<std::string>& args) const {
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        short* values = nullptr;
        size_t count = 0;
        velorin_error err;
        int status;
        {
            py::gil_scoped_release unlocked;
            status = velorin_render_args(sample_.get(), static_cast<int>(argv.size()), argv.data(),
                                         &values, &count, nullptr, &err);
        }
        check(status, err);
        return note_array(values, count);
    }

    py::object frequency_list() const {
        const velorin_list* l = velorin_sample_list(sample_.get());
        if (!l) return py::none();
        // A copy, so that the list outlives nothing it points into.
        velorin_error err;
        velorin_list* copy = velorin_list_new(l->count, l->step, l->sample_rate, &err);
        if (!copy) raise(err);
        std::memcpy(copy->hz, l->hz, sizeof(double) * size_t(l->count));
        std::memcpy(copy->amplitude, l->amplitude, sizeof(double) * size_t(l->count));
        copy->average_hz = l->average_hz;
        return py::cast(FrequencyList(copy));
    }

    void set_frequency_list(const FrequencyList& list) {
        velorin_error err;
        check(velorin_sample_set_list(sample_.get(), list.list.get(), &err), err);
    }

    int rate() const {
        int r = 0;
        velorin_sample_format(sample_.get(), &r, nullptr, nullptr, nullptr);
        return r;
    }
    int channels() const {
        int c = 0;
        velorin_sample_format(sample_.get(), nullptr, &c, nullptr, nullptr);
        return c;
    }
    size_t frames() const {
        size_t f = 0;
        velorin_sample_format(sample_.get(), nullptr, nullptr, nullptr, &f);
        return f;
    }

   private:
    std::shared_ptr<velorin_sample> sample_;
};

FrequencyList analyse(const py::object& what, std::optional<int> rate, int threads) {
    velorin_error err;
    velorin_list* list;
    if (py::isinstance<py::str>(what)) {
        const std::string path = what.cast<std::string>();
        py::gil_scoped_release unlocked;
        list = velorin_analyse_file(path.c_str(), threads, nullptr, &err);
    } else {
        if (!rate) throw py::value_error("samples need their rate");
        const ArraySamples a = samples_of(what.cast<py::array>());
        py::gil_scoped_release unlocked;
        list = velorin_analyse_memory(a.array.data(), a.frames, *rate, a.channels, a.bits,
                                      a.is_float, threads, nullptr, &err);
    }
    return owned_list(list, err);
}

}  // namespace

PYBIND11_MODULE(velorin, m) {
    m.doc() =
        "velorin: notes sung from recorded voice samples.\n\n"
        "Open a sample once (Sample(path) or Sample.from_array(x, rate)) and render any number\n"
        "of notes from it; each is the int16 array the velorin program would write for the\n"
        "same arguments (44.1 kHz, mono).";
    m.attr("__version__") = velorin_version(nullptr, nullptr, nullptr);
    error_type = PyErr_NewExceptionWithDoc(
        "velorin.Error", "A failure of the library; str() is its message, .code its status.",
        PyExc_RuntimeError, nullptr);
    m.attr("Error") = py::handle(error_type);

    py::class_<FrequencyList>(m, "FrequencyList",
                              "A frequency list: one frame every `step` samples of the sample.")
        .def_property_readonly("step", [](const FrequencyList& l) { return l.list->step; })
        .def_property_readonly("sample_rate",
                               [](const FrequencyList& l) { return l.list->sample_rate; })
        .def_property_readonly("average_hz",
                               [](const FrequencyList& l) { return l.list->average_hz; })
        .def_property_readonly("hz", &FrequencyList::hz, "Each frame's frequency (0: unvoiced).")
        .def_property_readonly("amplitude", &FrequencyList::amplitude, "Each frame's amplitude.")
        .def("__len__", [](const FrequencyList& l) { return l.list->count; })
        .def(
            "write",
            [](const FrequencyList& l, const std::string& path) {
                velorin_error err;
                check(velorin_list_write(path.c_str(), l.list.get(), &err), err);
            },
            py::arg("path"), "Writes the list file (a sample's path: the list beside it).");

    py::class_<Sample>(m, "Sample",
                       "A voice sample with its frequency list, ready for any number of notes;\n"
                       "notes may render from it on several threads at once.")
        .def(py::init(&Sample::open), py::arg("path"), py::arg("list") = "beside",
             "Opens a sample file. list: 'beside' (read the list beside it, or analyse and\n"
             "write it there), 'refresh' (analyse and write), 'memory' (analyse, write\n"
             "nothing) or 'caller' (give one with set_frequency_list).")
        .def_static("from_array", &Sample::from_array, py::arg("samples"), py::arg("rate"),
                    py::arg("list") = "memory",
                    "A sample from an array, (frames,) or (frames, channels), of uint8, int16,\n"
                    "int32, float32 or float64 values; list: 'memory' or 'caller'.")
        .def("render", &Sample::render, py::arg("pitch") = "A4", py::arg("length_ms") = 1000.0,
             py::arg("velocity") = 100.0, py::arg("tail_velocity") = py::none(),
             py::arg("flags") = "", py::arg("offset_ms") = 0.0, py::arg("consonant_ms") = 0.0,
             py::arg("tail_ms") = py::none(), py::arg("cutoff_ms") = 0.0, py::arg("volume") = 100.0,
             py::arg("modulation") = 0.0, py::arg("tempo") = 0,
             py::arg("bend") = std::vector<int>(),
             "Renders a note: int16 samples at 44.1 kHz. pitch is a note name ('A4', 'C#3')\n"
             "or Hz; the other keywords are the command line's arguments 4 to 13 as values\n"
             "(bend: points in cents, one every 0.625 / tempo minutes, 256 samples without\n"
             "a tempo).")
        .def("render_args", &Sample::render_args, py::arg("args"),
             "Renders from the command line's strings (input, output, pitch, ... up to the\n"
             "pitch bend); the input and output are not read.")
        .def("frequency_list", &Sample::frequency_list,
             "The sample's frequency list (a copy), or None while it has none.")
        .def("set_frequency_list", &Sample::set_frequency_list, py::arg("list"),
             "Gives the sample a list (copied); not while notes render from it.")
        .def_property_readonly("rate", &Sample::rate)
        .def_property_readonly("channels", &Sample::channels)
        .def_property_readonly("frames", &Sample::frames);

    m.def("analyse", &analyse, py::arg("sample"), py::arg("rate") = py::none(),
          py::arg("threads") = 0,
          "The frequency list of a sample file (a path) or of an array of samples (with\n"
          "its rate); writes nothing.");
    m.def(
        "read_list",
        [](const std::string& path) {
            velorin_error err;
            return owned_list(velorin_list_read(path.c_str(), &err), err);
        },
        py::arg("path"), "Reads a list file (a sample's path: the list beside it).");

    py::module_ pitch = m.def_submodule("pitch", "Pitch-bend texts: points in cents and back.");
    pitch.def(
        "decode",
        [](const std::string& text, const std::string& form, int order) {
            short* points = nullptr;
            int count = 0;
            velorin_error err;
            check(velorin_pitch_decode(text.c_str(), pitch_form_of(form), order, &points, &count,
                                       &err),
                  err);
            std::vector<int> out(points, points + count);
            velorin_free(points);
            return out;
        },
        py::arg("text"), py::arg("form") = "plain", py::arg("order") = 0,
        "Points in cents from a bend text; form 'plain', 'enc', 'cmp' or 'hff'.");
    pitch.def(
        "encode",
        [](const std::vector<int>& points, const std::string& form, int order) {
            std::vector<short> p;
            for (int c : points) {
                if (c < -32768 || c > 32767) throw py::value_error("points are 16-bit cents");
                p.push_back(static_cast<short>(c));
            }
            char* text = nullptr;
            velorin_error err;
            check(velorin_pitch_encode(p.data(), static_cast<int>(p.size()), pitch_form_of(form),
                                       order, &text, &err),
                  err);
            std::string out(text);
            velorin_free(text);
            return out;
        },
        py::arg("points"), py::arg("form") = "plain", py::arg("order") = 0,
        "A bend text from points in cents.");
    pitch.def(
        "form_of",
        [](const std::string& tempo) {
            static const char* const names[] = {"plain", "enc", "cmp", "hff"};
            int form = 0, order = 0;
            velorin_pitch_form(tempo.c_str(), &form, &order);
            return py::make_tuple(names[form], order);
        },
        py::arg("tempo"), "The form and order a tempo argument ('!120*hff2') names.");
}
