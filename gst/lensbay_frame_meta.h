// The meta lensbaysrc puts on every buffer: which frame it is and what the chip's registers held
// when it was read. Its API type is registered by name ("LensbayFrameMetaAPI"), so an application
// finds it without linking to the plugin: lensbay_buffer_get_frame_meta() below, or in Python
// (through gi) the element message "lensbay-frame" that carries the same values. C, and C++.
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

// The chip's registers: their places in `registers` below.
enum {
    LENSBAY_FCTL,
    LENSBAY_EXCTL,
    LENSBAY_GCTL,
    LENSBAY_FRCTL,
    LENSBAY_MCTL,
    LENSBAY_HWCTL,
    LENSBAY_VWCTL,
    LENSBAY_FRAME_META_REGISTERS
};

typedef struct {
    GstMeta meta;
    // The frame's number since the element started, from 0 (the buffer's offset too).
    guint64 frame;
    // Each register's value (0..255) as Lensbay's programs last wrote it to this board when the
    // frame was read (its reset value after Default Setting), or -1 where that is unknown.
    gint registers[LENSBAY_FRAME_META_REGISTERS];
} LensbayFrameMeta;

#define LENSBAY_FRAME_META_API_NAME "LensbayFrameMetaAPI"

// The frame meta on `buffer`, or NULL (none, or no lensbaysrc loaded in this process yet).
static inline LensbayFrameMeta* lensbay_buffer_get_frame_meta(GstBuffer* buffer) {
    const GType api = g_type_from_name(LENSBAY_FRAME_META_API_NAME);
    return api != 0 ? (LensbayFrameMeta*)gst_buffer_get_meta(buffer, api) : NULL;
}

G_END_DECLS
