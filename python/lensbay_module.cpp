// The Python module's native part, `lensbay._lensbay`: the camera (panel/camera.h) with the GIL
// released around every port cycle, the chip's controls from its description, the settings rule
// of `lensbay set` for every value, and errors as exceptions of their kind. `lensbay/__init__.py`
// builds the public API on it (Frame, frames(), status()).
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <utility>

#include "panel/camera.h"
#include "panel/chip_status.h"
#include "panel/settings.h"
#include "platform/chip/sx540.h"
#ifdef LENSBAY_HAVE_PNG
#include "panel/png/qt_png_encoder.h"
#endif

namespace py = pybind11;

namespace {

PyObject* g_error = nullptr;
PyObject* g_port_busy = nullptr;
PyObject* g_not_registered = nullptr;

// Raises the error as the exception of its kind.
[[noreturn]] void Raise(const base::Error& e) {
    PyObject* type = g_error;
    if (e.Is(base::ErrorKind::kPortRefused)) type = g_port_busy;
    if (e.Is(base::ErrorKind::kNotRegistered) || e.Is(base::ErrorKind::kRegistry))
        type = g_not_registered;
    PyErr_SetString(type, e.message.c_str());
    throw py::error_already_set();
}

// A file that could not be written or read: OSError, with errno where a system call said why
// (FileNotFoundError, PermissionError, ...).
[[noreturn]] void RaiseOsError(const base::Error& e) {
    if (e.errno_value != 0) {
        py::object error = py::reinterpret_steal<py::object>(
            PyObject_CallFunction(PyExc_OSError, "is", e.errno_value, e.message.c_str()));
        if (!error) throw py::error_already_set();
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    } else {
        PyErr_SetString(PyExc_OSError, e.message.c_str());
    }
    throw py::error_already_set();
}

// After an operation, back under the GIL: an exception a prompt's answer raised comes first, then
// the operation's error, then a signal that came meanwhile (Ctrl+C: KeyboardInterrupt, once the
// frame or sequence under way has ended with its handshake).
void Finish(const base::Result<>& done) {
    if (PyErr_Occurred()) throw py::error_already_set();
    if (!done) Raise(done.error());
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

// PINBUS.OCX as the "register it with" advice names it: beside the programs in the build tree
// (build/bin), or in the private library folder once installed.
std::string PinbusPath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&PinbusPath), &info) == 0 || !info.dli_fname) return "";
    std::string dir = info.dli_fname;
    dir.erase(dir.rfind('/') + 1);
    for (const char* relative : {"../../bin/PINBUS.OCX", LENSBAY_PYTHON_TO_PINBUS}) {
        const std::string candidate = dir + relative;
        char resolved[PATH_MAX];
        struct stat st {};
        if (::realpath(candidate.c_str(), resolved) && ::stat(resolved, &st) == 0 &&
            S_ISREG(st.st_mode))
            return resolved;
    }
    return "";
}

// A Python value as a user would type it after KEY= on `lensbay set`'s command line: a word as it
// is, a whole number in digits (NumPy's too), a float as Python writes it (0.45, 1.0, 2.5; NumPy's
// float64 is one), True and False as on and off.
std::string TypedText(const std::string& key, const py::handle& value) {
    if (py::isinstance<py::bool_>(value)) return value.cast<bool>() ? "on" : "off";
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    if (py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value))
        return py::repr(value).cast<std::string>();
    // Other whole numbers (NumPy's integers from np.arange) as the int they stand for.
    if (PyIndex_Check(value.ptr()))
        return py::repr(py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr())))
            .cast<std::string>();
    throw py::type_error(key + ": a number or a word is wanted, not " +
                         std::string(Py_TYPE(value.ptr())->tp_name));
}

// One setting through `lensbay set`'s rule, its messages as ValueError.
void AddTyped(const std::string& key, const py::handle& value, panel::ChipSettings* settings) {
    if (base::Result<> added = panel::AddSetting(key, TypedText(key, value), settings); !added)
        throw py::value_error(added.message());
}

