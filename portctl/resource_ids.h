// Resource ids and registration flags of the Pinbus library. Its identities (GUIDs, ProgIDs,
// member ids, type-library version) come from pinbus.odl through the generated header.
#pragma once

#include <cstdint>

#include "platform/com/wtypes.h"
#include "portctl/pinbus_identity.h"

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
