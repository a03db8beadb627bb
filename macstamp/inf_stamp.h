// Writing the card's MAC address into the adapter driver's installation file.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace macstamp {

// The installation file, relative to the current directory, and its name in messages.
constexpr const char* kInfPath = "./SatNicDrv/SatNic.inf";
constexpr const char* kInfName = "SatNic.inf";
// The address the file carries until it is stamped (matched case-sensitively).
constexpr const char* kPlaceholder = "00-C2-B0-30-03-E0";

// "00-1A-2B-3C-4D-5E": upper-case hexadecimal pairs joined by hyphens.
QByteArray formatMac(const std::array<uint8_t, 6>& mac);
// Every placeholder in `text` replaced by the address; other bytes untouched.
QByteArray stampText(const QByteArray& text, const std::array<uint8_t, 6>& mac);

// Reads the file, stamps it and writes it back. The new contents replace the
// file only once completely written, so an interrupted run leaves the old
// file; where the folder takes no new file, the file is written in place.
// Only a regular file is stamped: a symbolic link (ELOOP), a folder (EISDIR)
// or anything else (EINVAL) is refused. The file keeps its owner and
// permissions. False with errno set (for the caller's message) when the file
// cannot be read or written.
bool stampFile(const QString& path, const std::array<uint8_t, 6>& mac);

} // namespace macstamp