// A prompt's answer in Python: the caller's callable, or by default the prompt printed with
// ", then press Enter: " and a line read, as `lensbay set` asks. What it raises stops the sequence
// and is raised again when the operation returns.
panel::PromptAnswer AnswerFrom(py::object callback) {
    if (callback.is_none()) {
        callback = py::cpp_function([](const std::string& text) {
            py::module_::import("builtins").attr("input")(text + ", then press Enter: ");
        });
    }
    // Let go of under the GIL, wherever the camera that keeps it goes.
    std::shared_ptr<py::object> held(new py::object(std::move(callback)), [](py::object* o) {
        py::gil_scoped_acquire gil;
        delete o;
    });
    return [held](const std::string& text) -> base::Result<> {
        py::gil_scoped_acquire gil;
        try {
            (*held)(text);
        } catch (py::error_already_set& e) {
            // Kept as this thread's pending exception until the operation is over.
            e.restore();
            return base::Fail("the prompt was not answered");
        }
        return {};
    };
}

struct PyCamera {
    std::shared_ptr<panel::Camera> camera;

    std::shared_ptr<panel::Camera> Get() const {
        if (!camera) {
            PyErr_SetString(g_error, "the camera is closed");
            throw py::error_already_set();
        }
        return camera;
    }
};

void Open(PyCamera& self, py::object prompt) {
    base::Result<std::unique_ptr<panel::Camera>> opened = base::Fail("");
    panel::PromptAnswer answer = AnswerFrom(std::move(prompt));
    {
        py::gil_scoped_release release;
        opened = panel::Camera::Open(
            PinbusPath(), std::string("lensbay.Camera in ") + program_invocation_short_name,
            std::move(answer));
    }
    if (PyErr_Occurred()) throw py::error_already_set();
    if (!opened) Raise(opened.error());
    self.camera = std::move(opened).value();
}

void Close(PyCamera& self) {
    std::shared_ptr<panel::Camera> camera = std::move(self.camera);
    py::gil_scoped_release release;
    camera.reset();
}

void SetControls(PyCamera& self, const py::dict& controls, py::object prompt) {
    std::shared_ptr<panel::Camera> camera = self.Get();
    panel::ChipSettings settings;
    for (const auto& [key, value] : controls) {
        if (!py::isinstance<py::str>(key))
            throw py::type_error("a control's name is a string, not " +
                                 std::string(Py_TYPE(key.ptr())->tp_name));
        AddTyped(key.cast<std::string>(), value, &settings);
    }
    const panel::PromptAnswer answer =
        prompt.is_none() ? panel::PromptAnswer{} : AnswerFrom(prompt);
    base::Result<> done;
    {
        py::gil_scoped_release release;
        done = camera->SetControls(settings, answer);
    }
    Finish(done);
}

py::tuple GetWindow(const PyCamera& self) {
    std::shared_ptr<panel::Camera> camera = self.Get();
    panel::BlockWindow w;
    {
        // Never wait for the camera's lock with the GIL held: its holder may want the GIL.
        py::gil_scoped_release release;
        w = camera->Window();
    }
    return py::make_tuple(w[0], w[1], w[2], w[3]);
}

void SetWindow(PyCamera& self, const py::sequence& window) {
    std::shared_ptr<panel::Camera> camera = self.Get();
    if (py::isinstance<py::str>(window) || py::len(window) != 4)
        throw py::value_error("the window is four blocks: (h_start, h_end, v_start, v_end)");
    panel::ChipSettings settings;
    panel::BlockWindow blocks{};
    for (int i = 0; i < 4; ++i) {
        AddTyped(chip::kControls[chip::kHStart + i].name, window[static_cast<std::size_t>(i)],
                 &settings);
        blocks[static_cast<std::size_t>(i)] = *settings.Get(chip::kHStart + i);
    }
    base::Result<> done;
    {
        py::gil_scoped_release release;
        done = camera->SetWindow(blocks);
    }
    Finish(done);
}

void Reset(PyCamera& self, py::object prompt) {
    std::shared_ptr<panel::Camera> camera = self.Get();
    const panel::PromptAnswer answer =
        prompt.is_none() ? panel::PromptAnswer{} : AnswerFrom(prompt);
    base::Result<> done;
    {
        py::gil_scoped_release release;
        done = camera->Reset(answer);
    }
    Finish(done);
}

void PowerCycle(PyCamera& self) {
    std::shared_ptr<panel::Camera> camera = self.Get();
    base::Result<> done;
    {
        py::gil_scoped_release release;
        done = camera->PowerCycle();
    }
    Finish(done);
}

