// Set Register (Command1) and Default Setting (Command2): the camera's control registers,
// written one at a time after the user has selected each on the board's A[3:0] switches.
#pragma once

#include <string>

#include "panel/camera_link.h"
#include "panel/form_state.h"
#include "panel/register_plan.h"
#include "panel/register_record.h"
#include "panel/user_interface.h"

namespace panel {

// Writes every register whose field is marked (EXCTL, GCTL, FRCTL, HWCTL, VWCTL) and MCTL when
// an option was selected, in that order, then returns the board to the video port and clears
// the marks and mctl_act. A field that does not convert stops the sequence after that
// register's prompt, before its data write, with a box naming the field; the marks stay set.
// Returns true when the sequence ran to its end. Each value whose strobe went out is noted in
// `record` when one is given.
bool SetRegister(FormState& state, CameraLink& link, UserInterface& ui,
                 RegisterRecord* record = nullptr);

// Puts the fields and options back to their start-up values (marks untouched), pulses FCTL
// (0x80, then 0x00 on the data lines, under one prompt) and returns to the video port. The
// front end is told of the new fields before the prompt; `record`, when given, notes the reset.
bool DefaultSetting(FormState& state, CameraLink& link, UserInterface& ui,
                    RegisterRecord* record = nullptr);

// The main window's form as a register plan (the adapter between the form and the plan): a
// field's register when its mark is set, MCTL when mctl_act is 1; each value formed from the
// fields after the register's prompt, with Set Register's conversions, a field that does not
// convert giving the box that names it. The plan reads `state`, which outlives it.
RegisterPlan PlanFor(const FormState& state);

// FCTL's reset pulse (0x80, then 0x00 on the data lines, under one prompt) and the return to the
// video port: Default Setting's port sequence, without the form.
bool ResetChip(CameraLink& link, UserInterface& ui, RegisterRecord* record = nullptr);

// Field TextN's text as Set Register converts it into its register value (before the OR of a
// window's two fields and the reduction to 8 bits): the integer value of exposure, gain and the
// end blocks, the real value of the divider minus one and of a start block times 16, rounded
// to a 32-bit integer. Fails with the conversion's error (not a number, overflow).
HRESULT ConvertField(int n, const std::string& text, LONG* v);

// The box shown when a port object refuses an access (Pinbus does not, with these values).
void ReportPortFailure(const CameraLink& link, UserInterface& ui, const char* title);

}  // namespace panel
