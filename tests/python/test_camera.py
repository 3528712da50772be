"""lensbay.Camera against the lensbay program on the same simulated board: the controls as the
chip's description gives them, the port cycles of set_controls as `lensbay set` makes them, frames
as `lensbay capture -o` stores them, the port's claim both ways, two threads on one camera and
Ctrl+C in the middle of a stream."""

import json
import os
import shutil
import signal
import threading
import time

import numpy as np
import pytest

import lensbay

CONTROL = "out8 0x037a "


def pgm_pixels(path):
    with open(path, "rb") as f:
        data = f.read()
    magic, size, depth, pixels = data.split(b"\n", 3)
    assert magic == b"P5" and depth == b"255"
    width, height = map(int, size.split())
    return np.frombuffer(pixels, np.uint8).reshape(height, width)


def frames_in(trace):
    """The frames of a trace as (index of its 0x2F set-up write, index of its closing 0x27), and
    whether any other control write came between the two."""
    frames, start = [], None
    for i, line in enumerate(trace):
        if line == CONTROL + "0x2f":
            assert start is None, "a frame began inside another at line %d" % i
            start = i
        elif start is not None and line.startswith(CONTROL) and line not in (
                CONTROL + "0x2a", CONTROL + "0x2b"):
            assert line == CONTROL + "0x27", "%s inside the frame begun at line %d" % (line, start)
            frames.append((start, i))
            start = None
    return frames


def test_controls_are_the_chip_description(board):
    status, out, err = board.lensbay("status", "--json")
    assert status == 0, err
    described = {c["name"]: c for c in json.loads(out)["controls"] if c["name"] != "reset"}
    assert list(lensbay.CONTROLS) == list(described)
    for name, c in lensbay.CONTROLS.items():
        r = described[name]["range"]
        if c.options is None:
            assert (c.minimum, c.maximum, c.step, c.default) == \
                (r["min"], r["max"], r["step"], r["default"]), name
        else:
            assert list(c.options) == r and c.default == described[name]["default"], name
            assert c.minimum is c.maximum is c.step is None
    # As the chip's data sheet gives a few of them.
    assert lensbay.CONTROLS["exposure"] == ("exposure", 0, 127, 1, 64, "", None)
    assert lensbay.CONTROLS["divider"][1:5] == (1, 128, 1, 1)
    assert lensbay.CONTROLS["h_end"].unit == "blocks"
    assert lensbay.CONTROLS["mode"].options == ("indoor", "outdoor")
    assert lensbay.CONTROLS["gamma"].default == "1.0"
    with lensbay.Camera() as cam:
        assert cam.controls == lensbay.CONTROLS


def test_set_controls_writes_what_lensbay_set_writes(board):
    values = {"exposure": 40, "gain": 3, "gamma": 0.45, "mirror": "on", "divider": 2.0}
    with lensbay.Camera() as cam:
        # NumPy's numbers as Python's (a sweep's np.arange).
        cam.set_controls(dict(values, exposure=np.int64(40), divider=np.float64(2.0)))
    shutil.copy(board.path("sim-board.registers"), board.path("python.registers"))
    # The same settings as typed on a fresh board, the trace from its first cycle.
    status, _, err = board.lensbay("set", "exposure=40", "gain=3", "gamma=0.45", "mirror=on",
                                   "divider=2", LENSBAY_SIM_STATE=board.path("other"),
                                   PORTIO_TRACE=board.path("cli.trace"))
    assert status == 0, err
    board.run_python("import lensbay\nwith lensbay.Camera() as cam:\n"
                     "    cam.set_controls(%r)\n" % values,
                     LENSBAY_SIM_STATE=board.path("third"), PORTIO_TRACE=board.path("py.trace"))
    assert board.trace("py.trace") == board.trace("cli.trace")
    assert len(board.trace("py.trace")) > 20
    # The board's record says who wrote what.
    record = open(board.path("python.registers")).read()
    assert "register EXCTL 28 " in record and "lensbay.Camera in " in record
    assert "register FRCTL 01 " in record


