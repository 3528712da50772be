// lensbaysrc: a live GStreamer push source of GRAY8 frames from the SX540 board, read through
// Pinbus exactly as the panel's Capture reads them. Controls changed while it runs are written
// between two frames, as Set Register writes them; a new window or divider renegotiates the caps
// before the first frame made with it. Each buffer carries its time, duration and frame number,
// and a LensbayFrameMeta with the registers in effect; an element message says the same.
#include <dlfcn.h>
#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "gst/frame_source.h"
#include "gst/lensbay_frame_meta.h"
#include "platform/chip/sx540.h"

#ifndef LENSBAY_VERSION
#define LENSBAY_VERSION "0"
#endif

GST_DEBUG_CATEGORY_STATIC(lensbay_src_debug);
#define GST_CAT_DEFAULT lensbay_src_debug

G_BEGIN_DECLS
#define LENSBAY_TYPE_SRC (lensbay_src_get_type())
G_DECLARE_FINAL_TYPE(LensbaySrc, lensbay_src, LENSBAY, SRC, GstPushSrc)
G_END_DECLS

struct _LensbaySrc {
    GstPushSrc parent;
    // Guarded by the object lock: the properties; `set_while_running` when a control or the window
    // was set while running. Once a whole g_object_set() is done (its notifications dispatched),
    // they become `wanted` and `changed`, which the streaming thread takes between two frames: the
    // properties set in one call reach the chip together, never half of them.
    lensbay_gst::Window window;
    gboolean post_messages;
    bool set_while_running;
    lensbay_gst::Window wanted;
    bool changed;
    // Guarded by the object lock too, written by the start and the streaming thread: whether the
    // board is open, whether controls can be written while it is (set-registers and a board whose
    // switches follow), the controls the frames are read with and the divider in effect.
    bool running;
    bool writable;
    lensbay_gst::Window applied;
    int divider;
    // Between start and stop (the streaming thread reads frames, the application starts/stops).
    std::unique_ptr<lensbay_gst::FrameSource>* source;
    panel::FrameGeometry geometry;
    std::size_t stride;
    guint64 frame;  // the next frame's number
};

G_DEFINE_TYPE(LensbaySrc, lensbay_src, GST_TYPE_PUSH_SRC)

