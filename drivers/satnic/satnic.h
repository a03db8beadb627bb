// SatNic: the virtual network adapter driver that receives the decoder's Ethernet frames.
//
// It registers the device "SatNicDv-1" with the platform layer, reachable as "\\.\SatNicDv-1"
// and "\\.\Global\SatNicDv-1", and answers the three control requests of the
// device contract: IOCTL_SEND_FRAMES (a FrameBatch), IOCTL_READ_BYTE_COUNT (running count of
// frame bytes passed on, unsigned 32-bit, wrapping) and IOCTL_SET_STATION_ADDRESS (six bytes,
// echoed back). The frames go to one backend:
//   tap[:IFNAME]  an existing TAP interface (default satnic1, see scripts/install-satnic);
//                 unicast frames for the station address get the interface's own MAC address;
//                 deleted and made again, it is opened again within a second
//   pcap:PATH     a classic pcap capture file, link type Ethernet
//   null          frames are accepted and counted, passed nowhere (benchmarks)
//   none          the device is not registered: opening it fails as without the driver
#pragma once

#include <cstdint>
#include <string>

namespace satnic {

// Installs the adapter driver described by `config` (see above), replacing any earlier
// installation (which is uninstalled first, also when this one fails). Returns false with a
// one-line *error (when error is not null) naming the interface or file when it cannot be
// opened, or the configuration when it is malformed; nothing is registered then.
//
// `use` says what the installation is for:
// - Frames: the interface or file is opened; a missing TAP interface is a failure.
// - FramesWhenTheInterfaceExists (the receiver, which runs for months): a TAP interface that
//   does not exist yet is not a failure: the device is registered, the frames are lost and
//   counted until the interface appears, and *error (when not null) tells so.
// - Question: nothing is opened; the interface must exist, the file must be one that could be
//   written (or created), and the device is registered but passes no frame on. That answers
//   whether the driver is installed without touching what another program writes.
enum class InstallFor { Frames, FramesWhenTheInterfaceExists, Question };
bool install(const std::string& config, std::string* error, InstallFor use = InstallFor::Frames);

// install() with the value of KEST_SATNIC; unset or empty means "tap:satnic1".
bool installFromEnvironment(std::string* error, InstallFor use = InstallFor::Frames);

// The command that creates the TAP interface `name` for this user, as this installation
// offers it: the system unit and the installed script, or scripts/install-satnic of a
// build tree.
std::string createInterfaceHint(const std::string& name);

// Unregisters the device and closes the interface or file at once. Handles that are still
// open stay valid but every request through them fails from then on. Safe to call when
// nothing is installed.
void uninstall();

// What the installed driver has passed on since installation (zero when nothing is installed).
struct Statistics {
    uint64_t frames;
    uint64_t bytes;
    uint64_t framesLost;  // could not be passed on: a full disk, an interface gone or down
    int lastLossError;    // errno of the last frame lost, 0 when none was
};
Statistics statistics();

} // namespace satnic