@pytest.mark.parametrize("values", [
    {"exposure": 200}, {"exposure": 2.5}, {"exposure": "lots"}, {"gamma": 0.5},
    {"mirror": "sideways"}, {"h_start": 16}, {"colour": 1}, {"divider": 0}, {"gamma": True}])
def test_bad_controls_are_refused_with_lensbay_sets_message(board, values):
    (key, value), = values.items()
    typed = ("on" if value else "off") if isinstance(value, bool) else value
    status, _, err = board.lensbay("set", "%s=%s" % (key, typed))
    assert status == 1
    message = err.splitlines()[0][len("lensbay set: "):]
    with lensbay.Camera() as cam:
        with pytest.raises(ValueError) as e:
            cam.set_controls(values)
        assert str(e.value) == message
        with pytest.raises(TypeError):
            cam.set_controls({"exposure": [1]})
    # Refused before any port cycle: nothing was written.
    assert not os.path.exists(board.path("sim-board.registers")) or \
        "register" not in open(board.path("sim-board.registers")).read()


@pytest.mark.parametrize("window", [None, (4, 12, 4, 12), (10, 3, 14, 0)])
def test_capture_array_is_the_frame_lensbay_capture_stores(board, window):
    status, _, err = board.lensbay("set", "exposure=30", "gain=2")
    assert status == 0, err
    # Two copies of one board state: one for the program, one for the camera.
    for name in ("cli", "py"):
        shutil.copy(board.path("sim-board"), board.path(name))
        shutil.copy(board.path("sim-board.registers"), board.path(name + ".registers"))
    args = ["capture", "-q", "-o", "shot.pgm"]
    if window:
        args += ["--window", ",".join(map(str, window))]
    status, _, err = board.lensbay(*args, LENSBAY_SIM_STATE=board.path("cli"))
    assert status == 0, err
    os.environ["LENSBAY_SIM_STATE"] = board.path("py")
    with lensbay.Camera() as cam:
        if window:
            cam.window = window
            assert cam.window == window
        frame = cam.capture_array()
        assert frame.dtype == np.uint8 and frame.flags.c_contiguous and frame.flags.owndata
        expected = pgm_pixels(board.path("shot.pgm"))
        np.testing.assert_array_equal(frame, expected)
        # The next one through capture(): its record is the file's, but for the times.
        second = cam.capture()
        assert second.array.shape == expected.shape
        meta = second.metadata
        written = json.load(open(board.path("shot.json")))
        assert set(meta) == set(written)
        assert meta["window"] == written["window"]
        assert (meta["width"], meta["height"]) == (expected.shape[1], expected.shape[0])
        assert meta["registers"]["EXCTL"]["value"] == 30
        assert meta["frame"]["number"] == meta["frame"]["of"] == 2
        assert meta["frame"]["seconds"] > 0


def test_capture_file_writes_as_lensbay_capture_o(board):
    # Two fresh boards: the same state.
    status, _, err = board.lensbay("capture", "-q", "-o", "cli.raw",
                                   LENSBAY_SIM_STATE=board.path("cli"))
    assert status == 0, err
    os.environ["LENSBAY_SIM_STATE"] = board.path("py")
    with lensbay.Camera() as cam:
        cam.capture_file("py.raw")
        for name in ("py.pgm", "py.bmp", "py.png"):
            cam.capture_file(name)
            assert os.path.getsize(board.path(name)) > 0
        with pytest.raises(ValueError, match=r"must end in \.bmp, \.png, \.pgm or \.raw"):
            cam.capture_file("py.jpg")
        with pytest.raises(OSError):
            cam.capture_file("no/such/folder/x.pgm")
        # A file of the record's name that is no record is kept, and said.
        with open(board.path("mine.json"), "w") as f:
            f.write("{}")
        with pytest.raises(OSError, match="not a picture record"):
            cam.capture_file("mine.pgm")
        assert open(board.path("mine.json")).read() == "{}"
    assert open(board.path("py.raw"), "rb").read() == open(board.path("cli.raw"), "rb").read()
    # py.png's record, of the camera's fourth frame.
    assert json.load(open(board.path("py.json")))["frame"]["number"] == 4