namespace {

enum {
    PROP_0,
    PROP_H_START,
    PROP_H_END,
    PROP_V_START,
    PROP_V_END,
    PROP_SET_REGISTERS,
    PROP_SWITCHES_FOLLOW,
    PROP_EXPOSURE,
    PROP_GAIN,
    PROP_DIVIDER,
    PROP_GAMMA,
    PROP_MIRROR,
    PROP_MODE,
    PROP_BACKLIGHT,
    PROP_POST_MESSAGES,
};

bool* Flag(lensbay_gst::Window& w, guint id) {
    return id == PROP_SET_REGISTERS     ? &w.set_registers
           : id == PROP_SWITCHES_FOLLOW ? &w.switches_follow
                                        : nullptr;
}

int* Number(lensbay_gst::Window& w, guint id) {
    switch (id) {
        case PROP_H_START:
            return &w.h_start;
        case PROP_H_END:
            return &w.h_end;
        case PROP_V_START:
            return &w.v_start;
        case PROP_V_END:
            return &w.v_end;
        case PROP_EXPOSURE:
            return &w.exposure;
        case PROP_GAIN:
            return &w.gain;
        case PROP_DIVIDER:
            return &w.divider;
        default:
            return nullptr;
    }
}

// The option groups' properties, each the item selected or unset.
int* Option(lensbay_gst::Window& w, guint id) {
    return id >= PROP_GAMMA && id <= PROP_BACKLIGHT ? &w.options[id - PROP_GAMMA] : nullptr;
}

// An integer property whose range gst-inspect-1.0 shows, but whose values outside it reach the
// element instead of being dropped by GLib with a warning alone (after which the pipeline would
// run with the last value): the element refuses them at start, and the pipeline fails with a
// message that names the property. Its one difference from GLib's own integer property is the
// validation, which keeps every value as given.
GType CheckedIntParamType() {
    static const GType type = [] {
        GTypeInfo info{};
        info.class_size = sizeof(GParamSpecClass);
        info.class_init = [](gpointer klass, gpointer) {
            G_PARAM_SPEC_CLASS(klass)->value_validate = [](GParamSpec*, GValue*) -> gboolean {
                return FALSE;  // unchanged: the element checks the value itself
            };
        };
        info.instance_size = sizeof(GParamSpecInt);
        return g_type_register_static(G_TYPE_PARAM_INT, "LensbayCheckedInt", &info,
                                      static_cast<GTypeFlags>(0));
    }();
    return type;
}

GType OptionType(const char* name, const GEnumValue* values) {
    // Registered once per name; the table lives as long as the type.
    GType type = g_type_from_name(name);
    return type != 0 ? type : g_enum_register_static(name, values);
}

// The option words are the chip's (platform/chip/sx540.h): item 0 sets the option's MCTL bit.
constexpr const char* Word(int option, int item) { return chip::kControls[option].words[item]; }
const GEnumValue kGammaValues[] = {{-1, "Not written", "unset"},
                                   {0, "Gamma 0.45 (MCTL bit set)", Word(chip::kGamma, 0)},
                                   {1, "Gamma 1.0, linear", Word(chip::kGamma, 1)},
                                   {0, nullptr, nullptr}};
const GEnumValue kMirrorValues[] = {{-1, "Not written", "unset"},
                                    {0, "Mirror image on (MCTL bit set)", Word(chip::kMirror, 0)},
                                    {1, "Mirror image off", Word(chip::kMirror, 1)},
                                    {0, nullptr, nullptr}};
const GEnumValue kModeValues[] = {
    {-1, "Not written", "unset"},
    {0, "Indoor: exposure locked to the mains flicker (MCTL bit set)", Word(chip::kMode, 0)},
    {1, "Outdoor", Word(chip::kMode, 1)},
    {0, nullptr, nullptr}};
const GEnumValue kBacklightValues[] = {
    {-1, "Not written", "unset"},
    {0, "Backlight compensation on (MCTL bit set)", Word(chip::kBacklight, 0)},
    {1, "Backlight compensation off", Word(chip::kBacklight, 1)},
    {0, nullptr, nullptr}};

// One frame period at `divider`: the chip makes kFramesPerSecond frames a second at divider 1.
GstClockTime FramePeriod(int divider) {
    return gst_util_uint64_scale_int(GST_SECOND, divider, chip::kFramesPerSecond);
}

// GRAY8 of the frame (any size where `g` is null) at 50/divider frames a second (any rate the
// divider can give where `divider` is 0).
GstCaps* CapsOf(const panel::FrameGeometry* g, int divider) {
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "GRAY8", nullptr);
    GstStructure* s = gst_caps_get_structure(caps, 0);
    if (g) {
        gst_structure_set(s, "width", G_TYPE_INT, g->FrameWidth, "height", G_TYPE_INT,
                          g->FrameHeight, nullptr);
    } else {
        gst_structure_set(s, "width", GST_TYPE_INT_RANGE, 1, G_MAXINT, "height", GST_TYPE_INT_RANGE,
                          1, G_MAXINT, nullptr);
    }
    if (divider > 0) {
        gst_structure_set(s, "framerate", GST_TYPE_FRACTION, chip::kFramesPerSecond, divider,
                          nullptr);
    } else {
        gst_structure_set(s, "framerate", GST_TYPE_FRACTION_RANGE, chip::kFramesPerSecond,
                          chip::kControls[chip::kDivider].max, chip::kFramesPerSecond,
                          chip::kControls[chip::kDivider].min, nullptr);
    }
    return caps;
}

// The frame meta: its API registered by name with no tags (so that elements which copy metas
// copy it), its one implementation copied whole by every transform.
GType FrameMetaApiType() {
    static const GType type = [] {
        static const gchar* tags[] = {nullptr};
        return gst_meta_api_type_register(LENSBAY_FRAME_META_API_NAME, tags);
    }();
    return type;
}

