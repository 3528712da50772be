// Identities, versions and resource ids of the Pinbus library.
#pragma once

#include <cstdint>

#include "platform/com/wtypes.h"

inline constexpr GUID LIBID_PINBUSLib = {
    0x6B2F14D0, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};
inline constexpr IID IID_DPinbus = {
    0x6B2F14D1, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};
inline constexpr IID IID_DPinbusEvents = {
    0x6B2F14D2, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};
inline constexpr CLSID CLSID_PinbusCtrl = {
    0x6B2F14D3, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};
inline constexpr CLSID CLSID_PinbusPropPage = {
    0x6B2F14D4, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};

inline constexpr const char* kPinbusCtrlProgID = "PINBUS.PinbusCtrl.1";
inline constexpr const char* kPinbusPropPageProgID = "PINBUS.PinbusPropPage.1";

// Type library version, also the major/minor of the control's persistent state.
inline constexpr WORD _wVerMajor = 1;
inline constexpr WORD _wVerMinor = 0;

// SETCLIENTSITEFIRST | INVISIBLEATRUNTIME | ACTIVATEWHENVISIBLE | INSIDEOUT | CANTLINKINSIDE |
// RECOMPOSEONRESIZE: shown on a form at design time only.
inline constexpr DWORD _dwPinbusOleMisc = 0x20591;

// Resources.
inline constexpr std::uint16_t IDS_PINBUS = 1;                // "Pinbus Control"
inline constexpr std::uint16_t IDS_PINBUS_PPG = 2;            // "Pinbus Property Page"
inline constexpr std::uint16_t IDS_PINBUS_PPG_CAPTION = 100;  // "General"
inline constexpr std::uint16_t IDB_PINBUS = 1;                // toolbox and design-time picture
inline constexpr std::uint16_t IDI_ABOUTDLL = 1;
inline constexpr std::uint16_t IDD_ABOUTBOX_PINBUS = 1;
inline constexpr std::uint16_t IDD_PROPPAGE_PINBUS = 100;