def test_window_reset_power_cycle_and_status(board):
    with lensbay.Camera() as cam:
        assert cam.window == (0, 0, 0, 0)
        cam.window = (4, 12, 4, 12)
        assert cam.capture_array().shape == (144, 192)
        with pytest.raises(ValueError, match=r"^v_end = 16 is outside 0\.\.15$"):
            cam.window = (4, 12, 4, 16)
        with pytest.raises(ValueError):
            cam.window = (1, 2, 3)
        assert cam.window == (4, 12, 4, 12)
        # A window register is written whole: h_start alone leaves h_end at block 0.
        cam.set_controls({"h_start": 2, "exposure": 50})
        assert cam.window == (2, 0, 4, 12)
        assert cam.capture_array().shape == (144, (16 - 2) * 24)
        cam.reset()
        assert cam.window == (0, 0, 0, 0)
        assert cam.capture_array().shape == (288, 384)
        s = lensbay.status()
        exposure = next(c for c in s["controls"] if c["name"] == "exposure")
        assert exposure["written"]["value"] == 64 and exposure["written"]["reset"]
        assert exposure["written"]["by"].startswith("lensbay.Camera in ")
        assert exposure["board"] == 64
        cam.set_controls({"gain": 5})
        cam.power_cycle()
        assert cam.window == (0, 0, 0, 0)
    status, out, _ = board.lensbay("status", "--json")
    assert lensbay.status() == json.loads(out)
    gain = next(c for c in lensbay.status()["controls"] if c["name"] == "gain")
    assert gain["written"] is None and gain["board"] == 0


def test_the_port_is_claimed_both_ways(board):
    with lensbay.Camera() as cam:
        status, _, err = board.lensbay("set", "exposure=10")
        assert status == 3
        assert "in use by python3, process %d" % os.getpid() in err
        cam.capture_array()
    # lensbay holds the port (its console waits for a command): the camera is refused.
    console = board.console()
    try:
        assert console.stdout.readline().startswith("box")  # the load's prompt: it holds it
        with pytest.raises(lensbay.PortBusy) as e:
            lensbay.Camera()
        assert "in use by lensbay, process %d" % console.pid in str(e.value)
        assert isinstance(e.value, lensbay.Error)
    finally:
        console.communicate("quit\n", timeout=30)
    with lensbay.Camera() as cam:
        cam.capture_array()
    with pytest.raises(lensbay.Error, match="closed"):
        cam.capture_array()


def test_unregistered_control_says_how_to_register(board, monkeypatch):
    monkeypatch.setenv("OLE_REGISTRY", board.path("empty.reg"))
    with pytest.raises(lensbay.NotRegistered, match="register it with: .*PINBUS.OCX") as e:
        lensbay.Camera()
    assert isinstance(e.value, lensbay.Error)
    # The port was given up with the failed camera.
    monkeypatch.setenv("OLE_REGISTRY", board.env["OLE_REGISTRY"])
    with lensbay.Camera():
        pass