const GstMetaInfo* FrameMetaInfo() {
    static const GstMetaInfo* info = gst_meta_register(
        FrameMetaApiType(), "LensbayFrameMeta", sizeof(LensbayFrameMeta),
        [](GstMeta* meta, gpointer, GstBuffer*) -> gboolean {
            auto* m = reinterpret_cast<LensbayFrameMeta*>(meta);
            m->frame = 0;
            for (gint& r : m->registers) r = -1;
            return TRUE;
        },
        nullptr,
        [](GstBuffer* dest, GstMeta* meta, GstBuffer*, GQuark, gpointer) -> gboolean {
            const auto* from = reinterpret_cast<const LensbayFrameMeta*>(meta);
            auto* to = reinterpret_cast<LensbayFrameMeta*>(
                gst_buffer_add_meta(dest, FrameMetaInfo(), nullptr));
            if (!to) return FALSE;
            to->frame = from->frame;
            std::memcpy(to->registers, from->registers, sizeof to->registers);
            return TRUE;
        });
    return info;
}

static_assert(LENSBAY_FCTL == static_cast<int>(chip::Register::kFctl) &&
                  LENSBAY_EXCTL == static_cast<int>(chip::Register::kExctl) &&
                  LENSBAY_GCTL == static_cast<int>(chip::Register::kGctl) &&
                  LENSBAY_FRCTL == static_cast<int>(chip::Register::kFrctl) &&
                  LENSBAY_MCTL == static_cast<int>(chip::Register::kMctl) &&
                  LENSBAY_HWCTL == static_cast<int>(chip::Register::kHwctl) &&
                  LENSBAY_VWCTL == static_cast<int>(chip::Register::kVwctl) &&
                  LENSBAY_FRAME_META_REGISTERS == chip::kRegisterCount,
              "the frame meta lists the chip's registers in their order");

// PINBUS.OCX as the "register it with" advice names it: beside the programs in the build tree
// (build/bin), or in the private library folder once installed.
std::string PinbusPath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&lensbay_src_get_type), &info) == 0 || !info.dli_fname)
        return "";
    std::string dir = info.dli_fname;
    dir.erase(dir.rfind('/') + 1);
    for (const char* relative : {"../../bin/PINBUS.OCX", "../../lensbay/PINBUS.OCX"}) {
        const std::string candidate = dir + relative;
        char resolved[PATH_MAX];
        struct stat st {};
        if (::realpath(candidate.c_str(), resolved) && ::stat(resolved, &st) == 0 &&
            S_ISREG(st.st_mode)) {
            return resolved;
        }
    }
    return "";
}

// A control's or window property's value as a user gives it ("40", "on", "unset").
std::string ValueText(lensbay_gst::Window& w, guint id) {
    if (int* number = Number(w, id)) return std::to_string(*number);
    const int item = *Option(w, id);
    return item == lensbay_gst::Window::kUnset ? "unset"
                                               : Word(chip::kGamma + (id - PROP_GAMMA), item);
}

// Before the start every value is kept as given: Open() refuses one the element cannot use, with
// a message. While running, a control or window property that cannot be written keeps its value,
// with a warning that says why; one that can is written before the next frame.
void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    LensbaySrc* self = LENSBAY_SRC(object);
    GST_OBJECT_LOCK(self);
    lensbay_gst::Window candidate = self->window;
    bool known = true, control = false;
    if (id == PROP_POST_MESSAGES) {
        self->post_messages = g_value_get_boolean(value);
    } else if (bool* flag = Flag(candidate, id)) {
        *flag = g_value_get_boolean(value);
    } else if (int* number = Number(candidate, id)) {
        *number = g_value_get_int(value);
        control = true;
    } else if (int* option = Option(candidate, id)) {
        *option = g_value_get_enum(value);
        control = true;
    } else {
        known = false;
    }
    std::string refused;
    if (control && self->running) {
        const std::string keeps =
            "; " + std::string(pspec->name) + " keeps its value, " + ValueText(self->window, id);
        if (const auto checked = lensbay_gst::SettingsOf(candidate); !checked) {
            refused = checked.message() + keeps;
        } else if (!self->writable) {
            refused = std::string(pspec->name) +
                      " cannot be written while the element runs: the chip's registers are not "
                      "written with set-registers=false, nor where the board's A[3:0] switches do "
                      "not follow the register prompts" +
                      keeps;
        }
    }
    if (refused.empty() && known) {
        self->set_while_running = self->set_while_running || (control && self->running);
        self->window = candidate;
    }
    GST_OBJECT_UNLOCK(self);
    if (!refused.empty())
        GST_ELEMENT_WARNING(self, RESOURCE, SETTINGS, ("%s", refused.c_str()), (nullptr));
    if (!known) G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

