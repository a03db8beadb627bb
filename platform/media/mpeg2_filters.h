// The two system filters the card's graph ends in besides our own sink. They accept
// the stream and need do nothing more:
// - the MPEG-2 demultiplexer: input pin "MPEG-2 Stream" accepting any type, output pin "1"
//   offering MEDIATYPE_MPEG2_SECTIONS / MEDIASUBTYPE_MPEG2DATA; samples are discarded, end of
//   stream and flushing are passed on to "1";
// - the BDA MPEG2 transport information filter: a sink with input pin "Input" accepting any type;
//   samples are discarded, end of stream reports EC_COMPLETE. The tuner finds it by enumerating
//   KSCATEGORY_BDA_TRANSPORT_INFORMATION, whose entry creates this class id.
#pragma once

#include "platform/media/graph.h"

KEST_IID(CLSID_MPEG2Demultiplexer, 0xAFB6C280, 0x2C41, 0x11D3, 0x8A, 0x60, 0x00, 0x00, 0xF8, 0x1E, 0x0E, 0x4A);
KEST_IID(CLSID_BDA_MPEG2_Transport_Information_Filter, 0xFC772AB0, 0x0C7F, 0x11D3, 0x8F, 0xF2, 0x00, 0xA0, 0xC9, 0x22,
         0x4C, 0xF4);

namespace platform {

inline constexpr const wchar_t* kMpeg2DemultiplexerName = L"MPEG-2 Demultiplexer";
inline constexpr const wchar_t* kTransportInformationFilterName = L"BDA MPEG2 Transport Information Filter";

HRESULT createMpeg2Demultiplexer(REFIID riid, void** object);
HRESULT createTransportInformationFilter(REFIID riid, void** object);

} // namespace platform