// One frame into a new array of (rows, columns), made before the read and filled by the frame
// reader in place; with `record`, also the frame's record as JSON text.
py::object Read(PyCamera& self, bool record) {
    std::shared_ptr<panel::Camera> camera = self.Get();
    py::array_t<std::uint8_t> array;
    std::string json;
    base::Result<> done;
    {
        py::gil_scoped_release release;
        panel::SeriesFrame frame;
        panel::FrameGeometry g;
        done = camera->ReadFrame(
            [&array](const panel::FrameGeometry& geometry) -> std::uint8_t* {
                py::gil_scoped_acquire gil;
                try {
                    array =
                        py::array_t<std::uint8_t>({static_cast<py::ssize_t>(geometry.FrameHeight),
                                                   static_cast<py::ssize_t>(geometry.FrameWidth)});
                    return array.mutable_data();
                } catch (py::error_already_set& e) {
                    e.restore();
                    return nullptr;
                }
            },
            &frame, &g);
        if (done && record) json = camera->RecordJson(frame, g);
    }
    Finish(done);
    if (!record) return array;
    return py::make_tuple(std::move(array), json);
}

void CaptureFile(PyCamera& self, const std::string& name) {
    std::shared_ptr<panel::Camera> camera = self.Get();
    const base::Result<panel::ImageFormat> format = panel::FormatOf(name);
    if (!format) throw py::value_error(format.message());
    base::Result<panel::OutputFolder> folder = panel::PrepareOutputFolder();
    if (!folder) RaiseOsError(folder.error());
    base::Result<panel::CapturedFrame> captured = base::Fail("");
    base::Result<> written;
    panel::SeriesFrame frame;
    panel::FrameGeometry g;
    {
        py::gil_scoped_release release;
        captured = camera->ReadCapture(folder->header, &frame, &g);
        if (captured) {
#ifdef LENSBAY_HAVE_PNG
            panel::QtPngEncoder png_encoder;
            panel::PngEncoder* png = &png_encoder;
#else
            panel::PngEncoder* png = nullptr;
#endif
            written = camera->WriteCapture(*folder, name, *format, *captured, frame, g, png);
        }
    }
    if (!captured) Finish(captured.error());
    if (!written) RaiseOsError(written.error());
    Finish({});
}

// The chip's controls from its description, as dicts for lensbay.Control.
py::list Controls() {
    py::list out;
    for (const panel::SettingKey& key : panel::kSettingKeys) {
        const chip::Control& c = *key.control;
        py::dict d;
        d["name"] = c.name;
        if (c.kind == chip::ControlKind::kOption) {
            d["minimum"] = py::none();
            d["maximum"] = py::none();
            d["step"] = py::none();
            d["default"] = c.words[chip::DefaultOf(c)];
            d["options"] = py::make_tuple(c.words[0], c.words[1]);
        } else {
            d["minimum"] = c.min;
            d["maximum"] = c.max;
            d["step"] = c.step;
            d["default"] = chip::DefaultOf(c);
            d["options"] = py::none();
        }
        d["unit"] = c.unit;
        out.append(std::move(d));
    }
    return out;
}

std::string StatusJson() {
    base::Result<panel::ChipStatus> status = base::Fail("");
    {
        py::gil_scoped_release release;
        status = panel::ReadChipStatus();
    }
    if (!status) Raise(status.error());
    return panel::FormatStatusJson(*status);
}

PyObject* NewError(py::module_& m, const char* name, const char* doc, PyObject* base) {
    const std::string full = std::string("lensbay.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(full.c_str(), doc, base, nullptr);
    if (!type) throw py::error_already_set();
    m.add_object(name, py::handle(type));
    return type;
}

}  // namespace