// After the last property of a g_object_set() (or a thaw of the notifications): what was set
// while running goes to the streaming thread as one change.
void DispatchPropertiesChanged(GObject* object, guint n, GParamSpec** pspecs) {
    LensbaySrc* self = LENSBAY_SRC(object);
    GST_OBJECT_LOCK(self);
    if (std::exchange(self->set_while_running, false) && self->running) {
        self->wanted = self->window;
        self->changed = true;
    }
    GST_OBJECT_UNLOCK(self);
    G_OBJECT_CLASS(lensbay_src_parent_class)->dispatch_properties_changed(object, n, pspecs);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    LensbaySrc* self = LENSBAY_SRC(object);
    GST_OBJECT_LOCK(self);
    lensbay_gst::Window& w = self->window;
    bool known = true;
    if (id == PROP_POST_MESSAGES) {
        g_value_set_boolean(value, self->post_messages);
    } else if (bool* flag = Flag(w, id)) {
        g_value_set_boolean(value, *flag);
    } else if (int* number = Number(w, id)) {
        g_value_set_int(value, *number);
    } else if (int* option = Option(w, id)) {
        g_value_set_enum(value, *option);
    } else {
        known = false;
    }
    GST_OBJECT_UNLOCK(self);
    if (!known) G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

void Finalize(GObject* object) {
    LensbaySrc* self = LENSBAY_SRC(object);
    delete self->source;
    self->source = nullptr;
    G_OBJECT_CLASS(lensbay_src_parent_class)->finalize(object);
}

// Checks the properties, opens the board and writes the registers: at the change from READY to
// PAUSED, before the base class starts, so that a failure posts this one error message (the base
// class would add its own "failed to post a proper error message" after a failed start).
gboolean Open(LensbaySrc* self) {
    GST_OBJECT_LOCK(self);
    const lensbay_gst::Window window = self->window;
    GST_OBJECT_UNLOCK(self);
    const auto geometry = lensbay_gst::GeometryOf(window);
    if (!geometry) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("%s", geometry.message().c_str()), (nullptr));
        return FALSE;
    }
    if (!window.set_registers && window.ControlsGiven()) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                          ("%s cannot be written with set-registers=false; leave them out, or "
                           "let the element write them",
                           window.ControlsText().c_str()),
                          (nullptr));
        return FALSE;
    }
    auto opened = lensbay_gst::FrameSource::Open(PinbusPath());
    if (!opened) {
        if (opened.error().Is(base::ErrorKind::kPortRefused)) {
            GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ_WRITE, ("%s", opened.message().c_str()),
                              ("the port backend (PORTIO) cannot be opened"));
        } else {
            GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("%s", opened.message().c_str()),
                              ("the Pinbus port objects cannot be created"));
        }
        return FALSE;
    }
    // The chip's window must match the window read, or every row comes out sheared. It is
    // written, with the controls given, only where the switches follow the prompts; elsewhere
    // nobody would set them.
    if (window.set_registers) {
        if ((*opened)->BoardFollowsPrompts() || window.switches_follow) {
            if (const base::Result<> set = (*opened)->SetRegisters(window); !set) {
                GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("%s", set.message().c_str()), (nullptr));
                return FALSE;
            }
        } else if (window.Given() || window.ControlsGiven()) {
            GST_ELEMENT_ERROR(
                self, RESOURCE, SETTINGS,
                ("the board's A[3:0] switches do not follow the register prompts, so the chip's "
                 "registers cannot be set to the properties given; set them first (lensbay set "
                 "h_start=... h_end=... v_start=... v_end=... and the others) and give "
                 "set-registers=false, or give switches-follow=true if the switches are wired to "
                 "follow"),
                (nullptr));
            return FALSE;
        }
    }
    self->geometry = geometry.value();
    self->stride = lensbay_gst::RowStride(self->geometry);
    self->frame = 0;
    const lensbay_gst::FrameSource::RegisterValues held = (*opened)->Registers();
    const int frctl = held[static_cast<std::size_t>(chip::Register::kFrctl)];
    const int divider = lensbay_gst::DividerInEffect(
        window, frctl < 0 ? std::nullopt : std::optional<std::uint8_t>(frctl));
    const bool writable =
        window.set_registers && ((*opened)->BoardFollowsPrompts() || window.switches_follow);
    delete self->source;
    self->source = new std::unique_ptr<lensbay_gst::FrameSource>(std::move(opened).value());
    GST_OBJECT_LOCK(self);
    self->applied = window;
    self->divider = divider;
    self->running = true;
    self->writable = writable;
    // A property set since the window was taken above is written before the first frame.
    self->wanted = self->window;
    self->changed = self->window != window;
    self->set_while_running = false;
    GST_OBJECT_UNLOCK(self);
    return TRUE;
}

