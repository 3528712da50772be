import gi, numpy as np
gi.require_version("Gst", "1.0"); gi.require_version("GstApp", "1.0")
from gi.repository import Gst, GstApp
Gst.init(None)
pipeline = Gst.parse_launch("lensbaysrc num-buffers=5 ! appsink name=sink")
pipeline.set_state(Gst.State.PLAYING)
sample = pipeline.get_by_name("sink").pull_sample()
s = sample.get_caps().get_structure(0); w, h = s.get_value("width"), s.get_value("height")
frame = np.frombuffer(sample.get_buffer().extract_dup(0, w * h), np.uint8).reshape(h, w)
print(frame.shape, frame.dtype, frame.mean()); pipeline.set_state(Gst.State.NULL)