PYBIND11_MODULE(_lensbay, m) {
    m.doc() = "The native part of the lensbay package; use `import lensbay`.";
    g_error = NewError(m, "Error",
                       "An operation on the camera failed: the port refused a cycle, a sequence "
                       "stopped, the camera is closed.",
                       PyExc_Exception);
    g_port_busy = NewError(m, "PortBusy",
                           "The port cannot be had: another program holds it (the message names "
                           "it and its process), or PORTIO names no backend or it will not open.",
                           g_error);
    g_not_registered = NewError(m, "NotRegistered",
                                "COM, the class registry or PINBUS.OCX cannot be used; the message "
                                "says the command that registers it.",
                                g_error);

    py::class_<PyCamera>(m, "Camera",
                         R"doc(The SX540 camera on its evaluation board, through PINBUS.OCX.

Camera(prompt=None) opens the port as the lensbay programs do (the backend PORTIO names,
the simulated board by default), claims it for this process and runs the window's load.
Use it as a context manager, or call close(): while it is open no other program can
use the port.

On the simulated board its A[3:0] switches follow the register prompts and nothing waits.
On a real board each register-selection prompt (its text names the register and
its A[3:0] setting) goes to `prompt`, a callable taking the prompt's text that returns
once the switches are set (default: the prompt is printed and Enter awaited, as
`lensbay set` does); what it raises stops the sequence before that register's data
write and is raised again.

Raises lensbay.PortBusy when the port is in use (naming the holder), lensbay.NotRegistered
when PINBUS.OCX is not registered (saying the command to run).

Port cycles run without the GIL; two threads on one camera take turns, one frame or one
register sequence at a time. Ctrl+C during a frame lets the frame end with its handshake
(the control register back at 0x27), then raises KeyboardInterrupt.)doc")
        .def(py::init([](py::object prompt) {
                 auto self = std::make_unique<PyCamera>();
                 Open(*self, std::move(prompt));
                 return self;
             }),
             py::arg("prompt") = py::none())
        .def("close", &Close,
             "Gives the port up (the port objects released); harmless when closed already.")
        .def("__enter__", [](py::object self) { return self; })
        .def(
            "__exit__", [](PyCamera& self, py::args) { Close(self); }, "Closes the camera.")
        .def_property_readonly(
            "closed", [](const PyCamera& self) { return !self.camera; },
            "Whether close() was called.")
        .def_property_readonly(
            "follows_prompts",
            [](const PyCamera& self) {
                std::shared_ptr<panel::Camera> camera = self.Get();
                py::gil_scoped_release release;
                return camera->FollowsPrompts();
            },
            "Whether the board's switches follow the register prompts by themselves.")
        .def("set_controls", &SetControls, py::arg("controls"), py::arg("prompt") = py::none(),
             R"doc(Writes the chip's registers for the given controls, as `lensbay set` does.

controls: {"exposure": 40, "gain": 3, "gamma": 0.45, "mirror": "on", ...}; the keys and
values `lensbay set` takes (see Camera.controls), each checked by the same rule with the same
message (ValueError) before any port cycle. Numbers may be int or float (2.5 is refused
as not whole), option words str; True and False stand for "on" and "off". Only the
registers the given controls touch are written, in the chip's order; a register is written
whole (a window half or an option not given: its cleared value). prompt: as for Camera().)doc")
        .def_property(
            "window", &GetWindow, &SetWindow,
            R"doc(The capture window in blocks: (h_start, h_end, v_start, v_end), each 0..15.

An end block not after its start block runs the window to the sensor's edge; (0, 0, 0, 0),
the full frame of 384 x 288, is the window until set. Setting it writes HWCTL and VWCTL
(ValueError for a block outside 0..15, as `lensbay set`); frames are then read with it.)doc")
        .def("reset", &Reset, py::arg("prompt") = py::none(),
             "Default Setting: FCTL's reset pulse, every register back to its reset value "
             "and the window to the full frame.")
        .def("power_cycle", &PowerCycle,
             "Turns the simulated board off and on (its chip back to its reset state, the "
             "board's record cleared). lensbay.Error on any other board.")
        .def(
            "capture_array", [](PyCamera& self) { return Read(self, false); },
            R"doc(Reads one frame: a numpy uint8 array of shape (rows, columns), top row first
as the monitor shows it (the rows of `lensbay capture -o x.pgm`). The array is made first
and the frame reader fills it in place. The first frame of a camera whose window was not
set writes the window's registers first, as `lensbay capture` does.)doc")
        .def(
            "_read", [](PyCamera& self) { return Read(self, true); },
            "One frame and its record as JSON text (for capture() and frames()).")
        .def("capture_file", &CaptureFile, py::arg("name"),
             R"doc(Reads one frame and writes it as `lensbay capture -o NAME` does.

The extension names the format: .bmp and .raw exactly as Capture writes image.bmp and
image.raw, .png and .pgm 8-bit grey, top row first. The record goes beside it (NAME with
.json for its extension). A name with another extension: ValueError; a file that cannot be
written, or a record in the way that is not one: OSError.)doc");

    m.def("_controls", &Controls, "The chip's controls as its description gives them.");
    m.def("_status_json", &StatusJson, "What `lensbay status --json` prints.");
}