void Close(LensbaySrc* self) {
    GST_OBJECT_LOCK(self);
    self->running = false;
    self->changed = false;
    GST_OBJECT_UNLOCK(self);
    delete self->source;
    self->source = nullptr;
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
    LensbaySrc* self = LENSBAY_SRC(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && !Open(self))
        return GST_STATE_CHANGE_FAILURE;
    const GstStateChangeReturn r =
        GST_ELEMENT_CLASS(lensbay_src_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && r == GST_STATE_CHANGE_FAILURE) {
        // Started nothing after all: the port goes back at once.
        Close(self);
    }
    return r;
}

// The board was opened by the state change just before.
gboolean Start(GstBaseSrc* base) { return LENSBAY_SRC(base)->source != nullptr; }

gboolean Stop(GstBaseSrc* base) {
    Close(LENSBAY_SRC(base));
    return TRUE;
}

// While running: the window and divider the frames are read with. Before: the properties' (any
// rate the divider can give when it is not given, as the board's FRCTL is not known yet).
GstCaps* GetCaps(GstBaseSrc* base, GstCaps* filter) {
    LensbaySrc* self = LENSBAY_SRC(base);
    GST_OBJECT_LOCK(self);
    const lensbay_gst::Window window = self->running ? self->applied : self->window;
    const int divider = self->running ? self->divider : std::max(window.divider, 0);
    GST_OBJECT_UNLOCK(self);
    GstCaps* caps = nullptr;
    if (const auto g = lensbay_gst::GeometryOf(window)) {
        caps = CapsOf(&g.value(), divider);
    } else {
        caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(base));
    }
    if (filter) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

gboolean SetCaps(GstBaseSrc* base, GstCaps* caps) {
    LensbaySrc* self = LENSBAY_SRC(base);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) return FALSE;
    GST_OBJECT_LOCK(self);
    const auto g = lensbay_gst::GeometryOf(self->applied);
    GST_OBJECT_UNLOCK(self);
    if (!g || GST_VIDEO_INFO_WIDTH(&info) != g->FrameWidth ||
        GST_VIDEO_INFO_HEIGHT(&info) != g->FrameHeight ||
        static_cast<std::size_t>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0)) !=
            lensbay_gst::RowStride(g.value())) {
        return FALSE;
    }
    gst_base_src_set_blocksize(base, static_cast<guint>(GST_VIDEO_INFO_SIZE(&info)));
    return TRUE;
}