def test_two_threads_on_one_camera_take_turns(board):
    trace = board.path("threads.trace")
    os.environ["PORTIO_TRACE"] = trace
    errors = []
    with lensbay.Camera() as cam:
        cam.window = (0, 8, 0, 4)  # small frames

        def frames():
            try:
                for _ in range(4):
                    assert cam.capture_array().shape == (72, 192)
            except Exception as e:  # noqa: BLE001 - reported below
                errors.append(e)

        def controls():
            try:
                for exposure in range(10, 14):
                    cam.set_controls({"exposure": exposure, "gain": 1})
            except Exception as e:  # noqa: BLE001
                errors.append(e)

        threads = [threading.Thread(target=frames), threading.Thread(target=frames),
                   threading.Thread(target=controls)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert not errors
    lines = board.trace("threads.trace")
    # Every frame whole, nothing of a register write inside one, and every write whole.
    assert len(frames_in(lines)) == 8
    writes = [i for i, line in enumerate(lines) if line == CONTROL + "0x09"]
    assert len(writes) == 2 + 4 * 2  # the window's two registers, then EXCTL and GCTL 4 times
    for i in writes:
        assert lines[i - 1].startswith("out8 0x0378 ") and lines[i + 1] == CONTROL + "0x08"


def test_ctrl_c_ends_the_frame_with_its_handshake(board):
    script = (
        "import lensbay, sys\n"
        "n = 0\n"
        "with lensbay.Camera() as cam:\n"
        "    try:\n"
        "        for frame in cam.frames():\n"
        "            n += 1\n"
        "            print(n, flush=True)\n"
        "    except KeyboardInterrupt:\n"
        "        print('interrupted after', n, flush=True)\n")
    trace = board.path("ctrl-c.trace")
    p = board.python(script, PORTIO_TRACE=trace)
    try:
        assert p.stdout.readline().strip() == "1"
        # Sent once the next frame's bytes are coming (the trace is written line by line).
        first = os.path.getsize(trace)
        deadline = time.monotonic() + 30
        while os.path.getsize(trace) < first + 200000 and time.monotonic() < deadline:
            time.sleep(0.001)
        sent_at = os.path.getsize(trace)
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=60)
    finally:
        if p.poll() is None:
            p.kill()
    assert p.returncode == 0, err
    last = out.splitlines()[-1]
    assert last.startswith("interrupted after ")
    lines = board.trace("ctrl-c.trace")
    assert lines[-1] == CONTROL + "0x27"
    # The frame under way when the signal came was read to its end (every byte with its pulse),
    # and none came after it; it was never handed out.
    frames = frames_in(lines)
    assert len(frames) == int(last.split()[-1]) + 1
    start, end = frames[-1]
    assert sum(1 for line in lines[start:end] if line.startswith("in8 ")) == 385 * 288
    assert len("\n".join(lines[:start])) < sent_at


def test_the_stubs_name_what_the_module_has():
    import ast
    stubs = ast.parse(open(os.path.join(os.path.dirname(lensbay.__file__), "__init__.pyi")).read())
    top = {n.name for n in stubs.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    top |= {n.target.id for n in stubs.body if isinstance(n, ast.AnnAssign)}
    assert top - {"Prompt"} <= set(dir(lensbay)) and set(lensbay.__all__) <= top
    camera = next(n for n in stubs.body if isinstance(n, ast.ClassDef) and n.name == "Camera")
    members = {n.name for n in camera.body if isinstance(n, ast.FunctionDef)}
    public = {name for name in dir(lensbay.Camera) if not name.startswith("_")}
    assert public == members - {"__init__", "__enter__", "__exit__"}
    for name in public:
        assert getattr(lensbay.Camera, name).__doc__, name


def test_prompts_go_to_the_answer_where_the_switches_do_not_follow(board):
    # The board's switches set by hand from now on (the board keeps that in its state).
    console = board.console()
    console.communicate("follow off\nquit\n", timeout=30)
    assert console.returncode == 0
    asked = []
    with lensbay.Camera(prompt=asked.append) as cam:
        assert not cam.follows_prompts
        assert asked == ["Please select VPORT register A[3:0]=1000"]
        cam.set_controls({"exposure": 20})
        assert asked[1:] == ["Please select EXCTL register A[3:0]=0010",
                             "Please VPORT register A[3:0]=1000"]

        def nobody_there(prompt):
            raise RuntimeError("nobody at the board for " + prompt)

        # What the answer raises stops the sequence before the data write, and comes back.
        with pytest.raises(RuntimeError, match="nobody at the board for Please select GCTL"):
            cam.set_controls({"gain": 4}, prompt=nobody_there)
        gain = next(c for c in lensbay.status()["controls"] if c["name"] == "gain")
        assert gain["written"] is None
        # The camera's own answer again for the next call.
        cam.set_controls({"gain": 4})
        assert asked[-2] == "Please select GCTL register A[3:0]=0011"