// Between two frames (the port at rest after the last one's 0x27): the controls and window
// changed since are written as Set Register writes them, and a new frame size or rate is
// negotiated before the first frame made with it, so that every buffer matches its caps.
GstFlowReturn TakeChanges(LensbaySrc* self) {
    GST_OBJECT_LOCK(self);
    const bool changed = std::exchange(self->changed, false);
    const lensbay_gst::Window wanted = self->wanted;
    const lensbay_gst::Window applied = self->applied;
    GST_OBJECT_UNLOCK(self);
    if (!changed) return GST_FLOW_OK;
    const auto geometry = lensbay_gst::GeometryOf(wanted);  // checked as it was set
    if (!geometry) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("%s", geometry.message().c_str()), (nullptr));
        return GST_FLOW_ERROR;
    }
    // FRCTL is written only with the divider given, so the record tells the divider now.
    const int frctl =
        (*self->source)->Registers()[static_cast<std::size_t>(chip::Register::kFrctl)];
    const int divider = lensbay_gst::DividerInEffect(
        wanted, frctl < 0 ? std::nullopt : std::optional<std::uint8_t>(frctl));
    const bool new_rate = divider != self->divider;
    const bool new_caps = new_rate || geometry->FrameWidth != self->geometry.FrameWidth ||
                          geometry->FrameHeight != self->geometry.FrameHeight;
    GST_OBJECT_LOCK(self);
    self->applied = wanted;
    self->divider = divider;
    GST_OBJECT_UNLOCK(self);
    self->geometry = geometry.value();
    self->stride = lensbay_gst::RowStride(self->geometry);
    // Downstream takes the new caps first: if it refuses them, the chip is left as it was.
    if (new_caps && !gst_base_src_negotiate(GST_BASE_SRC(self))) {
        GST_ELEMENT_ERROR(
            self, CORE, NEGOTIATION,
            ("frames of %dx%d at %d/%d frames a second are not accepted downstream; the chip's "
             "registers were left as they were",
             self->geometry.FrameWidth, self->geometry.FrameHeight, chip::kFramesPerSecond,
             divider),
            (nullptr));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    if (const base::Result<> set = (*self->source)->Apply(ChangesBetween(applied, wanted)); !set) {
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("%s", set.message().c_str()), (nullptr));
        return GST_FLOW_ERROR;
    }
    if (new_rate)
        gst_element_post_message(GST_ELEMENT(self), gst_message_new_latency(GST_OBJECT(self)));
    return GST_FLOW_OK;
}

// The pipeline's running time now; none without a clock.
GstClockTime RunningTime(LensbaySrc* self) {
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
    if (!clock) return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const GstClockTime base_time = gst_element_get_base_time(GST_ELEMENT(self));
    return now > base_time ? now - base_time : 0;
}

GstFlowReturn Create(GstPushSrc* push, GstBuffer** out) {
    LensbaySrc* self = LENSBAY_SRC(push);
    if (!self->source || !*self->source) return GST_FLOW_FLUSHING;
    if (const GstFlowReturn taken = TakeChanges(self); taken != GST_FLOW_OK) return taken;
    const std::size_t size = self->stride * static_cast<std::size_t>(self->geometry.FrameHeight);
    GstBuffer* buffer = *out;  // a buffer given by the caller stays the caller's
    if (!buffer) {
        const GstFlowReturn got =
            GST_BASE_SRC_CLASS(lensbay_src_parent_class)
                ->alloc(GST_BASE_SRC(push), self->frame, static_cast<guint>(size), &buffer);
        if (got != GST_FLOW_OK) return got;
    }
    auto drop = [&] {
        if (buffer != *out) gst_buffer_unref(buffer);
    };
    GstMapInfo map;
    if (gst_buffer_get_size(buffer) < size || !gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        drop();
        GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("cannot map a frame buffer of %zu bytes", size),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    const lensbay_gst::FrameSource::RegisterValues held = (*self->source)->Registers();
    const auto read = (*self->source)->ReadFrame(self->geometry, map.data, self->stride);
    gst_buffer_unmap(buffer, &map);
    if (!read) {
        drop();
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("%s", read.message().c_str()), (nullptr));
        return GST_FLOW_ERROR;
    }
    gst_buffer_set_size(buffer, static_cast<gssize>(size));
    const guint64 frame = self->frame++;
    const GstClockTime pts = RunningTime(self);
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = FramePeriod(self->divider);
    GST_BUFFER_OFFSET(buffer) = frame;
    GST_BUFFER_OFFSET_END(buffer) = frame + 1;
    if (auto* meta = reinterpret_cast<LensbayFrameMeta*>(
            gst_buffer_add_meta(buffer, FrameMetaInfo(), nullptr))) {
        meta->frame = frame;
        std::copy(held.begin(), held.end(), meta->registers);
    }
    GST_OBJECT_LOCK(self);
    const bool post = self->post_messages;
    GST_OBJECT_UNLOCK(self);
    if (post) {
        GstStructure* s = gst_structure_new("lensbay-frame", "frame", G_TYPE_UINT64, frame,
                                            "timestamp", G_TYPE_UINT64, pts, nullptr);
        for (int r = 0; r < chip::kRegisterCount; ++r)
            gst_structure_set(s, chip::kRegisters[r].name, G_TYPE_INT,
                              held[static_cast<std::size_t>(r)], nullptr);
        gst_element_post_message(GST_ELEMENT(self), gst_message_new_element(GST_OBJECT(self), s));
    }
    *out = buffer;
    return GST_FLOW_OK;
}

// Where downstream offers no buffer pool, the element keeps one of its own, so that frame after
// frame reuses the same few buffers instead of allocating each anew; a new size (negotiated
// again) gets a new pool.
gboolean DecideAllocation(GstBaseSrc* base, GstQuery* query) {
    if (gst_query_get_n_allocation_pools(query) == 0) {
        GstCaps* caps = nullptr;
        gst_query_parse_allocation(query, &caps, nullptr);
        GstVideoInfo info;
        if (caps && gst_video_info_from_caps(&info, caps)) {
            GstBufferPool* pool = gst_buffer_pool_new();
            gst_query_add_allocation_pool(query, pool, static_cast<guint>(info.size), 2, 0);
            gst_object_unref(pool);
        }
    }
    return GST_BASE_SRC_CLASS(lensbay_src_parent_class)->decide_allocation(base, query);
}

// A live source's latency: a frame is pushed once it has been read, one frame period at most
// after the chip made it. It is not kept anywhere after that, so the pipeline may wait for it at
// most a few periods (kLatencyFrames) before it would rather drop it.
constexpr int kLatencyFrames = 4;

gboolean Query(GstBaseSrc* base, GstQuery* query) {
    LensbaySrc* self = LENSBAY_SRC(base);
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
        GST_OBJECT_LOCK(self);
        const bool running = self->running;
        const int divider = self->divider;
        GST_OBJECT_UNLOCK(self);
        if (running) {
            gst_query_set_latency(query, TRUE, FramePeriod(divider),
                                  FramePeriod(divider) * kLatencyFrames);
            return TRUE;
        }
    }
    return GST_BASE_SRC_CLASS(lensbay_src_parent_class)->query(base, query);
}

// A number property over one of the chip's controls: its range, or -1 ("not written", the
// initial value) below it when `unset_allowed`; else the range with its low end first.
void InstallNumberProperty(GObjectClass* klass, guint id, const char* name, int control,
                           bool unset_allowed, const char* blurb) {
    const chip::Control& c = chip::kControls[control];
    const int low = unset_allowed ? -1 : c.min;
    const int high = c.max;
    const int initial = low;
    auto* param = static_cast<GParamSpecInt*>(
        g_param_spec_internal(CheckedIntParamType(), name, name, blurb,
                              static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                       GST_PARAM_MUTABLE_PLAYING)));
    param->minimum = low;
    param->maximum = high;
    param->default_value = initial;
    g_object_class_install_property(klass, id, G_PARAM_SPEC(param));
}

void InstallOptionProperty(GObjectClass* klass, guint id, const char* name, const char* type,
                           const GEnumValue* values, const char* blurb) {
    g_object_class_install_property(
        klass, id,
        g_param_spec_enum(name, name, blurb, OptionType(type, values), -1,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                   GST_PARAM_MUTABLE_PLAYING)));
}

void InstallFlagProperty(GObjectClass* klass, guint id, const char* name, gboolean initial,
                         const char* blurb, int mutable_in = GST_PARAM_MUTABLE_READY) {
    g_object_class_install_property(
        klass, id,
        g_param_spec_boolean(
            name, name, blurb, initial,
            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | mutable_in)));
}

}  // namespace

static void lensbay_src_class_init(LensbaySrcClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    object_class->set_property = SetProperty;
    object_class->get_property = GetProperty;
    object_class->finalize = Finalize;
    object_class->dispatch_properties_changed = DispatchPropertiesChanged;
    InstallNumberProperty(object_class, PROP_H_START, "h-start", chip::kHStart, false,
                          "First column block of the capture window (24 columns each)");
    InstallNumberProperty(object_class, PROP_H_END, "h-end", chip::kHEnd, false,
                          "Column block the window ends at; not after h-start: to the right edge");
    InstallNumberProperty(object_class, PROP_V_START, "v-start", chip::kVStart, false,
                          "First row block of the capture window (18 rows each)");
    InstallNumberProperty(object_class, PROP_V_END, "v-end", chip::kVEnd, false,
                          "Row block the window ends at; not after v-start: to the top edge");
    InstallNumberProperty(object_class, PROP_EXPOSURE, "exposure", chip::kExposure, true,
                          "Exposure time (EXCTL; turns automatic exposure off); -1: not written");
    InstallNumberProperty(object_class, PROP_GAIN, "gain", chip::kGain, true,
                          "Gain, 0 (0 dB) to 7 (18 dB) (GCTL; used while automatic exposure is "
                          "off); -1: not written");
    InstallNumberProperty(object_class, PROP_DIVIDER, "divider", chip::kDivider, true,
                          "Frame-rate divider (FRCTL holds it minus one; 1: every frame); -1: not "
                          "written");
    InstallOptionProperty(object_class, PROP_GAMMA, "gamma", "LensbaySrcGamma", kGammaValues,
                          "Gamma (MCTL; the options not given are written as the window's "
                          "defaults: 1.0, off, outdoor, off)");
    InstallOptionProperty(object_class, PROP_MIRROR, "mirror", "LensbaySrcMirror", kMirrorValues,
                          "Mirror image (MCTL)");
    InstallOptionProperty(object_class, PROP_MODE, "mode", "LensbaySrcMode", kModeValues,
                          "Indoor or outdoor mode (MCTL)");
    InstallOptionProperty(object_class, PROP_BACKLIGHT, "backlight", "LensbaySrcBacklight",
                          kBacklightValues, "Backlight compensation (MCTL)");
    InstallFlagProperty(
        object_class, PROP_SET_REGISTERS, "set-registers", TRUE,
        "Write the chip's window registers (HWCTL, VWCTL) and the controls given at "
        "start, as Set Register does; false: the chip is set already");
    InstallFlagProperty(object_class, PROP_SWITCHES_FOLLOW, "switches-follow", FALSE,
                        "The board's A[3:0] switches are wired to follow the register prompts "
                        "(the simulated board's say so themselves)");
    InstallFlagProperty(object_class, PROP_POST_MESSAGES, "post-messages", TRUE,
                        "Post an element message \"lensbay-frame\" for every frame: its number, "
                        "timestamp and the chip's registers (-1: unknown)",
                        GST_PARAM_MUTABLE_PLAYING);

    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(
        element_class, "SX540 camera source", "Source/Video",
        "Frames of the SX540 camera chip on its evaluation board, read through Pinbus",
        "Lensbay project <lensbay@example.invalid>");
    GstCaps* any_frame = CapsOf(nullptr, 0);
    gst_element_class_add_pad_template(
        element_class, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, any_frame));
    gst_caps_unref(any_frame);
    FrameMetaInfo();
    element_class->change_state = ChangeState;

    GstBaseSrcClass* base_class = GST_BASE_SRC_CLASS(klass);
    base_class->start = Start;
    base_class->stop = Stop;
    base_class->get_caps = GetCaps;
    base_class->set_caps = SetCaps;
    base_class->query = Query;
    base_class->decide_allocation = DecideAllocation;
    GST_PUSH_SRC_CLASS(klass)->create = Create;
}

static void lensbay_src_init(LensbaySrc* self) {
    // The object's memory is zeroed, not constructed: each member is set here.
    self->window = lensbay_gst::Window{};
    self->post_messages = TRUE;
    self->set_while_running = false;
    self->wanted = lensbay_gst::Window{};
    self->changed = false;
    self->running = false;
    self->writable = false;
    self->applied = lensbay_gst::Window{};
    self->divider =
        chip::ValueIn(chip::kControls[chip::kDivider], chip::Info(chip::Register::kFrctl).reset);
    self->source = nullptr;
    self->geometry = panel::FrameGeometry{};
    self->stride = 0;
    self->frame = 0;
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
    // Each buffer's time is the element's own: the running time when its frame was read.
    gst_base_src_set_do_timestamp(GST_BASE_SRC(self), FALSE);
}

static gboolean plugin_init(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(lensbay_src_debug, "lensbaysrc", 0, "SX540 camera source");
    return gst_element_register(plugin, "lensbaysrc", GST_RANK_NONE, LENSBAY_TYPE_SRC);
}

#define PACKAGE "lensbay"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, lensbay,
                  "The SX540 camera on its evaluation board", plugin_init, LENSBAY_VERSION,
                  "MIT/X11", "lensbay", "https://example.invalid/lensbay")
